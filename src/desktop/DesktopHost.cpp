#include "desktop/DesktopHost.h"

#include "app/AppState.h"
#include "app/ReportError.h"
#include "desktop/Resize.h"
#include "saver/Wallpaper.h"

namespace {

constexpr UINT kShellBuildLayerMessage = 0x052C;
constexpr wchar_t kIconViewClass[] = L"SHELLDLL_DefView";
// WS_EX_NOREDIRECTIONBITMAP, which the headers give only to Windows 8 and later builds.
constexpr LONG kNoRedirectionBitmap = 0x00200000;
// DPI_HOSTING_BEHAVIOR_INVALID and _MIXED, and WM_DPICHANGED_AFTERPARENT, from the same builds.
constexpr int kHostingInvalid = -1;
constexpr int kHostingMixed = 1;
constexpr UINT kDpiChangedAfterParent = 0x02E3;

using SetDpiHostingFunction = int(WINAPI*)(int);
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

// Windows 10 1607 and later; looked up once.
template <class Function>
Function User32Function(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

SetDpiHostingFunction SetDpiHosting() {
  static const auto function = User32Function<SetDpiHostingFunction>("SetThreadDpiHostingBehavior");
  return function;
}

bool TestDesktopLayer() {
  app.raisedDesktop = false;
  app.desktopLayer = GetWindow(app.progmanWindow, GW_HWNDPREV);
  if (!app.desktopLayer) return false;
  HWND iconHolder = GetWindow(app.desktopLayer, GW_HWNDPREV);
  return iconHolder && FindWindowExW(iconHolder, nullptr, kIconViewClass, nullptr);
}

// Windows 11 24H2 and later: Progman draws without a redirection bitmap and keeps the icon view as
// its own child; the wallpaper is a child of Progman below that view.
bool TestRaisedDesktop() {
  if (!(GetWindowLongW(app.progmanWindow, GWL_EXSTYLE) & kNoRedirectionBitmap)) return false;
  if (!FindWindowExW(app.progmanWindow, nullptr, kIconViewClass, nullptr)) return false;
  app.desktopLayer = app.progmanWindow;
  app.raisedDesktop = true;
  return true;
}

// 0 where the system keeps no DPI per window: one DPI for the whole session then.
UINT HostDpi() {
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
  return getDpiForWindow && app.hostWindow ? getDpiForWindow(app.hostWindow) : 0;
}

void CALLBACK ShellEventProc(HWINEVENTHOOK, DWORD, HWND hwnd, LONG objectId, LONG, DWORD, DWORD) {
  if (objectId != OBJID_WINDOW) return;
  if (hwnd == app.progmanWindow || GetParent(hwnd) == app.progmanWindow) KeepHostBelowIcons();
}

// The desktop's thread alone: the shell's process also runs every File Explorer window.
void WatchShell() {
  if (app.shellEventHook) return;
  DWORD shellProcess = 0;
  const DWORD desktopThread = GetWindowThreadProcessId(app.progmanWindow, &shellProcess);
  app.shellEventHook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_REORDER, nullptr, ShellEventProc, shellProcess,
                                       desktopThread, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
}

void OnHostDestroy() {
  app.hostWindow = nullptr;
  // The program removed the host itself (shutdown, or no saver chosen): no recovery.
  if (!app.mainWindow || !app.saverName) return;
  EndWallpaperWithHost();
  StartRecovery();
}

void OnHostParentNotify(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) != WM_DESTROY) return;
  // A window that the saver's own windows made and destroyed again is no failure.
  if (IsEarlyFailure(GetTickCount64(), app.wallpaperStartTick) && IsWallpaperWindow(reinterpret_cast<HWND>(lParam))) {
    // The launch it is about travels along, so a report that arrives after a newer launch is ignored.
    PostMessageW(app.mainWindow, WMA_WALLPAPER_FAILED, app.wallpaperGeneration, 0);
  }
}

}  // namespace

void KeepHostBelowIcons() {
  if (!app.raisedDesktop || !app.hostWindow) return;
  HWND view = FindWindowExW(app.progmanWindow, nullptr, kIconViewClass, nullptr);
  if (!view || GetWindow(view, GW_HWNDNEXT) == app.hostWindow) return;
  SetWindowPos(app.hostWindow, view, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void StopWatchingShell() {
  if (app.shellEventHook) UnhookWinEvent(app.shellEventHook);
  app.shellEventHook = nullptr;
}

void RepaintShellWallpaper() { PostMessageW(app.progmanWindow, WM_SYSCOLORCHANGE, 0, 0); }

void FindProgmanAgain() {
  HWND progman = FindWindowW(L"Progman", nullptr);
  if (!progman || progman == app.progmanWindow) return;
  // The hook watches the old shell's process; a host in the new shell starts watching the new one.
  StopWatchingShell();
  app.progmanWindow = progman;
}

bool FindDesktopLayer() {
  if (TestDesktopLayer()) return true;
  SendMessageTimeoutW(app.progmanWindow, kShellBuildLayerMessage, 0x0D, 1, SMTO_BLOCK, 1000, nullptr);
  SendMessageTimeoutW(app.progmanWindow, kShellBuildLayerMessage, 0, 0, SMTO_BLOCK, 1000, nullptr);
  return TestDesktopLayer() || TestRaisedDesktop();
}

MixedDpiHosting::MixedDpiHosting() : previous(SetDpiHosting() ? SetDpiHosting()(kHostingMixed) : kHostingInvalid) {}

// Keeps the error of what was made meanwhile.
MixedDpiHosting::~MixedDpiHosting() {
  const DWORD error = GetLastError();
  if (previous != kHostingInvalid) SetDpiHosting()(previous);
  SetLastError(error);
}

RECT LayerArea() {
  RECT area{};
  GetClientRect(app.desktopLayer, &area);
  MapWindowPoints(app.desktopLayer, nullptr, reinterpret_cast<POINT*>(&area), 2);
  return area;
}

bool CreateHostWindow() {
  const RECT area = LayerArea();
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  {
    const MixedDpiHosting hosting;
    // The shell is not told of the host's coming and going: a shell that does not answer cannot hold it up.
    app.hostWindow = CreateWindowExW(WS_EX_LAYERED | WS_EX_NOPARENTNOTIFY, MAKEINTATOM(app.hostClassAtom), nullptr,
                                     WS_POPUP | WS_DISABLED | WS_CLIPCHILDREN, 0, 0, width, height, app.desktopLayer,
                                     nullptr, app.instance, nullptr);
  }
  if (!app.hostWindow) {
    ReportError(nullptr, L"親ウィンドウを作成できません。", GetLastError());
    return false;
  }
  SetWindowKind(app.hostWindow, WS_CHILD);
  SetParent(app.hostWindow, app.desktopLayer);
  SetLayeredWindowAttributes(app.hostWindow, 0, 255, LWA_ALPHA);
  ShowInHost(CreateRectRgn(0, 0, 0, 0));
  if (app.raisedDesktop) {
    KeepHostBelowIcons();
    WatchShell();
  }
  ShowWindow(app.hostWindow, SW_SHOWNOACTIVATE);
  RecordHostArea(area);
  return true;
}

void ShowInHost(HRGN area) {
  if (!SetWindowRgn(app.hostWindow, area, TRUE) && area) DeleteObject(area);
}

void RecordHostArea(const RECT& area) {
  app.hostWidth = area.right - area.left;
  app.hostHeight = area.bottom - area.top;
  app.hostOrigin = {area.left, area.top};
  app.hostDpi = HostDpi();
}

bool HostFitsLayer() {
  const RECT area = LayerArea();
  return IsRectEmpty(&area) ||
         (area.right - area.left == app.hostWidth && area.bottom - area.top == app.hostHeight &&
          area.left == app.hostOrigin.x && area.top == app.hostOrigin.y && HostDpi() == app.hostDpi);
}

LRESULT CALLBACK HostWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return GuardHandler([&]() -> LRESULT {
    switch (message) {
      case WM_PARENTNOTIFY:
        OnHostParentNotify(wParam, lParam);
        return 0;
      case WM_DESTROY:
        OnHostDestroy();
        return 0;
      case kDpiChangedAfterParent:
        // The display's scale changed: the saver sized itself for the old one.
        SyncHostSize();
        return 0;
      default:
        return DefProgramWindowProc(hwnd, message, wParam, lParam);
    }
  });
}
