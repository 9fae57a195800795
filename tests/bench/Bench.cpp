// Benchmark rows for tools/perf, played by the scenario engine with verbs of their own: each prints
// "figure NAME VALUE" lines, every figure beside a reference measured in the same run. They measure; they
// pass or fail nothing but their own set-up.
#include <windows.h>

#include <psapi.h>

#include "Engine.h"

namespace {

PROCESS_INFORMATION spawned{};
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
  verbs["mark"] = [](Scenario&, const Args&) { markUs = Microseconds(); };
  // NAME: ms since the mark; NAME SAVER: until its newest wallpaper showed in the host.
  verbs["figure"] = [](Scenario& s, const Args& a) {
    if (a.size() == 2) return Figure(a[1], SinceMark());
    for (const Words& line : Lines(s, a[2])) {
      if (line.size() > 5 && line[0] == s.Starts(a[2], "/s").back() && line[1] == "shown" && line[5] != "0") {
        return Figure(a[1], double(std::stoull(line[2]) - markUs) / 1000);
      }
    }
  };
  // From Settings picked until the dialog is visible, looked for every millisecond when the foreground changed.
  verbs["opendialog"] = [](Scenario& s, const Args& a) {
    s.Pick('s');
    markUs = Microseconds();
    pollMs = 1;
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
  // SAVER MODE: a reference program beside Orvane, the saver alone; no arguments: end it.
  verbs["spawn"] = [](Scenario&, const Args& a) {
    End(spawned);
    if (a.size() > 1) spawned = Launch(SystemDir() + L"\\" + Widen(a[1]) + L".scr", Widen(a[2]), nullptr);
  };
  // SAVER NAME: the spawned saver's own exit on a key.
  verbs["quit"] = [](Scenario& s, const Args& a) {
    markUs = Microseconds();
    PostMessageW(HWND(std::stoull(Lines(s, a[1])[2][3], nullptr, 16)), WM_KEYDOWN, 0, 0);
    WaitForSingleObject(spawned.hProcess, kLong);
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
         std::map<std::string, HANDLE>{{"orvane", s.orvane.hProcess}, {"reference", spawned.hProcess}}) {
      PROCESS_MEMORY_COUNTERS counters{sizeof(counters)};
      GetProcessMemoryInfo(process, &counters, sizeof(counters));
      Figure("private-" + name, double(counters.PagefileUsage) / 1024);
      Figure("working-set-" + name, double(counters.WorkingSetSize) / 1024);
    }
  };
}

const Row kRows[] = {
    {"perf-start", L"--arranged", L"fxplain fxref", L"fxplain",
     "usage alone-before; mark; spawn fxref /s; firstshown fxref saver-first-window; pump 1000; "
     "quit fxref saver-exit; usage alone-after; spawn; mark; start; wall fxplain; figure start fxplain; usage start; "
     "mark; pick q; exits; figure exit"},
    {"perf-switch", L"--arranged", L"fxplain fxalt:Alt", L"fxplain",
     "start; wall fxplain; dialog; select Alt~Saver; pump 1500; usage before; mark; press ok; wall fxalt; "
     "figure switch fxalt; usage after; pick q; exits"},
    {"perf-dialog", L"--arranged", L"fxplain", nullptr,
     "install 500; enumerate enumeration; enumerate names-warm names; enumerate names-floor names; start; "
     "opendialog dialog-first; press cancel; nodialog; opendialog dialog-second; pick q; exits"},
    {"perf-idle-and-pause", L"--arranged", L"fxplain fxnowin", L"fxplain",
     "spawn fxnowin /s; start; wall fxplain; pump 3000; usage idle-start fxnowin; usage shown fxplain.scr; "
     "pump 60000; usage idle-end fxnowin; usage shown-end fxplain.scr; memory; cover max; beat 0; "
     "usage covered fxnowin; usage saver-covered fxplain.scr; pump 30000; usage covered-end fxnowin; "
     "usage saver-covered-end fxplain.scr; uncover uncover-to-frame"},
    {"perf-pause-answers", L"--arranged", L"fxplain fxbusy fxspin", L"fxplain",
     "start; wall fxplain; cover max; beat 0; pump 6000; beat 0; broadcast broadcast-plain plain; "
     "broadcast broadcast-hung hung; answer paused-answer 20; pick q; exits"},
    {"perf-pause-answers-busy", L"--arranged", L"fxbusy", L"fxbusy",
     "start; wall fxbusy; cover max; pump 6000; broadcast broadcast-plain plain; "
     "broadcast broadcast-hung hung; answer paused-answer 20; pick q; exits"},
    {"perf-pause-answers-spin", L"--arranged", L"fxspin", L"fxspin",
     "start; wall fxspin; cover max; pump 6000; broadcast broadcast-plain plain; "
     "broadcast broadcast-hung hung; answer paused-answer 20; pick q; exits"},
    {"perf-pause-cpu", L"--arranged", L"fxspin", L"fxspin",
     "start; wall fxspin; pump 2000; usage run fxspin.scr; pump 10000; usage run-end fxspin.scr; cover max; "
     "pump 1000; usage paused fxspin.scr; pump 10000; usage paused-end fxspin.scr; pick q; exits"},
    {"perf-pause-cpu-busy", L"--arranged", L"fxbusy", L"fxbusy",
     "start; wall fxbusy; pump 2000; usage run fxbusy.scr; pump 10000; usage run-end fxbusy.scr; cover max; "
     "pump 1000; usage paused fxbusy.scr; pump 10000; usage paused-end fxbusy.scr; pick q; exits"},
};

}  // namespace

int main(int argc, char** argv) {
  AddVerbs();
  const int status = PlayRow(kRows, argc, argv);
  End(spawned);
  return status;
}
