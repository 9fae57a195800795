#pragma once
#include <windows.h>

// The whole life of the process: single instance, shell search, start, message loop, clean-up.
// Returns the exit code, 0 on every path.
int RunApplication(HINSTANCE instance);

bool Initialize();
// Releases what exists; serves every stage of a failed start as well as the normal end.
void Cleanup();
// Ends the session and display notifications; before the main window goes, which they are sent to.
void StopWatchingSessionAndDisplay();
// The program's one message loop; ends on WM_QUIT or when a handler failed.
void RunMessageLoop();
