#include "app/AppState.h"

#include <cwchar>

#include "settings/Catalogue.h"

AppState app;

HeapString CopyString(const wchar_t* text, std::size_t length) {
  HeapString copy(new wchar_t[length + 1]);
  wmemcpy(copy.get(), text, length);
  copy[length] = L'\0';
  return copy;
}

HeapString CopyString(const wchar_t* text) { return CopyString(text, wcslen(text)); }

ATOM RegisterWindowClass(WNDPROC procedure, const wchar_t* className, HCURSOR cursor, HBRUSH background) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = app.instance;
  windowClass.hIcon = app.appIcon;
  windowClass.hCursor = cursor;
  windowClass.hbrBackground = background;
  windowClass.lpszClassName = className;
  return RegisterClassExW(&windowClass);
}

LRESULT DefProgramWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return message == WM_CLOSE ? 0 : DefWindowProcW(hwnd, message, wParam, lParam);
}

void SetWindowKind(HWND hwnd, DWORD kind) {
  const auto style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
  SetWindowLongW(hwnd, GWL_STYLE, static_cast<LONG>((style & ~static_cast<DWORD>(WS_POPUP | WS_CHILD)) | kind));
}
