#pragma once
#include <windows.h>

// The modeless settings dialog: choose, preview, configure and apply a saver.
INT_PTR CALLBACK SettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Drops the tracked configuration run without ending it; the configuration window stays open.
void ReleaseConfigRun();
// WMA_CONFIG_DONE: the configuration run has ended; what it stopped comes back.
void OnConfigRunEnded();
// The dialog's preview of a saver, drawn into its preview area.
void StopPreview();
void StartPreview(const wchar_t* baseName);
