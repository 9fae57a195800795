#include "desktop/Visibility.h"

#include <algorithm>

#include "app/AppState.h"

namespace {

constexpr DWORD kDwmCloaked = 14;  // DWMWA_CLOAKED, Windows 8 and later

using DwmGetWindowAttributeFunction = HRESULT(WINAPI*)(HWND, DWORD, PVOID, DWORD);

struct Monitor : SaverMonitor {
  bool hidden;
};

struct Search {
  DWORD saverProcess;
  std::vector<Monitor> monitors;
  std::vector<HWND> covering;
  // Windows that hid the wallpaper at the last look: neither their program nor their class has changed since.
  const std::vector<HWND>& known;
};

bool Cloaked(HWND hwnd) {
  // Looked up at run time: Vista has no cloaking and older dwmapi builds no such attribute.
  static const auto dwmGetWindowAttribute = reinterpret_cast<DwmGetWindowAttributeFunction>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"dwmapi.dll"), "DwmGetWindowAttribute")));
  DWORD cloaked = 0;
  return dwmGetWindowAttribute && SUCCEEDED(dwmGetWindowAttribute(hwnd, kDwmCloaked, &cloaked, sizeof(cloaked))) &&
         cloaked != 0;
}

bool FullyTransparent(HWND hwnd, LONG exStyle) {
  BYTE alpha = 255;
  DWORD flags = 0;
  return (exStyle & WS_EX_LAYERED) && GetLayeredWindowAttributes(hwnd, nullptr, &alpha, &flags) &&
         (flags & LWA_ALPHA) && alpha == 0;
}

bool ShellDesktopWindow(HWND hwnd) {
  wchar_t name[16] = L"";
  GetClassNameW(hwnd, name, 16);
  return lstrcmpW(name, L"Progman") == 0 || lstrcmpW(name, L"WorkerW") == 0;
}

BOOL CALLBACK CheckWindow(HWND hwnd, LPARAM lParam) {
  return GuardHandler([&]() -> BOOL {
    auto& search = *reinterpret_cast<Search*>(lParam);
    // Runs twice a second: one call tells what rules out most windows (for another program's window, each call is
    // a trip to the system's window manager).
    WINDOWINFO info{};
    info.cbSize = sizeof(info);
    if (!GetWindowInfo(hwnd, &info) || (info.dwStyle & (WS_VISIBLE | WS_MINIMIZE)) != WS_VISIBLE) return TRUE;
    const RECT& rect = info.rcWindow;
    const bool maximized = (info.dwStyle & WS_MAXIMIZE) != 0;
    bool mayHide = false;
    for (const Monitor& monitor : search.monitors)
      mayHide |= !monitor.hidden && HidesMonitor(rect, maximized, true, monitor.rect);
    if (!mayHide) return TRUE;
    const auto exStyle = static_cast<LONG>(info.dwExStyle);
    if ((exStyle & (WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW)) || FullyTransparent(hwnd, exStyle) || Cloaked(hwnd)) {
      return TRUE;
    }
    if (std::find(search.known.begin(), search.known.end(), hwnd) == search.known.end()) {
      DWORD process = 0;
      GetWindowThreadProcessId(hwnd, &process);
      if (process == GetCurrentProcessId() || process == search.saverProcess || ShellDesktopWindow(hwnd)) return TRUE;
    }
    // A maximized window hides only the monitor it is maximized on: the one its middle lies on.
    const POINT middle{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    bool hides = false;
    for (Monitor& monitor : search.monitors) {
      const bool on = !maximized || PtInRect(&monitor.rect, middle);
      if (monitor.hidden || !HidesMonitor(rect, maximized, on, monitor.rect)) continue;
      monitor.hidden = hides = true;
    }
    if (hides) search.covering.push_back(hwnd);
    return TRUE;
  });
}

BOOL CALLBACK AddMonitor(HMONITOR handle, HDC, LPRECT rect, LPARAM lParam) {
  return GuardHandler([&]() -> BOOL {
    auto& monitors = *reinterpret_cast<std::vector<SaverMonitor>*>(lParam);
    for (const SaverMonitor& monitor : monitors) {
      if (monitor.handle == handle) return TRUE;
    }
    monitors.push_back({handle, *rect});
    return TRUE;
  });
}

}  // namespace

std::vector<SaverMonitor> MonitorsOf(const std::vector<HWND>& windows) {
  std::vector<SaverMonitor> monitors;
  for (HWND window : windows) {
    RECT rect{};
    if (GetWindowRect(window, &rect))
      EnumDisplayMonitors(nullptr, &rect, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
  }
  return monitors;
}

Coverage LookAtCoverage(DWORD saverProcess, const std::vector<SaverMonitor>& monitors, const std::vector<HWND>& known,
                        const std::vector<HWND>* only) {
  Search search{saverProcess, {}, {}, known};
  for (const SaverMonitor& monitor : monitors) search.monitors.push_back({monitor, false});
  if (!only) {
    EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
  } else {
    for (HWND window : *only) CheckWindow(window, reinterpret_cast<LPARAM>(&search));
  }
  Coverage coverage{search.monitors.size(), 0, std::move(search.covering)};
  for (const Monitor& monitor : search.monitors) coverage.monitorsHidden += monitor.hidden;
  return coverage;
}

bool ShellReportsPresenting() {
  QUERY_USER_NOTIFICATION_STATE state = QUNS_ACCEPTS_NOTIFICATIONS;
  return SUCCEEDED(SHQueryUserNotificationState(&state)) &&
         (state == QUNS_RUNNING_D3D_FULL_SCREEN || state == QUNS_PRESENTATION_MODE);
}
