#include "app/ReportError.h"

#include "app/AppState.h"

MessageBoxFunction showMessageBox = MessageBoxW;

std::wstring ComposeErrorText(const wchar_t* message, const wchar_t* systemText) {
  std::wstring text(message);
  text += L'\n';
  text += systemText;
  return text;
}

void ReportError(HWND owner, const wchar_t* message, DWORD errorCode) {
  if (errorCode == 0) {
    showMessageBox(owner, message, kAppTitle, MB_OK);
    return;
  }
  wchar_t* systemText = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                      errorCode, 0x400, reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
  // Without a system text the message still has to reach the user.
  const std::wstring text = ComposeErrorText(message, length != 0 && systemText ? systemText : L"");
  LocalFree(systemText);
  showMessageBox(owner, text.c_str(), kAppTitle, MB_OK);
}
