#pragma once
#include <windows.h>

// The box every message of the program goes through; tests put a recorder here instead.
using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
extern MessageBoxFunction showMessageBox;

#include "app/AppState.h"

// The message, one line feed, then the system's text as it comes (its own line break included).
HeapString ComposeErrorText(const wchar_t* message, const wchar_t* systemText);

// Shows one box with caption "Orvane" and an OK button; a zero code shows the message alone.
void ReportError(HWND owner, const wchar_t* message, DWORD errorCode);
