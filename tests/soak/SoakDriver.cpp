// Soak and fault driver: runs the real Orvane.exe for many cycles and against faulty savers, a faulty shell
// and power cuts during a save, and checks that nothing is lost, nothing hangs and nothing is left running.
//   SoakDriver [--short] [cycles] [savers] [shell] [powercut]
// Without section names every section runs. --short runs about a tenth of the cycles. Prints figures and
// ends with a non-zero code when an invariant failed.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "FixtureProtocol.h"
#include "common/Bench.h"
#include "system/support/OrvaneRun.h"
#include "system/support/SaverWatch.h"

using namespace bench;

namespace {

constexpr wchar_t kPlain[] = L"fxplain";    // "Fixture Saver"
constexpr wchar_t kOther[] = L"fxplain_alt";  // "Alt Saver"; faulty savers are installed under that display name
constexpr int kOtherIndex = 1;              // list order: "<なし>", "Alt Saver", "Fixture Saver"
constexpr int kPlainIndex = 2;
constexpr int kPreview = 101;
constexpr int kList = 102;
constexpr int kConfigure = 103;
constexpr int kApply = 104;
constexpr wchar_t kConfigClass[] = L"OrvaneFixtureConfig";
constexpr wchar_t kAdoptionFailed[] = L"スクリーン セーバーを壁紙化できません。";

// The longest time the UI thread may be blocked by design: a launch waits 10 s for a window, 10 s for the
// saver to go idle and 10 s for the adoption to complete, after up to 3 s for the old saver to stop.
constexpr DWORD kAnswerBoundMs = 35000;
// While Progman hangs, one recovery attempt sends it two messages of 1000 ms time-out each.
constexpr DWORD kHungShellAnswerBoundMs = 5000;
// Orvane's handle count may differ this much between two quiet moments (thread-pool and wait threads
// come and go); a leak of one handle per cycle would exceed it after a few cycles.
constexpr long kHandleSlack = 12;
constexpr std::uint32_t kSeed = 0x50A4C0DEu;

int g_checks = 0;
int g_failed = 0;

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  }
  return out;
}

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::fflush(stdout);
}

bool Check(bool ok, const std::string& what) {
  ++g_checks;
  if (!ok) {
    ++g_failed;
    Say("FAIL: %s", what.c_str());
  }
  return ok;
}

struct Timing {
  const char* name;
  int count = 0;
  ULONGLONG total = 0;
  ULONGLONG worst = 0;
  explicit Timing(const char* label) : name(label) {}
  void Add(ULONGLONG ms) {
    ++count;
    total += ms;
    worst = std::max(worst, ms);
  }
  void Print() const {
    if (count == 0) return;
    Say("  figure: %s: %d cycles, %llu ms per cycle on average, %llu ms at most", name, count,
        static_cast<unsigned long long>(total / static_cast<ULONGLONG>(count)), static_cast<unsigned long long>(worst));
  }
};

bool FixedMessage(const std::wstring& text) {
  // Messages shown alone, and the start of those that carry a system text after a line feed.
  static const wchar_t* const kAlone[] = {kAdoptionFailed, L"タスク バーの通知領域にアイコンを登録できません。"};
  static const wchar_t* const kWithCode[] = {
      L"スクリーン セーバーを起動できません。",       L"設定ファイルの書き込みでエラーが発生しました。",
      L"設定ファイルの読み込みでエラーが発生しました。", L"親ウィンドウを作成できません。",
      L"スクリーン セーバーの一覧を取得できません。",     L"作業用ウィンドウを作成できません。"};
  for (const wchar_t* message : kAlone) {
    if (text == message) return true;
  }
  for (const wchar_t* message : kWithCode) {
    if (text.rfind(std::wstring(message) + L"\n", 0) == 0) return true;
  }
  return false;
}

// Closes every message box of the program, checking each text; returns the texts in order.
std::vector<std::wstring> CloseBoxes(OrvaneRun& run, const std::string& what) {
  std::vector<std::wstring> texts;
  for (int i = 0; i < 10; ++i) {
    HWND box = run.MessageBox();
    if (!box) break;
    const std::wstring text = run.MessageBoxText(box);
    texts.push_back(text);
    Check(FixedMessage(text), what + ": message box with a fixed text, not \"" + Utf8(text) + "\"");
    run.CloseMessageBox(box);
    WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 10000);
  }
  return texts;
}

// Milliseconds until the UI thread answered WM_NULL, or -1 when it did not within the bound.
long AnswerMs(HWND window, DWORD boundMs) {
  const ULONGLONG start = GetTickCount64();
  DWORD_PTR result = 0;
  if (!window || !SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, boundMs, &result)) return -1;
  return static_cast<long>(GetTickCount64() - start);
}

bool CheckAnswers(OrvaneRun& run, DWORD boundMs, const std::string& what) {
  const long ms = AnswerMs(run.MainWindow(), boundMs);
  Say("  figure: %s: answered WM_NULL after %ld ms (bound %lu ms)", what.c_str(), ms,
      static_cast<unsigned long>(boundMs));
  return Check(ms >= 0, what + ": Orvane answers WM_NULL within " + std::to_string(boundMs) + " ms");
}

std::optional<std::wstring> DecodeSettings(const std::wstring& path) {
  const std::vector<unsigned char> bytes = ReadFileBytes(path);
  if (bytes.size() < 8 || bytes[0] != 0x2A || bytes[1] != 0xAA) return std::nullopt;
  const size_t length = bytes[6] | (bytes[7] << 8);
  if (bytes.size() != 8 + 2 * length) return std::nullopt;
  std::wstring name;
  for (size_t i = 0; i < length; ++i) name += static_cast<wchar_t>(bytes[8 + 2 * i] | (bytes[9 + 2 * i] << 8));
  return name;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SameName(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = L"";
  GetClassNameW(hwnd, name, 256);
  return name;
}

// Hosts of that process anywhere below a top-level window (the host lives in the shell's layer).
int HostCount(DWORD processId) {
  int count = 0;
  HWND top = nullptr;
  while ((top = FindWindowExW(nullptr, top, nullptr, nullptr)) != nullptr) {
    HWND host = nullptr;
    while ((host = FindWindowExW(top, host, kHostClass, nullptr)) != nullptr) {
      if (WindowProcess(host) == processId) ++count;
    }
  }
  return count;
}

std::vector<std::wstring> TopLevelClasses(DWORD processId) {
  std::vector<std::wstring> classes;
  for (HWND hwnd : WindowsOfProcess(processId, true)) classes.push_back(ClassOf(hwnd));
  std::sort(classes.begin(), classes.end());
  return classes;
}

std::string Join(const std::vector<std::wstring>& items) {
  std::string out;
  for (const std::wstring& item : items) out += (out.empty() ? "" : " ") + Utf8(item);
  return out;
}

// Top-level saver windows left visible outside the host.
int StraySaverWindows() {
  int count = 0;
  for (DWORD process : SaverProcessIds()) {
    for (HWND hwnd : WindowsOfProcess(process, true)) {
      if (IsWindowVisible(hwnd) && ClassOf(hwnd) != kConfigClass) ++count;
    }
  }
  return count;
}

// Everything about Orvane's process that a leak would show in.
struct Resources {
  unsigned handles = 0;
  DWORD gdi = 0;
  DWORD user = 0;
  std::vector<std::wstring> topLevel;
  size_t windows = 0;
  int hosts = 0;
};

Resources Measure(OrvaneRun& run) {
  Resources r;
  const DWORD id = run.Proc().Id();
  // Quiet first: the count must hold still for a second.
  unsigned last = HandleCountOf(id);
  for (int i = 0, same = 0; i < 20 && same < 2; ++i) {
    PumpFor(500);
    const unsigned now = HandleCountOf(id);
    same = now == last ? same + 1 : 0;
    last = now;
  }
  r.handles = last;
  r.gdi = GetGuiResources(run.Proc().Handle(), GR_GDIOBJECTS);
  r.user = GetGuiResources(run.Proc().Handle(), GR_USEROBJECTS);
  r.topLevel = TopLevelClasses(id);
  r.windows = WindowsOfProcess(id, false).size();
  r.hosts = HostCount(id);
  return r;
}

void PrintResources(const char* when, const Resources& r) {
  Say("  figure: %s: %u handles, GDI %lu, USER %lu, %zu windows (top level: %s), %d host(s)", when, r.handles,
      static_cast<unsigned long>(r.gdi), static_cast<unsigned long>(r.user), r.windows, Join(r.topLevel).c_str(),
      r.hosts);
}

// Whether GetGuiResources answers at all here: this process certainly holds GDI and USER objects.
bool GuiCountsWork() {
  HDC dc = CreateCompatibleDC(nullptr);
  SetLastError(0);
  const DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  const DWORD error = GetLastError();
  const DWORD user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  DeleteDC(dc);
  if (gdi == 0 && user == 0) {
    Say("  note: GetGuiResources answers 0 for this very process (error %lu): not implemented by this Wine; the "
        "GDI/USER comparison is left out and Orvane's windows are counted instead",
        static_cast<unsigned long>(error));
    return false;
  }
  return true;
}

// One Orvane beside the simulated shell and a set of fixture savers, all ended when it goes.
struct Session {
  FixtureLog log;
  FakeShell shell;
  OrvaneRun run;
  HWND dialog = nullptr;

  Session(const std::vector<std::pair<std::wstring, std::wstring>>& savers, const std::wstring& configured,
          const std::wstring& shellOptions = L"--arranged", bool start = true)
      : shell(shellOptions), run(configured) {
    InstallSavers(savers);
    if (start && shell.Ready()) run.Start();
  }

  bool Ready() { return shell.Ready() && run.WaitReady(); }
  int Starts(const wchar_t* saver) const { return CountStarts(log, saver, "/s"); }
  DWORD Hosted() const { return HostedSaverProcess(run); }
  // The host shows the window of that saver's latest "/s" start, its n-th.
  bool WaitHosted(const wchar_t* saver, int starts, DWORD timeoutMs = 30000) const {
    return WaitWallpaperStart(run, log, saver, starts, timeoutMs);
  }

  bool Open() {
    if (!run.PickMenuItem(L's')) return false;
    return WaitFor([this] { return (dialog = run.SettingsDialog()) != nullptr; }, 20000);
  }
  HWND Item(int id) const { return GetDlgItem(dialog, id); }
  void Select(int index) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(Item(kList), CB_SETCURSEL, static_cast<WPARAM>(index), 0, SMTO_NORMAL, 20000, &result);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kList, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(kList)));
  }
  void Press(int id) const {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
  }
  DWORD PreviewProcess() const {
    const std::vector<HWND> children = ChildWindows(Item(kPreview));
    return children.empty() ? 0 : WindowProcess(children.front());
  }
  // A preview of that saver other than the given process.
  DWORD WaitPreview(const wchar_t* saver, DWORD other = 0, DWORD timeoutMs = 20000) const {
    DWORD found = 0;
    WaitFor(
        [&] {
          const DWORD process = PreviewProcess();
          if (process != 0 && process != other && SameName(SaverNameOfProcess(process), saver)) found = process;
          return found != 0;
        },
        timeoutMs);
    return found;
  }
  bool Cancel() {
    Press(IDCANCEL);
    return WaitFor([this] { return !IsWindow(dialog); }, 20000);
  }
  // Picks the entry and applies it; true once the new wallpaper is hosted and the choice is saved.
  bool Apply(int index, const wchar_t* saver) {
    const int starts = Starts(saver);
    const DWORD old = PreviewProcess();
    Select(index);
    if (!WaitPreview(saver, old)) return false;
    Press(kApply);
    return WaitHosted(saver, starts + 1) &&
           WaitFor([this] { return !IsWindowEnabled(Item(kApply)) && IsWindowVisible(dialog); }, 20000);
  }

  // Exits through the tray menu and checks the end: code 0, no saver left, the wallpaper repaint asked for.
  void ExitAndCheck(const std::string& what, bool progmanAlive = true) {
    if (!run.Proc().Running()) return;
    CloseBoxes(run, what);
    const int repaints = progmanAlive ? shell.CountSysColor() : 0;
    const ULONGLONG start = GetTickCount64();
    Check(run.ExitThroughMenu(kAnswerBoundMs), what + ": exits through the tray menu");
    Say("  figure: %s: exit took %llu ms", what.c_str(), static_cast<unsigned long long>(GetTickCount64() - start));
    Check(run.Proc().ExitCode() == 0, what + ": exit code 0");
    Check(WaitFor([] { return SaverProcessIds().empty(); }, 5000),
          what + ": no saver process left after the exit (" + std::to_string(SaverProcessIds().size()) + " left)");
    if (progmanAlive) {
      Check(WaitFor([&] { return shell.CountSysColor() == repaints + 1; }, 5000),
            what + ": WM_SYSCOLORCHANGE sent to Progman once at the exit");
    }
  }
};

std::vector<std::pair<std::wstring, std::wstring>> TwoSavers(const std::wstring& other = kOther) {
  return {{kPlain, L"FixtureSaver.exe"}, {other, L"FixtureSaverAlt.exe"}};
}

struct Counts {
  int switches;
  int losses;
  int displays;
  int dialogs;
  int cuts;
};

// ---- 1. Soak ----

bool ConfigRun(Session& s, const std::string& what) {
  s.Press(kConfigure);
  HWND config = nullptr;
  if (!Check(WaitFor([&] { return (config = FindWindowW(kConfigClass, nullptr)) != nullptr; }, 20000),
             what + ": the configuration window opens")) {
    return false;
  }
  const DWORD process = WindowProcess(config);
  PostMessageW(config, WM_COMMAND, IDOK, 0);
  return Check(WaitFor([&] { return !ProcessAlive(process); }, 20000), what + ": the configuration run ends");
}

// Opens the dialog, runs a configuration (of the other saver, or on odd rounds of the wallpaper saver itself),
// waits until everything it stopped is back, and closes the dialog.
bool DialogCycle(Session& s, int round, const wchar_t* current, const std::string& what) {
  const wchar_t* other = current == kPlain ? kOther : kPlain;
  bool ok = Check(s.Open() && s.WaitPreview(current) != 0, what + ": opens with the preview");
  if (ok && round % 2 == 0) {
    const DWORD wallpaper = s.Hosted();
    s.Select(other == kPlain ? kPlainIndex : kOtherIndex);
    ok = Check(s.WaitPreview(other) != 0, what + ": preview of the other saver") && ConfigRun(s, what) &&
         Check(s.WaitPreview(other) != 0 && s.Hosted() == wallpaper, what + ": the preview comes back");
  } else if (ok) {
    const int starts = s.Starts(current);
    ok = ConfigRun(s, what) && Check(s.WaitHosted(current, starts + 1) && s.WaitPreview(current) != 0,
                                     what + ": wallpaper and preview come back");
  }
  return ok && Check(s.Cancel() && WaitFor([] { return SaverProcessIds().size() == 1; }, 10000),
                     what + ": closes, its preview ends");
}

void SoakCycles(const Counts& n) {
  Say("== soak: %d switches, %d layer losses, %d display changes, %d dialog cycles", n.switches, n.losses, n.displays,
      n.dialogs);
  Session s(TwoSavers(), kPlain);
  if (!Check(s.Ready() && s.WaitHosted(kPlain, 1), "soak: Orvane starts with its wallpaper")) return;
  const bool guiCounts = GuiCountsWork();
  const wchar_t* current = kPlain;
  auto other = [&] { return current == kPlain ? kOther : kPlain; };
  auto indexOf = [](const wchar_t* saver) { return saver == kPlain ? kPlainIndex : kOtherIndex; };

  // One round of everything first: what a first use allocates for good belongs in the baseline.
  bool ok = s.Open() && s.WaitPreview(kPlain) && s.Apply(kOtherIndex, kOther) && s.Apply(kPlainIndex, kPlain) &&
            s.Cancel() && DialogCycle(s, 0, current, "soak: warm-up") && DialogCycle(s, 1, current, "soak: warm-up");
  if (!Check(ok, "soak: warm-up round")) return;
  Resources before = Measure(s.run);
  PrintResources("soak before", before);

  Timing switching("switch through the dialog");
  ok = Check(s.Open(), "soak: the dialog opens");
  for (int i = 0; ok && i < n.switches; ++i) {
    const ULONGLONG start = GetTickCount64();
    const wchar_t* target = other();
    ok = Check(s.Apply(indexOf(target), target), "soak: switch " + std::to_string(i + 1) + " to " + Utf8(target));
    switching.Add(GetTickCount64() - start);
    if (ok) current = target;
    ok = ok && Check(DecodeSettings(s.run.SettingsPath()) == std::wstring(current),
                     "soak: TAVO.dat holds the applied choice after switch " + std::to_string(i + 1));
  }
  ok = ok && Check(s.Cancel(), "soak: the dialog closes");

  Timing losses("layer lost and rebuilt");
  for (int i = 0; ok && i < n.losses; ++i) {
    const ULONGLONG start = GetTickCount64();
    const HWND oldHost = s.run.Host();
    const DWORD oldSaver = s.Hosted();
    const int starts = s.Starts(current);
    s.shell.Command(kShellDestroyLayer);
    s.shell.Command(kShellBuildLayer);
    ok = Check(s.WaitHosted(current, starts + 1) && s.run.Host() != oldHost &&
                   GetParent(s.run.Host()) == s.shell.Layer() && WaitFor([&] { return !ProcessAlive(oldSaver); }, 5000),
               "soak: recovery " + std::to_string(i + 1));
    losses.Add(GetTickCount64() - start);
  }

  Timing displays("display change");
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  for (int i = 0; ok && i < n.displays; ++i) {
    const ULONGLONG start = GetTickCount64();
    const int w = i % 2 == 0 ? width - 80 : width;
    const int h = i % 2 == 0 ? height - 64 : height;
    const int starts = s.Starts(current);
    s.shell.Command(kShellResizeLayer, static_cast<WPARAM>(w), h);
    PostDisplayChange(s.run.MainWindow(), w, h);
    ok = Check(s.WaitHosted(current, starts + 1) && WaitFor(
                                                        [&] {
                                                          RECT rect{};
                                                          GetClientRect(s.run.Host(), &rect);
                                                          return rect.right == w && rect.bottom == h;
                                                        },
                                                        10000),
               "soak: display change " + std::to_string(i + 1) + " restarts the saver at the new size");
    displays.Add(GetTickCount64() - start);
  }
  // Past the second size check of the last change, which must find nothing to do.
  const int startsAfterDisplays = s.Starts(current);
  PumpFor(3500);
  ok = ok && Check(s.Starts(current) == startsAfterDisplays, "soak: the second size check restarts nothing");

  Timing dialogs("dialog open/close with preview and configuration run");
  for (int i = 0; ok && i < n.dialogs; ++i) {
    const ULONGLONG start = GetTickCount64();
    ok = DialogCycle(s, i, current, "soak: dialog cycle " + std::to_string(i + 1));
    dialogs.Add(GetTickCount64() - start);
  }
  if (!ok) {
    CloseBoxes(s.run, "soak");
    return;
  }

  const Resources after = Measure(s.run);
  PrintResources("soak after", after);
  for (const Timing* timing : {&switching, &losses, &displays, &dialogs}) timing->Print();
  const long handleDelta = static_cast<long>(after.handles) - static_cast<long>(before.handles);
  Check(handleDelta <= kHandleSlack && handleDelta >= -kHandleSlack,
        "soak: Orvane's handles back at the start (" + std::to_string(before.handles) + " -> " +
            std::to_string(after.handles) + ", tolerance " + std::to_string(kHandleSlack) + ")");
  if (guiCounts) {
    Check(after.gdi <= before.gdi + 4 && after.user <= before.user + 4, "soak: GDI and USER objects back at the start");
  }
  Check(after.topLevel == before.topLevel && after.windows == before.windows,
        "soak: no window of Orvane left over (before " + std::to_string(before.windows) + ": " +
            Join(before.topLevel) + "; after " + std::to_string(after.windows) + ": " + Join(after.topLevel) + ")");
  Check(after.hosts == 1, "soak: exactly one host");
  const DWORD hosted = s.Hosted();
  bool hostedOnly = hosted != 0;
  for (HWND child : s.run.HostChildren()) hostedOnly = hostedOnly && WindowProcess(child) == hosted;
  Check(hostedOnly, "soak: the host holds only the current saver's windows");
  const std::vector<DWORD> savers = SaverProcessIds();
  Say("  figure: soak: %zu saver process(es) running at the end, %d stray saver window(s)", savers.size(),
      StraySaverWindows());
  Check(savers.size() == 1 && savers[0] == hosted, "soak: no saver process left but the wallpaper");
  Check(StraySaverWindows() == 0, "soak: no saver window outside the host");
  Check(DecodeSettings(s.run.SettingsPath()) == std::wstring(current), "soak: TAVO.dat holds the last applied choice");
  Check(!FileExists(s.run.SettingsPath() + L".new"), "soak: no TAVO.dat.new left");
  Check(s.run.MessageBox() == nullptr, "soak: no message box");
  s.ExitAndCheck("soak");
}

// ---- 2. Faulty savers ----

void SaverCrashAtStart() {
  const std::string what = "fxcrash (crash at start)";
  Session s(TwoSavers(L"fxcrash"), L"fxcrash");
  if (!Check(s.Ready(), what + ": Orvane starts")) return;
  HWND box = nullptr;
  const ULONGLONG start = GetTickCount64();
  Check(WaitFor([&] { return (box = s.run.MessageBox()) != nullptr; }, kAnswerBoundMs),
        what + ": the failure is reported");
  Say("  figure: %s: reported after %llu ms", what.c_str(), static_cast<unsigned long long>(GetTickCount64() - start));
  if (box) Check(s.run.MessageBoxText(box) == kAdoptionFailed, what + ": with the adoption message");
  CheckAnswers(s.run, kAnswerBoundMs, what + " (box open)");
  CloseBoxes(s.run, what);
  Check(s.run.Host() != nullptr && s.run.HostChildren().empty(), what + ": the host stays, empty");
  s.ExitAndCheck(what);
}

void SaverCrashAfterAdoption() {
  const std::string what = "fxcrashlater (crash after adoption)";
  Session s(TwoSavers(L"fxcrashlater"), L"fxcrashlater");
  if (!Check(s.Ready() && s.WaitHosted(L"fxcrashlater", 1), what + ": adopted")) return;
  const DWORD saver = s.Hosted();
  Check(WaitFor([&] { return !ProcessAlive(saver); }, 15000), what + ": the saver crashed");
  PumpFor(2000);
  CheckAnswers(s.run, kAnswerBoundMs, what);
  Check(s.run.MessageBox() == nullptr, what + ": nothing reported (a crash sends no notification)");
  Say("  note: %s: the host stays with %zu child window(s); Orvane does not watch the wallpaper process", what.c_str(),
      s.run.HostChildren().size());
  // The dead saver is replaced through the dialog as any other.
  Check(s.Open() && s.Apply(kPlainIndex, kPlain), what + ": another saver can be applied afterwards");
  Check(DecodeSettings(s.run.SettingsPath()) == std::wstring(kPlain), what + ": and is saved");
  s.Cancel();
  s.ExitAndCheck(what);
}

void SaverNeverIdle() {
  const std::string what = "fxbusy (never idle)";
  Session s(TwoSavers(L"fxbusy"), L"fxbusy");
  if (!Check(s.Ready(), what + ": Orvane starts")) return;
  HWND box = nullptr;
  const ULONGLONG start = GetTickCount64();
  Check(WaitFor([&] { return (box = s.run.MessageBox()) != nullptr; }, kAnswerBoundMs + 5000),
        what + ": the failure is reported within the bounded waits");
  Say("  figure: %s: reported after %llu ms", what.c_str(), static_cast<unsigned long long>(GetTickCount64() - start));
  if (box) Check(s.run.MessageBoxText(box) == kAdoptionFailed, what + ": with the adoption message");
  Check(SaverProcessIds(L"fxbusy").empty(), what + ": the busy saver was ended");
  CheckAnswers(s.run, kAnswerBoundMs, what + " (box open)");
  CloseBoxes(s.run, what);
  s.ExitAndCheck(what);
}

void PreviewHangsOnClose() {
  const std::string what = "fxprevhang (preview ignores WM_CLOSE)";
  const wchar_t* hang = L"fxprevhang";
  Session s(TwoSavers(hang), kPlain);
  if (!Check(s.Ready() && s.WaitHosted(kPlain, 1) && s.Open(), what + ": dialog open")) return;
  s.Select(kOtherIndex);
  DWORD preview = s.WaitPreview(hang);
  if (!Check(preview != 0, what + ": its preview runs")) return;
  ULONGLONG start = GetTickCount64();
  s.Select(kPlainIndex);
  Check(s.WaitPreview(kPlain) != 0 && WaitFor([&] { return !ProcessAlive(preview); }, 10000),
        what + ": a selection change ends it anyway");
  Say("  figure: %s: replaced after %llu ms", what.c_str(), static_cast<unsigned long long>(GetTickCount64() - start));
  CheckAnswers(s.run, kAnswerBoundMs, what);

  s.Select(kOtherIndex);
  preview = s.WaitPreview(hang);
  start = GetTickCount64();
  Check(preview != 0 && s.Cancel() && WaitFor([&] { return !ProcessAlive(preview); }, 10000),
        what + ": closing the dialog ends it");
  Say("  figure: %s: dialog closed and preview ended after %llu ms", what.c_str(),
      static_cast<unsigned long long>(GetTickCount64() - start));

  Check(s.Open(), what + ": dialog open again");
  s.Select(kOtherIndex);
  Check(s.WaitPreview(hang) != 0, what + ": its preview runs again");
  // Exit with the hanging preview in the dialog.
  s.ExitAndCheck(what);
}

void SaverOpensAndExits() {
  const std::string what = "fxopenexit (opens a window and exits)";
  const wchar_t* saver = L"fxopenexit";
  Session s(TwoSavers(saver), saver);
  if (!Check(s.Ready(), what + ": Orvane starts")) return;
  // Its windows go before they settle: it is given the host in preview mode.
  const bool preview = WaitFor(
      [&] {
        const DWORD hosted = s.Hosted();
        return hosted != 0 && hosted == LastStart(s.log, saver, "/p");
      },
      40000);
  const std::vector<std::wstring> boxes = CloseBoxes(s.run, what);
  Say("  figure: %s: %d \"/s\" start(s), %d \"/p\" start(s), %zu message box(es)", what.c_str(),
      CountStarts(s.log, saver, "/s"), CountStarts(s.log, saver, "/p"), boxes.size());
  Check(preview, what + ": falls back to preview mode in the host");
  Check(preview && LastStart(s.log, saver, "/p") != 0 &&
            SaverStarts(s.log, saver).back().arguments ==
                "/p " + std::to_string(static_cast<unsigned>(reinterpret_cast<UINT_PTR>(s.run.Host()))),
        what + ": with \"/p <host>\"");
  CheckAnswers(s.run, kAnswerBoundMs, what);
  s.ExitAndCheck(what);
}

void SaverOpensDozens() {
  const std::string what = "fxmany (40 windows)";
  const wchar_t* saver = L"fxmany";
  Session s(TwoSavers(saver), saver);
  if (!Check(s.Ready() && s.WaitHosted(saver, 1), what + ": adopted")) return;
  const DWORD process = s.Hosted();
  Check(WaitFor(
            [&] {
              int shown = 0;
              for (HWND child : s.run.HostChildren()) {
                if (WindowProcess(child) == process && (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) ++shown;
              }
              return shown == 40;
            },
            10000),
        what + ": all 40 windows in the host");
  Check(StraySaverWindows() == 0, what + ": none left outside");
  CheckAnswers(s.run, kAnswerBoundMs, what);
  Check(s.Open() && s.Apply(kPlainIndex, kPlain) && WaitFor([&] { return !ProcessAlive(process); }, 10000),
        what + ": replaced by another saver, it ends");
  Check(s.run.HostChildren().size() == 1, what + ": the host holds only the new saver's window");
  s.Cancel();
  s.ExitAndCheck(what);
}

void ConfigurationNeverEnds() {
  const std::string what = "fxcfghang (configuration never ends)";
  const wchar_t* saver = L"fxcfghang";
  Session s(TwoSavers(saver), kPlain);
  if (!Check(s.Ready() && s.WaitHosted(kPlain, 1) && s.Open(), what + ": dialog open")) return;
  s.Select(kOtherIndex);
  Check(s.WaitPreview(saver) != 0, what + ": its preview runs");
  s.Press(kConfigure);
  HWND config = nullptr;
  if (!Check(WaitFor([&] { return (config = FindWindowW(kConfigClass, nullptr)) != nullptr; }, 20000),
             what + ": its configuration window opens")) {
    return;
  }
  const DWORD configProcess = WindowProcess(config);
  PumpFor(1000);
  CheckAnswers(s.run, kAnswerBoundMs, what);
  // A selection change lets go of the run; the dialog goes on.
  s.Select(kPlainIndex);
  Check(s.WaitPreview(kPlain) != 0, what + ": another selection previews at once");
  s.Select(kOtherIndex);
  Check(s.WaitPreview(saver) != 0, what + ": and back");
  // Exit with the dialog open: the shutdown asks the configuration window to close, bounded.
  const std::string exitWhat = what + ", exit with the dialog open";
  CloseBoxes(s.run, exitWhat);
  const ULONGLONG start = GetTickCount64();
  Check(s.run.ExitThroughMenu(kAnswerBoundMs), exitWhat + ": exits through the tray menu");
  Say("  figure: %s: exit took %llu ms", exitWhat.c_str(), static_cast<unsigned long long>(GetTickCount64() - start));
  const bool configAlive = ProcessAlive(configProcess);
  Check(WaitFor([&] {
          std::vector<DWORD> now = SaverProcessIds();
          now.erase(std::remove(now.begin(), now.end(), configProcess), now.end());
          return now.empty();
        }, 5000),
        exitWhat + ": no wallpaper or preview left");
  if (configAlive) {
    Say("  note: %s: the configuration process that ignores WM_CLOSE outlives Orvane; the program never ends a "
        "configuration run by design (it only asks its window to close at the exit)",
        exitWhat.c_str());
  }
  KillAllSavers();
}

void FaultySavers() {
  Say("== faulty savers");
  SaverCrashAtStart();
  SaverCrashAfterAdoption();
  SaverNeverIdle();
  PreviewHangsOnClose();
  SaverOpensAndExits();
  SaverOpensDozens();
  ConfigurationNeverEnds();
}

// ---- 3. Faulty shell ----

void ProgmanHangsDuringRecovery() {
  const std::string what = "Progman stops answering during a recovery";
  Session s(TwoSavers(), kPlain);
  if (!Check(s.Ready() && s.WaitHosted(kPlain, 1), what + ": wallpaper up")) return;
  const int builds = s.shell.Count052c();
  const ULONGLONG lost = GetTickCount64();
  s.shell.Command(kShellDestroyLayer);
  s.shell.Command(kShellHangProgman, 6000);
  long worst = 0;
  bool answered = true;
  while (GetTickCount64() - lost < 7000) {
    const long ms = AnswerMs(s.run.MainWindow(), kHungShellAnswerBoundMs);
    answered = answered && ms >= 0;
    worst = std::max(worst, ms);
    PumpFor(200);
  }
  Say("  figure: %s: slowest WM_NULL answer %ld ms while the shell hung (bound %lu ms)", what.c_str(), worst,
      static_cast<unsigned long>(kHungShellAnswerBoundMs));
  Check(answered, what + ": Orvane keeps answering; its sends give up after their time-out");
  // Awake again; make sure a layer exists whether or not the late requests built one.
  s.shell.Command(kShellBuildLayer);
  Check(s.WaitHosted(kPlain, 2, 25000) && GetParent(s.run.Host()) == s.shell.Layer(),
        what + ": the last recovery timer finds the layer and restarts the saver");
  Say("  figure: %s: recovered %llu ms after the loss; Progman got %d layer requests meanwhile", what.c_str(),
      static_cast<unsigned long long>(GetTickCount64() - lost), s.shell.Count052c() - builds);
  Check(SaverProcessIds().size() == 1 && HostCount(s.run.Proc().Id()) == 1, what + ": one saver, one host");
  s.ExitAndCheck(what);
}

void ProgmanHangsAtStart() {
  const std::string what = "Progman not answering at start, no layer";
  Session s(TwoSavers(), kPlain, L"", false);
  if (!Check(s.shell.Ready(), what + ": shell up")) return;
  s.shell.Command(kShellHangProgman, 5000);
  const ULONGLONG start = GetTickCount64();
  s.run.Start();
  Check(s.run.Proc().WaitExit(kAnswerBoundMs), what + ": Orvane gives up and exits");
  Say("  figure: %s: exited after %llu ms", what.c_str(), static_cast<unsigned long long>(GetTickCount64() - start));
  Check(s.run.Proc().ExitCode() == 0, what + ": exit code 0");
  Check(SaverProcessIds().empty(), what + ": no saver started");
  Check(WaitFor([&] { return s.shell.CountSysColor() == 1; }, 15000), what + ": WM_SYSCOLORCHANGE reaches Progman");
}

void LayerRebuiltTwice() {
  const std::string what = "layer rebuilt twice in a row";
  Session s(TwoSavers(), kPlain);
  if (!Check(s.Ready() && s.WaitHosted(kPlain, 1), what + ": wallpaper up")) return;
  for (int i = 0; i < 2; ++i) {
    s.shell.Command(kShellDestroyLayer);
    s.shell.Command(kShellBuildLayer);
  }
  Check(s.WaitHosted(kPlain, 2), what + " at once: recovered");
  PumpFor(11000);
  Check(s.Starts(kPlain) == 2 && HostCount(s.run.Proc().Id()) == 1 && SaverProcessIds().size() == 1,
        what + " at once: recovered once (" + std::to_string(s.Starts(kPlain)) + " starts)");
  // The second loss right after the first recovery.
  s.shell.Command(kShellDestroyLayer);
  s.shell.Command(kShellBuildLayer);
  Check(s.WaitHosted(kPlain, 3), what + ": first of two recovered");
  s.shell.Command(kShellDestroyLayer);
  s.shell.Command(kShellBuildLayer);
  Check(s.WaitHosted(kPlain, 4), what + ": second of two recovered");
  PumpFor(11000);
  Check(s.Starts(kPlain) == 4 && HostCount(s.run.Proc().Id()) == 1 && SaverProcessIds().size() == 1 &&
            s.Hosted() == SaverProcessIds()[0],
        what + ": one saver, one host, no more restarts");
  CheckAnswers(s.run, kAnswerBoundMs, what);
  s.ExitAndCheck(what);
}

void LayerLostDuringLaunch() {
  const std::string what = "layer lost during a wallpaper launch";
  Session s(TwoSavers(), kPlain);
  if (!Check(s.Ready() && s.WaitHosted(kPlain, 1), what + ": wallpaper up")) return;
  // A display change restarts the saver; the layer goes as soon as the new saver has started.
  const int w = GetSystemMetrics(SM_CXSCREEN) - 80;
  const int h = GetSystemMetrics(SM_CYSCREEN) - 64;
  s.shell.Command(kShellResizeLayer, static_cast<WPARAM>(w), h);
  PostDisplayChange(s.run.MainWindow(), w, h);
  Check(WaitFor([&] { return s.Starts(kPlain) == 2; }, 20000), what + ": the restart begins");
  s.shell.Command(kShellDestroyLayer);
  s.shell.Command(kShellBuildLayer);
  // Recovery at the latest by the last timer, ten seconds on; a message box holds it back until closed.
  auto settled = [&] {
    const DWORD hosted = s.Hosted();
    const std::vector<DWORD> savers = SaverProcessIds();
    return s.run.MessageBox() == nullptr && HostCount(s.run.Proc().Id()) == 1 && hosted != 0 &&
           savers.size() == 1 && savers[0] == hosted && StraySaverWindows() == 0;
  };
  WaitFor([&] { return settled() || s.run.MessageBox() != nullptr; }, 30000);
  PumpFor(2000);
  std::vector<std::wstring> boxes = CloseBoxes(s.run, what);
  const bool recovered = WaitFor(settled, 30000);
  for (const std::wstring& text : CloseBoxes(s.run, what)) boxes.push_back(text);
  const DWORD hosted = s.Hosted();
  const bool previewMode = hosted != 0 && hosted == LastStart(s.log, kPlain, "/p");
  Say("  figure: %s: %d \"/s\" starts, %d \"/p\" starts, %zu saver process(es), %d host(s), %d stray saver "
      "window(s), %zu box(es)%s%s",
      what.c_str(), s.Starts(kPlain), CountStarts(s.log, kPlain, "/p"), SaverProcessIds().size(),
      HostCount(s.run.Proc().Id()), StraySaverWindows(), boxes.size(), boxes.empty() ? "" : ": ",
      boxes.empty() ? "" : Utf8(boxes.front()).c_str());
  Check(recovered, what + ": recovers with one host holding the only saver process, no saver window outside it");
  // The host's loss is no failure of the saver: nothing is reported, and the recovery adopts it as before.
  Check(boxes.empty(), what + ": the loss of the layer is not reported as a failed saver");
  Check(!previewMode, what + ": the saver is not moved to preview mode by the loss of the layer");
  CheckAnswers(s.run, kAnswerBoundMs, what);
  s.ExitAndCheck(what);
}

void ProgmanGone() {
  const std::string what = "Progman gone entirely";
  Session s(TwoSavers(), kPlain);
  if (!Check(s.Ready() && s.WaitHosted(kPlain, 1), what + ": wallpaper up")) return;
  const ULONGLONG lost = GetTickCount64();
  s.shell.Command(kShellDestroyProgman);
  Check(s.run.Proc().WaitExit(30000), what + ": Orvane exits");
  const ULONGLONG after = GetTickCount64() - lost;
  Say("  figure: %s: exited %llu ms after the shell went", what.c_str(), static_cast<unsigned long long>(after));
  Check(after >= 9000, what + ": not before the last recovery timer");
  Check(s.run.Proc().ExitCode() == 0, what + ": exit code 0");
  Check(WaitFor([] { return SaverProcessIds().empty(); }, 5000), what + ": no saver left");
}

void FaultyShell() {
  Say("== faulty shell");
  ProgmanHangsDuringRecovery();
  ProgmanHangsAtStart();
  LayerRebuiltTwice();
  LayerLostDuringLaunch();
  ProgmanGone();
}

// ---- 5. Power cut during a save ----

void PowerCuts(int cuts) {
  Say("== power cut: %d kills during applies", cuts);
  Session s(TwoSavers(), kPlain, L"--arranged", false);
  std::mt19937 random(kSeed);
  std::wstring current = kPlain;
  int keptOld = 0;
  int tookNew = 0;
  int strays = 0;
  Timing timing("power-cut cycle");
  for (int i = 0; i < cuts; ++i) {
    const ULONGLONG start = GetTickCount64();
    const std::string what = "power cut " + std::to_string(i + 1);
    const wchar_t* now = current == kPlain ? kPlain : kOther;
    const int starts = s.Starts(now);
    s.run.Start();
    if (!Check(s.Ready() && s.WaitHosted(now, starts + 1) && s.run.MessageBox() == nullptr,
               what + ": Orvane starts on the saved choice without a message")) {
      break;
    }
    const wchar_t* target = current == kPlain ? kOther : kPlain;
    if (!Check(s.Open(), what + ": dialog open")) break;
    s.Select(target == kPlain ? kPlainIndex : kOtherIndex);
    if (!Check(s.WaitPreview(target) != 0, what + ": preview of the new choice")) break;
    s.Press(kApply);
    const ULONGLONG limit = GetTickCount64() + 20000;
    if (i % 3 == 0) {
      // Anywhere in the apply: stopping, launching, saving, or after.
      Sleep(std::uniform_int_distribution<DWORD>(0, 4000)(random));
    } else if (i % 3 == 1) {
      // Around the save: it follows the dialog's reappearance after the launch.
      while (IsWindowVisible(s.dialog) && GetTickCount64() < limit) Sleep(1);
      while (IsWindow(s.dialog) && !IsWindowVisible(s.dialog) && GetTickCount64() < limit) Sleep(1);
      Sleep(std::uniform_int_distribution<DWORD>(0, 300)(random));
    } else {
      // Inside the save: the new file exists until it replaces the old one.
      const std::wstring newFile = s.run.SettingsPath() + L".new";
      while (!FileExists(newFile) && GetTickCount64() < limit) continue;
    }
    TerminateProcess(s.run.Proc().Handle(), 1);
    s.run.Proc().WaitExit(10000);
    KillAllSavers();
    const std::optional<std::wstring> saved = DecodeSettings(s.run.SettingsPath());
    if (FileExists(s.run.SettingsPath() + L".new")) ++strays;
    if (!Check(saved == current || saved == std::wstring(target),
               what + ": TAVO.dat holds the old or the new choice, not \"" + Utf8(saved.value_or(L"<undecodable>")) +
                   "\"")) {
      break;
    }
    if (saved == current) {
      ++keptOld;
    } else {
      ++tookNew;
      current = target;
    }
    timing.Add(GetTickCount64() - start);
  }
  Say("  figure: power cut: %d kills, file kept the old choice %d times, held the new one %d times, %d stray "
      "TAVO.dat.new left behind",
      keptOld + tookNew, keptOld, tookNew, strays);
  timing.Print();
  // The next start and the next save work whatever was left behind.
  const wchar_t* now = current == kPlain ? kPlain : kOther;
  const int starts = s.Starts(now);
  s.run.Start();
  if (Check(s.Ready() && s.WaitHosted(now, starts + 1) && s.run.MessageBox() == nullptr,
            "power cut: the next start runs the saved choice")) {
    const wchar_t* target = current == kPlain ? kOther : kPlain;
    Check(s.Open() && s.Apply(target == kPlain ? kPlainIndex : kOtherIndex, target),
          "power cut: the next apply works");
    Check(DecodeSettings(s.run.SettingsPath()) == std::wstring(target) && !FileExists(s.run.SettingsPath() + L".new"),
          "power cut: and saves cleanly");
    s.Cancel();
    s.ExitAndCheck("power cut");
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool shortRun = false;
  std::vector<std::string> sections;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--short") == 0) {
      shortRun = true;
    } else {
      sections.emplace_back(argv[i]);
    }
  }
  const std::vector<std::string> known = {"cycles", "savers", "shell", "powercut"};
  for (const std::string& section : sections) {
    if (std::find(known.begin(), known.end(), section) == known.end()) {
      std::fprintf(stderr, "usage: SoakDriver [--short] [cycles] [savers] [shell] [powercut]\n");
      return 2;
    }
  }
  if (sections.empty()) sections = known;
  if (OrvaneExePath().empty() || FixturesDir().empty()) {
    std::fprintf(stderr, "ORVANE_EXE_PATH and ORVANE_FIXTURES_DIR must be set\n");
    return 2;
  }
  const Counts counts = shortRun ? Counts{20, 5, 10, 5, 6} : Counts{200, 50, 100, 50, 40};
  const ULONGLONG start = GetTickCount64();
  Say("soak driver, %s mode", shortRun ? "short" : "full");
  for (const std::string& section : sections) {
    if (section == "cycles") SoakCycles(counts);
    if (section == "savers") FaultySavers();
    if (section == "shell") FaultyShell();
    if (section == "powercut") PowerCuts(counts.cuts);
  }
  KillAllSavers();
  RemoveAllSavers();
  Say("summary: %d checks, %d failed, %llu s", g_checks, g_failed,
      static_cast<unsigned long long>((GetTickCount64() - start) / 1000));
  return g_failed == 0 ? 0 : 1;
}
