// Benchmark rows for tools/perf, played by the scenario engine with verbs of their own: each prints
// "figure NAME VALUE" lines, every figure beside a reference measured in the same run. They measure; they
// pass or fail nothing but their own set-up.
#include <windows.h>

#include <psapi.h>

#include "Engine.h"

namespace {

// The reference programs running beside Orvane, by name.
std::map<std::string, PROCESS_INFORMATION> spawned;
unsigned long long markUs = 0;

void Figure(const std::string& name, double value) { std::printf("figure %s %.1f\n", name.c_str(), value); }
double SinceMark() { return double(Microseconds() - markUs) / 1000; }

void ForEachFile(const std::wstring& pattern, const std::function<void(const WIN32_FIND_DATAW&)>& visit) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
    if (found.cFileName[0] != L'.') visit(found);
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

// CPU milliseconds and context switches of the Unix processes (Wine's view of the Windows ones, through drive Z:)
// whose command line holds the text: Windows tells neither for another process under Wine.
std::pair<double, double> UnixUsage(const std::string& commandLinePart) {
  std::pair<double, double> usage{0, 0};
  ForEachFile(L"Z:\\proc\\*", [&](const WIN32_FIND_DATAW& process) {
    const std::wstring proc = L"Z:\\proc\\" + std::wstring(process.cFileName);
    if (!iswdigit(process.cFileName[0])) return;
    if (ReadText(proc + L"\\cmdline").find(commandLinePart) == std::string::npos) return;
    ForEachFile(proc + L"\\task\\*", [&](const WIN32_FIND_DATAW& task) {
      const std::wstring dir = proc + L"\\task\\" + task.cFileName;
      usage.first += std::strtod(ReadText(dir + L"\\schedstat").c_str(), nullptr) / 1e6;
      const std::string status = ReadText(dir + L"\\status");
      for (size_t at = status.find("ctxt_switches:"); at != std::string::npos;) {
        usage.second += std::strtod(&status[at + 14], nullptr);
        at = status.find("ctxt_switches:", at + 1);
      }
    });
  });
  return usage;
}

// The saver's log, each line split into words.
std::vector<Words> Lines(const Scenario& s, const std::string& saver) {
  std::vector<Words> lines;
  std::istringstream log(s.Log(saver));
  for (std::string line; std::getline(log, line);) {
    std::istringstream words(line);
    lines.emplace_back(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
  }
  return lines;
}

void AddVerbs() {
  // NAME plain|hung: a broadcast of WM_SETTINGCHANGE from another program, plain or SMTO_ABORTIFHUNG (5 s).
  verbs["broadcast"] = [](Scenario&, const Args& a) { Figure(a[1], double(BroadcastMs(a[2] == "hung" ? 5000 : 0))); };
  // NAME N: N messages sent to the saver's window in the host, at uneven moments: the median and the worst.
  verbs["answer"] = [](Scenario& s, const Args& a) {
    std::vector<double> times;
    for (int i = 0; i < a.Number(2); ++i) {
      WaitFor([] { return false; }, DWORD(37 * i % 300));
      markUs = Microseconds();
      SendMessageTimeoutW(Children(s.Host()).at(0), WM_NULL, 0, 0, SMTO_NORMAL, kLong, nullptr);
      times.push_back(SinceMark());
    }
    std::sort(times.begin(), times.end());
    Figure(a[1] + "-median", times[times.size() / 2]);
    Figure(a[1] + "-worst", times.back());
  };
  // N copies of the fixture saver, for the list's cost.
  verbs["install"] = [](Scenario&, const Args& a) {
    for (int i = 0; i < a.Number(1); ++i) Scenario::Install(L"FixtureSaver.exe", L"fxmany" + std::to_wstring(i));
  };
  verbs["mark"] = [](Scenario&, const Args&) {
    markUs = Microseconds();
    std::printf("mark %llu\n", markUs);
  };
  // NAME: ms since the mark; NAME SAVER [top]: until its newest wallpaper showed in the host (top: showed at all,
  // as the top-level window it opens).
  verbs["figure"] = [](Scenario& s, const Args& a) {
    if (a.size() == 2) return Figure(a[1], SinceMark());
    for (const Words& line : Lines(s, a[2])) {
      if (line.size() > 5 && line[0] == s.Starts(a[2], "/s").back() && line[1] == "shown" &&
          (line[5] == "0") == (a[3] == "top")) {
        return Figure(a[1], double(std::stoull(line[2]) - markUs) / 1000);
      }
    }
  };
  // NAME: from the mark until Orvane's process has ended, waited for on its handle (pumping meanwhile: its host is a
  // child of the shell's window, which this thread runs).
  verbs["gone"] = [](Scenario& s, const Args& a) {
    while (MsgWaitForMultipleObjects(1, &s.orvane.hProcess, FALSE, kLong, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
    }
    Figure(a[1], SinceMark());
  };
  // NAME SAVER start|exit: from the mark until that saver's latest start or end, as its own clock logged it.
  verbs["logged"] = [](Scenario& s, const Args& a) {
    std::string at;
    for (const Words& line : Lines(s, a[2])) {
      if (line.size() > 2 && line[1] == a[3]) at = line.back().substr(1);
    }
    Figure(a[1], double(std::stoull(at) - markUs) / 1000);
  };
  // NAME: from Settings picked until the dialog is visible, looked for every 5 ms when the foreground changed: looking
  // every millisecond kept the wineserver, which Orvane needs for every saver file it reads, some 10 % busier.
  verbs["opendialog"] = [](Scenario& s, const Args& a) {
    s.Pick('s');
    markUs = Microseconds();
    pollMs = 5;
    HWND front = GetForegroundWindow();
    const auto opened = [&] {
      if (GetForegroundWindow() == front) return false;
      front = GetForegroundWindow();
      return s.Dialog() != nullptr;
    };
    Eventually(opened, "the settings dialog did not open");
    pollMs = 20;
    Figure(a[1], SinceMark());
  };
  // SAVER MODE: a reference program beside Orvane, the saver alone; --timer: this program with an empty 500 ms timer;
  // no arguments: end them.
  verbs["spawn"] = [](Scenario&, const Args& a) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (a.size() == 1) {
      for (auto& [name, process] : spawned) End(process);
    } else if (a[1] == "--timer") {
      spawned[a[1]] = Launch(self, L"--timer", nullptr);
    } else {
      spawned[a[1]] = Launch(SystemDir() + L"\\" + Widen(a[1]) + L".scr", Widen(a[2]), nullptr);
    }
  };
  // SAVER NAME: the spawned saver's own exit on a key.
  verbs["quit"] = [](Scenario& s, const Args& a) {
    markUs = Microseconds();
    PostMessageW(HWND(std::stoull(Lines(s, a[1])[2][3], nullptr, 16)), WM_KEYDOWN, 0, 0);
    WaitForSingleObject(spawned[a[1]].hProcess, kLong);
    Figure(a[2], SinceMark());
  };
  // SAVER NAME: the spawned saver's first window, since the mark.
  verbs["firstshown"] = [](Scenario& s, const Args& a) {
    Eventually([&] { return Lines(s, a[1]).size() > 2; }, "the reference saver showed nothing", kLong);
    Figure(a[2], double(std::stoull(Lines(s, a[1])[2][2]) - markUs) / 1000);
  };
  // NAME: from the cover's restore to the saver's next frame.
  verbs["uncover"] = [](Scenario& s, const Args& a) {
    const std::wstring before = s.Heartbeat();
    markUs = Microseconds();
    ShowWindow(s.cover, SW_RESTORE);
    Eventually([&] { return s.Heartbeat() != before; }, "the saver did not draw again", kLong);
    Figure(a[1], SinceMark());
  };
  // NAME [names]: the bare search, or with each name read as the dialog must.
  verbs["enumerate"] = [](Scenario&, const Args& a) {
    const std::wstring system = SystemDir();
    markUs = Microseconds();
    ForEachFile(system + L"\\*.scr", [&](const WIN32_FIND_DATAW& found) {
      if (a.size() < 3) return;
      const std::wstring path = system + L"\\" + found.cFileName;
      HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
      const wchar_t* text = nullptr;
      if (module) LoadStringW(module, 1, LPWSTR(&text), 0);
      if (module) FreeLibrary(module);
    });
    Figure(a[1], SinceMark());
  };
  // NAME [REFERENCE]: CPU ms and context switches so far: Orvane's, the reference's, the wineserver's.
  verbs["usage"] = [](Scenario&, const Args& a) {
    const std::map<std::string, std::string> parts{{"orvane", "orvane-" + std::to_string(GetCurrentProcessId())},
                                                   {"reference", a[2]},
                                                   {"wineserver", "wineserver"}};
    for (const auto& [name, part] : parts) {
      if (part.empty()) continue;
      const std::pair<double, double> usage = UnixUsage(part);
      Figure(a[1] + "-cpu-" + name, usage.first);
      Figure(a[1] + "-switches-" + name, usage.second);
    }
  };
  verbs["memory"] = [](Scenario& s, const Args&) {
    for (const auto& [name, process] :
         std::map<std::string, HANDLE>{{"orvane", s.orvane.hProcess}, {"reference", spawned["fxnowin"].hProcess}}) {
      PROCESS_MEMORY_COUNTERS counters{sizeof(counters)};
      GetProcessMemoryInfo(process, &counters, sizeof(counters));
      Figure("private-" + name, double(counters.PagefileUsage) / 1024);
      Figure("working-set-" + name, double(counters.WorkingSetSize) / 1024);
    }
  };
}

const Row kRows[] = {
    // The saver alone, then Orvane starting it and ending with it; the savers log their start and end with the same
    // clock, so both split into what Orvane does before the saver runs, the saver's own start, and the hosting.
    {"perf-start", L"--arranged", L"fxplain fxref", L"fxplain",
     "usage alone-before; mark; spawn fxref /s; firstshown fxref saver-first-window; logged saver-started fxref start; "
     "pump 1000; quit fxref saver-exit; logged saver-exit-logged fxref exit; usage alone-after; spawn; mark; start; "
     "wall fxplain; figure start fxplain; logged start-saver-started fxplain start; "
     "figure start-saver-window fxplain top; usage start; pick q; mark; gone exit; "
     "logged exit-saver-ended fxplain exit; mark"},
    {"perf-switch", L"--arranged", L"fxplain fxalt:Alt", L"fxplain",
     "start; wall fxplain; dialog; select Alt~Saver; pump 1500; usage before; mark; press ok; wall fxalt; "
     "figure switch fxalt; usage after; pick q; exits"},
    {"perf-dialog", L"--arranged", L"fxplain", nullptr,
     "install 500; enumerate enumeration; enumerate names-warm names; enumerate names-floor names; start; "
     "opendialog dialog-first; press cancel; nodialog; opendialog dialog-second; pick q; exits"},
    // Idle beside a process that only waits for messages, and one with an empty 500 ms timer; covered, the look at
    // the desktop and the paused saver's rounds; with the display off as well, the rounds alone (no look then).
    {"perf-idle-and-pause", L"--arranged", L"fxplain fxnowin", L"fxplain",
     "spawn fxnowin /s; spawn --timer; start; wall fxplain; pump 3000; usage idle-start fxnowin; "
     "usage idle-timer --timer; usage shown fxplain.scr; pump 60000; usage idle-end fxnowin; "
     "usage idle-timer-end --timer; usage shown-end fxplain.scr; memory; cover max; beat 0; usage covered --timer; "
     "usage saver-covered fxplain.scr; pump 60000; usage covered-end --timer; usage saver-covered-end fxplain.scr; "
     "power display 0; usage dark; pump 60000; usage dark-end; power display 1; beat 0; uncover uncover-to-frame"},
    // Paused savers: what they cost beside what they cost running, and how soon they answer.
    {"perf-pause-spin", L"--arranged", L"fxspin", L"fxspin",
     "start; wall fxspin; pump 2000; usage spin-run fxspin.scr; pump 10000; usage spin-run-end fxspin.scr; "
     "cover max; pump 1000; usage spin-paused fxspin.scr; pump 10000; usage spin-paused-end fxspin.scr; "
     "answer paused-answer 20; broadcast broadcast-plain plain; broadcast broadcast-hung hung; pick q; exits"},
    {"perf-pause-busy", L"--arranged", L"fxbusy", L"fxbusy",
     "start; wall fxbusy; pump 2000; usage busy-run fxbusy.scr; pump 10000; usage busy-run-end fxbusy.scr; "
     "cover max; pump 1000; usage busy-paused fxbusy.scr; pump 10000; usage busy-paused-end fxbusy.scr; pick q; "
     "exits"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && argv[1] == std::string("--timer")) {
    SetTimer(nullptr, 0, 500, nullptr);
    for (MSG msg; GetMessageW(&msg, nullptr, 0, 0) > 0;) DispatchMessageW(&msg);
    return 0;
  }
  AddVerbs();
  const int status = PlayRow(kRows, argc, argv);
  for (auto& [name, process] : spawned) End(process);
  return status;
}
