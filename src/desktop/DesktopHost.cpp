#include "desktop/DesktopHost.h"

#include "app/AppState.h"
#include "app/ReportError.h"
#include "saver/SaverControl.h"

namespace {

constexpr UINT kShellBuildLayerMessage = 0x052C;

bool TestDesktopLayer() {
  app.desktopLayer = GetWindow(app.progmanWindow, GW_HWNDPREV);
  if (!app.desktopLayer) return false;
  HWND iconHolder = GetWindow(app.desktopLayer, GW_HWNDPREV);
  return iconHolder && FindWindowExW(iconHolder, nullptr, L"SHELLDLL_DefView", nullptr);
}

void OnHostDestroy() {
  app.hostWindow = nullptr;
  // The program removed the host itself (shutdown, or no saver chosen): no recovery.
  if (!app.mainWindow || !app.saverName) return;
  if (app.wallpaperProcess) {
    HANDLE process = TakeHandle(app.wallpaperProcess);
    TerminateIfRunning(process);
    CloseHandle(process);
  }
  SetTimer(app.mainWindow, kRecoveryTimer1, 1000, nullptr);
  SetTimer(app.mainWindow, kRecoveryTimer2, 3000, nullptr);
  SetTimer(app.mainWindow, kRecoveryTimer3, 10000, nullptr);
}

void OnHostParentNotify(WPARAM wParam) {
  if (LOWORD(wParam) != WM_DESTROY) return;
  if (IsEarlyFailure(GetTickCount64(), app.wallpaperStartTick)) {
    // The launch it is about travels along, so a report that arrives after a newer launch is ignored.
    PostMessageW(app.mainWindow, WMA_WALLPAPER_FAILED, app.wallpaperGeneration, 0);
  }
}

}  // namespace

bool FindDesktopLayer() {
  if (TestDesktopLayer()) return true;
  SendMessageTimeoutW(app.progmanWindow, kShellBuildLayerMessage, 0x0D, 1, SMTO_BLOCK, 1000, nullptr);
  SendMessageTimeoutW(app.progmanWindow, kShellBuildLayerMessage, 0, 0, SMTO_BLOCK, 1000, nullptr);
  return TestDesktopLayer();
}

bool CreateHostWindow() {
  RECT layer{};
  GetClientRect(app.desktopLayer, &layer);
  const int width = layer.right;
  const int height = layer.bottom;
  app.hostWindow = CreateWindowExW(WS_EX_LAYERED, MAKEINTATOM(app.hostClassAtom), nullptr,
                                   WS_POPUP | WS_DISABLED | WS_CLIPCHILDREN, 0, 0, width, height, app.desktopLayer,
                                   nullptr, app.instance, nullptr);
  if (!app.hostWindow) {
    ReportError(nullptr, L"親ウィンドウを作成できません。", GetLastError());
    return false;
  }
  const LONG style = GetWindowLongW(app.hostWindow, GWL_STYLE);
  SetWindowLongW(app.hostWindow, GWL_STYLE, static_cast<LONG>((static_cast<DWORD>(style) & 0x3FFFFFFFu) | WS_CHILD));
  SetParent(app.hostWindow, app.desktopLayer);
  SetLayeredWindowAttributes(app.hostWindow, 0, 255, LWA_ALPHA);
  ShowWindow(app.hostWindow, SW_SHOWNOACTIVATE);
  app.hostWidth = width;
  app.hostHeight = height;
  return true;
}

LRESULT CALLBACK HostWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return GuardHandler([&]() -> LRESULT {
    switch (message) {
      case WM_DESTROY:
        OnHostDestroy();
        return 0;
      case WM_CLOSE:
        return 0;
      case WM_PARENTNOTIFY:
        OnHostParentNotify(wParam);
        return 0;
      default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
  });
}
