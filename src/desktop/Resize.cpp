#include "desktop/Resize.h"

#include "app/AppState.h"
#include "app/MainWindow.h"
#include "desktop/DesktopHost.h"
#include "saver/SaverControl.h"

namespace {

constexpr UINT kRetryWhileRestartingMs = 1000;

void RecoverHost(UINT_PTR timerId) {
  if (app.hostWindow) return;
  if (!FindDesktopLayer()) {
    if (timerId == kRecoveryTimer3) RequestExit();
    return;
  }
  if (timerId == kRecoveryTimer1) {
    KillTimer(app.mainWindow, kRecoveryTimer2);
    KillTimer(app.mainWindow, kRecoveryTimer3);
  } else if (timerId == kRecoveryTimer2) {
    KillTimer(app.mainWindow, kRecoveryTimer3);
  }
  if (!CreateHostWindow()) {
    RequestExit();
    return;
  }
  if (app.saverName) RestartWallpaper();
}

}  // namespace

void SyncHostSize() {
  if (!app.hostWindow) return;
  // Inside a launch's message box: look again once that launch is over.
  if (app.wallpaperLaunching) {
    SetTimer(app.mainWindow, kSizeCheckTimer2, kRetryWhileRestartingMs, nullptr);
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
  if (app.wallpaperLaunching) {
    SetTimer(app.mainWindow, timerId, kRetryWhileRestartingMs, nullptr);
    return;
  }
  RecoverHost(timerId);
}
