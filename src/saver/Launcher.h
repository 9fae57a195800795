#pragma once
#include <windows.h>

#include "app/AppState.h"

enum class SaverMode { Wallpaper = 0, Preview = 1, Configure = 2 };

// "<dir>\<name>.scr" followed by "/s", "/p <hwnd>" or "/c:<hwnd>", in a buffer of exactly the longest size.
HeapString BuildSaverCommandLine(const wchar_t* systemDir, UINT systemDirLength, const wchar_t* baseName,
                                 SaverMode mode, HWND parentWindow);

// Starts a saver from the system directory; in Wallpaper mode its windows are adopted into the host
// before it returns. Null after a failure that has been reported.
HANDLE LaunchSaver(const wchar_t* baseName, SaverMode mode, HWND parentWindow);
