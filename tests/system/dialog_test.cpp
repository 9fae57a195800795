// The settings dialog, driven from outside as the dialog manager and the user would: list, preview,
// configuration runs, OK / Apply / Cancel, the saved file, the keyboard.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FixtureProtocol.h"
#include "system/support/OrvaneRun.h"
#include "system/support/SaverWatch.h"

using namespace bench;

namespace {

constexpr wchar_t kPlain[] = L"fxplain";          // "Fixture Saver"
constexpr wchar_t kAlt[] = L"fxplain_alt";        // "Alt Saver"
constexpr wchar_t kNoName[] = L"fxplain_nn";      // no display name: listed by its base name
constexpr wchar_t kConfigClass[] = L"OrvaneFixtureConfig";
constexpr int kPreview = 101;
constexpr int kList = 102;
constexpr int kConfigure = 103;
constexpr int kApply = 104;
constexpr wchar_t kWriteError[] = L"設定ファイルの書き込みでエラーが発生しました。\n";

std::vector<unsigned char> FileFor(const std::wstring& saverName) {
  std::vector<unsigned char> bytes = {0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00};
  bytes.push_back(static_cast<unsigned char>(saverName.size() & 0xFF));
  bytes.push_back(static_cast<unsigned char>(saverName.size() >> 8));
  for (wchar_t c : saverName) {
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>(c >> 8));
  }
  return bytes;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

FILETIME LastWrite(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

bool Shown(HWND hwnd) { return IsWindow(hwnd) && (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE); }

struct DialogBench {
  FixtureLog log;
  FakeShell shell{L"--arranged"};
  OrvaneRun run;
  HWND dialog = nullptr;

  explicit DialogBench(const std::wstring& configured = L"") : run(configured) {
    InstallSavers({{kPlain, L"FixtureSaver.exe"}, {kAlt, L"FixtureSaverAlt.exe"}, {kNoName, L"FixtureSaverNoName.exe"}});
    if (shell.Ready()) run.Start();
  }

  bool Ready() { return shell.Ready() && run.WaitReady(); }
  // The configured saver shown as wallpaper, then the dialog opened over it.
  bool OpenOverWallpaper() {
    return Ready() && WaitFor([this] { return HostedSaverProcess(run) != 0; }, 30000) && Open();
  }
  bool Open() {
    if (!run.PickMenuItem(L's')) return false;
    return WaitFor([this] { return (dialog = run.SettingsDialog()) != nullptr; }, 20000);
  }

  HWND Item(int id) const { return GetDlgItem(dialog, id); }
  std::vector<unsigned char> ReadSaved() const { return ReadFileBytes(run.SettingsPath()); }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }

  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
  }

  LRESULT SendTo(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, 20000, &result);
    return static_cast<LRESULT>(result);
  }

  std::vector<std::wstring> ListTexts() const {
    std::vector<std::wstring> texts;
    const LRESULT count = SendTo(Item(kList), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t text[256] = L"";
      SendTo(Item(kList), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      texts.push_back(text);
    }
    return texts;
  }
  LRESULT Selected() const { return SendTo(Item(kList), CB_GETCURSEL, 0, 0); }

  // As a user's pick in the list: the new selection, then the notification the combo box sends.
  void Select(int index) const {
    SendTo(Item(kList), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kList, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(kList)));
  }
  void Press(int id) const {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
  }

  // The process drawing into the preview area, or 0.
  DWORD PreviewProcess() const {
    const std::vector<HWND> children = ChildWindows(Item(kPreview));
    return children.empty() ? 0 : WindowProcess(children.front());
  }
  std::string PreviewArguments() const {
    return "/p " + std::to_string(reinterpret_cast<UINT_PTR>(Item(kPreview)));
  }
  // Waits for a preview of that saver other than the one given, started into the preview area.
  DWORD WaitPreview(const wchar_t* saver, DWORD other = 0) const {
    DWORD found = 0;
    WaitFor(
        [&] {
          const DWORD process = PreviewProcess();
          if (process == 0 || process == other || SaverNameOfProcess(process) != saver) return false;
          for (const SaverStart& start : SaverStarts(log, saver)) {
            if (start.processId == process && start.arguments == PreviewArguments()) found = process;
          }
          return found != 0;
        },
        20000);
    return found;
  }

  // Waits until the host shows a window of that saver's latest "/s" start, the n-th.
  bool WaitWallpaperStart(const wchar_t* saver, int starts) const {
    return bench::WaitWallpaperStart(run, log, saver, starts);
  }
};

HWND WaitConfigWindow() {
  HWND config = nullptr;
  WaitFor([&] { return (config = FindWindowW(kConfigClass, nullptr)) != nullptr; }, 20000);
  return config;
}

void PostKey(HWND target, WPARAM key) { PostMessageW(target, WM_KEYDOWN, key, 1); }

}  // namespace

TEST(Dialog, OpensOnTheConfiguredSaverWithItsPreview) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());

  EXPECT_EQ(bench.ListTexts(), (std::vector<std::wstring>{L"<なし>", L"Alt Saver", L"Fixture Saver", kNoName}));
  EXPECT_EQ(bench.Selected(), 2);
  const DWORD preview = bench.WaitPreview(kPlain);
  ASSERT_NE(preview, 0u);
  EXPECT_EQ(GetParent(ChildWindows(bench.Item(kPreview)).front()), bench.Item(kPreview));
  EXPECT_TRUE(bench.Enabled(kConfigure));
  EXPECT_FALSE(bench.Enabled(kApply));
  EXPECT_EQ(bench.Focus(), bench.Item(kList));
}

TEST(Dialog, OpensOnNoneWhenTheConfiguredSaverIsMissing) {
  DialogBench bench(L"fxgone");
  ASSERT_TRUE(bench.Ready());
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = bench.run.MessageBox()) != nullptr; }, 20000));
  bench.run.CloseMessageBox(box);
  ASSERT_TRUE(WaitFor([&] { return bench.run.MessageBox() == nullptr; }, 10000));
  ASSERT_TRUE(bench.Open());

  EXPECT_EQ(bench.Selected(), 0);
  EXPECT_FALSE(bench.Enabled(kConfigure));
  EXPECT_FALSE(bench.Enabled(kApply));
  PumpFor(1500);
  EXPECT_EQ(bench.PreviewProcess(), 0u);
  for (const wchar_t* saver : {kPlain, kAlt, kNoName}) EXPECT_TRUE(SaverStarts(bench.log, saver).empty());
  EXPECT_EQ(bench.run.MessageBox(), nullptr);

  // OK at once is a change: away from the missing saver, to none.
  ASSERT_NE(bench.run.Host(), nullptr);
  bench.Press(IDOK);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(bench.dialog); }, 20000));
  EXPECT_EQ(bench.run.Host(), nullptr);
  EXPECT_EQ(bench.ReadSaved(), FileFor(L""));
}

TEST(Dialog, SelectionChangeSwitchesThePreviewAndEnablesApply) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  const DWORD wallpaper = HostedSaverProcess(bench.run);
  const DWORD first = bench.WaitPreview(kPlain);
  ASSERT_NE(first, 0u);

  bench.Select(1);
  const DWORD second = bench.WaitPreview(kAlt);
  ASSERT_NE(second, 0u);
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(first); }, 10000));
  EXPECT_EQ(bench.log.Count(kPlain, std::to_string(first) + " exit close"), 1);
  EXPECT_TRUE(bench.Enabled(kApply));
  EXPECT_TRUE(bench.Enabled(kConfigure));

  bench.Select(0);
  EXPECT_TRUE(WaitFor([&] { return bench.PreviewProcess() == 0 && !ProcessAlive(second); }, 10000));
  EXPECT_FALSE(bench.Enabled(kConfigure));
  EXPECT_TRUE(bench.Enabled(kApply));
  EXPECT_EQ(HostedSaverProcess(bench.run), wallpaper);
  EXPECT_EQ(CountStarts(bench.log, kPlain, "/s"), 1);
}

TEST(Dialog, ApplyWithoutAChangeChangesNothingAndMovesTheFocusToOk) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  const DWORD wallpaper = HostedSaverProcess(bench.run);
  const DWORD first = bench.WaitPreview(kPlain);
  ASSERT_NE(first, 0u);
  // Picking the configured saver again is a selection change, but no change of the choice.
  bench.Select(2);
  const DWORD preview = bench.WaitPreview(kPlain, first);
  ASSERT_NE(preview, 0u);
  ASSERT_TRUE(WaitFor([&] { return bench.Enabled(kApply); }, 10000));
  const std::vector<unsigned char> saved = bench.ReadSaved();
  const FILETIME written = LastWrite(bench.run.SettingsPath());

  bench.SendTo(bench.dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(bench.Item(kApply)), TRUE);
  ASSERT_TRUE(WaitFor([&] { return bench.Focus() == bench.Item(kApply); }, 5000));
  bench.Press(kApply);
  EXPECT_TRUE(WaitFor([&] { return !bench.Enabled(kApply) && bench.Focus() == bench.Item(IDOK); }, 10000));

  PumpFor(1000);
  EXPECT_EQ(CountStarts(bench.log, kPlain, "/s"), 1);
  EXPECT_EQ(CountStarts(bench.log, kPlain, "/p"), 2);
  EXPECT_EQ(HostedSaverProcess(bench.run), wallpaper);
  EXPECT_EQ(bench.PreviewProcess(), preview);
  EXPECT_EQ(bench.ReadSaved(), saved);
  const FILETIME now = LastWrite(bench.run.SettingsPath());
  EXPECT_EQ(CompareFileTime(&written, &now), 0);
  EXPECT_FALSE(FileExists(bench.run.SettingsPath() + L".new"));
  EXPECT_TRUE(IsWindow(bench.dialog));
}

TEST(Dialog, OkWithAnotherSaverSwitchesTheWallpaperAndSaves) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  const DWORD old = HostedSaverProcess(bench.run);
  const HWND host = bench.run.Host();
  bench.Select(1);
  ASSERT_NE(bench.WaitPreview(kAlt), 0u);

  bench.Press(IDOK);
  bool hidden = false;
  ASSERT_TRUE(WaitFor(
      [&] {
        if (IsWindow(bench.dialog) && !Shown(bench.dialog)) hidden = true;
        return !IsWindow(bench.dialog);
      },
      30000));
  EXPECT_TRUE(hidden) << "the dialog is hidden while the new wallpaper starts";
  ASSERT_TRUE(bench.WaitWallpaperStart(kAlt, 1));
  EXPECT_EQ(bench.run.Host(), host);
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(old); }, 10000));
  // Released and then told to quit the way a full-screen saver quits.
  EXPECT_EQ(bench.log.Count(kPlain, std::to_string(old) + " exit key"), 1);
  EXPECT_EQ(bench.ReadSaved(), FileFor(kAlt));
  EXPECT_FALSE(FileExists(bench.run.SettingsPath() + L".new"));
  EXPECT_TRUE(WaitFor([&] { return SaverProcessIds().size() == 1; }, 10000));
}

TEST(Dialog, NoneAndOkRemovesTheWallpaperWithoutRecovery) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  const DWORD old = HostedSaverProcess(bench.run);
  bench.shell.Command(kShellResetCounts);

  bench.Select(0);
  bench.Press(IDOK);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(bench.dialog); }, 20000));
  EXPECT_EQ(bench.run.Host(), nullptr);
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(old); }, 10000));
  EXPECT_TRUE(WaitFor([&] { return bench.shell.CountSysColor() == 1; }, 5000));
  EXPECT_EQ(bench.ReadSaved(), FileFor(L""));

  // Past the first recovery timers that a lost host would have started.
  PumpFor(3500);
  EXPECT_EQ(bench.run.Host(), nullptr);
  EXPECT_EQ(CountStarts(bench.log, kPlain, "/s"), 1);
  EXPECT_TRUE(SaverProcessIds().empty());
  EXPECT_TRUE(bench.run.Proc().Running());
}

TEST(Dialog, ApplyWhileNoneWasConfiguredCreatesTheHostFirst) {
  DialogBench bench;
  ASSERT_TRUE(bench.Ready());
  ASSERT_TRUE(bench.Open());
  EXPECT_EQ(bench.run.Host(), nullptr);
  bench.Select(2);
  const DWORD preview = bench.WaitPreview(kPlain);
  ASSERT_NE(preview, 0u);

  bench.Press(kApply);
  ASSERT_TRUE(bench.WaitWallpaperStart(kPlain, 1));
  EXPECT_EQ(GetParent(bench.run.Host()), bench.shell.Layer());
  EXPECT_TRUE(WaitFor([&] { return Shown(bench.dialog) && !bench.Enabled(kApply); }, 20000));
  EXPECT_NE(bench.WaitPreview(kPlain, preview), 0u);
  EXPECT_EQ(bench.ReadSaved(), FileFor(kPlain));
}

TEST(Dialog, ConfiguringTheWallpaperSaverPausesWallpaperAndPreview) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  const DWORD wallpaper = HostedSaverProcess(bench.run);
  const DWORD preview = bench.WaitPreview(kPlain);
  ASSERT_NE(preview, 0u);

  bench.Press(kConfigure);
  const HWND config = WaitConfigWindow();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(SaverNameOfProcess(WindowProcess(config)), kPlain);
  EXPECT_EQ(CountStarts(bench.log, kPlain, "/c:" + std::to_string(reinterpret_cast<UINT_PTR>(bench.Item(kPreview)))),
            1);
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(wallpaper) && !ProcessAlive(preview); }, 10000));
  EXPECT_EQ(HostedSaverProcess(bench.run), 0u);
  EXPECT_EQ(bench.PreviewProcess(), 0u);

  // A second press while the run is tracked starts nothing.
  bench.Press(kConfigure);
  PumpFor(1500);
  EXPECT_EQ(CountStarts(bench.log, kPlain, "/c:"), 1);

  PostMessageW(config, WM_CLOSE, 0, 0);
  ASSERT_TRUE(bench.WaitWallpaperStart(kPlain, 2));
  const DWORD resumedPreview = bench.WaitPreview(kPlain, preview);
  ASSERT_NE(resumedPreview, 0u);
  // The wallpaper first, then the preview.
  EXPECT_LT(LogLineIndex(bench.log, kPlain, HostedSaverProcess(bench.run), "start"),
            LogLineIndex(bench.log, kPlain, resumedPreview, "start"));
}

TEST(Dialog, ConfiguringAnotherSaverLeavesTheWallpaperRunning) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  const DWORD wallpaper = HostedSaverProcess(bench.run);
  bench.Select(1);
  const DWORD preview = bench.WaitPreview(kAlt);
  ASSERT_NE(preview, 0u);

  bench.Press(kConfigure);
  const HWND config = WaitConfigWindow();
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(SaverNameOfProcess(WindowProcess(config)), kAlt);
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(preview); }, 10000));
  PumpFor(1000);
  EXPECT_EQ(HostedSaverProcess(bench.run), wallpaper);

  PostMessageW(config, WM_CLOSE, 0, 0);
  EXPECT_NE(bench.WaitPreview(kAlt, preview), 0u);
  EXPECT_EQ(HostedSaverProcess(bench.run), wallpaper);
  EXPECT_EQ(CountStarts(bench.log, kPlain, "/s"), 1);
}

TEST(Dialog, SelectionChangeDuringAConfigurationRunResumesTheWallpaperAtOnce) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  const DWORD wallpaper = HostedSaverProcess(bench.run);
  ASSERT_NE(bench.WaitPreview(kPlain), 0u);
  bench.Press(kConfigure);
  const HWND config = WaitConfigWindow();
  ASSERT_NE(config, nullptr);
  ASSERT_TRUE(WaitFor([&] { return !ProcessAlive(wallpaper); }, 10000));

  bench.Select(1);
  ASSERT_TRUE(bench.WaitWallpaperStart(kPlain, 2));
  const DWORD resumed = HostedSaverProcess(bench.run);
  const DWORD preview = bench.WaitPreview(kAlt);
  ASSERT_NE(preview, 0u);
  EXPECT_TRUE(IsWindow(config));

  // The run's end is no longer tracked: nothing restarts.
  PostMessageW(config, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(config); }, 10000));
  PumpFor(2500);
  EXPECT_EQ(CountStarts(bench.log, kPlain, "/s"), 2);
  EXPECT_EQ(CountStarts(bench.log, kPlain, "/p"), 1);
  EXPECT_EQ(CountStarts(bench.log, kAlt, "/p"), 1);
  EXPECT_EQ(HostedSaverProcess(bench.run), resumed);
  EXPECT_EQ(bench.PreviewProcess(), preview);
}

namespace {

// Holds the settings file open without sharing, so it cannot be replaced.
struct HeldFile {
  HANDLE handle;
  explicit HeldFile(const std::wstring& path)
      : handle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldFile() { Release(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool Held() const { return handle != INVALID_HANDLE_VALUE; }
  void Release() {
    if (Held()) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
};

// OK with another saver while the settings file is held: the error box over the dialog.
HWND OkIntoWriteError(DialogBench& bench, HeldFile& held) {
  bench.Select(1);
  if (bench.WaitPreview(kAlt) == 0 || !held.Held()) return nullptr;
  bench.Press(IDOK);
  HWND box = nullptr;
  WaitFor([&] { return (box = bench.run.MessageBox()) != nullptr; }, 30000);
  return box;
}

}  // namespace

TEST(Dialog, AFailedSaveIsReportedOverTheDialogAndASecondOkClosesWithoutWriting) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  HeldFile held(bench.run.SettingsPath());
  const HWND box = OkIntoWriteError(bench, held);
  ASSERT_NE(box, nullptr);

  EXPECT_EQ(bench.run.MessageBoxText(box).rfind(kWriteError, 0), 0u) << "got: " << bench.run.MessageBoxText(box).size();
  EXPECT_EQ(GetWindow(box, GW_OWNER), bench.dialog);
  EXPECT_TRUE(Shown(bench.dialog));
  // The new choice is in effect all the same.
  EXPECT_TRUE(bench.WaitWallpaperStart(kAlt, 1));
  bench.run.CloseMessageBox(box);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }, 10000));
  held.Release();
  PumpFor(500);
  EXPECT_TRUE(Shown(bench.dialog));
  EXPECT_EQ(bench.ReadSaved(), FileFor(kPlain));
  EXPECT_FALSE(FileExists(bench.run.SettingsPath() + L".new"));

  bench.Press(IDOK);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(bench.dialog); }, 10000));
  PumpFor(500);
  EXPECT_EQ(bench.ReadSaved(), FileFor(kPlain));
  EXPECT_EQ(bench.run.MessageBox(), nullptr);
}

TEST(Dialog, ExitWhileAMessageBoxIsOpenOverTheDialogEndsTheProgram) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  HeldFile held(bench.run.SettingsPath());
  const HWND box = OkIntoWriteError(bench, held);
  ASSERT_NE(box, nullptr);

  ASSERT_TRUE(bench.run.PickMenuItem(L'q'));
  ASSERT_TRUE(bench.run.Proc().WaitExit(30000));
  EXPECT_EQ(bench.run.Proc().ExitCode(), 0u);
  EXPECT_FALSE(IsWindow(box));
  EXPECT_FALSE(IsWindow(bench.dialog));
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 10000));
}

TEST(Dialog, ASecondInstanceBringsTheDialogToTheFront) {
  DialogBench bench;
  ASSERT_TRUE(bench.Ready());
  ASSERT_TRUE(bench.Open());
  HWND elsewhere = CreateWindowExW(0, L"STATIC", L"elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                   nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(elsewhere, nullptr);
  SetForegroundWindow(elsewhere);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == elsewhere; }, 5000));

  Process second = bench.run.StartAnother();
  ASSERT_TRUE(second.WaitExit(20000));
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == bench.dialog; }, 10000));
  EXPECT_TRUE(bench.run.Proc().Running());
  DestroyWindow(elsewhere);
}

TEST(Dialog, TabMovesThroughTheEnabledControlsInOrder) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  ASSERT_NE(bench.WaitPreview(kPlain), 0u);
  ASSERT_EQ(bench.Focus(), bench.Item(kList));

  const auto tab = [&](int expected) {
    PostKey(bench.Focus(), VK_TAB);
    return WaitFor([&] { return bench.Focus() == bench.Item(expected); }, 5000);
  };
  // Apply is still disabled and skipped.
  EXPECT_TRUE(tab(kConfigure));
  EXPECT_TRUE(tab(IDOK));
  EXPECT_TRUE(tab(IDCANCEL));
  EXPECT_TRUE(tab(kList));

  bench.Select(1);
  ASSERT_NE(bench.WaitPreview(kAlt), 0u);
  ASSERT_TRUE(bench.Enabled(kApply));
  EXPECT_TRUE(tab(kConfigure));
  EXPECT_TRUE(tab(IDOK));
  EXPECT_TRUE(tab(IDCANCEL));
  EXPECT_TRUE(tab(kApply));
  EXPECT_TRUE(tab(kList));
}

TEST(Dialog, EscapeCancelsWithoutApplying) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  const DWORD wallpaper = HostedSaverProcess(bench.run);
  bench.Select(1);
  ASSERT_NE(bench.WaitPreview(kAlt), 0u);

  PostKey(bench.Focus(), VK_ESCAPE);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(bench.dialog); }, 10000));
  PumpFor(1000);
  EXPECT_EQ(HostedSaverProcess(bench.run), wallpaper);
  EXPECT_TRUE(SaverStarts(bench.log, kAlt).size() == 1);
  EXPECT_EQ(bench.ReadSaved(), FileFor(kPlain));
}

TEST(Dialog, EnterIsOk) {
  DialogBench bench(kPlain);
  ASSERT_TRUE(bench.OpenOverWallpaper());
  bench.Select(1);
  ASSERT_NE(bench.WaitPreview(kAlt), 0u);

  PostKey(bench.Focus(), VK_RETURN);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(bench.dialog); }, 30000));
  EXPECT_TRUE(bench.WaitWallpaperStart(kAlt, 1));
  EXPECT_EQ(bench.ReadSaved(), FileFor(kAlt));
}

TEST(Dialog, AltSFocusesTheList) {
  DialogBench bench;
  ASSERT_TRUE(bench.Ready());
  ASSERT_TRUE(bench.Open());
  bench.SendTo(bench.dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(bench.Item(IDOK)), TRUE);
  ASSERT_TRUE(WaitFor([&] { return bench.Focus() == bench.Item(IDOK); }, 5000));

  const HWND focus = bench.Focus();
  PostMessageW(focus, WM_SYSKEYDOWN, 'S', 0x20000001);
  PostMessageW(focus, WM_SYSCHAR, 's', 0x20000001);
  EXPECT_TRUE(WaitFor([&] { return bench.Focus() == bench.Item(kList); }, 5000));
  EXPECT_TRUE(IsWindow(bench.dialog));
}
