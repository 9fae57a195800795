#pragma once
#include <windows.h>

#include <string>

// The box every message of the program goes through; tests put a recorder here instead.
using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
extern MessageBoxFunction showMessageBox;

// The message, one line feed, then the system's text as it comes (its own line break included).
std::wstring ComposeErrorText(const wchar_t* message, const wchar_t* systemText);

// Shows one box with caption "Orvane" and an OK button; a zero code shows the message alone.
void ReportError(HWND owner, const wchar_t* message, DWORD errorCode);
