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

void SetWindowKind(HWND hwnd, DWORD kind) {
  const auto style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
  SetWindowLongW(hwnd, GWL_STYLE, static_cast<LONG>((style & ~static_cast<DWORD>(WS_POPUP | WS_CHILD)) | kind));
}
