#include "desktop/Resize.h"

#include <initializer_list>

#include "app/AppState.h"
#include "app/MainWindow.h"
#include "desktop/DesktopHost.h"
#include "saver/Wallpaper.h"

namespace {

constexpr UINT kRetryWhileRestartingMs = 1000;

void RecoverHost(UINT_PTR timerId) {
  // With no saver chosen there is nothing to bring back, and no reason to end.
  if (app.hostWindow || !app.saverName) return;
  if (!FindDesktopLayer()) {
    // A new shell may build its layer only a moment after it announced itself.
    if (timerId == kShellRestartTimer) StartRecovery();
    // A shell gone as a whole announces its successor with "TaskbarCreated"; one that stays without a layer
    // is given up.
    if (timerId == kRecoveryTimer3 && IsWindow(app.progmanWindow)) RequestExit();
    return;
  }
  CancelRecovery();
  if (!CreateHostWindow()) {
    RequestExit();
    return;
  }
  if (timerId != kShellRestartTimer) {
    RestartWallpaper();
  } else if (!app.resumeWallpaperAfterConfig) {
    // The dialog lives outside the shell: its preview stays, and a configuration run of this saver starts the
    // wallpaper when it ends.
    StartWallpaper();
  }
}

}  // namespace

void SyncHostSize() {
  if (!app.hostWindow) return;
  // Inside a launch or stop of the wallpaper: look again once it is over.
  if (app.wallpaperBusy) {
    SetTimer(app.mainWindow, kSizeCheckTimer2, kRetryWhileRestartingMs, nullptr);
    return;
  }
  // A restart now would show the saver over a full-screen program: once the desktop can be seen.
  if (WallpaperPaused()) {
    app.sizeCheckPending = true;
    return;
  }
  RECT layer{};
  GetClientRect(app.desktopLayer, &layer);
  if (layer.right == app.hostWidth && layer.bottom == app.hostHeight) return;
  StopWallpaper();
  SetWindowPos(app.hostWindow, nullptr, 0, 0, layer.right, layer.bottom, SWP_NOMOVE | SWP_NOZORDER);
  // Recorded first, so a check arriving while the restart shows a message box finds nothing to do.
  app.hostWidth = layer.right;
  app.hostHeight = layer.bottom;
  if (app.saverName) RestartWallpaper();
}

void RecoverAfterShellRestart() {
  FindProgmanAgain();
  OnMainTimer(kShellRestartTimer);
}

void CancelRecovery() {
  for (UINT_PTR timerId : {kRecoveryTimer1, kRecoveryTimer2, kRecoveryTimer3}) KillTimer(app.mainWindow, timerId);
}

void ScheduleSizeChecks() {
  SetTimer(app.mainWindow, kSizeCheckTimer1, 1000, nullptr);
  SetTimer(app.mainWindow, kSizeCheckTimer2, 3000, nullptr);
}

void OnMainTimer(WPARAM timerId) {
  KillTimer(app.mainWindow, timerId);
  if (timerId & kSizeCheckBit) {
    SyncHostSize();
    return;
  }
  if (app.wallpaperBusy) {
    SetTimer(app.mainWindow, timerId, kRetryWhileRestartingMs, nullptr);
    return;
  }
  RecoverHost(timerId);
}
