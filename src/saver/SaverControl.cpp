#include "saver/SaverControl.h"

#include "app/AppState.h"
#include "saver/Launcher.h"

namespace {

constexpr DWORD kStopGraceMs = 3000;

void ReleaseWallpaperWindows() {
  app.wallpaperStartTick = 0;
  for (const SaverWindowRecord& record : *app.saverWindows) {
    ShowWindow(record.hwnd, SW_HIDE);
    SetParent(record.hwnd, nullptr);
    const LONG style = GetWindowLongW(record.hwnd, GWL_STYLE);
    SetWindowLongW(record.hwnd, GWL_STYLE, static_cast<LONG>((static_cast<DWORD>(style) & 0x3FFFFFFFu) | WS_POPUP));
  }
  if (app.saverWindows->empty()) return;
  // What a full-screen saver takes as the user coming back.
  HWND first = app.saverWindows->front().hwnd;
  PostMessageW(first, WM_KEYDOWN, 0, 0);
  PostMessageW(first, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  PostMessageW(first, WM_LBUTTONUP, 0, 0);
}

}  // namespace

void StopSaver(HANDLE process, HWND parentWindow) {
  if (parentWindow) {
    HWND child = GetWindow(parentWindow, GW_CHILD);
    if (!child) {
      if (process) {
        TerminateProcess(process, 0);
        CloseHandle(process);
      }
      return;
    }
    SendMessageTimeoutW(child, WM_CLOSE, 0, 0, SMTO_NORMAL, kStopGraceMs, nullptr);
    if (!process) return;
  } else {
    ReleaseWallpaperWindows();
  }
  if (WaitForSingleObject(process, kStopGraceMs) == WAIT_TIMEOUT) TerminateProcess(process, 0);
  CloseHandle(process);
}

void StopWallpaper() {
  HANDLE process = TakeHandle(app.wallpaperProcess);
  if (!process) return;
  if (app.wallpaperIsPreview) {
    // Its window closing is no early failure.
    app.wallpaperStartTick = 0;
    StopSaver(process, app.hostWindow);
  } else {
    StopSaver(process, nullptr);
  }
}

void TerminateIfRunning(HANDLE process) {
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE) TerminateProcess(process, 0);
}

void RestartWallpaper() {
  bool previewStopped = false;
  if (app.settingsDialog && app.previewProcess && app.dialogSelection &&
      lstrcmpW(app.dialogSelection, app.saverName.get()) == 0) {
    StopSaver(TakeHandle(app.previewProcess), app.previewStatic);
    InvalidateRect(app.previewStatic, nullptr, FALSE);
    previewStopped = true;
  }
  HANDLE started = LaunchSaver(app.saverName.get(), SaverMode::Wallpaper, nullptr);
  // A failed launch returns after its message box, whose nested loop may have started a wallpaper
  // (the dialog's OK): that one must not be orphaned.
  if (started) app.wallpaperProcess = started;
  // The dialog may have closed, or opened anew, inside that message box.
  if (previewStopped && app.settingsDialog && !app.previewProcess && app.saverName) {
    app.previewProcess = LaunchSaver(app.saverName.get(), SaverMode::Preview, app.previewStatic);
  }
}
