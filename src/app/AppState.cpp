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
