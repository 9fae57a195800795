#include "saver/Wallpaper.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "app/AppState.h"
#include "app/MainWindow.h"
#include "app/ReportError.h"
#include "desktop/DesktopHost.h"
#include "desktop/Resize.h"
#include "desktop/Visibility.h"
#include "saver/Adoption.h"
#include "saver/Launcher.h"
#include "saver/Pause.h"
#include "saver/SaverControl.h"
#include "settings/SettingsDialog.h"

namespace {

constexpr wchar_t kCannotWallpaper[] = L"スクリーン セーバーを壁紙化できません。";
// While a wallpaper saver runs, its visibility is looked at this often.
constexpr UINT kVisibilityIntervalMs = 500;

bool NeedsPreviewMode(const wchar_t* baseName) {
  return std::any_of(app.previewModeSavers.begin(), app.previewModeSavers.end(),
                     [&](const HeapString& name) { return lstrcmpW(name.get(), baseName) == 0; });
}

// From now on this saver runs as wallpaper in preview mode.
void MarkPreviewMode(const wchar_t* baseName) {
  if (!NeedsPreviewMode(baseName)) app.previewModeSavers.push_back(CopyString(baseName));
}

// Launches and stops handle sent messages while they wait, and a failed launch shows a message box:
// nothing arriving meanwhile may start or stop the run inside them. Size checks and recovery retry by
// themselves; reports are posted again once the outermost launch or stop is over.
template <class Work>
void AsBusy(Work&& work) {
  const bool outer = app.wallpaperBusy;
  app.wallpaperBusy = true;
  work();
  app.wallpaperBusy = outer;
  if (outer) return;
  for (const auto& [message, generation] : app.deferredReports) PostMessageW(app.mainWindow, message, generation, 0);
  app.deferredReports.clear();
}

// Runs on the thread pool's wait thread; it only posts.
VOID CALLBACK WallpaperEndedCallback(PVOID generation, BOOLEAN) {
  PostMessageW(app.mainWindow, WMA_WALLPAPER_ENDED, reinterpret_cast<WPARAM>(generation), 0);
}

// The host is as large as the whole layer: outside the saver's windows (other monitors, and everywhere while no
// saver runs in it) the shell's own wallpaper must show through.
void ShowSaverArea() {
  if (!app.hostWindow) return;
  if (app.wallpaperProcess && app.wallpaperIsPreview) return ShowInHost(nullptr);
  HRGN area = CreateRectRgn(0, 0, 0, 0);
  for (const SaverWindowRecord& record : *app.saverWindows) {
    RECT rect{};
    if (!app.wallpaperProcess || !GetWindowRect(record.hwnd, &rect)) continue;
    MapWindowPoints(nullptr, app.hostWindow, reinterpret_cast<POINT*>(&rect), 2);
    HRGN window = CreateRectRgnIndirect(&rect);
    CombineRgn(area, area, window, RGN_OR);
    DeleteObject(window);
  }
  ShowInHost(area);
}

// The visibility timer runs while a look at the desktop can change the answer.
void WatchDesktop(bool on) {
  if (on == app.watchingDesktop) return;
  app.watchingDesktop = on;
  if (on) {
    SetTimer(app.mainWindow, kVisibilityTimer, kVisibilityIntervalMs, nullptr);
  } else {
    KillTimer(app.mainWindow, kVisibilityTimer);
  }
}

// Every launch, the preview-mode fallback included, has a generation of its own, so that a report
// about an earlier one is known to be stale.
void BeginLaunch(bool preview) {
  ++app.wallpaperGeneration;
  app.wallpaperIsPreview = preview;
  app.saverWindows->clear();
}

// Waits for the saver's preview window inside the host. The saver's window creation sends the host
// a notification, so sent messages are handled meanwhile; posted ones wait for the message loop.
bool WaitForHostChild(HANDLE process, std::uint64_t launchDeadline) {
  for (;;) {
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_NULL, WM_NULL, PM_NOREMOVE);
    if (app.hostWindow && GetWindow(app.hostWindow, GW_CHILD)) return true;
    if (GetTickCount64() > launchDeadline || !StillRunning(process)) return false;
    MsgWaitForMultipleObjects(1, &process, FALSE, 10, QS_SENDMESSAGE);
  }
}

HANDLE LaunchInPreviewMode(const wchar_t* baseName) {
  // Without a host (the shell took it) the recovery starts the saver again later.
  if (!app.hostWindow) return nullptr;
  BeginLaunch(true);
  const std::uint64_t launchDeadline = GetTickCount64() + kLaunchDeadlineMs;
  HANDLE process = LaunchSaver(baseName, SaverMode::Preview, app.hostWindow);
  if (!process || WaitForHostChild(process, launchDeadline)) return process;
  EndSaverProcess(process, 0);
  if (app.hostWindow) ReportError(nullptr, kCannotWallpaper, 0);
  return nullptr;
}

HANDLE LaunchAdopted(const wchar_t* baseName) {
  BeginLaunch(false);
  const std::uint64_t launchDeadline = GetTickCount64() + kLaunchDeadlineMs;
  PROCESS_INFORMATION process{};
  if (!StartSaverProcess(baseName, SaverMode::Wallpaper, nullptr, process)) return nullptr;
  FinishStartupOnce();
  switch (AdoptSaverWindows(process, launchDeadline)) {
    case AdoptionResult::Adopted:
      CloseHandle(process.hThread);
      return process.hProcess;
    case AdoptionResult::WindowsLost:
      MarkPreviewMode(baseName);
      return LaunchInPreviewMode(baseName);
    default:
      // Without the host the recovery starts the saver again: nothing to report.
      if (app.hostWindow) ReportError(nullptr, kCannotWallpaper, 0);
      return nullptr;
  }
}

// Starts the configured saver into the host and from then on waits for its process to end.
void Launch(bool userAsked) {
  if (!app.saverName || !app.hostWindow || app.wallpaperProcess) return;
  // Unasked, a saver would run for nobody and its start would wake the display; the saver's own settings start it
  // when they close.
  if (!userAsked && (NobodyCanSee(app.pauseFacts) || app.resumeWallpaperAfterConfig)) {
    app.launchWaiting = true;
    return;
  }
  app.launchWaiting = false;
  // A size change that came while the wallpaper was paused: this saver starts at the new size.
  FitHostToLayer();
  app.sizeCheckPending = false;
  AsBusy([] {
    const wchar_t* baseName = app.saverName.get();
    HANDLE process = NeedsPreviewMode(baseName) ? LaunchInPreviewMode(baseName) : LaunchAdopted(baseName);
    // Null after a failure whose message box may have started another saver (the dialog's OK): keep that one.
    if (!process) return;
    HANDLE wait = nullptr;
    if (!RegisterWaitForSingleObject(&wait, process, WallpaperEndedCallback,
                                     reinterpret_cast<PVOID>(static_cast<UINT_PTR>(app.wallpaperGeneration)), INFINITE,
                                     WT_EXECUTEINWAITTHREAD | WT_EXECUTEONLYONCE)) {
      // A saver whose end nobody would notice is no wallpaper: the launch has failed.
      const DWORD error = GetLastError();
      EndSaverProcess(process, 0);
      ReportError(nullptr, kCannotWallpaper, error);
      return;
    }
    app.wallpaperWait = wait;
    app.wallpaperProcess = process;
    app.wallpaperProcessId = GetProcessId(process);
    app.wallpaperStartTick = GetTickCount64();
    ShowSaverArea();
    WatchDesktop(true);
  });
}

// Hands the running saver's process over unwatched: from now on its end counts for nothing.
HANDLE TakeRun() {
  // A saver is always stopped running: it ends on its quit input, and no thread stays suspended.
  WatchDesktop(false);
  ResumeSaver();
  // Waits for a callback under way, so none posts after this.
  if (app.wallpaperWait) UnregisterWaitEx(TakeHandle(app.wallpaperWait), INVALID_HANDLE_VALUE);
  app.wallpaperStartTick = 0;
  LookAgainAtDesktop();
  app.coveringWindows.clear();
  HANDLE process = TakeHandle(app.wallpaperProcess);
  ShowSaverArea();
  return process;
}

void ReleaseWallpaperWindows() {
  for (const SaverWindowRecord& record : *app.saverWindows) {
    // A saver that takes no messages would hold the UI thread in these calls; it is ended after the grace.
    if (!Answers(record.hwnd)) continue;
    ShowWindow(record.hwnd, SW_HIDE);
    SetParent(record.hwnd, nullptr);
    SetWindowKind(record.hwnd, WS_POPUP);
  }
  if (app.saverWindows->empty()) return;
  // What a full-screen saver takes as the user coming back.
  HWND first = app.saverWindows->front().hwnd;
  PostMessageW(first, WM_KEYDOWN, 0, 0);
  PostMessageW(first, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  PostMessageW(first, WM_LBUTTONUP, 0, 0);
}

// A saver that closed when it was taken over gets one more chance, drawing into the host in preview mode.
void FallBackToPreviewMode() {
  MarkPreviewMode(app.saverName.get());
  Launch(false);
}

// True for a report to leave alone: one about a replaced or deliberately stopped run, or one that
// arrived during a launch or stop, which is looked at again after it.
bool SetAside(UINT message, WPARAM generation) {
  if (app.wallpaperBusy) {
    app.deferredReports.emplace_back(message, generation);
    return true;
  }
  return generation != app.wallpaperGeneration || !app.wallpaperProcess;
}

// Counts the monitors the saver shows on and those hidden, twice a second, so the look costs about what its timer
// does: where the saver shows is found once per launch and display change; the windows that hid the wallpaper
// and the foreground one are looked at each time, and all windows only when the foreground changed (a window that
// comes to hide the wallpaper mostly comes to the front to do so).
void LookAtDesktop(PauseFacts& facts) {
  if (app.saverMonitors.empty()) {
    std::vector<HWND> windows;
    for (const SaverWindowRecord& record : *app.saverWindows) windows.push_back(record.hwnd);
    // In preview mode the saver draws into the host itself.
    if (windows.empty()) windows.push_back(app.hostWindow);
    app.saverMonitors = MonitorsOf(windows);
  }
  const HWND foreground = GetForegroundWindow();
  const bool lookAtAll = foreground != app.lookedForeground;
  app.lookedForeground = foreground;
  std::vector<HWND> candidates = app.coveringWindows;
  if (std::find(candidates.begin(), candidates.end(), foreground) == candidates.end()) candidates.push_back(foreground);
  Coverage coverage =
      LookAtCoverage(app.wallpaperProcessId, app.saverMonitors, app.coveringWindows, lookAtAll ? nullptr : &candidates);
  app.coveringWindows = std::move(coverage.covering);
  facts.monitors = coverage.monitors;
  facts.monitorsHidden = coverage.monitorsHidden;
}

}  // namespace

void StartWallpaper(bool userAsked) {
  // A start by choice, not after an end: the saver's earlier restarts no longer count.
  app.wallpaperRestarts = {};
  Launch(userAsked);
}

void StopWallpaper() {
  if (!app.wallpaperProcess) return;
  AsBusy([] {
    HANDLE process = TakeRun();
    if (app.wallpaperIsPreview) return StopSaver(process, app.hostWindow);
    ReleaseWallpaperWindows();
    StopSaver(process, nullptr);
  });
}

void AskWallpaperToEnd() {
  if (!app.wallpaperProcess || app.wallpaperIsPreview) return StopWallpaper();
  AsBusy([] {
    app.endingWallpaper = TakeRun();
    ReleaseWallpaperWindows();
    app.endingWallpaperAsked = GetTickCount64();
  });
}

void AwaitWallpaperEnd() {
  if (app.endingWallpaper) EndAskedSaver(TakeHandle(app.endingWallpaper), app.endingWallpaperAsked);
}

void RestartWallpaper() {
  AsBusy([] {
    bool previewStopped = false;
    if (app.settingsDialog && app.previewProcess && app.dialogSelection &&
        lstrcmpW(app.dialogSelection, app.saverName.get()) == 0) {
      StopPreview();
      previewStopped = true;
    }
    StartWallpaper(false);
    // The dialog may have closed, or opened anew, inside a failed launch's message box.
    if (previewStopped && app.settingsDialog && !app.previewProcess && app.saverName) StartPreview(app.saverName.get());
  });
}

void EndWallpaperWithHost() {
  if (app.wallpaperProcess) EndSaverProcess(TakeRun(), 0);
}

void LookAgainAtDesktop() {
  app.saverMonitors.clear();
  app.lookedForeground = nullptr;
}

bool IsWallpaperWindow(HWND hwnd) {
  if (app.wallpaperIsPreview) return GetParent(hwnd) == app.hostWindow;
  return FindSaverWindow(hwnd) != nullptr;
}

void OnWallpaperFailed(WPARAM generation) {
  if (SetAside(WMA_WALLPAPER_FAILED, generation)) return;
  EndSaverProcess(TakeRun(), 0);
  if (!app.wallpaperIsPreview) {
    FallBackToPreviewMode();
    return;
  }
  ReportError(nullptr, kCannotWallpaper, 0);
}

void OnWallpaperEnded(WPARAM generation) {
  if (SetAside(WMA_WALLPAPER_ENDED, generation)) return;
  const std::uint64_t now = GetTickCount64();
  const bool early = IsEarlyEnd(now, app.wallpaperStartTick);
  CloseHandle(TakeRun());
  if (early && !app.wallpaperIsPreview) {
    FallBackToPreviewMode();
  } else if (RestartAllowed(app.wallpaperRestarts, now)) {
    RecordRestart(app.wallpaperRestarts, now);
    Launch(false);
  } else {
    // Given up: the host stays empty until the next start by choice, size change or recovery.
    ReportError(nullptr, kCannotWallpaper, 0);
  }
}

void UpdateWallpaperPause() {
  if (app.wallpaperBusy) return;
  // A start that waited, unless the session is ending: one called off still finds it waiting.
  if (!app.sessionEnding && std::exchange(app.launchWaiting, false)) Launch(false);
  if (!app.wallpaperProcess) return;
  if (app.sessionEnding) return ResumeSaver();
  PauseFacts facts = app.pauseFacts;
  // What the notifications told needs no look at the desktop, nor a timer until the next notification.
  WatchDesktop(!ShouldPause(facts));
  if (!ShouldPause(facts)) {
    LookAtDesktop(facts);
    // A game in exclusive full screen may show no window that covers a monitor.
    if (!ShouldPause(facts)) facts.presenting = ShellReportsPresenting();
  }
  if (ShouldPause(facts)) {
    if (!SaverPaused()) PauseSaver(app.wallpaperProcessId);
    return;
  }
  if (!SaverPaused()) return;
  ResumeSaver();
  if (app.sizeCheckPending) {
    app.sizeCheckPending = false;
    SyncHostSize();
  }
}
