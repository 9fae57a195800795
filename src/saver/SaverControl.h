#pragma once
#include <windows.h>

#include <cstdint>

bool StillRunning(HANDLE process);
// Gives the process graceMs to end by itself, then ends it by force, waits until it is gone and
// closes the handle.
void EndSaverProcess(HANDLE process, DWORD graceMs);
// Ends a saver politely, then by force after the grace, and closes its handle. parentWindow is the
// preview area (or the host) whose child window is asked to close first; null for an adopted wallpaper
// saver whose windows have been released. With a parent window the process may be null.
void StopSaver(HANDLE process, HWND parentWindow);
// The first half of stopping a preview without waiting: its window is asked to close, so that it ends
// while something else is stopped. Returns when it was asked, for EndAskedSaver.
std::uint64_t AskPreviewToClose(HWND parentWindow);
// The second half, for any saver asked to end: its grace counts from when it was asked.
void EndAskedSaver(HANDLE process, std::uint64_t askedTick);
// False when the window's thread does not take a message within 100 ms: the calls that wait for that
// thread (SetParent, EnableWindow, style changes) would hold the UI thread.
bool Answers(HWND hwnd);
