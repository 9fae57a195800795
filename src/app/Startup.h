#pragma once
#include <windows.h>

// The whole life of the process: single instance, shell search, start, message loop, clean-up.
// Returns the exit code, 0 on every path.
int RunApplication(HINSTANCE instance);
// Ends the session and display notifications; before the main window goes, which they are sent to.
void StopWatchingSessionAndDisplay();
