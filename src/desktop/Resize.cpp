#include "desktop/Resize.h"

#include <initializer_list>

#include "app/AppState.h"
#include "app/MainWindow.h"
#include "desktop/DesktopHost.h"
#include "saver/Pause.h"
#include "saver/Wallpaper.h"

namespace {

constexpr UINT kRetryWhileBusyMs = 1000;
constexpr UINT kLayerSearchRetryMs = 1000;
constexpr std::uint64_t kLayerSearchWaitMs = 30000;

// Inside a launch or stop of the wallpaper the timer looks again once it is over.
bool PutOffWhileBusy(UINT_PTR timerId) {
  KillTimer(app.mainWindow, timerId);
  if (!app.wallpaperBusy) return false;
  SetTimer(app.mainWindow, timerId, kRetryWhileBusyMs, nullptr);
  return true;
}

// With no saver chosen there is nothing to bring back, and no reason to end.
bool HostToRecover() { return !app.hostWindow && app.saverName; }

// The layer has been found again; without a host in it the program ends.
bool RebuildHost() {
  CancelRecovery();
  if (CreateHostWindow()) return true;
  RequestExit();
  return false;
}

}  // namespace

void FitHostToLayer() {
  if (HostFitsLayer()) return;
  const RECT area = LayerArea();
  SetWindowPos(app.hostWindow, nullptr, 0, 0, area.right - area.left, area.bottom - area.top,
               SWP_NOMOVE | SWP_NOZORDER);
  RecordHostArea(area);
}

void SyncHostSize() {
  if (!app.hostWindow) return;
  // Inside a launch or stop of the wallpaper: look again once it is over.
  if (app.wallpaperBusy) {
    SetTimer(app.mainWindow, kSizeCheckTimer2, kRetryWhileBusyMs, nullptr);
    return;
  }
  // A restart now would show the saver over a full-screen program: once the desktop can be seen.
  if (SaverPaused()) {
    app.sizeCheckPending = true;
    return;
  }
  if (HostFitsLayer()) return;
  StopWallpaper();
  // Recorded before the restart, so a check arriving while it shows a message box finds nothing to do.
  FitHostToLayer();
  if (app.saverName) RestartWallpaper();
}

void ScheduleSizeChecks() {
  SetTimer(app.mainWindow, kSizeCheckTimer1, 1000, nullptr);
  SetTimer(app.mainWindow, kSizeCheckTimer2, 3000, nullptr);
}

void OnSizeCheckTimer(UINT_PTR timerId) {
  KillTimer(app.mainWindow, timerId);
  SyncHostSize();
}

void StartRecovery() {
  SetTimer(app.mainWindow, kRecoveryTimer1, 1000, nullptr);
  SetTimer(app.mainWindow, kRecoveryTimer2, 3000, nullptr);
  SetTimer(app.mainWindow, kRecoveryTimer3, 10000, nullptr);
}

void CancelRecovery() {
  for (UINT_PTR timerId : {kRecoveryTimer1, kRecoveryTimer2, kRecoveryTimer3, kLayerSearchTimer}) {
    KillTimer(app.mainWindow, timerId);
  }
  app.layerSearchDeadline = 0;
}

void OnRecoveryTimer(UINT_PTR timerId) {
  if (PutOffWhileBusy(timerId) || !HostToRecover()) return;
  if (FindDesktopLayer()) {
    if (RebuildHost()) RestartWallpaper();
  } else if (timerId == kRecoveryTimer3 && IsWindow(app.progmanWindow)) {
    // A shell gone as a whole announces its successor with "TaskbarCreated"; one that stays without a layer
    // is given up.
    RequestExit();
  }
}

void RecoverAfterShellRestart() {
  if (PutOffWhileBusy(kShellRestartTimer) || !HostToRecover()) return;
  if (!FindDesktopLayer()) {
    // A new shell may build its layer only a moment after it announced itself; at the start it is looked for anyway.
    if (!app.layerSearchDeadline) StartRecovery();
  } else if (RebuildHost()) {
    // The dialog lives outside the shell: its preview stays.
    StartWallpaper(false);
  }
}

void StartInLayer() {
  if (!HostToRecover()) return;
  if (FindDesktopLayer()) {
    if (RebuildHost()) StartWallpaper(false);
    return;
  }
  app.layerSearchDeadline = GetTickCount64() + kLayerSearchWaitMs;
  SetTimer(app.mainWindow, kLayerSearchTimer, kLayerSearchRetryMs, nullptr);
}

void OnLayerSearchTimer() {
  // A host made meanwhile (a saver applied in the dialog), or no saver chosen any more: nothing to wait for.
  if (!HostToRecover()) return CancelRecovery();
  if (app.wallpaperBusy) return;
  FindProgmanAgain();
  if (FindDesktopLayer()) {
    if (RebuildHost()) StartWallpaper(false);
  } else if (GetTickCount64() >= app.layerSearchDeadline) {
    CancelRecovery();
    RequestExit();
  }
}
