// A stand-in for the desktop shell, in the engine's own process and thread (its windows answer whenever the
// engine waits): Wine has no shell that stacks an icon window and a wallpaper layer.
// Progman (bottom of the z-order, ignores WM_CLOSE, counts WM_SYSCOLORCHANGE) holds SHELLDLL_DefView until the
// layer is built. Building (0x052C with 13, 1, unless --ignore-052c; or --arranged at the start) makes two
// top-level "WorkerW" windows stacked icons > layer > Progman and moves the view into the icon window. --raised:
// Progman carries WS_EX_NOREDIRECTIONBITMAP and keeps the view (WS_EX_LAYERED); building makes a "WorkerW" child
// of Progman right below the view instead. --size WxH: the layer's size (default the screen). Windows stay hidden,
// so the z-order stays as built; --visible shows them, for a person watching. --tray-late: a notification area
// that is not ready yet refuses every icon until `tray`; --tray-slow: one too busy to answer in time, which takes
// an icon though the call says it failed. At its start the shell broadcasts "TaskbarCreated", as the real one does.
#pragma once
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <initializer_list>

struct FakeShell {
  bool raised = false, visible = false, ignore052c = false, slowTray = false;
  int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  // The layer is the WorkerW inside Progman on the raised desktop.
  HWND progman = nullptr, view = nullptr, icons = nullptr, layer = nullptr, tray = nullptr;
  size_t repaints = 0, trayIcons = 0, trayAdds = 0;  // the slow tray's, which knows Orvane's icon alone
};
inline FakeShell shell;

inline HWND MakeShellWindow(const wchar_t* name, DWORD exStyle, DWORD style, HWND parent) {
  return CreateWindowExW(exStyle, name, L"", style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, shell.width, shell.height,
                         parent, nullptr, GetModuleHandleW(nullptr), nullptr);
}
inline void PlaceAfter(HWND hwnd, HWND after) {
  SetWindowPos(hwnd, after, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
}

inline void BuildLayer() {
  if (!shell.progman || shell.layer) return;
  if (shell.raised) {
    shell.layer = MakeShellWindow(L"WorkerW", 0, WS_CHILD | WS_VISIBLE, shell.progman);
    return PlaceAfter(shell.layer, shell.view);
  }
  // The real shell moves its view out of Progman rather than making a new one.
  if (!shell.icons) SetParent(shell.view, shell.icons = MakeShellWindow(L"WorkerW", WS_EX_TOOLWINDOW, WS_POPUP, 0));
  shell.layer = MakeShellWindow(L"WorkerW", WS_EX_TOOLWINDOW, WS_POPUP, nullptr);
  // Sinking each in turn leaves icons > layer > Progman; Wine keeps that order for hidden windows.
  for (HWND hwnd : {shell.icons, shell.layer, shell.progman}) PlaceAfter(hwnd, HWND_BOTTOM);
  // A window shown lands on top: the layer first, then the icons, keeps the order.
  if (shell.visible) ShowWindow(shell.layer, SW_SHOWNA);
  if (shell.visible) ShowWindow(shell.icons, SW_SHOWNA);
}

inline LRESULT CALLBACK ShellProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hwnd == shell.progman && msg == 0x052C && wParam == 13 && lParam == 1 && !shell.ignore052c) BuildLayer();
  if (hwnd == shell.progman && msg == WM_SYSCOLORCHANGE) ++shell.repaints;
  if (hwnd == shell.tray && msg == WM_COPYDATA && shell.slowTray) {
    const ULONG_PTR code = reinterpret_cast<const COPYDATASTRUCT*>(lParam)->dwData;
    const bool held = shell.trayIcons != 0;
    shell.trayAdds += code == NIM_ADD;
    shell.trayIcons = code == NIM_ADD || (held && code != NIM_DELETE);
    return code != NIM_ADD && held;
  }
  if (hwnd == shell.progman && msg == WM_WINDOWPOSCHANGING) {
    reinterpret_cast<WINDOWPOS*>(lParam)->hwndInsertAfter = HWND_BOTTOM;
  }
  for (HWND* window : {&shell.progman, &shell.view, &shell.icons, &shell.layer, &shell.tray}) {
    if (msg == WM_DESTROY && *window == hwnd) *window = nullptr;
  }
  return msg == WM_CLOSE ? 0 : DefWindowProcW(hwnd, msg, wParam, lParam);
}

inline void CALLBACK BuildLayerLater(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  BuildLayer();
}

// Every shell window goes, as when the shell ends.
inline void EndShell() {
  for (HWND window : {shell.tray, shell.layer, shell.icons, shell.progman}) DestroyWindow(window);
}

inline void StartShell(const wchar_t* options) {
  EndShell();
  shell = FakeShell{wcsstr(options, L"--raised") != nullptr, wcsstr(options, L"--visible") != nullptr,
                    wcsstr(options, L"--ignore-052c") != nullptr, wcsstr(options, L"--tray-slow") != nullptr};
  if (const wchar_t* size = wcsstr(options, L"--size ")) swscanf(size + 7, L"%dx%d", &shell.width, &shell.height);
  for (const wchar_t* name : {L"Progman", L"WorkerW", L"SHELLDLL_DefView", L"Shell_TrayWnd"}) {
    const WNDCLASSW windowClass{0,       ShellProc, 0,       0,       GetModuleHandleW(nullptr),
                                nullptr, nullptr,   nullptr, nullptr, name};
    RegisterClassW(&windowClass);
  }
  shell.progman = MakeShellWindow(L"Progman", WS_EX_TOOLWINDOW, WS_POPUP, nullptr);
  // WS_EX_NOREDIRECTIONBITMAP, which the headers give only to Windows 8 and later builds.
  if (shell.raised) SetWindowLongW(shell.progman, GWL_EXSTYLE, WS_EX_TOOLWINDOW | 0x00200000);
  shell.view =
      MakeShellWindow(L"SHELLDLL_DefView", shell.raised ? WS_EX_LAYERED : 0, WS_CHILD | WS_VISIBLE, shell.progman);
  if (shell.raised) SetLayeredWindowAttributes(shell.view, 0, 255, LWA_ALPHA);
  PlaceAfter(shell.progman, HWND_BOTTOM);
  if (shell.visible) ShowWindow(shell.progman, SW_SHOWNA);
  if (wcsstr(options, L"--arranged")) BuildLayer();
  // Found before Wine's own notification area, it refuses every icon (WM_COPYDATA answered with 0).
  if (wcsstr(options, L"--tray-late") || shell.slowTray)
    shell.tray = MakeShellWindow(L"Shell_TrayWnd", WS_EX_TOOLWINDOW, WS_POPUP, 0);
  PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
}
