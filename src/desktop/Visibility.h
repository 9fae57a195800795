#pragma once
#include <windows.h>

#include <utility>
#include <vector>

// A window of another program hides a monitor when it is maximized there or fills it (full screen).
inline bool HidesMonitor(const RECT& window, bool maximized, bool onMonitor, const RECT& monitor) {
  return onMonitor && (maximized || (window.left <= monitor.left && window.top <= monitor.top &&
                                     window.right >= monitor.right && window.bottom >= monitor.bottom));
}

// Nobody can see the wallpaper: the session is locked, the display is off, or every monitor it shows on is
// hidden. A wallpaper on no monitor at all is not hidden by windows: there is nothing to judge.
inline bool WallpaperUnseen(bool locked, bool displayOff, std::size_t monitors, std::size_t monitorsHidden) {
  return locked || displayOff || (monitors != 0 && monitorsHidden == monitors);
}

struct Coverage {
  std::size_t monitors = 0;        // the monitors the saver's windows occupy
  std::size_t monitorsHidden = 0;  // how many of them are hidden
  std::vector<HWND> covering;      // the windows that hide them
};

// Which monitors the saver's windows occupy are hidden by a visible, maximized or full-screen window of another
// program (not minimized, cloaked, transparent to input or fully transparent, a tool window, or one of the
// shell's desktop windows). Looks at every top-level window, or only at those given.
Coverage LookAtCoverage(DWORD saverProcess, const std::vector<HWND>& saverWindows, const std::vector<HWND>* only);

// Suspends every thread of the process that is not suspended yet, keeping each thread's id and handle, so
// each is resumed exactly once.
void SuspendProcessThreads(DWORD processId, std::vector<std::pair<DWORD, HANDLE>>& suspended);
void ResumeProcessThreads(std::vector<std::pair<DWORD, HANDLE>>& suspended);
