// User stories as rows, and the engine that plays them: the simulated shell, fixture savers and the real
// Orvane.exe in a fresh folder, driven from outside as a user and the shell would. Run as
// `Scenarios.exe ROW [SCALE]`; SCALE multiplies every repeat count (the soak rows' cycles). The benchmark
// rows (perf-*, tools/perf) print "figure NAME MS" lines, each beside its reference measured in the same run.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <algorithm>
#include <filesystem>
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
#include "app/AppState.h"
#include "resource.h"
#include "settings/SettingsFile.h"

namespace {

struct Row {
  const char* name;
  const wchar_t* shell;     // FakeShell options; null: no shell at all
  const wchar_t* savers;    // "fxplain fxalt=A fxnn=N": FixtureSaver.exe, FixtureSaverAlt.exe, FixtureSaverNoName.exe
  const wchar_t* settings;  // the stored saver name; null: no settings file
  const char* steps;        // "verb args; ...", the verbs of Scenario::Step; '~' stands for a blank inside a word
};

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
// A row that cannot tell anything on this system ends with CTest's skip code.
struct Skip {
  std::string why;
};

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], int(text.size()))));
  return wide;
}
std::string Narrow(const std::wstring& text) {
  std::string utf8(text.size() * 3, '\0');
  utf8.resize(size_t(
      WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &utf8[0], int(utf8.size()), nullptr, nullptr)));
  return utf8;
}

// A benchmark wait looks often, so its figure ends close to the event; the others spare the machine.
DWORD pollMs = 20;

// Pumps this thread's messages until the condition holds; false when the time ran out.
bool WaitFor(const std::function<bool()>& condition, DWORD ms) {
  for (const ULONGLONG deadline = GetTickCount64() + ms; !condition();) {
    if (GetTickCount64() > deadline) return condition();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, pollMs, QS_ALLINPUT);
  }
  return true;
}
void Eventually(const std::function<bool()>& condition, const std::string& what, DWORD ms = kSettle) {
  Expect(WaitFor(condition, ms), what);
}
void Pump(DWORD ms) {
  WaitFor([] { return false; }, ms);
}

std::wstring SystemDir() {
  wchar_t dir[MAX_PATH];
  return std::wstring(dir, GetSystemDirectoryW(dir, MAX_PATH));
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
bool EndedWell(HANDLE process, DWORD ms) {
  DWORD code = 1;
  return WaitForSingleObject(process, ms) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code) && code == 0;
}

DWORD PidOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return hwnd ? pid : 0;
}
std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  for (HWND child = GetWindow(parent, GW_CHILD); parent && child; child = GetWindow(child, GW_HWNDNEXT))
    found.push_back(child);
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

// The running savers of that base name (empty: any).
std::vector<DWORD> SaverPids(const std::wstring& baseName) {
  std::vector<DWORD> pids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{sizeof(entry)};
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    const std::wstring exe = entry.szExeFile;
    if (exe.size() > 4 && !_wcsicmp(&exe[exe.size() - 4], L".scr") &&
        (baseName.empty() || !_wcsicmp(exe.c_str(), (baseName + L".scr").c_str()))) {
      pids.push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
  return pids;
}

// Handles a process holds, from the system's handle table (GetProcessHandleCount answers 0 under Wine).
unsigned HandleCount(DWORD pid) {
  struct Entry {
    ULONG pid;
    BYTE type, flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<char> table(1 << 20);
  for (ULONG needed = 0; query(16, table.data(), ULONG(table.size()), &needed) != 0;) table.resize(table.size() * 2);
  const auto* entries = reinterpret_cast<const Entry*>(table.data() + sizeof(ULONG_PTR));
  return unsigned(std::count_if(entries, entries + *reinterpret_cast<const ULONG*>(table.data()),
                                [&](const Entry& entry) { return entry.pid == pid; }));
}

std::string ReadText(const std::wstring& path) {
  std::ifstream file(Narrow(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// CPU milliseconds and context switches of the Unix processes (Wine's view of the Windows ones, through
// drive Z:) whose command line holds the text: Windows tells neither for another process under Wine.
std::pair<double, double> UnixUsage(const std::string& commandLinePart) {
  std::pair<double, double> usage{0, 0};
  ForEachFile(L"Z:\\proc\\*", [&](const WIN32_FIND_DATAW& process) {
    const std::wstring proc = L"Z:\\proc\\" + std::wstring(process.cFileName);
    if (!iswdigit(process.cFileName[0]) || ReadText(proc + L"\\cmdline").find(commandLinePart) == std::string::npos)
      return;
    ForEachFile(proc + L"\\task\\*", [&](const WIN32_FIND_DATAW& task) {
      const std::wstring dir = proc + L"\\task\\" + task.cFileName;
      usage.first += std::strtod(ReadText(dir + L"\\schedstat").c_str(), nullptr) / 1e6;
      const std::string status = ReadText(dir + L"\\status");
      for (size_t at = status.find("ctxt_switches:"); at != std::string::npos;
           at = status.find("ctxt_switches:", at + 1)) {
        usage.second += std::strtod(&status[at + 14], nullptr);
      }
    });
  });
  return usage;
}

// Whether a program that declares no DPI awareness, as most savers, sees a scaled screen here; this one looks
// before it becomes aware. Wine 8 scales nothing, whatever the DPI.
bool scalesForDpi = false;

void Figure(const std::string& name, double value) { std::printf("figure %s %.1f\n", name.c_str(), value); }

struct Scenario {
  std::wstring dir = TempDir(L"run"), logDir = TempDir(L"log");
  PROCESS_INFORMATION shell{}, orvane{}, spawned{};
  HANDLE lock = INVALID_HANDLE_VALUE;
  HWND cover = nullptr;
  unsigned handleMark = 0;
  unsigned long long markUs = 0;
  std::map<std::string, size_t> wallpapers;  // wallpaper starts seen, per saver and mode

  explicit Scenario(const Row& row) {
    SetEnvironmentVariableW(kFixtureEnvLog, logDir.c_str());
    KillSavers();
    ForEachFile(SystemDir() + L"\\*.scr",
                [](const WIN32_FIND_DATAW& found) { DeleteFileW((SystemDir() + L"\\" + found.cFileName).c_str()); });
    std::wistringstream savers(row.savers);
    for (std::wstring saver; savers >> saver;) {
      const size_t equals = saver.find(L'=');
      const wchar_t kind = equals == std::wstring::npos ? L'F' : saver[equals + 1];
      Install(kind == L'A'   ? L"FixtureSaverAlt.exe"
              : kind == L'N' ? L"FixtureSaverNoName.exe"
                             : L"FixtureSaver.exe",
              saver.substr(0, equals));
    }
    CopyFileW(BenchPath(L"ORVANE_EXE_PATH").c_str(), (dir + L"\\Orvane.exe").c_str(), FALSE);
    if (row.settings) {
      const std::vector<std::uint8_t> bytes = EncodeSettings(row.settings);
      std::ofstream(Narrow(dir + L"\\TAVO.dat"), std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
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
    End(orvane), End(spawned), KillSavers(), DestroyWindow(cover);
    SendMessageTimeoutW(FindWindowW(kShellControlClass, nullptr), WM_CLOSE, 0, 0, SMTO_NORMAL, 2000, nullptr);
    if (shell.hProcess) WaitForSingleObject(shell.hProcess, 5000);
    End(shell);
    SetEnvironmentVariableW(kFixtureEnvLog, nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored), std::filesystem::remove_all(logDir, ignored);
  }

  static std::wstring TempDir(const wchar_t* tag) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static int counter = 0;
    std::wstring made;
    do
      made = base + std::wstring(L"orvane-") + tag + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter);
    while (!CreateDirectoryW(made.c_str(), nullptr));
    return made;
  }
  static void Install(const wchar_t* binary, const std::wstring& baseName) {
    CopyFileW((BenchPath(L"ORVANE_FIXTURES_DIR") + L"\\" + binary).c_str(),
              (SystemDir() + L"\\" + baseName + L".scr").c_str(), FALSE);
  }
  static void KillSavers() {
    for (DWORD pid : SaverPids(L"")) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
      if (process) TerminateProcess(process, 1), WaitForSingleObject(process, 5000), CloseHandle(process);
    }
  }

  void StartShell(const std::wstring& options) {
    End(shell);
    shell = Launch(BenchPath(L"ORVANE_FIXTURES_DIR") + L"\\FakeShell.exe", options);
    Eventually([&] { return FindWindowW(kShellControlClass, nullptr) || !Alive(shell.hProcess); }, "no shell", kLong);
    Expect(Alive(shell.hProcess), "the simulated shell ended at its start");
  }
  LRESULT Shell(UINT command, WPARAM wParam = 0, LPARAM lParam = 0) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(FindWindowW(kShellControlClass, nullptr), command, wParam, lParam, SMTO_NORMAL, 10000, &result);
    return LRESULT(result);
  }

  HWND Main() const {
    HWND main = FindWindowW(kInstanceId, nullptr);
    return PidOf(main) == orvane.dwProcessId ? main : nullptr;
  }
  HWND Host() const {
    for (HWND top = GetTopWindow(nullptr); top; top = GetWindow(top, GW_HWNDNEXT)) {
      if (HWND host = FindWindowExW(top, nullptr, kHostClassName, nullptr)) return host;
    }
    return nullptr;
  }
  // A visible top-level window of Orvane's.
  HWND Own(const wchar_t* className, const wchar_t* title) const {
    HWND top = nullptr;
    while ((top = FindWindowExW(nullptr, top, className, title)) &&
           (PidOf(top) != orvane.dwProcessId || !IsWindowVisible(top))) {
    }
    return top;
  }
  HWND Dialog() const { return Own(L"#32770", L"Orvane 設定"); }
  HWND Box() const { return Own(L"#32770", kAppTitle); }
  HWND Menu() const { return Own(L"#32768", nullptr); }

  // The saver's log, each line split into words.
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
      if (line.size() > 2 && line[1] == "start" && !line[2].compare(0, mode.size(), mode)) pids.push_back(line[0]);
    }
    return pids;
  }
  bool Logged(const std::string& saver, const Words& line) const {
    const std::vector<Words> lines = Log(saver);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
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
    PostMessageW(Main(), WMA_TRAY_CALLBACK, 1, WM_RBUTTONUP);
    HWND menu = nullptr;
    Eventually([&] { return (menu = Menu()) != nullptr; }, "the tray menu did not open on a right-button release");
    PostMessageW(menu, WM_CHAR, WPARAM(mnemonic), 0);
  }
  void Command(int id) {
    PostMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(Dialog(), id)));
  }
  double SinceMark() const { return double(Microseconds() - markUs) / 1000; }

  void Run(const std::string& steps, int scale) {
    std::vector<std::pair<std::string, Words>> list;
    std::istringstream text(steps);
    for (std::string step; std::getline(text, step, ';');) {
      std::istringstream words(step);
      Words split{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
      for (std::string& word : split) std::replace(word.begin(), word.end(), '~', ' ');
      if (!split.empty()) list.push_back({step.substr(step.find_first_not_of(' ')), split});
    }
    std::vector<std::pair<size_t, int>> loops;  // each open repeat: where it began, the rounds left
    for (size_t i = 0; i < list.size(); ++i) {
      const Words& w = list[i].second;
      if (w[0] == "repeat") {
        loops.push_back({i, std::stoi(w[1]) * scale});
      } else if (w[0] == "end") {
        if (--loops.back().second > 0)
          i = loops.back().first;
        else
          loops.pop_back();
      } else {
        try {
          Step(w);
        } catch (const std::exception& failure) {
          throw Failure("step '" + list[i].first + "': " + failure.what());
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
      Eventually(
          [&] {
            const std::vector<std::string> starts = Starts(arg(1), mode);
            return starts.size() > seen && std::to_string(HostedPid()) == starts.back();
          },
          "no new " + mode + " start of " + arg(1) + " shows inside the host", w.size() > 3 ? DWORD(number(3)) : kLong);
      seen = Starts(arg(1), mode).size();
    } else if (verb == "starts") {  // SAVER MODE N: started N times in that mode
      if (!WaitFor([&] { return int(Starts(arg(1), arg(2)).size()) == number(3); }, kSettle)) {
        throw Failure(arg(1) + " was started " + std::to_string(Starts(arg(1), arg(2)).size()) + " times with " +
                      arg(2));
      }
    } else if (verb == "savers") {  // N [SAVER]: saver processes running
      Eventually([&] { return int(SaverPids(Widen(arg(2))).size()) == number(1); }, "other saver processes run");
    } else if (verb == "exited") {  // the latest wallpaper saver of that name ended on its own, for that reason
      Eventually(
          [&] {
            return Logged(arg(1), {Starts(arg(1), "/s").back(), "exit", arg(2)});
          },
          "the wallpaper saver did not end on its own (ended by force?)");
    } else if (verb == "icon") {
      NOTIFYICONDATAW icon{sizeof(icon), Main(), 1};
      Eventually([&] { return Shell_NotifyIconW(NIM_MODIFY, &icon) == (number(1) == 1); },
                 number(1) ? "the notification-area icon is missing" : "the notification-area icon stayed");
    } else if (verb == "tray") {
      const std::map<std::string, UINT> kMouse{
          {"lu", WM_LBUTTONUP},       {"ru", WM_RBUTTONUP},       {"ld", WM_LBUTTONDOWN}, {"rd", WM_RBUTTONDOWN},
          {"ldbl", WM_LBUTTONDBLCLK}, {"rdbl", WM_RBUTTONDBLCLK}, {"move", WM_MOUSEMOVE}};
      for (size_t i = 1; i < w.size(); ++i) PostMessageW(Main(), WMA_TRAY_CALLBACK, 1, kMouse.at(w[i]));
    } else if (verb == "menu" || verb == "nomenu") {
      Eventually([&] { return (Menu() != nullptr) == (verb == "menu"); },
                 verb == "menu" ? "no tray menu opened" : "a tray menu is open (only a button release opens it)");
    } else if (verb == "esc") {
      PostMessageW(Menu(), WM_KEYDOWN, VK_ESCAPE, 0);
    } else if (verb == "pick") {
      Pick(arg(1)[0]);
    } else if (verb == "dialog" || verb == "nodialog") {  // "dialog mark": the figures count from Settings picked
      if (verb == "dialog") Pick('s');
      if (arg(1) == "mark") markUs = Microseconds(), pollMs = 1;
      // A figure's wait looks every millisecond, but only when the foreground changed: the dialog comes forward.
      HWND front = pollMs == 1 ? GetForegroundWindow() : nullptr;
      Eventually(
          [&] {
            if (pollMs == 1 && GetForegroundWindow() == front) return false;
            front = GetForegroundWindow();
            return (Dialog() != nullptr) == (verb == "dialog");
          },
          "the settings dialog is not " + std::string(verb == "dialog" ? "open" : "closed"));
      pollMs = 20;
    } else if (verb == "select") {
      HWND combo = GetDlgItem(Dialog(), IDC_SAVERLIST);
      const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(Widen(arg(1)).c_str()));
      Expect(index >= 0, "the saver list has no such entry");
      SendMessageW(combo, CB_SETCURSEL, WPARAM(index), 0);
      PostMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(IDC_SAVERLIST, CBN_SELCHANGE), LPARAM(combo));
    } else if (verb == "press") {
      Command(std::map<std::string, int>{
          {"ok", IDOK}, {"cancel", IDCANCEL}, {"apply", IDC_APPLY}, {"config", IDC_CONFIGURE}}
                  .at(arg(1)));
    } else if (verb == "list" || verb == "selected") {  // the saver list's texts, '|' between them
      HWND combo = GetDlgItem(Dialog(), IDC_SAVERLIST);
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
      const bool ended = EndedWell(second.hProcess, 10000);
      End(second);
      Expect(ended && Alive(orvane.hProcess), "a second start did not just hand over and end with code 0");
    } else if (verb == "front") {
      Eventually([&] { return GetForegroundWindow() == Dialog(); }, "the settings dialog was not brought forward");
    } else if (verb == "shell") {  // a command to the simulated shell; "new OPTIONS": a new one
      const std::map<std::string, UINT> kCommands{{"destroy", kShellDestroyLayer}, {"resize", kShellResizeLayer},
                                                  {"later", kShellBuildLater},     {"worker", kShellRecreateWorker},
                                                  {"kill", kShellDestroyAll},      {"tray", kShellTrayReady}};
      NOTIFYICONDATAW icon{sizeof(icon), Main(), 1};
      // Wine's notification area outlives the simulated shell; a real one goes with the shell, and its icons too.
      if (arg(1) == "kill") Shell_NotifyIconW(NIM_DELETE, &icon);
      if (arg(1) == "new")
        StartShell(Widen(arg(2)));
      else
        Shell(kCommands.at(arg(1)), w.size() > 2 ? WPARAM(number(2)) : 0, w.size() > 3 ? number(3) : 0);
    } else if (verb == "box" || verb == "nobox") {  // box TEXT: a message box saying that comes; it is closed
      HWND box = nullptr;
      if (verb == "nobox") return Expect(Box() == nullptr, "an unexpected message box is open");
      Eventually([&] { return (box = Box()) != nullptr; }, "no message box appeared", kLong);
      wchar_t text[1024] = L"";
      GetDlgItemTextW(box, 0xFFFF, text, 1024);
      Expect(std::wstring(text).find(Widen(arg(1))) != std::wstring::npos, "the box says " + Narrow(text));
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      Eventually([&] { return Box() != box; }, "the message box did not close");
    } else if (verb == "exits") {
      Expect(EndedWell(orvane.hProcess, w.size() > 1 ? DWORD(number(1)) : 20000),
             "Orvane did not end with code 0 in time");
    } else if (verb == "running") {
      Expect(Alive(orvane.hProcess), "Orvane ended");
    } else if (verb == "file") {
      const std::vector<std::uint8_t> bytes = EncodeSettings(Widen(arg(1)).c_str());
      Eventually([&] { return ReadText(dir + L"\\TAVO.dat") == std::string(bytes.begin(), bytes.end()); },
                 "TAVO.dat holds another choice");
      Expect(GetFileAttributesW((dir + L"\\TAVO.dat.new").c_str()) == INVALID_FILE_ATTRIBUTES,
             "TAVO.dat.new left behind");
    } else if (verb == "repaint" || verb == "requests") {  // N: WM_SYSCOLORCHANGE or 0x052C messages the shell received
      const UINT command = verb == "repaint" ? kShellCountSysColor : kShellCount052c;
      if (!WaitFor([&] { return Shell(command) == number(1); }, kSettle)) {
        throw Failure("the shell received " + std::to_string(Shell(command)) + " of those messages");
      }
    } else if (verb == "adopted") {
      HWND host = Host(), layer = HWND(Shell(kShellLayer));
      // On the raised desktop the host is the layer's sibling inside Progman.
      Expect(host && (GetParent(host) == layer || GetParent(host) == GetParent(layer)),
             "the host is not inside the layer");
      Expect((GetWindowLongW(host, GWL_STYLE) & (WS_CHILD | WS_DISABLED | WS_POPUP)) == (WS_CHILD | WS_DISABLED) &&
                 (GetWindowLongW(host, GWL_EXSTYLE) & WS_EX_LAYERED),
             "the host is no disabled layered child");
      for (HWND child : Children(host)) {
        Expect((GetWindowLongW(child, GWL_STYLE) & (WS_CHILD | WS_POPUP | WS_MAXIMIZE)) == WS_CHILD,
               "an adopted window is no plain child");
        Expect(!(GetWindowLongW(child, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW)),
               "an adopted window kept its topmost or tool-window bit");
      }
    } else if (verb == "children" || verb == "enabled") {
      const std::vector<HWND> children = Children(Host());
      const auto count = verb == "children" ? ptrdiff_t(children.size())
                                            : std::count_if(children.begin(), children.end(), IsWindowEnabled);
      Expect(count == number(1), "the host holds " + std::to_string(count) + " such windows");
    } else if (verb == "hostsize" || verb == "region") {  // W H, or none: the layer's client size. The host's
      // client area, or what its region shows of the saver: just the first monitor's part.
      RECT seen{}, want{};
      HRGN region = CreateRectRgn(0, 0, 0, 0);
      const bool held = WaitFor(
          [&] {
            GetClientRect(HWND(Shell(kShellLayer)), &want);
            if (w.size() > 2) want = {0, 0, number(1), number(2)};
            const bool read = verb == "hostsize" ? GetClientRect(Host(), &seen)
                                                 : GetWindowRgn(Host(), region) != ERROR && GetRgnBox(region, &seen);
            return read && seen.right == want.right && seen.bottom == want.bottom;
          },
          kSettle);
      DeleteObject(region);
      Expect(held, (verb == "hostsize" ? "the host is " : "the host shows ") + std::to_string(seen.right) + "x" +
                       std::to_string(seen.bottom) + ", not " + std::to_string(want.right) + "x" +
                       std::to_string(want.bottom));
    } else if (verb == "scaled") {  // the rest of the row needs a system that scales DPI-unaware programs
      if (!scalesForDpi)
        throw Skip{"DPI-unaware programs are not scaled here (96 DPI, or Wine 8, which never scales them)"};
    } else if (verb == "nohost") {
      Eventually([&] { return Host() == nullptr; }, "a host window exists");
    } else if (verb == "below") {
      Eventually([&] { return Host() && GetWindow(HWND(Shell(kShellIconView)), GW_HWNDNEXT) == Host(); },
                 "the host is not right below the icon view");
    } else if (verb == "workarea") {  // "workarea 2": two at once, as the shell broadcasts them
      auto send = [&] {
        return SendMessageTimeoutW(Main(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, SMTO_NORMAL, kLong, nullptr);
      };
      std::future<LRESULT> other = arg(1) == "2" ? std::async(std::launch::async, send) : std::future<LRESULT>();
      Expect(send() && (!other.valid() || other.get()), "Orvane did not answer a work-area change");
    } else if (verb == "display") {
      PostMessageW(Main(), WM_DISPLAYCHANGE, 32, 0);
    } else if (verb == "pump") {  // only before a check that something did not happen
      Pump(DWORD(number(1)));
    } else if (verb == "lock" || verb == "unlock") {  // TAVO.dat in use: a save must fail
      if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
      lock = verb == "unlock"
                 ? INVALID_HANDLE_VALUE
                 : CreateFileW((dir + L"\\TAVO.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    } else if (verb == "configclose") {
      HWND config = nullptr;
      Eventually([&] { return (config = FindWindowW(nullptr, kFixtureConfigTitle)) != nullptr; }, "no configuration");
      PostMessageW(config, WM_CLOSE, 0, 0);
    } else if (verb == "close") {
      PostMessageW(Main(), WM_CLOSE, 0, 0), PostMessageW(Host(), WM_CLOSE, 0, 0);
    } else if (verb == "handles") {  // "mark", or N: at most N more than at the mark, once Orvane is idle
      Pump(500);
      const unsigned now = HandleCount(orvane.dwProcessId);
      if (arg(1) == "mark")
        handleMark = now;
      else
        Expect(now <= handleMark + unsigned(number(1)),
               "Orvane holds " + std::to_string(now - handleMark) + " more handles");
    } else if (verb == "responsive") {  // MS: Orvane answers a message within that
      const ULONGLONG start = GetTickCount64();
      SendMessageTimeoutW(Main(), WM_NULL, 0, 0, SMTO_NORMAL, kLong, nullptr);
      Expect(GetTickCount64() - start <= ULONGLONG(number(1)), "Orvane did not answer in time");
    } else if (verb == "cover") {  // a window of this program: max, small, hidden, overlay; "restore" un-maximizes
      if (arg(1) == "restore") return (void)ShowWindow(cover, SW_RESTORE);
      DestroyWindow(cover);
      const DWORD style = WS_POPUP | (arg(1) == "hidden" ? 0 : WS_VISIBLE) | (arg(1) == "small" ? 0 : WS_MAXIMIZE);
      cover = CreateWindowExW(arg(1) == "overlay" ? WS_EX_LAYERED | WS_EX_TRANSPARENT : 0, L"STATIC", L"", style, 0, 0,
                              200, 200, nullptr, nullptr, nullptr, nullptr);
    } else if (verb == "beat") {  // the hosted saver's heartbeat goes on (1) or stands (0) within 1.5 s
      Eventually(
          [&] {
            const std::wstring before = Heartbeat();
            Pump(300);
            return (Heartbeat() != before) == (number(1) == 1);
          },
          number(1) ? "the saver's heartbeat does not go on" : "the saver's heartbeat does not stop", 1500);
    } else if (verb == "session") {
      SendMessageW(Main(), WM_WTSSESSION_CHANGE, arg(1) == "lock" ? WTS_SESSION_LOCK : WTS_SESSION_UNLOCK, 0);
    } else if (verb == "power") {  // the display's state, as the system tells it: the record lives in Orvane's memory
      struct {
        GUID guid;
        DWORD length, state;
      } setting{{0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}},
                sizeof(DWORD),
                DWORD(number(1))};
      void* remote = VirtualAllocEx(orvane.hProcess, nullptr, sizeof(setting), MEM_COMMIT, PAGE_READWRITE);
      WriteProcessMemory(orvane.hProcess, remote, &setting, sizeof(setting), nullptr);
      SendMessageW(Main(), WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, LPARAM(remote));
    } else if (verb == "install") {  // N copies of the fixture saver, for the list's cost
      for (int i = 0; i < number(1); ++i) Install(L"FixtureSaver.exe", L"fxmany" + std::to_wstring(i));
    } else if (verb == "mark") {  // benchmarks: the moment the figures below count from
      markUs = Microseconds();
    } else if (verb ==
               "figure") {  // NAME: ms since the mark; NAME SAVER: until its newest wallpaper showed in the host
      if (w.size() == 2) return Figure(arg(1), SinceMark());
      for (const Words& line : Log(arg(2))) {
        if (line.size() > 5 && line[0] == Starts(arg(2), "/s").back() && line[1] == "shown" && line[5] != "0") {
          return Figure(arg(1), double(std::stoull(line[2]) - markUs) / 1000);
        }
      }
    } else if (verb == "spawn") {  // a reference program beside Orvane: the saver alone, in a mode; none: end it
      End(spawned);
      if (w.size() > 1) spawned = Launch(SystemDir() + L"\\" + Widen(arg(1)) + L".scr", Widen(arg(2)));
    } else if (verb == "quit") {  // the spawned saver's own exit on a key
      markUs = Microseconds();
      PostMessageW(HWND(std::stoull(Log(arg(1))[1][3], nullptr, 16)), WM_KEYDOWN, 0, 0);
      WaitForSingleObject(spawned.hProcess, kLong);
      Figure(arg(2), SinceMark());
    } else if (verb == "firstshown") {  // the spawned saver's first window, since the mark
      Eventually([&] { return Log(arg(1)).size() > 1; }, "the reference saver showed nothing", kLong);
      Figure(arg(2), double(std::stoull(Log(arg(1))[1][2]) - markUs) / 1000);
    } else if (verb == "uncover") {  // from the cover's restore to the saver's next frame
      const std::wstring before = Heartbeat();
      markUs = Microseconds();
      ShowWindow(cover, SW_RESTORE);
      Eventually([&] { return Heartbeat() != before; }, "the saver did not draw again", kLong);
      Figure(arg(1), SinceMark());
    } else if (verb == "enumerate") {  // NAME [names]: the bare search, or with each name read as the dialog must
      const std::wstring system = SystemDir();
      markUs = Microseconds();
      ForEachFile(system + L"\\*.scr", [&](const WIN32_FIND_DATAW& found) {
        HMODULE module = w.size() < 3 ? nullptr
                                      : LoadLibraryExW((system + L"\\" + found.cFileName).c_str(), nullptr,
                                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        const wchar_t* text = nullptr;
        if (module) LoadStringW(module, 1, LPWSTR(&text), 0), FreeLibrary(module);
      });
      Figure(arg(1), SinceMark());
    } else if (verb == "usage") {  // CPU ms and context switches so far: Orvane's, the reference's, the wineserver's
      for (const auto& [name, part] :
           std::map<std::string, std::string>{{"orvane", Narrow(dir.substr(dir.rfind(L'\\') + 1))},
                                              {"reference", arg(2)},
                                              {"wineserver", "wineserver"}}) {
        if (part.empty()) continue;
        const std::pair<double, double> usage = UnixUsage(part);
        Figure(arg(1) + "-cpu-" + name, usage.first), Figure(arg(1) + "-switches-" + name, usage.second);
      }
    } else if (verb == "memory") {
      for (const auto& [name, process] :
           std::map<std::string, HANDLE>{{"orvane", orvane.hProcess}, {"reference", spawned.hProcess}}) {
        PROCESS_MEMORY_COUNTERS counters{sizeof(counters)};
        GetProcessMemoryInfo(process, &counters, sizeof(counters));
        Figure("private-" + name, double(counters.PagefileUsage) / 1024),
            Figure("working-set-" + name, double(counters.WorkingSetSize) / 1024);
      }
    } else {
      throw Failure("unknown step");
    }
  }
};

const Row kRows[] = {
    {"wallpaper-from-start", L"", L"fxplain", L"fxplain",
     "start; wall fxplain; adopted; children 1; requests 2; hostsize 1280 1024; icon 1; second; close; pump 500; "
     "running; starts fxplain /s 1; pick q; exits; exited fxplain key; savers 0; repaint 1"},
    {"unsafe-stored-name", L"--arranged", L"fxplain", L"..\\fxplain",
     "start; icon 1; pump 1000; nohost; savers 0; nobox; pick q; exits; repaint 1"},
    {"no-shell", nullptr, L"fxplain", L"fxplain", "launch; exits 10000; savers 0"},
    {"layer-never-built", L"--ignore-052c", L"fxplain", L"fxplain", "launch; exits; savers 0; requests 2; repaint 1"},
    {"tray-menu-dialog-and-shell-restart", L"--arranged", L"fxplain fxalt=A fxnoname=N", nullptr,
     "start; tray ld rd ldbl rdbl move; pump 1000; nomenu; tray lu; menu; esc; nomenu; tray ru; menu; esc; nomenu; "
     "second; nodialog; dialog; list <なし>|Alt~Saver|Fixture~Saver|fxnoname; selected <なし>; second; front; "
     "press cancel; nodialog; savers 0; shell kill; shell new; icon 1; pump 1000; nohost; savers 0; requests 0; "
     "pick q; exits; repaint 1"},
    {"none-and-back", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; dialog; select <なし>; lock; press apply; box 書き込み; unlock; file fxplain; nohost; "
     "savers 0; repaint 1; select Fixture~Saver; press ok; wall fxplain; file fxplain; pick q; exits"},
    {"stubborn-saver", L"--arranged", L"fxdeaf", L"fxdeaf", "start; wall fxdeaf; pick q; exits; savers 0"},
    {"framework-saver-falls-back", L"--arranged", L"fxframe", L"fxframe",
     "start; wall fxframe p; nobox; shell resize 800 600; workarea; wall fxframe p; starts fxframe /s 1; "
     "starts fxframe /p 2; nobox"},
    {"suicide-falls-back", L"--arranged", L"fxsuicide", L"fxsuicide",
     "start; wall fxsuicide; wall fxsuicide p; pump 1000; nobox; starts fxsuicide /s 1; children 1"},
    {"exit-when-adopted-falls-back", L"--arranged", L"fxadopted", L"fxadopted",
     "start; wall fxadopted; wall fxadopted p; nobox; starts fxadopted /s 1"},
    {"doomed-reports-once", L"--arranged", L"fxdoomed", L"fxdoomed",
     "start; wall fxdoomed; box 壁紙化; pump 1000; nobox; savers 0; running; children 0"},
    {"no-window-reports", L"--arranged", L"fxnowin", L"fxnowin", "start; box 壁紙化; savers 0; running; children 0"},
    {"crash-reports-once", L"--arranged", L"fxcrash", L"fxcrash",
     "start; box 壁紙化; pump 2000; nobox; starts fxcrash /s 1; savers 0; running"},
    {"many-windows", L"--arranged", L"fxmulti", L"fxmulti",
     "start; wall fxmulti; children 2; enabled 1; adopted; pick q; exits; savers 0"},
    {"layer-recovery", L"--arranged --ignore-052c", L"fxplain", L"fxplain",
     "start; wall fxplain; shell destroy; shell later 5000; nohost; wall fxplain; adopted; nobox; "
     "starts fxplain /s 2; shell kill; pump 11000; running; savers 0; shell new --arranged; wall fxplain s 3000; "
     "nobox; pick q; exits; savers 0"},
    {"none-during-recovery", L"--arranged --ignore-052c", L"fxplain", L"fxplain",
     "start; wall fxplain; shell destroy; shell later 5000; dialog; select <なし>; press ok; pump 11000; running; "
     "nohost; savers 0; nobox"},
    {"shell-restart-raised", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; shell kill; nohost; savers 0; shell new --raised; icon 1; wall fxplain s 3000; below; "
     "adopted; savers 1; starts fxplain /s 2; nobox; shell worker; below; pump 1000; starts fxplain /s 2; pick q; "
     "exits; repaint 1"},
    {"shell-restart-dialog", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; dialog; starts fxplain /p 1; shell kill; nohost; shell new --arranged; icon 1; "
     "wall fxplain s 3000; selected Fixture~Saver; savers 2; pump 1000; starts fxplain /p 1; press config; "
     "starts fxplain /c: 1; shell kill; nohost; shell new --arranged; icon 1; pump 1000; starts fxplain /s 2; "
     "configclose; wall fxplain; starts fxplain /p 2; pick q; exits"},
    {"tray-not-ready", L"--arranged --tray-late", L"fxplain", L"fxplain",
     "start; wall fxplain; icon 0; nobox; shell tray; icon 1; nobox; adopted; pick q; exits"},
    {"configure-wallpaper-saver", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; dialog; starts fxplain /p 1; press config; starts fxplain /c: 1; exited fxplain key; "
     "configclose; "
     "wall fxplain; starts fxplain /p 2; press cancel; nodialog; savers 1"},
    {"stubborn-preview-and-config", L"--arranged", L"fxprevhang fxcfghang=A", nullptr,
     "start; dialog; select Fixture~Saver; starts fxprevhang /p 1; select Alt~Saver; savers 0 fxprevhang; "
     "starts fxcfghang /p 1; press config; starts fxcfghang /c: 1; pump 500; pick q; exits 15000"},
    // Both stops of a switch, the hung wallpaper's and the hung preview's, take their grace at once.
    {"hung-saver", L"--arranged", L"fxhang fxhang_b=N", L"fxhang",
     "start; wall fxhang; pump 1000; responsive 1000; shell resize 1000 700; display; wall fxhang s 6500; "
     "savers 1 fxhang; dialog; pump 500; select fxhang_b; starts fxhang_b /p 1; responsive 1000; press ok; "
     "wall fxhang_b s 5800; savers 0 fxhang; responsive 1000; pump 1000; pick q; exits 5000; savers 0"},
    {"pause-while-unseen", L"--arranged", L"fxplain fxalt=A", L"fxplain",
     "start; wall fxplain; beat 1; cover small; pump 700; beat 1; cover overlay; pump 700; beat 1; cover hidden; "
     "pump 700; beat 1; cover max; beat 0; cover restore; beat 1; session lock; beat 0; session unlock; beat 1; "
     "power 0; beat 0; power 1; beat 1; cover max; beat 0; shell resize 1000 700; workarea; pump 1000; "
     "starts fxplain /s 1; cover restore; wall fxplain; cover max; beat 0; dialog; select Alt~Saver; press ok; "
     "wall fxalt; exited fxplain key; cover max; beat 0; pick q; exits; exited fxalt key; savers 0"},
    // Soak rows: CTest runs each repeat once, tools/soak many times; the handle count must not grow with them.
    {"soak-switch", L"--arranged", L"fxplain fxalt=A", L"fxplain",
     "start; wall fxplain; handles mark; dialog; selected Fixture~Saver; starts fxplain /p 1; select Alt~Saver; "
     "starts fxalt /p 1; savers 1 fxplain; press ok; wall fxalt; adopted; nodialog; file fxalt; exited fxplain key; "
     "savers 1; repeat 1; dialog; select Fixture~Saver; press ok; wall fxplain; nodialog; file fxplain; dialog; "
     "select Alt~Saver; press ok; wall fxalt; nodialog; file fxalt; end; handles 12; pick q; exits; savers 0"},
    // A late crash is restarted three times within ten minutes, then reported once; a new size starts afresh.
    {"soak-saver-crashes", L"--arranged", L"fxcrashlater", L"fxcrashlater",
     "start; wall fxcrashlater; handles mark; repeat 1; shell resize 1000 700; workarea; wall fxcrashlater; "
     "wall fxcrashlater s 7500; shell resize 1280 1024; workarea; wall fxcrashlater; end; handles 12; nobox; "
     "wall fxcrashlater; wall fxcrashlater; wall fxcrashlater; box 壁紙化; pump 2000; nobox; savers 0; running"},
    // The host shows only the first monitor's part of a layer spanning two; a work-area change restarts the
    // saver only when the size changed, two at once restart it once, a display change once after its checks.
    {"soak-layer-and-display", L"--arranged --size 2560x1024", L"fxplain", L"fxplain",
     "start; wall fxplain; hostsize 2560 1024; region 1280 1024; adopted; workarea; pump 1500; starts fxplain /s 1; "
     "handles mark; shell resize 1000 700; workarea 2; wall fxplain; hostsize 1000 700; pump 2500; "
     "starts fxplain /s 2; handles 2; shell resize 640 480; display; wall fxplain; hostsize 640 480; pump 3500; "
     "starts fxplain /s 3; repeat 1; shell destroy; wall fxplain; shell resize 1024 768; workarea; wall fxplain; "
     "hostsize 1024 768; shell resize 640 480; display; wall fxplain; end; handles 12; savers 1; children 1"},
    // At 150 % the host covers the whole layer of a DPI-aware shell (tools/dpi-check runs it under Wine 10).
    {"high-dpi", L"--arranged --dpi-aware", L"fxplain", L"fxplain",
     "scaled; start; hostsize; wall fxplain; adopted; region; pick q; exits"},
    // Benchmark rows (tools/perf).
    {"perf-start", L"--arranged", L"fxplain fxref", L"fxplain",
     "usage alone-before; mark; spawn fxref /s; firstshown fxref saver-first-window; pump 1000; quit fxref saver-exit; "
     "usage alone-after; spawn; mark; start; wall fxplain; figure start fxplain; usage start; mark; pick q; exits; "
     "figure exit"},
    {"perf-switch", L"--arranged", L"fxplain fxalt=A", L"fxplain",
     "start; wall fxplain; dialog; select Alt~Saver; pump 1500; usage before; mark; press ok; wall fxalt; "
     "figure switch fxalt; usage after"},
    {"perf-dialog", L"--arranged", L"fxplain", nullptr,
     "install 500; enumerate enumeration; enumerate names-warm names; enumerate names-floor names; start; dialog mark; "
     "figure dialog-first; press cancel; nodialog; dialog mark; figure dialog-second"},
    {"perf-idle-and-pause", L"--arranged", L"fxplain fxnowin", L"fxplain",
     "spawn fxnowin /s; start; wall fxplain; pump 3000; usage idle-start fxnowin; usage shown fxplain.scr; pump 60000; "
     "usage idle-end fxnowin; usage shown-end fxplain.scr; memory; cover max; beat 0; usage covered fxnowin; "
     "usage saver-covered fxplain.scr; pump 30000; usage covered-end fxnowin; usage saver-covered-end fxplain.scr; "
     "uncover uncover-to-frame"},
};

}  // namespace

int main(int argc, char** argv) {
  // Wine's notification area stalls about 2 s each time its last icon goes, which a real desktop never lets
  // happen: `bench up` starts one of these to keep an icon there for the bench's life.
  if (argc > 1 && argv[1] == std::string("--keep-icon")) {
    NOTIFYICONDATAW icon{sizeof(icon), CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
                         1};
    while (!Shell_NotifyIconW(NIM_ADD, &icon)) Sleep(500);
    for (MSG msg; GetMessageW(&msg, nullptr, 0, 0) > 0;) DispatchMessageW(&msg);
    return 0;
  }
  // Sizes are read as the shell and Orvane read them: in physical pixels.
  const int unawareWidth = GetSystemMetrics(SM_CXSCREEN);
  const auto setAwareness = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
  if (setAwareness) setAwareness(HANDLE(-4));  // per-monitor aware (v2)
  scalesForDpi = GetSystemMetrics(SM_CXSCREEN) != unawareWidth;
  for (const Row& row : kRows) {
    if (argc < 2 || row.name != std::string(argv[1])) continue;
    try {
      Scenario(row).Run(row.steps, argc > 2 ? std::stoi(argv[2]) : 1);
      std::printf("%s: passed\n", row.name);
      return 0;
    } catch (const std::exception& failure) {
      std::printf("FAILED %s: %s\n", row.name, failure.what());
      return 1;
    } catch (const Skip& skip) {
      std::printf("SKIPPED %s: %s\n", row.name, skip.why.c_str());
      return 77;
    }
  }
  std::printf("no row named %s\n", argc > 1 ? argv[1] : "(none)");
  return 2;
}
