// The engine that plays user stories: the simulated shell, fixture savers and the real Orvane.exe in a fresh
// folder, driven from outside as a user and the shell would. A row is the shell's options, the savers installed,
// the stored choice and "verb args; ..." steps; the verbs are the table at the end. Every check waits for its
// condition within a deadline; `pump` only comes before a check that something did not happen.
#pragma once
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
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
#include "Shell.h"
#include "app/AppState.h"
#include "app/ResourceIds.h"
#include "settings/SettingsFile.h"

struct Row {
  const char* name;
  const wchar_t* shell;     // the simulated shell's options (Shell.h); null: no shell
  const wchar_t* savers;    // "fxplain fxalt:Alt fxnn:NoName": FixtureSaver.exe, FixtureSaverAlt.exe, ...NoName.exe
  const wchar_t* settings;  // the stored saver name; null: no settings file
  const char* steps;        // "verb args; ..."; '~' stands for a blank inside a word
};

using Words = std::vector<std::string>;
using Failure = std::runtime_error;
// A row that cannot tell anything on this system ends with CTest's skip code.
struct Skip {
  std::string why;
};
// Whether a program unaware of DPI sees a scaled screen here (Wine 8 never scales one).
inline bool scalesForDpi = false;
inline void Expect(bool holds, const std::string& fault) {
  if (!holds) throw Failure(fault);
}
inline std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], int(wide.size())));
  return wide;
}

// How often a wait looks; benchmarks look every millisecond, so that their figures end close to the event.
inline DWORD pollMs = 20;
constexpr DWORD kLong = 30000;
// Long enough for a saver's 3000 ms stop grace on a busy machine.
constexpr DWORD kSettle = 8000;

// Pumps this thread's messages until the condition holds; false when the time ran out.
inline bool WaitFor(const std::function<bool()>& condition, DWORD ms) {
  for (const ULONGLONG deadline = GetTickCount64() + ms; !condition();) {
    if (GetTickCount64() > deadline) return condition();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, pollMs, QS_ALLINPUT);
  }
  return true;
}
inline void Eventually(const std::function<bool()>& condition, const std::string& fault, DWORD ms = kSettle) {
  Expect(WaitFor(condition, ms), fault);
}
// Waits for a count to reach the number expected; the fault names the count it stayed at.
inline void Count(const std::function<size_t()>& count, size_t expected, const std::string& what, DWORD ms = kSettle) {
  Expect(WaitFor([&] { return count() == expected; }, ms), what + ": " + std::to_string(count()));
}

inline std::wstring SystemDir() {
  wchar_t dir[MAX_PATH];
  return std::wstring(dir, GetSystemDirectoryW(dir, MAX_PATH));
}
inline bool Alive(HANDLE process) { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }
inline PROCESS_INFORMATION Launch(const std::wstring& exe, const std::wstring& arguments, const wchar_t* dir) {
  std::wstring line = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION info{};
  // Wine has been seen failing a start at once, cause unknown: try again before giving up.
  for (int attempt = 0; attempt < 3 && !info.hProcess; ++attempt) {
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, dir, &startup, &info)) Sleep(200);
  }
  Expect(info.hProcess, "cannot start a program: error " + std::to_string(GetLastError()));
  CloseHandle(info.hThread);
  return info;
}
inline void End(PROCESS_INFORMATION& info) {
  if (!info.hProcess) return;
  TerminateProcess(info.hProcess, 1);
  WaitForSingleObject(info.hProcess, 5000);
  CloseHandle(info.hProcess);
  info = {};
}
inline bool EndedWell(HANDLE process, DWORD ms) {
  DWORD code = 1;
  return WaitForSingleObject(process, ms) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code) && code == 0;
}
inline DWORD PidOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return hwnd ? pid : 0;
}
inline std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  for (HWND child = GetWindow(parent, GW_CHILD); parent && child; child = GetWindow(child, GW_HWNDNEXT)) {
    found.push_back(child);
  }
  return found;
}
// The running savers of that base name (empty: any), by process id.
inline std::vector<DWORD> SaverPids(const std::wstring& baseName) {
  std::vector<DWORD> pids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{sizeof(entry)};
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    const std::wstring exe = CharLowerW(entry.szExeFile);
    if (exe.size() > 4 && exe.substr(exe.size() - 4) == L".scr" && (baseName.empty() || exe == baseName + L".scr")) {
      pids.push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);
  return pids;
}
inline std::string ReadText(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Another program's broadcast of WM_SETTINGCHANGE (plain with no timeout, else SMTO_ABORTIFHUNG), on a thread of
// its own so that this one's windows (the shell's) answer meanwhile: how long it took, kLong if it never returned.
inline DWORD WINAPI SendSettingChange(void* timeout) {
  static const wchar_t area[] = L"Environment";
  if (!timeout) return DWORD(SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, LPARAM(area)));
  return DWORD(SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, LPARAM(area), SMTO_ABORTIFHUNG,
                                   UINT(UINT_PTR(timeout)), nullptr));
}
inline ULONGLONG BroadcastMs(UINT timeout) {
  const ULONGLONG start = GetTickCount64();
  HANDLE thread = CreateThread(nullptr, 0, SendSettingChange, LPVOID(UINT_PTR(timeout)), 0, nullptr);
  const bool returned = WaitFor([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, kLong);
  CloseHandle(thread);
  return returned ? GetTickCount64() - start : kLong;
}

struct Args : Words {
  std::string operator[](size_t i) const { return i < size() ? at(i) : std::string(); }
  int Number(size_t i, int otherwise = 0) const { return i < size() ? std::stoi(at(i)) : otherwise; }
};

struct Scenario {
  // One folder for Orvane.exe, TAVO.dat and the savers' logs.
  std::wstring dir =
      std::filesystem::temp_directory_path().wstring() + L"orvane-" + std::to_wstring(GetCurrentProcessId());
  PROCESS_INFORMATION orvane{};
  HWND cover = nullptr;
  std::map<std::string, size_t> wallpapers;  // wallpaper starts seen, per saver and mode
  DWORD lastInput = 0;

  explicit Scenario(const Row& row) {
    std::filesystem::create_directories(dir);
    SetEnvironmentVariableW(kFixtureEnvLog, dir.c_str());
    KillSavers();
    for (const auto& found : std::filesystem::directory_iterator(SystemDir())) {
      if (found.path().extension() == L".scr") std::filesystem::remove(found.path());
    }
    std::wistringstream savers(row.savers);
    for (std::wstring saver; savers >> saver;) {
      const size_t colon = std::min(saver.find(L':'), saver.size());
      Install(L"FixtureSaver" + saver.substr(std::min(colon + 1, saver.size())) + L".exe", saver.substr(0, colon));
    }
    CopyFileW(BenchPath(L"ORVANE_EXE_PATH").c_str(), (dir + L"\\Orvane.exe").c_str(), FALSE);
    // Written by the program's own save.
    app.settingsPath = CopyString((dir + L"\\TAVO.dat").c_str());
    app.saverName = row.settings ? CopyString(row.settings) : nullptr;
    if (row.settings) SaveSettings();
    if (row.shell) StartShell(row.shell);
  }
  ~Scenario() {
    End(orvane);
    KillSavers();
    DestroyWindow(cover);
    EndShell();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  static void Install(const std::wstring& binary, const std::wstring& baseName) {
    const std::wstring from = BenchPath(L"ORVANE_FIXTURES_DIR") + L"\\" + binary;
    CopyFileW(from.c_str(), (SystemDir() + L"\\" + baseName + L".scr").c_str(), FALSE);
  }
  static void KillSavers() {
    for (DWORD pid : SaverPids(L"")) {
      PROCESS_INFORMATION info{OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)};
      End(info);
    }
  }
  HWND Main() const {
    HWND main = FindWindowW(kInstanceId, nullptr);
    return PidOf(main) == orvane.dwProcessId ? main : nullptr;
  }
  HWND Host() const {
    HWND host = nullptr;
    for (HWND top = GetTopWindow(nullptr); top && !host; top = GetWindow(top, GW_HWNDNEXT)) {
      host = FindWindowExW(top, nullptr, kHostClassName, nullptr);
    }
    return host;
  }
  // A visible top-level window of Orvane's.
  HWND Own(const wchar_t* className, const wchar_t* title) const {
    HWND top = FindWindowExW(nullptr, nullptr, className, title);
    while (top && (PidOf(top) != orvane.dwProcessId || !IsWindowVisible(top))) {
      top = FindWindowExW(nullptr, top, className, title);
    }
    return top;
  }
  HWND Dialog() const { return Own(L"#32770", L"Orvane 設定"); }
  HWND Box() const { return Own(L"#32770", kAppTitle); }
  std::string Log(const std::string& saver) const { return "\n" + ReadText(dir + L"\\" + Widen(saver) + L".log"); }
  // Pids of the saver's starts in that mode ("/s", "/p", "/c:"), oldest first.
  std::vector<std::string> Starts(const std::string& saver, const std::string& mode) const {
    std::vector<std::string> pids;
    std::istringstream log(Log(saver));
    for (std::string pid, event, arguments; log >> pid >> event && std::getline(log, arguments);) {
      if (event == "start" && arguments.find(" " + mode) == 0) pids.push_back(pid);
    }
    return pids;
  }
  std::wstring Heartbeat() const {
    wchar_t text[32] = L"";
    for (HWND child : Children(Host())) InternalGetWindowText(child, text, 32);
    return text;
  }
  void Pick(char mnemonic) {
    PostMessageW(Main(), WMA_TRAY_CALLBACK, 1, WM_RBUTTONUP);
    Eventually([&] { return Own(L"#32768", nullptr) != nullptr; }, "the tray menu did not open");
    PostMessageW(Own(L"#32768", nullptr), WM_CHAR, WPARAM(mnemonic), 0);
  }
  void Run(const std::string& steps, int scale);

  // The verbs. A row's step "wall fxplain p" calls Wall with {"wall", "fxplain", "p"}.
  // start: Orvane, up to its main window; launch: without waiting.
  void Start(const Args& a) {
    orvane = Launch(dir + L"\\Orvane.exe", L"", dir.c_str());
    if (a[0] == "start") Eventually([&] { return Main() != nullptr; }, "Orvane did not reach its main window", kLong);
  }
  // SAVER [p] [s MS]: a new start of that saver (p: in preview mode) shows inside the host, and the host is a
  // disabled child of the layer (on the raised desktop, of Progman, right below the icon view).
  void Wall(const Args& a) {
    const std::string mode = a[2] == "p" ? "/p" : "/s";
    size_t& seen = wallpapers[a[1] + mode];
    const auto shown = [&] {
      const std::vector<std::string> starts = Starts(a[1], mode);
      HWND host = Host();
      DWORD shownPid = 0;  // the top one's
      for (HWND child : Children(host)) {
        if (!shownPid && (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) shownPid = PidOf(child);
      }
      const bool placed = shell.raised ? GetWindow(shell.view, GW_HWNDNEXT) == host : GetParent(host) == shell.layer;
      return starts.size() > seen && std::to_string(shownPid) == starts.back() && placed &&
             (GetWindowLongW(host, GWL_STYLE) & (WS_CHILD | WS_DISABLED)) == (WS_CHILD | WS_DISABLED);
    };
    Eventually(shown, "no new " + mode + " start of " + a[1] + " shows in a host in the layer", a.Number(3, kLong));
    seen = Starts(a[1], mode).size();
  }
  // SAVER MODE N: started N times in that mode.
  void CountStarts(const Args& a) {
    Count([&] { return Starts(a[1], a[2]).size(); }, a.Number(3), "starts of " + a[1] + " " + a[2]);
  }
  // N [SAVER [MS]]: saver processes running.
  void Savers(const Args& a) {
    Count([&] { return SaverPids(Widen(a[2])).size(); }, a.Number(1), "saver processes running", a.Number(3, kSettle));
  }
  // SAVER REASON: the latest wallpaper saver of that name ended by itself, for that reason (not by force).
  void Exited(const Args& a) {
    const auto logged = [&] {
      return Log(a[1]).find("\n" + Starts(a[1], "/s").back() + " exit " + a[2]) != std::string::npos;
    };
    Eventually(logged, "the wallpaper saver did not end on its own (ended by force?)");
  }
  // 1|0 [ADDS]: Orvane's icon is in the notification area, or not; the slow one was asked to add it ADDS times.
  void Icon(const Args& a) {
    NOTIFYICONDATAW icon{sizeof(icon), Main(), 1};
    Eventually([&] { return Shell_NotifyIconW(NIM_MODIFY, &icon) == (a[1] == "1"); }, "the icon is not " + a[1]);
    Expect(a.size() < 3 || shell.trayAdds == size_t(a.Number(2)), "icon adds: " + std::to_string(shell.trayAdds));
  }
  void PickItem(const Args& a) { Pick(a[1][0]); }
  // dialog: opened from the tray menu; nodialog: none is open.
  void OpenDialog(const Args& a) {
    if (a[0] == "dialog") Pick('s');
    Eventually([&] { return (Dialog() != nullptr) == (a[0] == "dialog"); }, "the settings dialog is not " + a[0]);
  }
  void Select(const Args& a) {
    HWND list = GetDlgItem(Dialog(), IDC_SAVERLIST);
    const LRESULT index = SendMessageW(list, CB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(Widen(a[1]).c_str()));
    Expect(index >= 0, "the saver list has no such entry");
    SendMessageW(list, CB_SETCURSEL, WPARAM(index), 0);
    PostMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(IDC_SAVERLIST, CBN_SELCHANGE), LPARAM(list));
  }
  void Press(const Args& a) {
    const std::map<std::string, int> ids{
        {"ok", IDOK}, {"cancel", IDCANCEL}, {"apply", IDC_APPLY}, {"config", IDC_CONFIGURE}};
    PostMessageW(Dialog(), WM_COMMAND, ids.at(a[1]), LPARAM(GetDlgItem(Dialog(), ids.at(a[1]))));
  }
  // A second start hands over to the running one and ends with code 0; an open dialog comes forward.
  void Second(const Args&) {
    PROCESS_INFORMATION second = Launch(dir + L"\\Orvane.exe", L"", dir.c_str());
    const bool ended = EndedWell(second.hProcess, 10000);
    End(second);
    Expect(ended && Alive(orvane.hProcess), "a second start did not just hand over and end with code 0");
    if (Dialog()) Eventually([&] { return GetForegroundWindow() == Dialog(); }, "the dialog did not come forward");
  }
  // A change to the simulated shell (Shell.h): destroy (the layer), resize W H, move X Y (the layer), later MS
  // (builds it then), tray (the
  // notification area is ready), kill (the shell ends), new OPTIONS.
  void ShellCommand(const Args& a) {
    if (a[1] == "destroy") DestroyWindow(shell.layer);
    if (a[1] == "resize") SetWindowPos(shell.layer, 0, 0, 0, a.Number(2), a.Number(3), SWP_NOMOVE | SWP_NOZORDER);
    if (a[1] == "move") SetWindowPos(shell.layer, 0, a.Number(2), a.Number(3), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    if (a[1] == "later") SetTimer(nullptr, 0, a.Number(2), BuildLayerLater);
    if (a[1] == "tray") DestroyWindow(shell.tray);
    if (a[1] == "tray") PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    // Wine's notification area outlives the simulated shell; a real one goes with the shell, and its icons too.
    NOTIFYICONDATAW icon{sizeof(icon), Main(), 1};
    if (a[1] == "kill") Shell_NotifyIconW(NIM_DELETE, &icon);
    if (a[1] == "kill") EndShell();
    if (a[1] == "new") StartShell(Widen(a[2]).c_str());
  }
  // box TEXT: a message box saying that comes, and is closed; nobox: none is open.
  void Boxes(const Args& a) {
    if (a[0] == "nobox") return Expect(Box() == nullptr, "an unexpected message box is open");
    HWND box = nullptr;
    Eventually([&] { return (box = Box()) != nullptr; }, "no message box appeared", kLong);
    wchar_t text[1024] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    Expect(std::wstring(text).find(Widen(a[1])) != std::wstring::npos, "the message box says something else");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    Eventually([&] { return Box() != box; }, "the message box did not close");
  }
  // [MS]: Orvane ends with code 0 within that.
  void Exits(const Args& a) {
    WaitFor([&] { return !Alive(orvane.hProcess); }, a.Number(1, 20000));
    Expect(EndedWell(orvane.hProcess, 0), "Orvane did not end with code 0 in time");
  }
  void Running(const Args&) { Expect(Alive(orvane.hProcess), "Orvane ended"); }
  // The task manager ends Orvane.
  void Kill(const Args&) { TerminateProcess(orvane.hProcess, 1); }
  void File(const Args& a) {
    const std::vector<std::uint8_t> bytes = EncodeSettings(a[1] == "<なし>" ? nullptr : Widen(a[1]).c_str());
    const auto holds = [&] { return ReadText(dir + L"\\TAVO.dat") == std::string(bytes.begin(), bytes.end()); };
    Eventually(holds, "TAVO.dat holds another choice");
    Expect(!std::filesystem::exists(dir + L"\\TAVO.dat.new"), "TAVO.dat.new left behind");
  }
  // N: WM_SYSCOLORCHANGE messages (the shell's wallpaper repainted) the shell received.
  void Repaint(const Args& a) {
    Count([&] { return shell.repaints; }, a.Number(1), "wallpaper repaints asked for");
  }
  // [W H]: the host's size (by default the layer's); region [W H]: the part of it that shows (the saver's, not the
  // other monitor's).
  void HostSize(const Args& a) {
    RECT seen{};
    RECT want{0, 0, a.Number(1), a.Number(2)};
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    const auto sized = [&] {
      if (a.size() < 3) GetClientRect(shell.layer, &want);
      // Without a region the whole host shows.
      if (a[0] == "hostsize" || GetWindowRgn(Host(), region) == ERROR) {
        GetClientRect(Host(), &seen);
      } else {
        GetRgnBox(region, &seen);
      }
      return seen.right == want.right && seen.bottom == want.bottom;
    };
    const bool sizeHolds = WaitFor(sized, kSettle);
    DeleteObject(region);
    Expect(sizeHolds, a[0] + " " + std::to_string(seen.right) + "x" + std::to_string(seen.bottom) + ", not " +
                          std::to_string(want.right) + "x" + std::to_string(want.bottom));
  }
  void NoHost(const Args&) {
    Eventually([&] { return Host() == nullptr; }, "a host window exists");
  }
  // workarea [2]: one work-area change, or two at once as the shell broadcasts them; display: a display change;
  // broadcast MS: another program's broadcasts, plain and giving up on hung windows after 5 s, return within that.
  void Broadcast(const Args& a) {
    if (a[0] == "display") return (void)PostMessageW(Main(), WM_DISPLAYCHANGE, 32, 0);
    for (UINT timeout : {0, 5000}) {
      if (a[0] != "broadcast") break;
      const ULONGLONG took = BroadcastMs(timeout);
      Expect(took <= ULONGLONG(a.Number(1)), "another program's broadcast waited " + std::to_string(took) + " ms");
    }
    if (a[0] == "broadcast") return;
    // Sent, not posted: the message carries a pointer.
    const auto send = [&] { return SendMessageTimeoutW(Main(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, 0, kLong, 0); };
    std::future<LRESULT> other = std::async(std::launch::deferred, [] { return LRESULT(1); });
    if (a[1] == "2") other = std::async(std::launch::async, send);
    Expect(send() && other.get(), "Orvane did not answer a work-area change");
  }
  void Pump(const Args& a) {
    WaitFor([] { return false; }, a.Number(1));
  }
  void EndConfig(const Args&) {
    HWND config = nullptr;
    Eventually([&] { return (config = FindWindowW(nullptr, kFixtureConfigTitle)) != nullptr; }, "no configuration");
    PostMessageW(config, WM_CLOSE, 0, 0);
  }
  // input: the last input the system had is noted; input 0: none came since, injected or not.
  void Input(const Args& a) {
    LASTINPUTINFO last{sizeof(last)};
    GetLastInputInfo(&last);
    if (a.size() > 1) Expect(last.dwTime == lastInput, "input was injected");
    lastInput = last.dwTime;
  }
  // SAVER MODE below|normal: its latest start in that mode runs at that priority.
  void Priority(const Args& a) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, std::stoul(Starts(a[1], a[2]).back()));
    const DWORD seen = GetPriorityClass(process);
    CloseHandle(process);
    Expect(seen == (a[3] == "below" ? BELOW_NORMAL_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS),
           a[1] + " " + a[2] + " runs at priority class " + std::to_string(seen));
  }
  // MS: Orvane answers a message within that.
  void Answers(const Args& a) {
    const ULONGLONG start = GetTickCount64();
    SendMessageTimeoutW(Main(), WM_NULL, 0, 0, SMTO_NORMAL, kLong, nullptr);
    Expect(GetTickCount64() - start <= ULONGLONG(a.Number(1)), "Orvane did not answer in time");
  }
  // A window of this program over the desktop: max (maximized), overlay (transparent to input), restore.
  void Cover(const Args& a) {
    if (a[1] == "restore") return (void)ShowWindow(cover, SW_RESTORE);
    DestroyWindow(cover);
    const DWORD exStyle = a[1] == "overlay" ? WS_EX_LAYERED | WS_EX_TRANSPARENT : 0;
    cover = CreateWindowExW(exStyle, L"STATIC", L"", WS_POPUP | WS_VISIBLE | WS_MAXIMIZE, 0, 0, 9, 9, 0, 0, 0, 0);
  }
  // 1: the hosted saver's heartbeat goes on; 0: it stands.
  void Beat(const Args& a) {
    const auto beats = [&] {
      const std::wstring before = Heartbeat();
      WaitFor([] { return false; }, 300);
      return (Heartbeat() != before) == (a[1] == "1");
    };
    Eventually(beats, a[1] == "1" ? "the saver's heartbeat stands" : "the saver's heartbeat goes on");
  }
  // connect|remote|lock|unlock: the session connected to the console or to a remote client, locked, unlocked;
  // query: the system asks whether the session may end; end 0|1: it does not, or does.
  void Session(const Args& a) {
    if (a[1] == "query") return Expect(SendMessageW(Main(), WM_QUERYENDSESSION, 0, 0), "the session's end refused");
    if (a[1] == "end") return (void)SendMessageW(Main(), WM_ENDSESSION, a.Number(2), 0);
    const std::map<std::string, WPARAM> events{{"connect", 1}, {"remote", 3}, {"lock", 7}, {"unlock", 8}};
    SendMessageW(Main(), WM_WTSSESSION_CHANGE, events.at(a[1]), 0);
  }
  // display|energy|battery VALUE: a power setting as the system tells it; the record lives in Orvane's memory.
  void Power(const Args& a) {
    const std::map<std::string, GUID> settings{
        {"display", kConsoleDisplayState}, {"battery", kBatterySaver}, {"energy", kEnergySaver}};
    const struct {
      GUID guid;
      DWORD length;
      DWORD value;
    } setting{settings.at(a[1]), sizeof(DWORD), DWORD(a.Number(2))};
    void* remote = VirtualAllocEx(orvane.hProcess, nullptr, sizeof(setting), MEM_COMMIT, PAGE_READWRITE);
    WriteProcessMemory(orvane.hProcess, remote, &setting, sizeof(setting), nullptr);
    SendMessageW(Main(), WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, LPARAM(remote));
  }
  // The rest of the row needs a system that scales programs unaware of DPI, as most savers are.
  void Scaled(const Args&) {
    if (!scalesForDpi) throw Skip{"programs unaware of DPI are not scaled here (96 DPI, or Wine 8)"};
  }
  // What shows that it works where Wine paints nothing of it: the saver's windows in the host in the layer, and
  // the saver's heartbeat going on.
  void Show(const Args&) {
    std::printf("Orvane's host %p is in the wallpaper layer %p and holds:\n", Host(), GetParent(Host()));
    for (HWND child : Children(Host())) {
      wchar_t name[64] = L"";
      GetClassNameW(child, name, 64);
      std::printf("  window %p: class %ls, process %lu (the saver), parent %p\n", child, name, PidOf(child),
                  GetParent(child));
    }
    const std::wstring before = Heartbeat();
    Sleep(1000);
    std::printf("  the saver's heartbeat: %ls, a second later %ls\n", before.c_str(), Heartbeat().c_str());
    std::fflush(stdout);
  }
};

using Verb = std::function<void(Scenario&, const Args&)>;
using S = Scenario;
inline std::map<std::string, Verb> verbs{
    {"start", &S::Start},        {"launch", &S::Start},        {"wall", &S::Wall},       {"starts", &S::CountStarts},
    {"savers", &S::Savers},      {"exited", &S::Exited},       {"icon", &S::Icon},       {"pick", &S::PickItem},
    {"dialog", &S::OpenDialog},  {"nodialog", &S::OpenDialog}, {"select", &S::Select},   {"press", &S::Press},
    {"second", &S::Second},      {"shell", &S::ShellCommand},  {"box", &S::Boxes},       {"nobox", &S::Boxes},
    {"exits", &S::Exits},        {"running", &S::Running},     {"kill", &S::Kill},       {"file", &S::File},
    {"repaint", &S::Repaint},    {"hostsize", &S::HostSize},   {"region", &S::HostSize}, {"nohost", &S::NoHost},
    {"workarea", &S::Broadcast}, {"display", &S::Broadcast},   {"pump", &S::Pump},       {"endconfig", &S::EndConfig},
    {"responsive", &S::Answers}, {"cover", &S::Cover},         {"beat", &S::Beat},       {"session", &S::Session},
    {"power", &S::Power},        {"show", &S::Show},           {"scaled", &S::Scaled},   {"broadcast", &S::Broadcast},
    {"input", &S::Input},        {"priority", &S::Priority}};

// Plays the steps; "repeat N; ...; end" plays those between N times SCALE times.
inline void Scenario::Run(const std::string& steps, int scale) {
  std::vector<std::pair<std::string, Args>> list;
  size_t repeatFrom = 0;
  int rounds = 1;
  std::istringstream text(steps);
  for (std::string step; std::getline(text, step, ';');) {
    std::istringstream words(step);
    Args split;
    for (std::string word; words >> word; split.push_back(word)) std::replace(word.begin(), word.end(), '~', ' ');
    if (split[0] == "repeat") {
      repeatFrom = list.size();
      rounds = split.Number(1) * scale;
    } else if (split[0] == "end") {
      const std::vector<std::pair<std::string, Args>> body(list.begin() + repeatFrom, list.end());
      for (int round = 1; round < rounds; ++round) list.insert(list.end(), body.begin(), body.end());
    } else {
      list.push_back({step.substr(step.find_first_not_of(' ')), split});
    }
  }
  for (size_t i = 0; i < list.size(); ++i) {
    try {
      verbs.at(list[i].second[0])(*this, list[i].second);
    } catch (const std::exception& failure) {
      const char* ended = orvane.hProcess && !Alive(orvane.hProcess) ? " (Orvane has ended)" : "";
      throw Failure("step " + std::to_string(i + 1) + " '" + list[i].first + "': " + failure.what() + ended);
    }
  }
}

// Plays the row named by argv[1] with argv[2] as SCALE; "--list" names every row, one a line.
template <size_t N>
int PlayRow(const Row (&rows)[N], int argc, char** argv) {
  const std::string wanted = argc > 1 ? argv[1] : "";
  // Sizes are read as the shell and Orvane read them: in physical pixels, per-monitor aware.
  const int unawareWidth = GetSystemMetrics(SM_CXSCREEN);
  const auto setAwareness = reinterpret_cast<BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
  if (setAwareness) setAwareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  scalesForDpi = GetSystemMetrics(SM_CXSCREEN) != unawareWidth;
  for (const Row& row : rows) {
    if (wanted == "--list") std::printf("%s\n", row.name);
    if (wanted != row.name) continue;
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
  if (wanted != "--list") std::printf("no row named %s\n", wanted.c_str());
  return wanted == "--list" ? 0 : 2;
}
