// The wallpaper run: the configured saver in the host, its process watch, and what follows when it
// fails or ends. The only code that starts, stops and restarts it; window procedures call these.
#pragma once
#include <windows.h>

// Starts the configured saver in the host, unless one runs there already. Only a start the user asked for (OK,
// 適用) comes at once; any other waits while nobody can see the desktop (locked, disconnected, display off) and
// comes with the notification that ends that, and waits for the end of the saver's own settings run.
void StartWallpaper(bool userAsked);
// Stops the wallpaper saver in whichever way it runs (adopted windows, or preview mode in the host).
void StopWallpaper();
// At the program's end, or before the next saver starts: the saver is asked to end, and ends on its quit input
// while the rest is taken down, or the next one starts up; AwaitWallpaperEnd gives it what is left of its grace.
void AskWallpaperToEnd();
void AwaitWallpaperEnd();
// Starts the configured saver again in the (new or resized) host, and with it a preview of the same
// saver in an open settings dialog.
void RestartWallpaper();
// The host went with the shell's layer: the saver is ended at once.
void EndWallpaperWithHost();
// The display changed: where the saver shows, and every window, are looked at anew.
void LookAgainAtDesktop();
// One of the saver's own windows in the host, not a passing descendant of one.
bool IsWallpaperWindow(HWND hwnd);
// WMA_WALLPAPER_FAILED: a window of the saver died soon after its start.
void OnWallpaperFailed(WPARAM generation);
// WMA_WALLPAPER_ENDED: the saver's process ended without being asked.
void OnWallpaperEnded(WPARAM generation);
// Pauses the saver as ShouldPause says and resumes it when that no longer holds; run by the visibility timer,
// which runs only while a look at the desktop can change the answer, and by the session and power notifications,
// which also bring a start that waited.
void UpdateWallpaperPause();
