// What Orvane costs: each figure measured beside a reference from the same run, on the bench's simulated
// shell and fixture savers, and printed as one Markdown table. Started by tools/perf through wine-exec.
//
// Wine facts this relies on: GetProcessTimes of another process answers with the caller's own times and
// Windows has no wakeup counter, so CPU time and context switches come from /proc (drive Z:) of the Unix
// process that runs the Windows one; GetProcessMemoryInfo leaves PrivateUsage at 0 and reports the
// private commit as PagefileUsage.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "FixtureProtocol.h"
#include "PerfProtocol.h"
#include "common/Bench.h"
#include "system/support/OrvaneRun.h"
#include "system/support/SaverWatch.h"

using namespace bench;

namespace {

constexpr wchar_t kPlain[] = L"fxplain";
constexpr wchar_t kAlt[] = L"fxplain_alt";
// The reference runs of the saver, under a name of their own (and no display name, so the list tells it apart).
constexpr wchar_t kAlone[] = L"fxplain_ref";
constexpr wchar_t kPlainShown[] = L"Fixture Saver";
constexpr wchar_t kAltShown[] = L"Alt Saver";
constexpr wchar_t kSettingsTitle[] = L"Orvane 設定";
constexpr int kPreview = 101;
constexpr int kList = 102;
constexpr double kSettleMs = 1000.0;
constexpr double kOverheadGoalMs = 50.0;
constexpr DWORD kWait = 30000;

struct Options {
  int repetitions = 5;
  DWORD idleSeconds = 60;
  int savers = 500;
  unsigned long long productBytes = 0;
  std::string productImports;
  bool importsSystemOnly = false;
  DWORD wineserverPid = 0;
};

// ---- clocks, numbers, text ----

double MsBetween(unsigned long long fromUs, unsigned long long toUs) {
  return static_cast<double>(static_cast<long long>(toUs - fromUs)) / 1000.0;
}

std::string Narrow(const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
  std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr, nullptr);
  }
  return utf8;
}

std::string Hex(HWND hwnd) {
  char text[32];
  snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)));
  return text;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

struct Stat {
  double median = 0;
  double min = 0;
  double max = 0;
  bool valid = false;
};

Stat Summarize(std::vector<double> values) {
  Stat stat;
  if (values.empty()) return stat;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  stat.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  stat.min = values.front();
  stat.max = values.back();
  stat.valid = true;
  return stat;
}

// "1234 ms (1200–1300)": the median, then min–max.
std::string Cell(const Stat& stat, const char* unit, int decimals) {
  if (!stat.valid) return "not measured";
  const std::string suffix = *unit ? std::string(" ") + unit : "";
  return Fixed(stat.median, decimals) + suffix + " (" + Fixed(stat.min, decimals) + "–" + Fixed(stat.max, decimals) +
         ")";
}

void Note(const std::string& text) {
  fprintf(stderr, "perf: %s\n", text.c_str());
  fflush(stderr);
}

// ---- the Unix side of a Windows process ----

std::string ReadWholeFile(const std::wstring& path) {
  std::string content;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return content;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) content.append(buffer, read);
  CloseHandle(file);
  return content;
}

std::vector<std::wstring> DirectoryNames(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (found.cFileName[0] >= L'0' && found.cFileName[0] <= L'9') names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The Unix process whose command line holds that text and which belongs to this prefix. Wine puts the
// Windows program's path on the Unix command line.
DWORD UnixPidOf(const std::wstring& commandLinePart) {
  const std::string wanted = Lower(Narrow(commandLinePart));
  wchar_t prefix[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
  const std::string ownPrefix = prefix[0] ? "WINEPREFIX=" + Narrow(prefix) + std::string(1, '\0') : "";
  for (const std::wstring& pid : DirectoryNames(L"Z:\\proc")) {
    const std::string commandLine = Lower(ReadWholeFile(L"Z:\\proc\\" + pid + L"\\cmdline"));
    if (commandLine.find(wanted) == std::string::npos) continue;
    if (!ownPrefix.empty() && ReadWholeFile(L"Z:\\proc\\" + pid + L"\\environ").find(ownPrefix) == std::string::npos) {
      continue;
    }
    return static_cast<DWORD>(std::wcstoul(pid.c_str(), nullptr, 10));
  }
  return 0;
}

unsigned long long FieldAfter(const std::string& text, const char* label) {
  const size_t at = text.find(label);
  if (at == std::string::npos) return 0;
  return std::strtoull(text.c_str() + at + strlen(label), nullptr, 10);
}

struct Usage {
  double cpuMs = 0;
  unsigned long long switches = 0;
  bool valid = false;
};

// CPU time (schedstat, nanoseconds) and context switches, summed over the process's threads.
Usage UsageOf(DWORD unixPid) {
  Usage usage;
  if (unixPid == 0) return usage;
  const std::wstring tasks = L"Z:\\proc\\" + std::to_wstring(unixPid) + L"\\task";
  for (const std::wstring& task : DirectoryNames(tasks)) {
    const std::string schedstat = ReadWholeFile(tasks + L"\\" + task + L"\\schedstat");
    if (schedstat.empty()) continue;
    usage.cpuMs += static_cast<double>(std::strtoull(schedstat.c_str(), nullptr, 10)) / 1e6;
    const std::string status = ReadWholeFile(tasks + L"\\" + task + L"\\status");
    usage.switches +=
        FieldAfter(status, "\nvoluntary_ctxt_switches:") + FieldAfter(status, "nonvoluntary_ctxt_switches:");
    usage.valid = true;
  }
  return usage;
}

struct Memory {
  double privateKiB = 0;
  double workingSetKiB = 0;
  bool valid = false;
};

Memory MemoryOf(HANDLE process) {
  Memory memory;
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters))) {
    return memory;
  }
  const SIZE_T privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
  memory.privateKiB = static_cast<double>(privateBytes) / 1024.0;
  memory.workingSetKiB = static_cast<double>(counters.WorkingSetSize) / 1024.0;
  memory.valid = true;
  return memory;
}

// When the process was created, on the Microseconds() clock, or 0. (Wine records the moment the new process
// starts to run, some way into CreateProcess.)
unsigned long long CreatedAt(HANDLE process) {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (!process || !GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const unsigned long long nowUs = Microseconds();
  const auto us = [](const FILETIME& time) {
    return ((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10;
  };
  return nowUs - (us(now) - us(created));
}

unsigned long long CreatedAt(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  const unsigned long long created = CreatedAt(process);
  if (process) CloseHandle(process);
  return created;
}

// ---- the fixture savers' "shown" lines ----

struct Shown {
  DWORD processId = 0;
  unsigned long long us = 0;
  std::string parent;
};

std::vector<Shown> ShownLines(const FixtureLog& log, const std::wstring& saver) {
  std::vector<Shown> shown;
  for (const std::string& line : log.Lines(saver)) {
    const size_t event = line.find(" shown ");
    if (event == std::string::npos) continue;
    Shown entry;
    entry.processId = static_cast<DWORD>(std::strtoul(line.c_str(), nullptr, 10));
    entry.us = std::strtoull(line.c_str() + event + 7, nullptr, 10);
    const size_t in = line.find(" in ", event);
    if (in == std::string::npos) continue;
    entry.parent = line.substr(in + 4);
    shown.push_back(entry);
  }
  return shown;
}

// When that process's window was first shown with that parent ("0": top-level), or 0.
unsigned long long ShownAt(const FixtureLog& log, const std::wstring& saver, DWORD processId,
                           const std::string& parent) {
  for (const Shown& entry : ShownLines(log, saver)) {
    if (entry.processId == processId && entry.parent == parent) return entry.us;
  }
  return 0;
}

unsigned long long WaitShown(const FixtureLog& log, const std::wstring& saver, DWORD processId,
                             const std::string& parent) {
  unsigned long long at = 0;
  WaitFor([&] { return (at = ShownAt(log, saver, processId, parent)) != 0; }, kWait);
  return at;
}

HWND TopWindowOf(DWORD processId) {
  for (HWND hwnd : WindowsOfProcess(processId, true)) {
    if (IsWindowVisible(hwnd)) return hwnd;
  }
  return nullptr;
}

std::wstring LeafOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool WaitHosted(const OrvaneRun& run, DWORD& saverProcess) {
  return WaitFor([&] { return (saverProcess = HostedSaverProcess(run)) != 0; }, kWait);
}

// Opens the tray menu and returns it, or null.
HWND OpenMenu(OrvaneRun& run) {
  run.TrayCallback(WM_RBUTTONUP);
  HWND menu = nullptr;
  WaitFor([&] { return (menu = run.Menu()) != nullptr; }, kWait);
  return menu;
}

// ---- the measurements ----

struct Results {
  std::vector<double> saverFirstWindow, saverExit, minimalStart;
  std::vector<double> start, startUntilSaverCreated, startUntilSaverWindow, startAdoption, startCpu;
  std::vector<double> exit, exitSaverGone;
  std::vector<double> switchTime, switchUntilSaverWindow, switchAdoption, switchCpu, switchServerCpu;
  std::vector<double> switchOldGone, switchPreviewGone, switchSaverFirstWindow, switchSaverExit;
  std::vector<double> aloneFromCreation, launchedFromCreation;
  std::vector<double> idleCpu, idleSwitches, referenceCpu, referenceSwitches;
  std::vector<double> privateKiB, workingSetKiB, referencePrivateKiB, referenceWorkingSetKiB;
  std::vector<double> dialogOpen, dialogOpenFew, enumeration, enumerationImages, enumerationDataFiles;
  double installSeconds = 0;
  std::vector<std::string> failures;
};

void Fail(Results& results, const std::string& what) {
  results.failures.push_back(what);
  Note("FAILED: " + what);
}

// The saver alone, started as Orvane starts it: its own time to its first window, and to its exit on a key.
// Run beside each repetition of what it is the reference for, so both see the same load.
bool RunSaverAlone(const FixtureLog& log, std::vector<double>& firstWindows, std::vector<double>& exits,
                   Results& results) {
  const unsigned long long started = Microseconds();
  Process saver = Start(SystemDir() + L"\\" + kAlone + L".scr", L"/s", SystemDir());
  const unsigned long long shown = WaitShown(log, kAlone, saver.Id(), "0");
  const unsigned long long createdAt = CreatedAt(saver.Handle());
  HWND window = nullptr;
  WaitFor([&] { return (window = TopWindowOf(saver.Id())) != nullptr; }, kWait);
  if (!shown || !window) {
    saver.Kill();
    Fail(results, "the saver alone showed no window");
    return false;
  }
  PumpFor(500);
  const unsigned long long asked = Microseconds();
  PostMessageW(window, WM_KEYDOWN, VK_SPACE, 0);
  if (!saver.WaitExit(kWait)) {
    saver.Kill();
    Fail(results, "the saver alone did not exit on a key");
    return false;
  }
  firstWindows.push_back(MsBetween(started, shown));
  exits.push_back(MsBetween(asked, Microseconds()));
  if (const unsigned long long created = createdAt) results.aloneFromCreation.push_back(MsBetween(created, shown));
  PumpFor(300);
  return true;
}

// The floor under any program's start on this machine: the minimal program from its process start to its
// window (created hidden, so polled for).
void MeasureMinimalStart(const Options& options, const std::wstring& referenceExe, Results& results) {
  Note("the minimal program's start");
  const std::wstring dir = MakeTempDir(L"perfmin");
  const std::wstring copy = dir + L"\\IdleReference.exe";
  CopyFileW(referenceExe.c_str(), copy.c_str(), FALSE);
  for (int rep = 0; rep < options.repetitions; ++rep) {
    const unsigned long long started = Microseconds();
    Process program = Start(copy, L"", dir);
    HWND window = nullptr;
    const unsigned long long deadline = started + kWait * 1000ull;
    while (program.Running() && Microseconds() < deadline && !(window = FindWindowW(kIdleReferenceClass, nullptr))) {
      Sleep(1);
    }
    const unsigned long long created = Microseconds();
    if (!window) {
      Fail(results, "the minimal program did not start");
      break;
    }
    results.minimalStart.push_back(MsBetween(started, created));
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (!program.WaitExit(kWait)) program.Kill();
  }
  RemoveTree(dir);
}

// A fresh Orvane each time: process start to the saver shown in the host, then Exit from the tray menu.
void MeasureStartAndExit(const Options& options, const FixtureLog& log, Results& results) {
  Note("start to wallpaper, and exit");
  for (int rep = 0; rep < options.repetitions; ++rep) {
    if (!RunSaverAlone(log, results.saverFirstWindow, results.saverExit, results)) return;
    OrvaneRun run(kPlain);
    const unsigned long long started = Microseconds();
    run.Start();
    DWORD saver = 0;
    if (!WaitHosted(run, saver)) return Fail(results, "start: no saver shown in the host");
    const unsigned long long inHost = WaitShown(log, kPlain, saver, Hex(run.Host()));
    const unsigned long long firstWindow = ShownAt(log, kPlain, saver, "0");
    if (!inHost || !firstWindow) return Fail(results, "start: the saver logged no \"shown\" lines");
    const Usage usage = UsageOf(UnixPidOf(LeafOf(run.Dir())));
    if (const unsigned long long created = CreatedAt(saver)) {
      results.startUntilSaverCreated.push_back(MsBetween(started, created));
      results.launchedFromCreation.push_back(MsBetween(created, firstWindow));
    }
    results.start.push_back(MsBetween(started, inHost));
    results.startUntilSaverWindow.push_back(MsBetween(started, firstWindow));
    results.startAdoption.push_back(MsBetween(firstWindow, inHost));
    if (usage.valid) results.startCpu.push_back(usage.cpuMs);

    PumpFor(1000);
    HWND menu = OpenMenu(run);
    if (!menu) return Fail(results, "exit: the tray menu did not open");
    HANDLE saverHandle = OpenProcess(SYNCHRONIZE, FALSE, saver);
    if (!saverHandle) return Fail(results, "exit: the saver is gone before Exit");
    const unsigned long long asked = Microseconds();
    PostMessageW(menu, WM_CHAR, L'q', 0);
    // Both ends, each timed as it happens.
    HANDLE ends[2] = {run.Proc().Handle(), saverHandle};
    unsigned long long endedAt[2] = {0, 0};
    const DWORD first = WaitForMultipleObjects(2, ends, FALSE, kWait);
    if (first == WAIT_OBJECT_0 || first == WAIT_OBJECT_0 + 1) {
      const DWORD index = first - WAIT_OBJECT_0;
      endedAt[index] = Microseconds();
      if (WaitForSingleObject(ends[1 - index], kWait) == WAIT_OBJECT_0) endedAt[1 - index] = Microseconds();
    }
    CloseHandle(saverHandle);
    if (!endedAt[0]) return Fail(results, "exit: Orvane did not end");
    if (!endedAt[1]) return Fail(results, "exit: the saver outlived Orvane");
    results.exit.push_back(MsBetween(asked, endedAt[0]));
    results.exitSaverGone.push_back(MsBetween(asked, endedAt[1]));
  }
}

LRESULT SendTo(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, kWait, &result);
  return static_cast<LRESULT>(result);
}

int ListIndexOf(HWND list, const wchar_t* shownName) {
  const LRESULT count = SendTo(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[256] = L"";
    SendTo(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    if (wcscmp(text, shownName) == 0) return static_cast<int>(i);
  }
  return -1;
}

constexpr DWORD kExitQuery = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;

// How long after that moment the process ended (its exit time), or -1.
double ExitedAfter(HANDLE process, const FILETIME& moment) {
  if (!process || WaitForSingleObject(process, kWait) != WAIT_OBJECT_0) return -1;
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
  const auto ticks = [](const FILETIME& time) {
    return static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  };
  return static_cast<double>(ticks(exited) - ticks(moment)) / 10000.0;
}

HWND WaitSettingsDialog(const OrvaneRun& run) {
  HWND dialog = nullptr;
  WaitFor([&] { return (dialog = run.SettingsDialog()) != nullptr; }, kWait);
  return dialog;
}

// One Orvane, switching back and forth between two savers: OK in the settings dialog to the new saver
// shown in the host.
void MeasureSwitch(const Options& options, const FixtureLog& log, DWORD wineserver, Results& results) {
  Note("switch");
  OrvaneRun run(kPlain);
  run.Start();
  DWORD saver = 0;
  if (!WaitHosted(run, saver)) return Fail(results, "switch: no first wallpaper");
  const std::string host = Hex(run.Host());
  const DWORD orvane = UnixPidOf(LeafOf(run.Dir()));
  bool toAlt = true;
  for (int rep = 0; rep < options.repetitions; ++rep, toAlt = !toAlt) {
    const wchar_t* target = toAlt ? kAlt : kPlain;
    if (!RunSaverAlone(log, results.switchSaverFirstWindow, results.switchSaverExit, results)) return;
    if (!run.PickMenuItem(L's')) return Fail(results, "switch: the tray menu did not open");
    HWND dialog = WaitSettingsDialog(run);
    if (!dialog) return Fail(results, "switch: no settings dialog");
    HWND list = GetDlgItem(dialog, kList);
    const int index = ListIndexOf(list, toAlt ? kAltShown : kPlainShown);
    if (index < 0) return Fail(results, "switch: the target is not listed");
    SendTo(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kList, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    const int previewsBefore = CountStarts(log, target, "/p");
    if (!WaitFor([&] { return CountStarts(log, target, "/p") > previewsBefore; }, kWait)) {
      return Fail(results, "switch: no preview of the selection");
    }
    PumpFor(500);

    const int startsBefore = CountStarts(log, target, "/s");
    const std::vector<HWND> previewWindows = ChildWindows(GetDlgItem(dialog, kPreview));
    HANDLE oldSaver = OpenProcess(kExitQuery, FALSE, saver);
    HANDLE preview =
        previewWindows.empty() ? nullptr : OpenProcess(kExitQuery, FALSE, WindowProcess(previewWindows.front()));
    const Usage before = UsageOf(orvane);
    const Usage serverBefore = UsageOf(wineserver);
    FILETIME askedTime{};
    GetSystemTimeAsFileTime(&askedTime);
    const unsigned long long asked = Microseconds();
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    DWORD next = 0;
    unsigned long long inHost = 0;
    WaitFor(
        [&] {
          if (CountStarts(log, target, "/s") <= startsBefore) return false;
          next = LastStart(log, target, "/s");
          return (inHost = ShownAt(log, target, next, host)) != 0;
        },
        kWait);
    const Usage after = UsageOf(orvane);
    const Usage serverAfter = UsageOf(wineserver);
    const unsigned long long firstWindow = ShownAt(log, target, next, "0");
    if (!inHost || !firstWindow) return Fail(results, "switch: the new saver was not shown in the host");
    if (const unsigned long long created = CreatedAt(next)) {
      results.launchedFromCreation.push_back(MsBetween(created, firstWindow));
    }
    results.switchTime.push_back(MsBetween(asked, inHost));
    results.switchUntilSaverWindow.push_back(MsBetween(asked, firstWindow));
    results.switchAdoption.push_back(MsBetween(firstWindow, inHost));
    if (before.valid && after.valid) results.switchCpu.push_back(after.cpuMs - before.cpuMs);
    if (serverBefore.valid && serverAfter.valid) {
      results.switchServerCpu.push_back(serverAfter.cpuMs - serverBefore.cpuMs);
    }
    const double oldGone = ExitedAfter(oldSaver, askedTime);
    const double previewGone = ExitedAfter(preview, askedTime);
    if (oldSaver) CloseHandle(oldSaver);
    if (preview) CloseHandle(preview);
    if (oldGone >= 0) results.switchOldGone.push_back(oldGone);
    if (previewGone >= 0) results.switchPreviewGone.push_back(previewGone);
    if (!WaitFor([&] { return run.SettingsDialog() == nullptr && !ProcessAlive(saver); }, kWait)) {
      return Fail(results, "switch: the dialog or the old saver stayed");
    }
    saver = next;
    PumpFor(500);
  }
}

// Orvane with its wallpaper running and the reference program, idle side by side over the same windows.
void MeasureIdle(const Options& options, const std::wstring& referenceExe, Results& results) {
  Note("idle cost and memory, " + std::to_string(options.repetitions) + " x " + std::to_string(options.idleSeconds) +
       " s");
  OrvaneRun run(kPlain);
  run.Start();
  DWORD saver = 0;
  if (!WaitHosted(run, saver)) return Fail(results, "idle: no wallpaper");
  const std::wstring referenceDir = MakeTempDir(L"perfref");
  const std::wstring referenceCopy = referenceDir + L"\\IdleReference.exe";
  CopyFileW(referenceExe.c_str(), referenceCopy.c_str(), FALSE);
  Process reference = Start(referenceCopy, L"", referenceDir);
  HWND referenceWindow = nullptr;
  WaitFor([&] { return (referenceWindow = FindWindowW(kIdleReferenceClass, nullptr)) != nullptr; }, kWait);
  if (!referenceWindow) {
    reference.Kill();
    RemoveTree(referenceDir);
    return Fail(results, "idle: the reference program did not start");
  }
  const DWORD orvane = UnixPidOf(LeafOf(run.Dir()));
  const DWORD referenceUnix = UnixPidOf(LeafOf(referenceDir));
  if (!orvane || !referenceUnix) Fail(results, "idle: no /proc entry for Orvane or the reference program");
  Sleep(3000);
  for (int rep = 0; rep < options.repetitions; ++rep) {
    const Usage orvaneBefore = UsageOf(orvane);
    const Usage referenceBefore = UsageOf(referenceUnix);
    Sleep(options.idleSeconds * 1000);
    const Usage orvaneAfter = UsageOf(orvane);
    const Usage referenceAfter = UsageOf(referenceUnix);
    if (orvaneBefore.valid && orvaneAfter.valid && referenceBefore.valid && referenceAfter.valid) {
      results.idleCpu.push_back(orvaneAfter.cpuMs - orvaneBefore.cpuMs);
      results.idleSwitches.push_back(static_cast<double>(orvaneAfter.switches - orvaneBefore.switches));
      results.referenceCpu.push_back(referenceAfter.cpuMs - referenceBefore.cpuMs);
      results.referenceSwitches.push_back(static_cast<double>(referenceAfter.switches - referenceBefore.switches));
    }
    const Memory own = MemoryOf(run.Proc().Handle());
    const Memory other = MemoryOf(reference.Handle());
    if (own.valid && other.valid) {
      results.privateKiB.push_back(own.privateKiB);
      results.workingSetKiB.push_back(own.workingSetKiB);
      results.referencePrivateKiB.push_back(other.privateKiB);
      results.referenceWorkingSetKiB.push_back(other.workingSetKiB);
    }
  }
  if (HostedSaverProcess(run) != saver) Fail(results, "idle: the wallpaper did not stay up");
  PostMessageW(referenceWindow, WM_CLOSE, 0, 0);
  if (!reference.WaitExit(kWait)) reference.Kill();
  RemoveTree(referenceDir);
}

// The settings dialog from the menu pick until it is shown, its list filled. Null if it never was.
HWND OpenSettingsTimed(OrvaneRun& run, std::vector<double>* into) {
  HWND menu = OpenMenu(run);
  if (!menu) return nullptr;
  const unsigned long long asked = Microseconds();
  PostMessageW(menu, WM_CHAR, L's', 0);
  // Polled tightly: Wine sends no EVENT_OBJECT_SHOW to hooks of other processes.
  const unsigned long long deadline = asked + kWait * 1000ull;
  while (Microseconds() < deadline) {
    HWND dialog = FindWindowW(L"#32770", kSettingsTitle);
    if (dialog && IsWindowVisible(dialog)) {
      if (into) into->push_back(MsBetween(asked, Microseconds()));
      return dialog;
    }
    Sleep(2);
  }
  return nullptr;
}

// Opens and closes the dialog, once untimed to warm the file cache (as the enumerations' first pass), then
// timed. False on a failure, which is recorded.
bool TimeSettingsDialog(const Options& options, OrvaneRun& run, int savers, std::vector<double>& into,
                        Results& results) {
  for (int rep = -1; rep < options.repetitions; ++rep) {
    HWND dialog = OpenSettingsTimed(run, rep >= 0 ? &into : nullptr);
    if (!dialog) {
      Fail(results, "dialog: not shown");
      return false;
    }
    const LRESULT listed = SendTo(GetDlgItem(dialog, kList), CB_GETCOUNT, 0, 0);
    if (listed != savers + 1) {
      Fail(results, "dialog: " + std::to_string(listed) + " list entries, not " + std::to_string(savers + 1));
    }
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (!WaitFor([&] { return run.SettingsDialog() == nullptr; }, kWait)) {
      Fail(results, "dialog: did not close");
      return false;
    }
    PumpFor(300);
  }
  return true;
}

// Passes over the installed savers: bare, or loading each as a resource module for its name.
int Enumerate(DWORD loadFlags) {
  const std::wstring dir = SystemDir() + L"\\";
  int count = 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((dir + L"*.scr").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return count;
  do {
    ++count;
    if (!loadFlags) continue;
    if (HMODULE module = LoadLibraryExW((dir + found.cFileName).c_str(), nullptr, loadFlags)) {
      const wchar_t* text = nullptr;
      LoadStringW(module, 1, reinterpret_cast<LPWSTR>(&text), 0);
      FreeLibrary(module);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

int TimedEnumeration(DWORD loadFlags, std::vector<double>& into) {
  const unsigned long long begin = Microseconds();
  const int count = Enumerate(loadFlags);
  into.push_back(MsBetween(begin, Microseconds()));
  return count;
}

// The settings dialog with the three usual savers, then with many, beside a bare FindFirstFile/FindNextFile
// pass over the same files.
void MeasureDialog(const Options& options, Results& results) {
  Note("settings dialog with the 3 usual savers and with " + std::to_string(options.savers));
  OrvaneRun run;
  run.Start();
  if (!run.WaitReady()) return Fail(results, "dialog: Orvane did not start");
  if (!TimeSettingsDialog(options, run, Enumerate(0), results.dialogOpenFew, results)) return;

  std::vector<std::pair<std::wstring, std::wstring>> savers;
  for (int i = 0; i < options.savers; ++i) {
    wchar_t name[32];
    swprintf(name, 32, L"fxplain_%04d", i);
    savers.emplace_back(name, L"FixtureSaver.exe");
  }
  const unsigned long long installing = Microseconds();
  InstallSavers(savers);
  results.installSeconds = MsBetween(installing, Microseconds()) / 1000.0;

  std::vector<double> warmUp;
  if (TimedEnumeration(0, warmUp) != options.savers) Fail(results, "dialog: not every saver copy is installed");
  for (int rep = 0; rep < options.repetitions; ++rep) {
    TimedEnumeration(0, results.enumeration);
    TimedEnumeration(LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE, results.enumerationImages);
    TimedEnumeration(LOAD_LIBRARY_AS_DATAFILE, results.enumerationDataFiles);
  }
  TimeSettingsDialog(options, run, options.savers, results.dialogOpen, results);
}

// A real desktop's notification area always holds other icons. Wine's explorer shows its stand-alone tray
// window for the first icon and hides it when the last goes, which without a window manager blocks it for
// about 2 s: an icon of the driver's own keeps Orvane's from being the first or the last.
class TrayPlaceholder {
 public:
  TrayPlaceholder() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OrvanePerfTrayPlaceholder";
    RegisterClassExW(&windowClass);
    icon_.cbSize = sizeof(icon_);
    icon_.hWnd = CreateWindowExW(0, windowClass.lpszClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr);
    icon_.uID = 1;
    icon_.uFlags = NIF_ICON | NIF_TIP;
    icon_.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wcscpy(icon_.szTip, L"Orvane benchmarks");
    added_ = icon_.hWnd && Shell_NotifyIconW(NIM_ADD, &icon_);
  }
  ~TrayPlaceholder() {
    if (added_) Shell_NotifyIconW(NIM_DELETE, &icon_);
    if (icon_.hWnd) DestroyWindow(icon_.hWnd);
  }
  TrayPlaceholder(const TrayPlaceholder&) = delete;
  TrayPlaceholder& operator=(const TrayPlaceholder&) = delete;
  bool Added() const { return added_; }

 private:
  NOTIFYICONDATAW icon_{};
  bool added_ = false;
};

// ---- the table ----

std::string Overhead(const Stat& measured, const Stat& reference, double goalMs, bool& met) {
  if (!measured.valid || !reference.valid) {
    met = false;
    return "not measured";
  }
  const double overhead = measured.median - reference.median;
  met = overhead <= goalMs;
  return "overhead " + Fixed(overhead, 0) + " ms";
}

std::string Ratio(const Stat& measured, const Stat& reference, double goal, bool& met) {
  if (!measured.valid || !reference.valid || reference.median <= 0) {
    met = false;
    return "not measured";
  }
  const double ratio = measured.median / reference.median;
  met = ratio <= goal;
  return Fixed(ratio, ratio < 10 ? 2 : 0) + "×";
}

// Equal within noise: the medians differ by no more than the larger spread (max − min) of the two, and no
// more than the floor given.
std::string WithinNoise(const Stat& measured, const Stat& reference, double floor, int decimals, const char* unit,
                        bool& met) {
  if (!measured.valid || !reference.valid) {
    met = false;
    return "not measured";
  }
  const double difference = measured.median - reference.median;
  const double noise = std::max({measured.max - measured.min, reference.max - reference.min, floor});
  met = difference <= noise;
  return "difference " + Fixed(difference, decimals) + unit + " (noise " + Fixed(noise, decimals) + unit + ")";
}

std::string Verdict(const std::string& text, bool met) { return text + (met ? ": **met**" : ": **missed**"); }

// Repetition by repetition: a[i] + b[i] + constant (b may be empty).
Stat Sum(const std::vector<double>& a, const std::vector<double>& b, double constant) {
  std::vector<double> sums;
  for (size_t i = 0; i < a.size() && (b.empty() || i < b.size()); ++i) {
    sums.push_back(a[i] + (b.empty() ? 0.0 : b[i]) + constant);
  }
  return Summarize(sums);
}

std::string WineVersion() {
  using Version = const char*(CDECL*)();
  const auto version = reinterpret_cast<Version>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
  return version ? std::string("Wine ") + version() : "not Wine";
}

std::string CpuModel() {
  const std::string info = ReadWholeFile(L"Z:\\proc\\cpuinfo");
  const size_t at = info.find("model name");
  if (at == std::string::npos) return "unknown CPU";
  const size_t colon = info.find(':', at);
  const size_t end = info.find('\n', at);
  return info.substr(colon + 2, end - colon - 2);
}

std::string LoadAverage() {
  const std::string load = ReadWholeFile(L"Z:\\proc\\loadavg");
  return load.substr(0, load.find(' ', load.find(' ', load.find(' ') + 1) + 1));
}

void PrintTable(const Options& options, const Results& r, const std::string& loadBefore) {
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char date[32];
  snprintf(date, sizeof(date), "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);

  const Stat saverFirst = Summarize(r.saverFirstWindow);
  const Stat saverExit = Summarize(r.saverExit);
  const Stat start = Summarize(r.start);
  const Stat startReference = Sum(r.saverFirstWindow, {}, kSettleMs);
  const Stat exitStat = Summarize(r.exit);
  const Stat switchStat = Summarize(r.switchTime);
  const Stat switchReference = Sum(r.switchSaverExit, r.switchSaverFirstWindow, kSettleMs);
  const Stat switchSaverExit = Summarize(r.switchSaverExit);
  const Stat switchSaverFirst = Summarize(r.switchSaverFirstWindow);
  const Stat dialog = Summarize(r.dialogOpen);
  const Stat enumeration = Summarize(r.enumeration);
  const Stat idleCpu = Summarize(r.idleCpu);
  const Stat referenceCpu = Summarize(r.referenceCpu);
  const Stat idleSwitches = Summarize(r.idleSwitches);
  const Stat referenceSwitches = Summarize(r.referenceSwitches);
  const Stat privateBytes = Summarize(r.privateKiB);
  const Stat referencePrivate = Summarize(r.referencePrivateKiB);
  const Stat workingSet = Summarize(r.workingSetKiB);
  const Stat referenceWorkingSet = Summarize(r.referenceWorkingSetKiB);
  const Stat switchCpu = Summarize(r.switchCpu);
  const Stat switchServerCpu = Summarize(r.switchServerCpu);
  const std::string idle = std::to_string(options.idleSeconds) + " s";
  bool met = false;

  printf("Measured %s on %lu CPUs (%s), %s; the bench's x86_64 build under wine64; load average before the run "
         "%s. Each figure: median (min–max) of %d repetitions.\n\n",
         date, system.dwNumberOfProcessors, CpuModel().c_str(), WineVersion().c_str(), loadBefore.c_str(),
         options.repetitions);
  printf("| Figure | Orvane | Reference measured beside it | Goal | Result |\n");
  printf("|---|---|---|---|---|\n");

  const double kib = static_cast<double>(options.productBytes) / 1024.0;
  printf("| Orvane.exe size, stripped (the i686 release exe) | %s KiB (%llu bytes) | — | ≤ 256 KiB | %s |\n",
         Fixed(kib, 1).c_str(), options.productBytes,
         Verdict(Fixed(kib, 1) + " KiB", options.productBytes > 0 && kib <= 256.0).c_str());
  printf("| DLLs it imports | %s | — | system DLLs only | %s |\n", options.productImports.c_str(),
         Verdict(options.importsSystemOnly ? "system DLLs only" : "not only system DLLs", options.importsSystemOnly)
             .c_str());

  std::string verdict = Overhead(start, startReference, kOverheadGoalMs, met);
  printf("| Start to wallpaper: process start → saver shown in the host | %s | %s (the saver's first window %s + "
         "1000 ms settle) | overhead ≤ 50 ms | %s |\n",
         Cell(start, "ms", 0).c_str(), Cell(startReference, "ms", 0).c_str(), Cell(saverFirst, "ms", 0).c_str(),
         Verdict(verdict, met).c_str());
  verdict = Overhead(switchStat, switchReference, kOverheadGoalMs, met);
  printf("| Switch: OK in the settings dialog → the other saver shown in the host | %s | %s (the old saver's exit "
         "%s + the new one's first window + 1000 ms) | overhead ≤ 50 ms | %s |\n",
         Cell(switchStat, "ms", 0).c_str(), Cell(switchReference, "ms", 0).c_str(),
         Cell(switchSaverExit, "ms", 0).c_str(), Verdict(verdict, met).c_str());
  verdict = Overhead(exitStat, saverExit, kOverheadGoalMs, met);
  printf("| Exit: Exit chosen → Orvane gone (fxplain) | %s | %s (the saver's own exit on a key) | overhead ≤ 50 ms "
         "| %s |\n",
         Cell(exitStat, "ms", 0).c_str(), Cell(saverExit, "ms", 0).c_str(), Verdict(verdict, met).c_str());
  verdict = Ratio(dialog, enumeration, 3.0, met);
  printf("| Settings dialog: menu pick → shown with its list filled, %d savers installed | %s | %s (bare "
         "FindFirstFile/FindNextFile over *.scr) | ≤ 3× | %s |\n",
         options.savers, Cell(dialog, "ms", 0).c_str(), Cell(enumeration, "ms", 1).c_str(),
         Verdict(verdict, met).c_str());
  verdict = WithinNoise(idleCpu, referenceCpu, 1.0, 1, " ms", met);
  printf("| Idle CPU time over %s, wallpaper running (/proc schedstat, all threads) | %s | %s (minimal "
         "GetMessageW program) | equal within noise | %s |\n",
         idle.c_str(), Cell(idleCpu, "ms", 1).c_str(), Cell(referenceCpu, "ms", 1).c_str(),
         Verdict(verdict, met).c_str());
  verdict = WithinNoise(idleSwitches, referenceSwitches, 10.0, 0, "", met);
  printf("| Idle wakeups over %s: context switches (/proc, all threads) | %s | %s (the same program) | equal "
         "within noise | %s |\n",
         idle.c_str(), Cell(idleSwitches, "", 0).c_str(), Cell(referenceSwitches, "", 0).c_str(),
         Verdict(verdict, met).c_str());
  verdict = Ratio(privateBytes, referencePrivate, 1.2, met);
  printf("| Private bytes, wallpaper running | %s | %s (the same program) | ≤ 1.2× | %s |\n",
         Cell(privateBytes, "KiB", 0).c_str(), Cell(referencePrivate, "KiB", 0).c_str(), Verdict(verdict, met).c_str());
  verdict = Ratio(workingSet, referenceWorkingSet, 1.2, met);
  printf("| Working set, wallpaper running | %s | %s (the same program) | ≤ 1.2× | %s |\n",
         Cell(workingSet, "KiB", 0).c_str(), Cell(referenceWorkingSet, "KiB", 0).c_str(),
         Verdict(verdict, met).c_str());
  printf("| CPU one wallpaper launch burns: Orvane's CPU time from OK to the new saver shown (switch) | %s; "
         "wineserver meanwhile %s | the launch's own wall time %s | — (no goal set) | %s of the wall time |\n",
         Cell(switchCpu, "ms", 0).c_str(), Cell(switchServerCpu, "ms", 0).c_str(), Cell(switchStat, "ms", 0).c_str(),
         switchCpu.valid && switchStat.valid ? (Fixed(100.0 * switchCpu.median / switchStat.median, 0) + " %").c_str()
                                             : "not measured");

  printf("\nWhere the time goes (medians):\n\n");
  printf("- Start: Orvane's start → the saver's process created %s ms (the minimal program's start to its window "
         "%s ms) → the saver's first (top-level) window %s ms, the saver alone %s ms; first window → shown in the host "
         "%s ms (settle 1000 ms). Orvane's CPU time from its start to the wallpaper: %s.\n",
         Fixed(Summarize(r.startUntilSaverCreated).median, 0).c_str(), Fixed(Summarize(r.minimalStart).median, 0).c_str(),
         Fixed(Summarize(r.startUntilSaverWindow).median, 0).c_str(), Fixed(saverFirst.median, 0).c_str(),
         Fixed(Summarize(r.startAdoption).median, 0).c_str(),
         Cell(Summarize(r.startCpu), "ms", 0).c_str());
  printf("- Switch: after OK the old saver is gone at %s ms and the dialog's preview at %s ms; the new saver's first "
         "window at %s ms (the old saver's exit alone %s ms + its first window alone %s ms); first window → shown in "
         "the host %s ms.\n",
         Fixed(Summarize(r.switchOldGone).median, 0).c_str(), Fixed(Summarize(r.switchPreviewGone).median, 0).c_str(),
         Fixed(Summarize(r.switchUntilSaverWindow).median, 0).c_str(), Fixed(switchSaverExit.median, 0).c_str(),
         Fixed(switchSaverFirst.median, 0).c_str(), Fixed(Summarize(r.switchAdoption).median, 0).c_str());
  printf("- The saver from its process creation to its first window: alone %s ms; launched by Orvane %s ms, while "
         "Orvane's adoption wait polls it with Sleep(0).\n",
         Fixed(Summarize(r.aloneFromCreation).median, 0).c_str(),
         Fixed(Summarize(r.launchedFromCreation).median, 0).c_str());
  printf("- Exit: after the pick the saver is gone at %s ms, Orvane at %s ms.\n",
         Fixed(Summarize(r.exitSaverGone).median, 0).c_str(), Fixed(exitStat.median, 0).c_str());
  printf("- Settings dialog: with the 3 usual savers it opens in %s. Over the %d savers the bare enumeration takes "
         "%s; loading each file for its name as the catalogue does (LoadLibraryExW with LOAD_LIBRARY_AS_DATAFILE | "
         "LOAD_LIBRARY_AS_IMAGE_RESOURCE, LoadStringW) %s; with LOAD_LIBRARY_AS_DATAFILE alone %s. Copying the "
         "savers took %.1f s.\n",
         Cell(Summarize(r.dialogOpenFew), "ms", 0).c_str(), options.savers, Cell(enumeration, "ms", 1).c_str(),
         Cell(Summarize(r.enumerationImages), "ms", 0).c_str(),
         Cell(Summarize(r.enumerationDataFiles), "ms", 0).c_str(), r.installSeconds);
  printf("- Under Wine, GetProcessTimes of another process returns the caller's own times and there is no wakeup "
         "counter: CPU time is the sum of /proc/<pid>/task/*/schedstat and wakeups are voluntary + involuntary "
         "context switches of the Unix process that runs the program (Wine's own threads included, for both). "
         "Private bytes: PagefileUsage, since Wine leaves PrivateUsage at 0. The driver keeps an icon of its own in "
         "the notification area throughout, as a real desktop has: Wine's explorer blocks about 2 s when it hides "
         "its tray window after the last icon is deleted.\n");
  for (const std::string& failure : r.failures) printf("- FAILED: %s\n", failure.c_str());
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--quick") {
      options.repetitions = 3;
      options.idleSeconds = 10;
    } else if (arg == L"--repetitions" && hasValue) {
      options.repetitions = std::max(1, _wtoi(argv[++i]));
    } else if (arg == L"--idle-seconds" && hasValue) {
      options.idleSeconds = static_cast<DWORD>(std::max(1, _wtoi(argv[++i])));
    } else if (arg == L"--savers" && hasValue) {
      options.savers = std::max(1, _wtoi(argv[++i]));
    } else if (arg == L"--product-bytes" && hasValue) {
      options.productBytes = std::wcstoull(argv[++i], nullptr, 10);
    } else if (arg == L"--product-imports" && hasValue) {
      options.productImports = Narrow(argv[++i]);
    } else if (arg == L"--imports-system-only" && hasValue) {
      options.importsSystemOnly = std::wcscmp(argv[++i], L"1") == 0;
    } else if (arg == L"--wineserver" && hasValue) {
      options.wineserverPid = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    } else {
      return false;
    }
  }
  return true;
}

std::wstring ReferenceExe() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring self(path, length);
  return self.substr(0, self.find_last_of(L"\\/") + 1) + L"IdleReference.exe";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    fprintf(stderr,
            "usage: PerfDriver [--quick] [--repetitions N] [--idle-seconds S] [--savers N] [--product-bytes N]\n"
            "                  [--product-imports LIST] [--imports-system-only 0|1] [--wineserver UNIX_PID]\n");
    return 2;
  }
  const std::string loadBefore = LoadAverage();
  Results results;
  {
    FixtureLog log;
    FakeShell shell(L"--arranged");
    if (!shell.Ready()) {
      Note("the simulated shell did not start");
      return 1;
    }
    TrayPlaceholder placeholder;
    if (!placeholder.Added()) Fail(results, "no icon of the driver's own in the notification area");
    InstallSavers({{kPlain, L"FixtureSaver.exe"}, {kAlt, L"FixtureSaverAlt.exe"}, {kAlone, L"FixtureSaverNoName.exe"}});
    MeasureMinimalStart(options, ReferenceExe(), results);
    MeasureStartAndExit(options, log, results);
    MeasureSwitch(options, log, options.wineserverPid, results);
    MeasureIdle(options, ReferenceExe(), results);
    MeasureDialog(options, results);
    RemoveAllSavers();
  }
  PrintTable(options, results, loadBefore);
  return results.failures.empty() ? 0 : 1;
}
