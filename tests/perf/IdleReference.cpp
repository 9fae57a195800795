// The least a resident GUI program can be: one hidden window and a GetMessageW loop. The benchmarks set
// Orvane's idle cost and memory beside this program's. Ends on WM_CLOSE.
#include <windows.h>

#include "PerfProtocol.h"

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kIdleReferenceClass;
  if (!RegisterClassExW(&windowClass)) return 1;
  if (!CreateWindowExW(0, kIdleReferenceClass, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr)) {
    return 1;
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
