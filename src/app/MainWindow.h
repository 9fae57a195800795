#pragma once
#include <windows.h>

// The hidden main window: tray callbacks, display changes, timers, the second instance's request.
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Owns the tray's pop-up menu while it is shown.
LRESULT CALLBACK MenuOwnerWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The program's way to end itself from inside the message loop.
void RequestExit();
// Puts the notification-area icon in place (anew after a shell restart). A notification area that is not ready
// is asked again every second and on "TaskbarCreated"; after 30 s the program says so and ends.
void AddTrayIcon();
