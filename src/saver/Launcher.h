#pragma once
#include <windows.h>

#include "app/AppState.h"

enum class SaverMode { Wallpaper = 0, Preview = 1, Configure = 2 };

// "<dir>\<name>.scr" followed by "/s", "/p <hwnd>" or "/c:<hwnd>", in a buffer of exactly the longest size.
HeapString BuildSaverCommandLine(const wchar_t* systemDir, UINT systemDirLength, const wchar_t* baseName,
                                 SaverMode mode, HWND parentWindow);

// Starts a saver from the system directory; in Wallpaper mode its windows are adopted into the host
// before it returns, or, for a saver that closes when its windows are taken over, it draws into the
// host in preview mode. Null after a failure that has been reported.
// From now on this saver runs as wallpaper in preview mode.
void MarkPreviewMode(const wchar_t* baseName);

HANDLE LaunchSaver(const wchar_t* baseName, SaverMode mode, HWND parentWindow);
