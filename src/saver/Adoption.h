#pragma once
#include <windows.h>

#include <cstdint>

#include "saver/SaverWindow.h"

// How long a launched saver has to show its first window.
constexpr std::uint64_t kLaunchDeadlineMs = 10000;
constexpr int kNudgeDistance = 32;

enum class AdoptionResult {
  Adopted,
  // Nothing to adopt in time, or the host went away meanwhile; nothing has been shown to the user.
  Failed,
  // The saver showed windows but they went away before they settled in the host (a saver that
  // closes when its window is hidden); nothing has been shown to the user.
  WindowsLost,
};

// Takes the saver's top-level windows into the host. Unless adopted, the process is ended, both handles
// are closed and saverWindows is emptied.
AdoptionResult AdoptSaverWindows(const PROCESS_INFORMATION& process, std::uint64_t launchDeadline);
// The record of one of the wallpaper saver's top-level windows; null for any other window.
SaverWindowRecord* FindSaverWindow(HWND hwnd);

// Moves right when the cursor is near the left edge, otherwise left.
inline int NudgeDirection(int cursorX) { return cursorX < kNudgeDistance ? kNudgeDistance : -kNudgeDistance; }
// A shift key tap and a small mouse move there and back, so the desktop wakes to the new windows.
void NudgeInput();
