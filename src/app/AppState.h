// The program-wide state. Touched only from the UI thread; the thread-pool wait callbacks only read
// settingsDialog and mainWindow to post to them.
#pragma once
#include <windows.h>

#include <shellapi.h>

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "desktop/Visibility.h"
#include "saver/Pause.h"
#include "saver/RunRules.h"
#include "saver/SaverWindow.h"

using HeapString = std::unique_ptr<wchar_t[]>;
// Complete in settings/Catalogue.h, which AppState.cpp includes for the one AppState there is.
struct CatalogueCacheEntry;

// Private messages of the main window.
constexpr UINT WMA_TRAY_CALLBACK = WM_APP;
constexpr UINT WMA_ACTIVATE_SETTINGS = WM_APP + 1;
constexpr UINT WMA_WALLPAPER_FAILED = WM_APP + 2;
constexpr UINT WMA_WALLPAPER_ENDED = WM_APP + 3;
// The configuration run's end, to the main window: the run is watched also after the dialog closed.
constexpr UINT WMA_CONFIG_DONE = WM_APP + 4;
// Private messages of the settings dialog.
constexpr UINT WMA_SHUTDOWN = WM_APP;
// Posted by its WM_INITDIALOG: once it shows, the preview area is made and the preview starts.
constexpr UINT WMA_SHOW_PREVIEW = WM_APP + 1;

// The mutex name and the main window's class name: a second instance finds the first by it.
constexpr wchar_t kInstanceId[] = L"5f0c9a7e3b2d4c18a6e1f94d7b20c3a5";
constexpr wchar_t kHostClassName[] = L"9d41e6b0c7a2485f8e3b16d9a0f4c27e";
constexpr wchar_t kMenuOwnerClassName[] = L"c2b8f0d4a91e4e67b5d3087f6a1c9e42";

constexpr wchar_t kAppTitle[] = L"Orvane";

struct AppState {
  HINSTANCE instance = nullptr;
  HICON appIcon = nullptr;
  HeapString systemDir;
  UINT systemDirLength = 0;
  HeapString settingsPath;
  HeapString saverName;
  HWND progmanWindow = nullptr;
  HWND desktopLayer = nullptr;
  // Current Windows 11: no wallpaper layer of its own; the host lives in Progman below the icon view.
  bool raisedDesktop = false;
  // Tells when the shell restacks Progman's children, so the host goes back below the icons.
  HWINEVENTHOOK shellEventHook = nullptr;
  HWND mainWindow = nullptr;
  ATOM mainClassAtom = 0;
  ATOM hostClassAtom = 0;
  HWND hostWindow = nullptr;
  // While the start waits for the shell's layer: when it gives up.
  std::uint64_t layerSearchDeadline = 0;
  // The layer's client size and its place on the screen when the host was fitted to it: the saver's windows were
  // placed for both.
  int hostWidth = 0;
  int hostHeight = 0;
  POINT hostOrigin{};
  // The host's DPI then (0 where the system keeps none per window): a saver unaware of DPI sized itself for it.
  UINT hostDpi = 0;
  NOTIFYICONDATAW trayIcon = MakeTrayIconRecord();
  // While the notification area does not take the icon: when the program gives up waiting for it.
  std::uint64_t trayIconDeadline = 0;
  // Broadcast by the shell when its taskbar comes up, also after a restart of the whole shell.
  UINT taskbarCreatedMessage = 0;
  HMENU trayMenu = nullptr;
  // Every saver the program starts runs in one of these jobs, which end them when their last handle goes: also when
  // the program is ended by force or crashes. The configuration runs' own lets their children leave. Each is made
  // for the first saver that needs it; null where none could be made.
  HANDLE saverJob = nullptr;
  HANDLE configJob = nullptr;
  // The wallpaper run; written only by saver/Wallpaper.cpp and the adoption it runs.
  std::unique_ptr<std::vector<SaverWindowRecord>> saverWindows;
  HANDLE wallpaperProcess = nullptr;
  // The one-shot thread-pool wait that tells when wallpaperProcess ends.
  HANDLE wallpaperWait = nullptr;
  // At the program's end: the saver asked to end, and when.
  HANDLE endingWallpaper = nullptr;
  std::uint64_t endingWallpaperAsked = 0;
  // When the running saver took its place in the host; 0 while none is in place.
  std::uint64_t wallpaperStartTick = 0;
  // Counts wallpaper launches, so a late report can tell whether it is about the running saver.
  std::uint32_t wallpaperGeneration = 0;
  // Set while a wallpaper launch or stop runs: both handle sent messages while they wait, and a failed
  // launch's message box runs a nested loop. A size check, recovery or report arriving there waits.
  bool wallpaperBusy = false;
  // Reports that arrived while busy (message, generation), posted again when it is over.
  std::vector<std::pair<UINT, WPARAM>> deferredReports;
  // The wallpaper saver draws into the host in preview mode: its windows could not be adopted.
  bool wallpaperIsPreview = false;
  // Savers that closed when adopted; for the rest of the run they go straight to preview mode.
  std::vector<HeapString> previewModeSavers;
  // The saver's threads while nobody can see the wallpaper; written only by saver/Pause.cpp.
  PausedSaver pausedSaver;
  // The running saver's process id, and whether the visibility timer runs.
  DWORD wallpaperProcessId = 0;
  bool watchingDesktop = false;
  // What the last look at the desktop found, so most looks need only a few windows; written by the wallpaper run.
  std::vector<SaverMonitor> saverMonitors;
  std::vector<HWND> coveringWindows;
  HWND lookedForeground = nullptr;
  // What the session and power notifications told, and SM_REMOTESESSION at the start.
  PauseFacts pauseFacts;
  // The system asked whether the session may end: the saver must be able to answer it too.
  bool sessionEnding = false;
  // A size check that came while paused; done when the wallpaper can be seen again, or by the next launch.
  bool sizeCheckPending = false;
  // A start that came while nobody could see the desktop, or during the saver's own settings run; made by the
  // notification that ends it (or by that run's end).
  bool launchWaiting = false;
  // The display's power state, battery saver, energy saver: each where the system knows it.
  std::array<HPOWERNOTIFY, 3> powerNotifications{};
  // wtsapi32, loaded exactly while the session notifications are registered.
  HMODULE sessionLibrary = nullptr;
  // The work of the start that needs no saver (the icon, the notifications): run by the first launch once its
  // saver is under way, so that it lies beside the saver's own start, not before it; or at the end of a start
  // without one. Null once done.
  void (*finishStartup)() = nullptr;
  // Restarts after the saver ended by itself.
  RestartHistory wallpaperRestarts{};
  // What the saver files gave when they were read, so the dialog opens fast after its first opening.
  std::vector<CatalogueCacheEntry> catalogueCache;
  HWND settingsDialog = nullptr;
  HWND previewStatic = nullptr;
  HWND saverCombo = nullptr;
  const wchar_t* dialogSelection = nullptr;
  HANDLE previewProcess = nullptr;
  // The configuration run, watched to its end even when the dialog that started it has closed.
  HANDLE configProcess = nullptr;
  HANDLE configWait = nullptr;
  // Set only while that dialog is open.
  bool resumePreviewAfterConfig = false;
  bool resumeWallpaperAfterConfig = false;
  // An exception escaped a message handler: the message loop ends at its next turn.
  bool handlerFailed = false;

  static NOTIFYICONDATAW MakeTrayIconRecord() {
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof(record);
    record.uID = 1;
    return record;
  }
};

extern AppState app;

// Copies a zero-terminated string into an exactly sized heap buffer.
HeapString CopyString(const wchar_t* text);
HeapString CopyString(const wchar_t* text, std::size_t length);

// Registers one of the program's window classes, with the program's icon.
ATOM RegisterWindowClass(WNDPROC procedure, const wchar_t* className, HCURSOR cursor, HBRUSH background);
// What the program's windows leave to the system: DefWindowProcW, but WM_CLOSE is ignored, so that they go only
// when the program ends them.
LRESULT DefProgramWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Makes a window a child (WS_CHILD) or a top-level pop-up (WS_POPUP), keeping its other style bits.
void SetWindowKind(HWND hwnd, DWORD kind);

inline void FinishStartupOnce() {
  if (app.finishStartup) std::exchange(app.finishStartup, nullptr)();
}

// Hands a handle field's value over and clears the field first, so no nested message loop
// can ever see a handle that is about to be closed.
inline HANDLE TakeHandle(HANDLE& field) {
  HANDLE handle = field;
  field = nullptr;
  return handle;
}

// Runs the work of a window procedure or another function the system calls; an exception ends the message loop
// instead of unwinding through the system's frames (and an enumeration at the FALSE returned).
template <class Work>
auto GuardHandler(Work&& work) noexcept -> decltype(work()) {
  try {
    return work();
  } catch (...) {
    app.handlerFailed = true;
    PostQuitMessage(0);
    return {};
  }
}
