#pragma once
#include <windows.h>

// The modeless settings dialog: choose, preview, configure and apply a saver.
INT_PTR CALLBACK SettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The dialog's preview of a saver, drawn into its preview area.
void StopPreview();
void StartPreview(const wchar_t* baseName);
