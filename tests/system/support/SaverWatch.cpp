#include "system/support/SaverWatch.h"

#include <tlhelp32.h>

#include <cstdlib>

namespace bench {

namespace {

// A log line is "<pid> <event> <details>".
bool SplitLine(const std::string& line, DWORD& processId, std::string& event, std::string& details) {
  const size_t first = line.find(' ');
  if (first == std::string::npos) return false;
  processId = static_cast<DWORD>(std::strtoul(line.substr(0, first).c_str(), nullptr, 10));
  const size_t second = line.find(' ', first + 1);
  event = line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  details = second == std::string::npos ? std::string() : line.substr(second + 1);
  return true;
}

std::string ArgumentsOf(const std::string& commandLine) {
  size_t start = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    const size_t quote = commandLine.find('"', 1);
    start = quote == std::string::npos ? commandLine.size() : quote + 1;
  } else {
    const size_t space = commandLine.find(' ');
    start = space == std::string::npos ? commandLine.size() : space;
  }
  while (start < commandLine.size() && commandLine[start] == ' ') ++start;
  return commandLine.substr(start);
}

}  // namespace

std::vector<SaverStart> SaverStarts(const FixtureLog& log, const std::wstring& saverName) {
  std::vector<SaverStart> starts;
  for (const std::string& line : log.Lines(saverName)) {
    DWORD processId = 0;
    std::string event;
    std::string details;
    if (SplitLine(line, processId, event, details) && event == "start") {
      starts.push_back({processId, ArgumentsOf(details)});
    }
  }
  return starts;
}

int CountStarts(const FixtureLog& log, const std::wstring& saverName, const std::string& argumentsPrefix) {
  int count = 0;
  for (const SaverStart& start : SaverStarts(log, saverName)) {
    if (start.arguments.compare(0, argumentsPrefix.size(), argumentsPrefix) == 0) ++count;
  }
  return count;
}

DWORD LastStart(const FixtureLog& log, const std::wstring& saverName, const std::string& argumentsPrefix) {
  DWORD last = 0;
  for (const SaverStart& start : SaverStarts(log, saverName)) {
    if (start.arguments.compare(0, argumentsPrefix.size(), argumentsPrefix) == 0) last = start.processId;
  }
  return last;
}

int LogLineIndex(const FixtureLog& log, const std::wstring& saverName, DWORD processId, const std::string& event) {
  const std::vector<std::string> lines = log.Lines(saverName);
  for (size_t i = 0; i < lines.size(); ++i) {
    DWORD linePid = 0;
    std::string lineEvent;
    std::string details;
    if (SplitLine(lines[i], linePid, lineEvent, details) && linePid == processId && lineEvent == event) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool LoggedExit(const FixtureLog& log, const std::wstring& saverName, DWORD processId) {
  return LogLineIndex(log, saverName, processId, "exit") >= 0;
}

DWORD WindowProcess(HWND hwnd) {
  DWORD processId = 0;
  if (hwnd) GetWindowThreadProcessId(hwnd, &processId);
  return processId;
}

DWORD HostedSaverProcess(const OrvaneRun& run) {
  // The shell's layer is hidden, so IsWindowVisible never holds for what lies inside it.
  for (HWND child : run.HostChildren()) {
    if (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) return WindowProcess(child);
  }
  return 0;
}

bool WaitWallpaperStart(const OrvaneRun& run, const FixtureLog& log, const std::wstring& saverName, int starts,
                        DWORD timeoutMs) {
  return WaitFor(
      [&] {
        const DWORD hosted = HostedSaverProcess(run);
        return CountStarts(log, saverName, "/s") == starts && hosted != 0 && hosted == LastStart(log, saverName, "/s");
      },
      timeoutMs);
}

RunningWallpaper::RunningWallpaper(const wchar_t* saverName) : saver(saverName), run(saverName) {
  InstallSavers({{saver, L"FixtureSaver.exe"}});
  if (shell.Ready()) run.Start();
}

bool RunningWallpaper::Ready() { return shell.Ready() && run.WaitReady() && WaitWallpaperStart(run, log, saver, 1); }

bool ProcessAlive(DWORD processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (!process) return false;
  const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

std::wstring SaverNameOfProcess(DWORD processId) {
  std::wstring name;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return name;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID != processId) continue;
    const std::wstring file = entry.szExeFile;
    if (file.size() > 4 && _wcsicmp(file.c_str() + file.size() - 4, L".scr") == 0) {
      name = file.substr(0, file.size() - 4);
    }
    break;
  }
  CloseHandle(snapshot);
  return name;
}

bool SendWorkAreaChange(HWND mainWindow, DWORD timeoutMs) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(mainWindow, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

void PostDisplayChange(HWND mainWindow, int width, int height) {
  PostMessageW(mainWindow, WM_DISPLAYCHANGE, 32, MAKELPARAM(width, height));
}

}  // namespace bench
