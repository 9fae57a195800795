#pragma once
#include <windows.h>

// Ends a saver politely, then by force after 3000 ms, and closes its handle. parentWindow is the
// preview area for a preview, null for the wallpaper saver. A preview may pass a null process.
void StopSaver(HANDLE process, HWND parentWindow);
// Stops the wallpaper saver in whichever way it runs (adopted windows, or preview mode in the host)
// and clears wallpaperProcess before anything else can run.
void StopWallpaper();
// For a wallpaper saver whose windows are already gone with the host.
void TerminateIfRunning(HANDLE process);
// Starts the configured saver again in the (new or resized) host, and with it a preview of the same
// saver in an open settings dialog.
void RestartWallpaper();
