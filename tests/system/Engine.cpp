#include "Engine.h"

#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "FixtureProtocol.h"

namespace {

constexpr wchar_t kMainClass[] = L"5f0c9a7e3b2d4c18a6e1f94d7b20c3a5";
constexpr wchar_t kHostClass[] = L"9d41e6b0c7a2485f8e3b16d9a0f4c27e";
constexpr DWORD kLong = 30000;
// Long enough for a saver's 3000 ms stop grace on a busy machine.
constexpr DWORD kSettle = 8000;

using Words = std::vector<std::string>;
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void Expect(bool holds, const std::string& what) {
  if (!holds) throw Failure(what);
}

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], int(text.size()))));
  return wide;
}

std::string Narrow(const std::wstring& text) {
  std::string utf8(text.size() * 3, '\0');
  utf8.resize(static_cast<size_t>(
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &utf8[0], int(utf8.size()), nullptr, nullptr)));
  return utf8;
}

// Pumps this thread's messages until the condition holds; false when the time ran out.
bool WaitFor(const std::function<bool()>& condition, DWORD ms) {
  for (const ULONGLONG deadline = GetTickCount64() + ms; !condition();) {
    if (GetTickCount64() > deadline) return condition();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

void Eventually(const std::function<bool()>& condition, const std::string& what, DWORD ms = kSettle) {
  Expect(WaitFor(condition, ms), what);
}

std::wstring EnvPath(const char* variable) {
  std::wstring path = Widen(std::getenv(variable) ? std::getenv(variable) : "");
  for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
  return path.empty() || path[0] != L'\\' ? path : L"Z:" + path;
}

std::wstring SystemDir() {
  wchar_t dir[MAX_PATH];
  GetSystemDirectoryW(dir, MAX_PATH);
  return dir;
}

bool Alive(HANDLE process) { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

PROCESS_INFORMATION Launch(const std::wstring& exe, const std::wstring& arguments, const std::wstring& dir = L"") {
  std::wstring line = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION info{};
  // Wine has been seen failing a start at once, cause unknown: try again before giving up.
  for (int attempt = 0; attempt < 3; ++attempt, Sleep(200)) {
    if (CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir.empty() ? nullptr : dir.c_str(),
                       &startup, &info)) {
      CloseHandle(info.hThread);
      return info;
    }
  }
  throw Failure("cannot start " + Narrow(exe) + ": error " + std::to_string(GetLastError()));
}

void End(PROCESS_INFORMATION& info) {
  if (Alive(info.hProcess)) TerminateProcess(info.hProcess, 1), WaitForSingleObject(info.hProcess, 5000);
  if (info.hProcess) CloseHandle(info.hProcess);
  info = {};
}

DWORD PidOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return hwnd ? pid : 0;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  for (HWND child = GetWindow(parent, GW_CHILD); parent && child; child = GetWindow(child, GW_HWNDNEXT)) found.push_back(child);
  return found;
}

void ForEachFile(const std::wstring& pattern, const std::function<void(const WIN32_FIND_DATAW&)>& visit) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..")) visit(found);
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

void RemoveTree(const std::wstring& dir) {
  ForEachFile(dir + L"\\*", [&](const WIN32_FIND_DATAW& found) {
    const std::wstring path = dir + L"\\" + found.cFileName;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path); else DeleteFileW(path.c_str());
  });
  RemoveDirectoryW(dir.c_str());
}

std::vector<DWORD> SaverPids(const std::wstring& baseName) {
  std::vector<DWORD> pids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{sizeof(entry)};
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    const std::wstring exe = entry.szExeFile;
    if (exe.size() > 4 && _wcsicmp(exe.c_str() + exe.size() - 4, L".scr") == 0 &&
        (baseName.empty() || _wcsicmp(exe.c_str(), (baseName + L".scr").c_str()) == 0)) {
      pids.push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
  return pids;
}

void KillSavers() {
  for (DWORD pid : SaverPids(L"")) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process) TerminateProcess(process, 1), WaitForSingleObject(process, 5000), CloseHandle(process);
  }
}

// Handles a process holds, from the system's handle table (GetProcessHandleCount answers 0 under Wine).
unsigned HandleCount(DWORD pid) {
  struct Entry { ULONG pid; BYTE type, flags; USHORT handle; PVOID object; ACCESS_MASK access; };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<char> table(1 << 20);
  ULONG needed = 0;
  while (query(16, table.data(), ULONG(table.size()), &needed) != 0) table.resize(table.size() * 2);
  const auto* entries = reinterpret_cast<const Entry*>(table.data() + sizeof(ULONG_PTR));
  unsigned count = 0;
  for (ULONG i = 0; i < *reinterpret_cast<const ULONG*>(table.data()); ++i) count += entries[i].pid == pid;
  return count;
}

std::string ReadText(const std::wstring& path) {
  std::ifstream file(Narrow(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string Encode(const std::wstring& name) {
  std::string bytes{'\x2A', '\xAA', 1, 0, 0, 0, char(name.size()), 0};
  for (wchar_t c : name) bytes += char(c & 0xFF), bytes += char(c >> 8);
  return bytes;
}

// CPU milliseconds and context switches of the Unix processes (Wine's view of the Windows ones, through
// drive Z:) whose command line holds the text: Windows tells neither for another process under Wine.
std::pair<double, long> UnixUsage(const std::string& commandLinePart) {
  std::pair<double, long> usage{0, 0};
  ForEachFile(L"Z:\\proc\\*", [&](const WIN32_FIND_DATAW& process) {
    const std::wstring proc = L"Z:\\proc\\" + std::wstring(process.cFileName);
    if (!iswdigit(process.cFileName[0]) || ReadText(proc + L"\\cmdline").find(commandLinePart) == std::string::npos) return;
    ForEachFile(proc + L"\\task\\*", [&](const WIN32_FIND_DATAW& task) {
      const std::wstring dir = proc + L"\\task\\" + task.cFileName;
      usage.first += std::strtod(ReadText(dir + L"\\schedstat").c_str(), nullptr) / 1e6;
      std::istringstream status(ReadText(dir + L"\\status"));
      for (std::string line; std::getline(status, line);) {
        if (line.find("ctxt_switches:") != std::string::npos) usage.second += std::stol(line.substr(line.find(':') + 1));
      }
    });
  });
  return usage;
}

struct Scenario {
  std::wstring dir, logDir;
  PROCESS_INFORMATION shell{}, orvane{}, spawned{};
  HANDLE lock = INVALID_HANDLE_VALUE;
  unsigned handleMark = 0;
  unsigned long long markUs = 0;
  std::map<std::string, size_t> wallpapers;  // wallpaper starts seen, per saver and mode
  HWND cover = nullptr;

  Scenario(const Row& row) : dir(TempDir(L"run")), logDir(TempDir(L"log")) {
    SetEnvironmentVariableW(kFixtureEnvLog, logDir.c_str());
    KillSavers();
    ForEachFile(SystemDir() + L"\\*.scr", [](const WIN32_FIND_DATAW& found) {
      const std::wstring path = SystemDir() + L"\\" + found.cFileName;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path); else DeleteFileW(path.c_str());
    });
    std::wistringstream savers(row.savers);
    for (std::wstring saver; savers >> saver;) {
      const size_t equals = saver.find(L'=');
      const wchar_t kind = equals == std::wstring::npos ? L'F' : saver[equals + 1];
      Install(kind == L'A' ? L"FixtureSaverAlt.exe" : kind == L'N' ? L"FixtureSaverNoName.exe" : L"FixtureSaver.exe",
              saver.substr(0, equals));
    }
    CopyFileW(EnvPath("ORVANE_EXE_PATH").c_str(), (dir + L"\\Orvane.exe").c_str(), FALSE);
    if (row.settings) std::ofstream(Narrow(dir + L"\\TAVO.dat"), std::ios::binary) << Encode(row.settings);
    // Wine's notification area blocks about 2 s when its last icon goes, as at every Exit of Orvane's; a real
    // desktop always has other icons.
    NOTIFYICONDATAW icon{sizeof(icon), CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), 1};
    Shell_NotifyIconW(NIM_ADD, &icon);
    if (row.shell) StartShell(row.shell);
  }

  ~Scenario() {
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    if (Alive(orvane.hProcess)) {
      PostMessageW(Box(), WM_COMMAND, IDOK, 0);
      try {
        Pick('q');
        WaitForSingleObject(orvane.hProcess, 15000);
      } catch (const Failure&) {
      }
    }
    End(orvane), End(spawned), KillSavers();
    DestroyWindow(cover);
    SendMessageTimeoutW(FindWindowW(kShellControlClass, nullptr), WM_CLOSE, 0, 0, SMTO_NORMAL, 2000, nullptr);
    if (shell.hProcess) WaitForSingleObject(shell.hProcess, 5000);
    End(shell);
    SetEnvironmentVariableW(kFixtureEnvLog, nullptr);
    RemoveTree(dir), RemoveTree(logDir);
  }

  static std::wstring TempDir(const wchar_t* tag) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static int counter = 0;
    std::wstring made;
    do made = base + std::wstring(L"orvane-") + tag + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    while (!CreateDirectoryW(made.c_str(), nullptr));
    return made;
  }

  static void Install(const wchar_t* binary, const std::wstring& baseName) {
    CopyFileW((EnvPath("ORVANE_FIXTURES_DIR") + L"\\" + binary).c_str(), (SystemDir() + L"\\" + baseName + L".scr").c_str(), FALSE);
  }

  void StartShell(const std::wstring& options) {
    End(shell);
    shell = Launch(EnvPath("ORVANE_FIXTURES_DIR") + L"\\FakeShell.exe", options);
    Eventually([&] { return FindWindowW(kShellControlClass, nullptr) || !Alive(shell.hProcess); }, "no shell", kLong);
    Expect(Alive(shell.hProcess), "the simulated shell ended at its start");
  }

  LRESULT Shell(UINT command, WPARAM wParam = 0, LPARAM lParam = 0) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(FindWindowW(kShellControlClass, nullptr), command, wParam, lParam, SMTO_NORMAL, 10000, &result);
    return LRESULT(result);
  }

  HWND Main() const {
    HWND main = FindWindowW(kMainClass, nullptr);
    return PidOf(main) == orvane.dwProcessId ? main : nullptr;
  }

  HWND Host() const {
    for (HWND top = GetTopWindow(nullptr); top; top = GetWindow(top, GW_HWNDNEXT)) {
      if (HWND host = FindWindowExW(top, nullptr, kHostClass, nullptr)) return host;
    }
    return nullptr;
  }

  // A visible top-level window of Orvane's.
  HWND Own(const wchar_t* className, const wchar_t* title) const {
    for (HWND top = GetTopWindow(nullptr); top; top = GetWindow(top, GW_HWNDNEXT)) {
      wchar_t name[64] = L"", text[64] = L"";
      GetClassNameW(top, name, 64), GetWindowTextW(top, text, 64);
      if (PidOf(top) == orvane.dwProcessId && !wcscmp(name, className) && (!title || !wcscmp(text, title)) &&
          (GetWindowLongW(top, GWL_STYLE) & WS_VISIBLE)) {
        return top;
      }
    }
    return nullptr;
  }
  HWND Dialog() const { return Own(L"#32770", L"Orvane 設定"); }
  HWND Box() const { return Own(L"#32770", L"Orvane"); }
  HWND Menu() const { return Own(L"#32768", nullptr); }

  // The saver's log, one line split into words each.
  std::vector<Words> Log(const std::string& saver) const {
    std::vector<Words> lines;
    std::istringstream file(ReadText(logDir + L"\\" + Widen(saver) + L".log"));
    for (std::string line; std::getline(file, line);) {
      std::istringstream words(line);
      lines.emplace_back(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
    }
    return lines;
  }

  // Pids of the saver's starts in that mode ("/s", "/p", "/c:"), oldest first.
  std::vector<std::string> Starts(const std::string& saver, const std::string& mode) const {
    std::vector<std::string> pids;
    for (const Words& line : Log(saver)) {
      if (line.size() > 2 && line[1] == "start" && line[2].compare(0, mode.size(), mode) == 0) pids.push_back(line[0]);
    }
    return pids;
  }

  // When the window of that process was shown inside the host, in microseconds.
  unsigned long long ShownInHost(const std::string& saver, const std::string& pid) const {
    for (const Words& line : Log(saver)) {
      if (line.size() > 5 && line[0] == pid && line[1] == "shown" && line[5] != "0") return std::stoull(line[2]);
    }
    return 0;
  }

  std::wstring Heartbeat() const {
    wchar_t text[32] = L"";
    for (HWND child : Children(Host())) InternalGetWindowText(child, text, 32);
    return text;
  }

  DWORD HostedPid() const {
    for (HWND child : Children(Host())) {
      if (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) return PidOf(child);
    }
    return 0;
  }

  void Pick(char mnemonic) {
    PostMessageW(Main(), WM_APP, 1, WM_RBUTTONUP);
    HWND menu = nullptr;
    Eventually([&] { return (menu = Menu()) != nullptr; }, "the tray menu did not open on a right-button release");
    PostMessageW(menu, WM_CHAR, WPARAM(mnemonic), 0);
  }

  void Figure(const std::string& name, double value) { std::printf("figure %s %.1f\n", name.c_str(), value); }

  void Run(const std::string& steps, int scale) {
    std::vector<Words> list;
    std::istringstream text(steps);
    for (std::string step; std::getline(text, step, ';');) {
      for (char& c : step) c = c == '~' ? ' ' : c == ' ' ? '\n' : c;
      std::istringstream words(step);
      Words split;
      for (std::string word; std::getline(words, word);) {
        if (!word.empty()) split.push_back(word);
      }
      if (!split.empty()) list.push_back(split);
    }
    std::vector<std::pair<size_t, int>> loops;
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i][0] == "repeat") {
        loops.push_back({i, std::stoi(list[i][1]) * scale});
      } else if (list[i][0] == "end") {
        if (--loops.back().second > 0) i = loops.back().first; else loops.pop_back();
      } else {
        try {
          Step(list[i]);
        } catch (const std::exception& failure) {
          std::string step;
          for (const std::string& word : list[i]) step += " " + word;
          throw Failure("step '" + step.substr(1) + "': " + failure.what());
        }
      }
    }
  }

  void Step(const Words& w) {
    const std::string& verb = w[0];
    auto arg = [&](size_t i) { return i < w.size() ? w[i] : std::string(); };
    auto number = [&](size_t i) { return std::stoi(arg(i)); };
    if (verb == "start" || verb == "launch") {
      orvane = Launch(dir + L"\\Orvane.exe", L"", dir);
      if (verb == "start") Eventually([&] { return Main() != nullptr; }, "Orvane did not reach its main window", kLong);
    } else if (verb == "wall") {  // a new start of that saver ("p": in preview mode) shows inside the host [within MS]
      const std::string mode = arg(2) == "p" ? "/p" : "/s";
      size_t& seen = wallpapers[arg(1) + mode];
      Eventually([&] {
        const std::vector<std::string> starts = Starts(arg(1), mode);
        return starts.size() > seen && HostedPid() && std::to_string(HostedPid()) == starts.back();
      }, "no new " + mode + " start of " + arg(1) + " shows inside the host", w.size() > 3 ? DWORD(number(3)) : kLong);
      seen = Starts(arg(1), mode).size();
    } else if (verb == "starts") {
      if (!WaitFor([&] { return int(Starts(arg(1), arg(2)).size()) == number(3); }, kSettle)) {
        throw Failure(arg(1) + " was started " + std::to_string(Starts(arg(1), arg(2)).size()) + " times with " + arg(2));
      }
    } else if (verb == "savers") {
      Eventually([&] { return int(SaverPids(Widen(arg(2))).size()) == number(1); }, "other saver processes run");
    } else if (verb == "exited") {  // the latest wallpaper saver of that name ended on its own, for that reason
      Eventually([&] {
        const std::vector<std::string> starts = Starts(arg(1), "/s");
        for (const Words& line : Log(arg(1))) {
          if (!starts.empty() && line == Words{starts.back(), "exit", arg(2)}) return true;
        }
        return false;
      }, "the wallpaper saver did not end on its own (ended by force?)");
    } else if (verb == "icon") {
      NOTIFYICONDATAW icon{sizeof(icon), Main(), 1};
      Eventually([&] { return Shell_NotifyIconW(NIM_MODIFY, &icon) == (number(1) == 1); },
                 number(1) ? "the notification-area icon is missing" : "the notification-area icon stayed");
    } else if (verb == "tray") {
      const std::map<std::string, UINT> kMouse{{"lu", WM_LBUTTONUP}, {"ru", WM_RBUTTONUP},       {"ld", WM_LBUTTONDOWN},
                                               {"rd", WM_RBUTTONDOWN}, {"ldbl", WM_LBUTTONDBLCLK}, {"rdbl", WM_RBUTTONDBLCLK}, {"move", WM_MOUSEMOVE}};
      for (size_t i = 1; i < w.size(); ++i) PostMessageW(Main(), WM_APP, 1, kMouse.at(w[i]));
    } else if (verb == "menu" || verb == "nomenu") {
      Eventually([&] { return (Menu() != nullptr) == (verb == "menu"); },
                 verb == "menu" ? "no tray menu opened" : "a tray menu is open (only a button release opens it)");
    } else if (verb == "esc") {
      PostMessageW(Menu(), WM_KEYDOWN, VK_ESCAPE, 0);
    } else if (verb == "pick") {
      Pick(arg(1)[0]);
    } else if (verb == "dialog" || verb == "nodialog") {
      if (verb == "dialog") Pick('s');
      Eventually([&] { return (Dialog() != nullptr) == (verb == "dialog"); }, "the settings dialog is not " +
                 std::string(verb == "dialog" ? "open" : "closed"));
    } else if (verb == "select") {
      HWND combo = GetDlgItem(Dialog(), 102);
      const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(Widen(arg(1)).c_str()));
      Expect(index >= 0, "the saver list has no such entry");
      SendMessageW(combo, CB_SETCURSEL, WPARAM(index), 0);
      PostMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(102, CBN_SELCHANGE), LPARAM(combo));
    } else if (verb == "press") {
      const std::map<std::string, int> kButtons{{"ok", IDOK}, {"cancel", IDCANCEL}, {"apply", 104}, {"config", 103}};
      const int id = kButtons.at(arg(1));
      PostMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(Dialog(), id)));
    } else if (verb == "list" || verb == "selected") {
      HWND combo = GetDlgItem(Dialog(), 102);
      std::wstring items;
      for (LRESULT i = 0, count = SendMessageW(combo, CB_GETCOUNT, 0, 0); i < count; ++i) {
        wchar_t item[256] = L"";
        if (verb == "selected" && i != SendMessageW(combo, CB_GETCURSEL, 0, 0)) continue;
        SendMessageW(combo, CB_GETLBTEXT, WPARAM(i), LPARAM(item));
        items += (items.empty() ? L"" : L"|") + std::wstring(item);
      }
      Expect(items == Widen(arg(1)), "the saver list (" + verb + ") is " + Narrow(items));
    } else if (verb == "second") {
      PROCESS_INFORMATION second = Launch(dir + L"\\Orvane.exe", L"", dir);
      DWORD code = 1;
      const bool ended = WaitForSingleObject(second.hProcess, 10000) == WAIT_OBJECT_0 &&
                         GetExitCodeProcess(second.hProcess, &code) && code == 0;
      End(second);
      Expect(ended && Alive(orvane.hProcess), "a second start did not just hand over and end with code 0");
    } else if (verb == "front") {
      Eventually([&] { return GetForegroundWindow() == Dialog(); }, "the settings dialog was not brought forward");
    } else if (verb == "shell") {
      const std::map<std::string, UINT> kCommands{{"destroy", kShellDestroyLayer}, {"resize", kShellResizeLayer},
                                                  {"later", kShellBuildLater},     {"worker", kShellRecreateWorker},
                                                  {"hang", kShellHang},            {"kill", kShellDestroyAll},
                                                  {"tray", kShellTrayReady}};
      NOTIFYICONDATAW icon{sizeof(icon), Main(), 1};
      // Wine's notification area outlives the simulated shell; a real one goes with the shell, and its icons too.
      if (arg(1) == "kill") Shell_NotifyIconW(NIM_DELETE, &icon);
      if (arg(1) == "new") StartShell(Widen(arg(2)));
      else Shell(kCommands.at(arg(1)), w.size() > 2 ? WPARAM(number(2)) : 0, w.size() > 3 ? number(3) : 0);
    } else if (verb == "box" || verb == "nobox") {
      HWND box = nullptr;
      if (verb == "nobox") return Expect(Box() == nullptr, "an unexpected message box is open");
      Eventually([&] { return (box = Box()) != nullptr; }, "no message box appeared", kLong);
      wchar_t text[1024] = L"";
      GetDlgItemTextW(box, 0xFFFF, text, 1024);
      Expect(std::wstring(text).find(Widen(arg(1))) != std::wstring::npos, "the box says " + Narrow(text));
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      Eventually([&] { return Box() != box; }, "the message box did not close");
    } else if (verb == "exits") {
      DWORD code = 1;
      Expect(WaitForSingleObject(orvane.hProcess, w.size() > 1 ? DWORD(number(1)) : 20000) == WAIT_OBJECT_0 &&
             GetExitCodeProcess(orvane.hProcess, &code) && code == 0, "Orvane did not end with code 0 in time");
    } else if (verb == "running") {
      Expect(Alive(orvane.hProcess), "Orvane ended");
    } else if (verb == "file") {
      Eventually([&] { return ReadText(dir + L"\\TAVO.dat") == Encode(arg(1) == "-" ? L"" : Widen(arg(1))); },
                 "TAVO.dat holds another choice");
      Expect(GetFileAttributesW((dir + L"\\TAVO.dat.new").c_str()) == INVALID_FILE_ATTRIBUTES, "TAVO.dat.new left behind");
    } else if (verb == "repaint" || verb == "requests") {
      const UINT command = verb == "repaint" ? kShellCountSysColor : kShellCount052c;
      if (!WaitFor([&] { return Shell(command) == number(1); }, kSettle)) {
        throw Failure("the shell received " + std::to_string(Shell(command)) + " of those messages");
      }
    } else if (verb == "adopted") {
      HWND host = Host(), layer = HWND(Shell(kShellLayer));
      // On the raised desktop the host is the layer's sibling inside Progman.
      Expect(host && (GetParent(host) == layer || GetParent(host) == GetParent(layer)), "the host is not inside the layer");
      Expect((GetWindowLongW(host, GWL_STYLE) & (WS_CHILD | WS_DISABLED | WS_POPUP)) == (WS_CHILD | WS_DISABLED) &&
             (GetWindowLongW(host, GWL_EXSTYLE) & WS_EX_LAYERED), "the host is no disabled layered child");
      for (HWND child : Children(host)) {
        Expect((GetWindowLongW(child, GWL_STYLE) & (WS_CHILD | WS_POPUP | WS_MAXIMIZE)) == WS_CHILD,
               "an adopted window is no plain child");
        Expect(!(GetWindowLongW(child, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW)),
               "an adopted window kept its topmost or tool-window bit");
      }
    } else if (verb == "children" || verb == "enabled") {
      int count = 0;
      for (HWND child : Children(Host())) count += verb == "children" || IsWindowEnabled(child);
      Expect(count == number(1), "the host holds " + std::to_string(count) + " such windows");
    } else if (verb == "hostsize") {
      RECT rect{};
      Eventually([&] { return GetClientRect(Host(), &rect) && rect.right == number(1) && rect.bottom == number(2); },
                 "the host is not the layer's size");
    } else if (verb == "nohost") {
      Eventually([&] { return Host() == nullptr; }, "a host window exists");
    } else if (verb == "below") {
      Eventually([&] { return Host() && GetWindow(HWND(Shell(kShellIconView)), GW_HWNDNEXT) == Host(); },
                 "the host is not right below the icon view");
    } else if (verb == "workarea") {  // "workarea 2": two at once, as the shell broadcasts them
      auto send = [&] { return SendMessageTimeoutW(Main(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, SMTO_NORMAL, kLong, nullptr); };
      std::future<LRESULT> other = arg(1) == "2" ? std::async(std::launch::async, send) : std::future<LRESULT>();
      Expect(send() && (!other.valid() || other.get()), "Orvane did not answer a work-area change");
    } else if (verb == "display") {
      PostMessageW(Main(), WM_DISPLAYCHANGE, 32, 0);
    } else if (verb == "pump") {
      WaitFor([] { return false; }, DWORD(number(1)));
    } else if (verb == "lock" || verb == "unlock") {  // a file in use: the save must fail
      if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
      lock = verb == "unlock" ? INVALID_HANDLE_VALUE
                              : CreateFileW((dir + L"\\TAVO.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    } else if (verb == "configclose") {
      HWND config = nullptr;
      Eventually([&] { return (config = FindWindowW(L"OrvaneFixtureConfig", nullptr)) != nullptr; }, "no configuration");
      PostMessageW(config, WM_CLOSE, 0, 0);
    } else if (verb == "close") {
      PostMessageW(Main(), WM_CLOSE, 0, 0), PostMessageW(Host(), WM_CLOSE, 0, 0);
    } else if (verb == "handles") {
      WaitFor([] { return false; }, 1500);
      const unsigned now = HandleCount(orvane.dwProcessId);
      if (arg(1) == "mark") handleMark = now;
      else Expect(now <= handleMark + unsigned(number(1)), "Orvane holds " + std::to_string(now - handleMark) + " more handles");
    } else if (verb == "responsive") {
      const ULONGLONG start = GetTickCount64();
      SendMessageTimeoutW(Main(), WM_NULL, 0, 0, SMTO_NORMAL, kLong, nullptr);
      Expect(GetTickCount64() - start <= ULONGLONG(number(1)), "Orvane did not answer in time");
    } else if (verb == "mark") {  // benchmarks: the moment the figures below count from
      markUs = Microseconds();
    } else if (verb == "figure") {  // NAME: ms since the mark; NAME SAVER: until its newest wallpaper showed
      const unsigned long long end = w.size() > 2 ? ShownInHost(arg(2), Starts(arg(2), "/s").back()) : Microseconds();
      Figure(arg(1), double(end - markUs) / 1000);
    } else if (verb == "spawn") {  // a reference program beside Orvane: the saver alone, in a mode; none: end it
      End(spawned);
      if (w.size() > 1) spawned = Launch(SystemDir() + L"\\" + Widen(arg(1)) + L".scr", Widen(arg(2)));
    } else if (verb == "quit") {  // the spawned saver's own exit on a key, in ms
      markUs = Microseconds();
      PostMessageW(HWND(std::stoull(Log(arg(1))[1][3], nullptr, 16)), WM_KEYDOWN, 0, 0);
      WaitForSingleObject(spawned.hProcess, kLong);
      Figure(arg(2), double(Microseconds() - markUs) / 1000);
    } else if (verb == "firstshown") {  // the spawned saver's first window, in ms since the mark
      Eventually([&] { return Log(arg(1)).size() > 1; }, "the reference saver showed nothing", kLong);
      Figure(arg(2), double(std::stoull(Log(arg(1))[1][2]) - markUs) / 1000);
    } else if (verb == "cover") {  // a window of this program: max, small, hidden, overlay; "restore" un-maximizes
      if (arg(1) == "restore") return (void)ShowWindow(cover, SW_RESTORE);
      DestroyWindow(cover);
      const DWORD style = WS_POPUP | (arg(1) == "hidden" ? 0 : WS_VISIBLE) | (arg(1) == "small" ? 0 : WS_MAXIMIZE);
      cover = CreateWindowExW(arg(1) == "overlay" ? WS_EX_LAYERED | WS_EX_TRANSPARENT : 0, L"STATIC", L"", style, 0, 0,
                              200, 200, nullptr, nullptr, nullptr, nullptr);
    } else if (verb == "beat") {  // the hosted saver's heartbeat goes on (1) or stands (0) within 1.5 s
      Eventually([&] {
        const std::wstring before = Heartbeat();
        WaitFor([] { return false; }, 300);
        return (Heartbeat() != before) == (number(1) == 1);
      }, number(1) ? "the saver's heartbeat does not go on" : "the saver's heartbeat does not stop", 1500);
    } else if (verb == "uncover") {  // benchmarks: from the cover's restore to the saver's next frame
      const std::wstring before = Heartbeat();
      markUs = Microseconds();
      ShowWindow(cover, SW_RESTORE);
      Eventually([&] { return Heartbeat() != before; }, "the saver did not draw again", kLong);
      Figure(arg(1), double(Microseconds() - markUs) / 1000);
    } else if (verb == "session") {
      SendMessageW(Main(), WM_WTSSESSION_CHANGE, arg(1) == "lock" ? WTS_SESSION_LOCK : WTS_SESSION_UNLOCK, 0);
    } else if (verb == "power") {  // the display's state, as the system tells it: the record lives in Orvane's memory
      struct { GUID guid; DWORD length, state; } setting{{0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}},
                                                         sizeof(DWORD), DWORD(number(1))};
      void* remote = VirtualAllocEx(orvane.hProcess, nullptr, sizeof(setting), MEM_COMMIT, PAGE_READWRITE);
      WriteProcessMemory(orvane.hProcess, remote, &setting, sizeof(setting), nullptr);
      SendMessageW(Main(), WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, LPARAM(remote));
    } else if (verb == "region") {
      HRGN region = CreateRectRgn(0, 0, 0, 0);
      RECT box{};
      Eventually([&] { return GetWindowRgn(Host(), region) != ERROR && GetRgnBox(region, &box) && box.right == number(1) &&
                              box.bottom == number(2); }, "the host does not show just the saver's " + arg(1) + "x" + arg(2));
      DeleteObject(region);
    } else if (verb == "install") {  // many copies, for the list's cost
      for (int i = 0; i < number(1); ++i) Install(L"FixtureSaver.exe", L"fxmany" + std::to_wstring(i));
    } else if (verb == "enumerate") {
      markUs = Microseconds();
      ForEachFile(SystemDir() + L"\\*.scr", [](const WIN32_FIND_DATAW&) {});
      Figure(arg(1), double(Microseconds() - markUs) / 1000);
    } else if (verb == "usage") {  // CPU ms and context switches so far: Orvane's, the reference's, the wineserver's
      for (const auto& [name, part] : {std::pair<std::string, std::string>{"orvane", Narrow(dir.substr(dir.rfind(L'\\') + 1))},
                                       {"reference", arg(2)}, {"wineserver", "wineserver"}}) {
        if (part.empty()) continue;
        const std::pair<double, long> usage = UnixUsage(part);
        Figure(arg(1) + "-cpu-" + name, usage.first), Figure(arg(1) + "-switches-" + name, double(usage.second));
      }
    } else if (verb == "memory") {
      for (const auto& [name, process] : {std::pair<std::string, HANDLE>{"orvane", orvane.hProcess}, {"reference", spawned.hProcess}}) {
        PROCESS_MEMORY_COUNTERS counters{sizeof(counters)};
        GetProcessMemoryInfo(process, &counters, sizeof(counters));
        Figure("private-" + name, double(counters.PagefileUsage) / 1024), Figure("working-set-" + name, double(counters.WorkingSetSize) / 1024);
      }
    } else {
      throw Failure("unknown step");
    }
  }
};

}  // namespace

int RunRow(const Row& row, int scale) {
  try {
    Scenario(row).Run(row.steps, scale);
    std::printf("%s: passed\n", row.name);
    return 0;
  } catch (const std::exception& failure) {
    std::printf("FAILED %s: %s\n", row.name, failure.what());
    return 1;
  }
}
