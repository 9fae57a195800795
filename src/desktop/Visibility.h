#pragma once
#include <windows.h>

#include <utility>
#include <vector>

// A window of another program hides a monitor when it is maximized there or fills it (full screen).
inline bool HidesMonitor(const RECT& window, bool maximized, bool onMonitor, const RECT& monitor) {
  return onMonitor && (maximized || (window.left <= monitor.left && window.top <= monitor.top &&
                                     window.right >= monitor.right && window.bottom >= monitor.bottom));
}

// The power settings the pause follows; each carries a DWORD.
// GUID_CONSOLE_DISPLAY_STATE from Windows 8 on, GUID_MONITOR_POWER_ON before: 0 off, 1 on, 2 dimmed (still seen).
constexpr GUID kConsoleDisplayState = {0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
constexpr GUID kMonitorPowerOn = {0x02731015, 0x4510, 0x4526, {0x99, 0xe6, 0xe5, 0xa1, 0x7e, 0xbd, 0x1a, 0xea}};
// GUID_POWER_SAVING_STATUS, battery saver: 0 off, 1 on.
constexpr GUID kBatterySaver = {0xe00958c0, 0xc213, 0x4ace, {0xac, 0x77, 0xfe, 0xcc, 0xed, 0x2e, 0xee, 0xa5}};
// GUID_ENERGY_SAVER_STATUS, energy saver (Windows 11 24H2 on): 0 off, 1 standard, 2 high savings.
constexpr GUID kEnergySaver = {0x550e8400, 0xe29b, 0x41d4, {0xa7, 0x16, 0x44, 0x66, 0x55, 0x44, 0x00, 0x00}};

// What the pause is decided from. The stored one follows the session and power notifications; a look at the
// desktop adds what the shell reports and the monitors.
struct PauseFacts {
  std::size_t monitors = 0;  // as a look at the desktop counted them (Coverage)
  std::size_t monitorsHidden = 0;
  bool locked = false;
  bool disconnected = false;
  bool remote = false;  // shown by a remote desktop client, which would carry every frame over the network
  bool displayOff = false;
  // Kept apart: one of them turned off leaves the other on.
  bool batterySaver = false;
  bool energySaver = false;
  bool presenting = false;  // a game in exclusive full screen or a presentation, as the shell reports it
};

// Nobody can see the wallpaper, the user asked Windows to save energy, or a remote client would carry it. A
// wallpaper on no monitor at all is not hidden by windows: there is nothing to judge.
inline bool ShouldPause(const PauseFacts& facts) {
  return facts.locked || facts.disconnected || facts.remote || facts.displayOff || facts.batterySaver ||
         facts.energySaver || facts.presenting || (facts.monitors != 0 && facts.monitorsHidden == facts.monitors);
}

// What the notifications alone tell: nobody can see the desktop, nor would see a start.
inline bool NobodyCanSee(const PauseFacts& facts) { return facts.locked || facts.disconnected || facts.displayOff; }

// A session connected again still shows the lock screen when it was locked: only the unlock, which follows
// once the user has signed in, unlocks. Which terminal the session connects to tells whether it is remote.
inline void FollowSessionEvent(PauseFacts& facts, WPARAM event) {
  switch (event) {
    case WTS_SESSION_LOCK:
    case WTS_SESSION_UNLOCK:
      facts.locked = event == WTS_SESSION_LOCK;
      break;
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT:
      facts.disconnected = true;
      break;
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
      facts.disconnected = false;
      facts.remote = event == WTS_REMOTE_CONNECT;
      break;
    default:
      break;
  }
}

inline void FollowPowerSetting(PauseFacts& facts, const GUID& setting, DWORD value) {
  if (setting == kConsoleDisplayState || setting == kMonitorPowerOn) facts.displayOff = value == 0;
  if (setting == kBatterySaver) facts.batterySaver = value != 0;
  if (setting == kEnergySaver) facts.energySaver = value != 0;
}

// A monitor the saver's windows occupy.
struct SaverMonitor {
  HMONITOR handle;
  RECT rect;
};

// The monitors the windows occupy, each once.
std::vector<SaverMonitor> MonitorsOf(const std::vector<HWND>& windows);

struct Coverage {
  std::size_t monitors = 0;        // the monitors the saver's windows occupy
  std::size_t monitorsHidden = 0;  // how many of them are hidden
  std::vector<HWND> covering;      // the windows that hide them
};

// Which of the saver's monitors are hidden by a visible, maximized or full-screen window of another program (not
// minimized, cloaked, transparent to input or fully transparent, a tool window, or one of the shell's desktop
// windows). Looks at every top-level window, or only at those given. Known: the windows that hid it at the last
// look.
Coverage LookAtCoverage(DWORD saverProcess, const std::vector<SaverMonitor>& monitors, const std::vector<HWND>& known,
                        const std::vector<HWND>* only);

// The shell reports a game in exclusive full screen or a presentation, which may show no window that covers a
// monitor.
bool ShellReportsPresenting();
