#include "app/ReportError.h"

#include <cwchar>

MessageBoxFunction showMessageBox = MessageBoxW;

HeapString ComposeErrorText(const wchar_t* message, const wchar_t* systemText) {
  const std::size_t messageLength = wcslen(message);
  const std::size_t systemLength = wcslen(systemText);
  HeapString text(new wchar_t[messageLength + systemLength + 2]);
  wmemcpy(text.get(), message, messageLength);
  text[messageLength] = L'\n';
  wmemcpy(text.get() + messageLength + 1, systemText, systemLength + 1);
  return text;
}

void ReportError(HWND owner, const wchar_t* message, DWORD errorCode) {
  if (errorCode == 0) {
    showMessageBox(owner, message, kAppTitle, MB_OK);
    return;
  }
  wchar_t* systemText = nullptr;
  // Some system texts hold inserts (%1); without arguments for them the call would fail.
  constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD length =
      FormatMessageW(kFlags, nullptr, errorCode, 0x400, reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
  // Without a system text the message still has to reach the user.
  const HeapString text = ComposeErrorText(message, length != 0 && systemText ? systemText : L"");
  LocalFree(systemText);
  showMessageBox(owner, text.get(), kAppTitle, MB_OK);
}
