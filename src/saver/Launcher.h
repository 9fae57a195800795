#pragma once
#include <windows.h>

#include "app/AppState.h"

enum class SaverMode { Wallpaper = 0, Preview = 1, Configure = 2 };

// Writes "<dir>\", where a saver's file name goes next, and returns the position after it.
wchar_t* PutSaverDirectory(wchar_t* out, const wchar_t* systemDir, UINT systemDirLength);
// "<dir>\<name>.scr" followed by "/s", "/p <hwnd>" or "/c:<hwnd>", in a buffer of exactly the longest size.
HeapString BuildSaverCommandLine(const wchar_t* systemDir, UINT systemDirLength, const wchar_t* baseName,
                                 SaverMode mode, HWND parentWindow);

// Creates the process of a saver from the system directory; false after a failure that has been reported.
bool StartSaverProcess(const wchar_t* baseName, SaverMode mode, HWND parentWindow, PROCESS_INFORMATION& process);
// Starts a saver and returns its process handle, or null after a failure that has been reported.
// Previews, configuration runs and the wallpaper in preview mode; the wallpaper run adopts the windows
// of a "/s" saver itself (saver/Wallpaper.h).
HANDLE LaunchSaver(const wchar_t* baseName, SaverMode mode, HWND parentWindow);
