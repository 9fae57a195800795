// Following savers from outside: which process started in which mode (from the fixture log), which process
// owns a window, and the notifications the shell sends when the screen or the work area changes.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "common/Bench.h"
#include "system/support/OrvaneRun.h"

namespace bench {

struct SaverStart {
  DWORD processId;
  // What follows the quoted path on the command line: "/s", "/p 1234", "/c:1234".
  std::string arguments;
};

// The "start" lines of that saver's log, oldest first.
std::vector<SaverStart> SaverStarts(const FixtureLog& log, const std::wstring& saverName);
// Starts whose arguments begin with the prefix ("/s", "/p", "/c:").
int CountStarts(const FixtureLog& log, const std::wstring& saverName, const std::string& argumentsPrefix);
// The process of the latest such start, or 0.
DWORD LastStart(const FixtureLog& log, const std::wstring& saverName, const std::string& argumentsPrefix);
// True once the process has logged its exit.
bool LoggedExit(const FixtureLog& log, const std::wstring& saverName, DWORD processId);
// Index of the first log line of that process with that event ("start", "exit"), or -1.
int LogLineIndex(const FixtureLog& log, const std::wstring& saverName, DWORD processId, const std::string& event);

DWORD WindowProcess(HWND hwnd);
// The process of the shown saver window inside the host, or 0.
DWORD HostedSaverProcess(const OrvaneRun& run);
bool ProcessAlive(DWORD processId);
// The screen saver base name of a running process ("fxplain" for fxplain.scr), or empty.
std::wstring SaverNameOfProcess(DWORD processId);

// Waits until the host shows a window of that saver's latest "/s" start, and that start is its n-th.
bool WaitWallpaperStart(const OrvaneRun& run, const FixtureLog& log, const std::wstring& saverName, int starts,
                        DWORD timeoutMs = 30000);

// The arranged shell, the saver installed from FixtureSaver.exe, and Orvane started with it as wallpaper.
struct RunningWallpaper {
  explicit RunningWallpaper(const wchar_t* saverName = L"fxplain");
  // The main window is up and the saver's first "/s" start shows in the host.
  bool Ready();

  std::wstring saver;
  FixtureLog log;
  FakeShell shell{L"--arranged"};
  OrvaneRun run;
};

// WM_SETTINGCHANGE with SPI_SETWORKAREA carries a pointer, so it cannot be posted to another process.
bool SendWorkAreaChange(HWND mainWindow, DWORD timeoutMs = 40000);
void PostDisplayChange(HWND mainWindow, int width, int height);

}  // namespace bench
