// The notification-area icon's menu, the exit path and the main window's other messages, driven from
// outside as the shell and the user would.
#include <gtest/gtest.h>

#include <string>

#include "system/support/OrvaneRun.h"

using namespace bench;

namespace {

constexpr wchar_t kCannotAdopt[] = L"スクリーン セーバーを壁紙化できません。";

// Menus and message boxes are top-level windows, never children.
std::vector<HWND> VisibleWindowsOfClass(DWORD processId, const wchar_t* className) {
  std::vector<HWND> found;
  for (HWND hwnd : WindowsOfProcess(processId, true)) {
    wchar_t name[64] = L"";
    GetClassNameW(hwnd, name, 64);
    if (std::wstring(name) == className && IsWindowVisible(hwnd)) found.push_back(hwnd);
  }
  return found;
}

std::vector<HWND> MessageBoxes(OrvaneRun& run) {
  std::vector<HWND> boxes;
  for (HWND hwnd : VisibleWindowsOfClass(run.Proc().Id(), L"#32770")) {
    wchar_t title[64] = L"";
    GetWindowTextW(hwnd, title, 64);
    if (std::wstring(title) == L"Orvane") boxes.push_back(hwnd);
  }
  return boxes;
}

int ButtonCount(HWND box) {
  int count = 0;
  for (HWND child : ChildWindows(box)) {
    wchar_t name[32] = L"";
    GetClassNameW(child, name, 32);
    if (_wcsicmp(name, L"Button") == 0) ++count;
  }
  return count;
}

// The shell's windows stay hidden on the bench, so a window inside them is never "visible" as a whole.
bool Shown(HWND hwnd) { return (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0; }

HWND MenuOwner(OrvaneRun& run) {
  HWND owner = FindWindowW(kMenuOwnerClass, nullptr);
  DWORD processId = 0;
  GetWindowThreadProcessId(owner, &processId);
  return owner && processId == run.Proc().Id() ? owner : nullptr;
}

HWND WaitMenu(OrvaneRun& run) {
  HWND menu = nullptr;
  WaitFor([&] { return (menu = run.Menu()) != nullptr; }, 15000);
  return menu;
}

bool DismissMenu(OrvaneRun& run, HWND menu) {
  PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  return WaitFor([&] { return run.Menu() == nullptr && MenuOwner(run) == nullptr; }, 10000);
}

// A program with its icon, without a saver.
void StartIdle(OrvaneRun& run) {
  run.Start();
  ASSERT_TRUE(run.WaitReady());
  ASSERT_TRUE(WaitFor([&] { return run.TrayIconPresent(); }, 10000));
}

void ExpectCleanExit(OrvaneRun& run, const FakeShell& shell) {
  EXPECT_EQ(run.Proc().ExitCode(), 0u);
  EXPECT_TRUE(WaitFor([&] { return shell.CountSysColor() >= 1; }, 5000));
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 5000));
}

}  // namespace

TEST(Tray, EitherButtonReleaseOpensTheSameMenu) {
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  StartIdle(run);
  RECT rects[2]{};
  int index = 0;
  for (UINT release : {WM_LBUTTONUP, WM_RBUTTONUP}) {
    SCOPED_TRACE(release);
    run.TrayCallback(release);
    HWND menu = WaitMenu(run);
    ASSERT_NE(menu, nullptr);
    HWND owner = MenuOwner(run);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(owner, GWL_STYLE)) & (WS_POPUP | WS_VISIBLE | WS_DISABLED),
              static_cast<DWORD>(WS_POPUP));
    GetWindowRect(menu, &rects[index++]);
    ASSERT_TRUE(DismissMenu(run, menu));
  }
  EXPECT_EQ(rects[0].right - rects[0].left, rects[1].right - rects[1].left);
  EXPECT_EQ(rects[0].bottom - rects[0].top, rects[1].bottom - rects[1].top);
  EXPECT_GT(rects[0].bottom - rects[0].top, 0);
}

TEST(Tray, PressDoubleClickOrMoveOpensNothing) {
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  StartIdle(run);
  for (UINT message : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MOUSEMOVE}) {
    run.TrayCallback(message);
  }
  PumpFor(1500);
  EXPECT_EQ(run.Menu(), nullptr);
  EXPECT_EQ(MenuOwner(run), nullptr);
  EXPECT_EQ(run.SettingsDialog(), nullptr);
  // The program did handle those messages: a release right after them opens the menu.
  run.TrayCallback(WM_LBUTTONUP);
  HWND menu = WaitMenu(run);
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(DismissMenu(run, menu));
}

TEST(Tray, DismissedMenuRunsNothingAndLeavesNoOwnerBehind) {
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxplain");
  HWND saver = run.StartWithWallpaper();
  ASSERT_NE(saver, nullptr);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    // The second round opens only if the owner class was unregistered after the first.
    run.TrayCallback(WM_RBUTTONUP);
    HWND menu = WaitMenu(run);
    ASSERT_NE(menu, nullptr);
    ASSERT_NE(MenuOwner(run), nullptr);
    ASSERT_TRUE(DismissMenu(run, menu));
    PumpFor(1000);
    EXPECT_TRUE(run.Proc().Running());
    EXPECT_NE(run.MainWindow(), nullptr);
    EXPECT_EQ(run.SettingsDialog(), nullptr);
    EXPECT_EQ(run.MessageBox(), nullptr);
    EXPECT_EQ(FindWindowW(kMenuOwnerClass, nullptr), nullptr);
    EXPECT_EQ(GetParent(saver), run.Host());
    EXPECT_EQ(SaverProcessIds(L"fxplain").size(), 1u);
  }
}

TEST(Tray, SecondCallbackWhileTheMenuIsOpenOpensNoSecondMenu) {
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  StartIdle(run);
  run.TrayCallback(WM_RBUTTONUP);
  HWND menu = WaitMenu(run);
  ASSERT_NE(menu, nullptr);
  run.TrayCallback(WM_RBUTTONUP);
  run.TrayCallback(WM_LBUTTONUP);
  PumpFor(1500);
  EXPECT_EQ(VisibleWindowsOfClass(run.Proc().Id(), L"#32768").size(), 1u);
  EXPECT_EQ(run.Menu(), menu);
  EXPECT_EQ(run.MessageBox(), nullptr);
  ASSERT_TRUE(DismissMenu(run, menu));
  // The callbacks that came while it was open were dropped, not kept for later.
  PumpFor(1500);
  EXPECT_EQ(run.Menu(), nullptr);
  EXPECT_EQ(run.MessageBox(), nullptr);
}

TEST(Tray, ExitStopsASaverThatQuitsOnTheInput) {
  FixtureLog log;
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxplain");
  ASSERT_NE(run.StartWithWallpaper(), nullptr);
  ASSERT_TRUE(run.ExitThroughMenu());
  ExpectCleanExit(run, shell);
  // It quit on the input it was sent, not by termination.
  EXPECT_EQ(log.Count(L"fxplain", " exit key"), 1);
  EXPECT_EQ(log.Count(L"fxplain", " exit "), 1);
}

TEST(Tray, ExitReleasesTheWindowsOfADeafSaverAndEndsItAfterThreeSeconds) {
  FixtureLog log;
  InstallSavers({{L"fxdeaf", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxdeaf");
  HWND saver = run.StartWithWallpaper();
  ASSERT_NE(saver, nullptr);
  HWND host = run.Host();

  ASSERT_TRUE(run.PickMenuItem(L'q'));
  const ULONGLONG picked = GetTickCount64();
  // While the program waits for it, the saver's window is back on its own: hidden, a pop-up, no parent.
  EXPECT_TRUE(WaitFor(
      [&] {
        const DWORD style = static_cast<DWORD>(GetWindowLongW(saver, GWL_STYLE));
        return IsWindow(saver) && !Shown(saver) && GetAncestor(saver, GA_PARENT) == GetDesktopWindow() &&
               (style & WS_POPUP) && !(style & WS_CHILD);
      },
      2000));
  EXPECT_TRUE(run.Proc().Running());
  EXPECT_EQ(SaverProcessIds(L"fxdeaf").size(), 1u);

  ASSERT_TRUE(run.Proc().WaitExit(15000));
  EXPECT_GE(GetTickCount64() - picked, 2500u);
  ExpectCleanExit(run, shell);
  EXPECT_FALSE(IsWindow(host));
  EXPECT_EQ(log.Count(L"fxdeaf", " exit "), 0);
}

TEST(Tray, CloseMessagesFromOutsideChangeNothing) {
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxplain");
  HWND saver = run.StartWithWallpaper();
  ASSERT_NE(saver, nullptr);
  HWND main = run.MainWindow();
  HWND host = run.Host();

  run.TrayCallback(WM_RBUTTONUP);
  HWND menu = WaitMenu(run);
  ASSERT_NE(menu, nullptr);
  HWND owner = MenuOwner(run);
  ASSERT_NE(owner, nullptr);
  for (HWND target : {main, host, owner}) {
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutW(target, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &result), 0);
  }
  PumpFor(1000);
  EXPECT_TRUE(IsWindow(owner));
  EXPECT_EQ(run.Menu(), menu);
  ASSERT_TRUE(DismissMenu(run, menu));

  PumpFor(1000);
  EXPECT_TRUE(run.Proc().Running());
  EXPECT_EQ(run.MainWindow(), main);
  EXPECT_EQ(run.Host(), host);
  EXPECT_TRUE(Shown(host));
  EXPECT_EQ(GetParent(saver), host);
  EXPECT_EQ(SaverProcessIds(L"fxplain").size(), 1u);
  EXPECT_TRUE(run.TrayIconPresent());
  EXPECT_EQ(run.MessageBox(), nullptr);
}

TEST(Tray, SaverWhoseWindowsDieEarlyIsReportedAndTheHostStays) {
  // fxdoomed closes its window 2 s after showing it, full screen and in preview mode alike, so the
  // preview-mode second chance fails too and the user is told.
  FixtureLog log;
  InstallSavers({{L"fxdoomed", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxdoomed");
  const std::vector<unsigned char> settings = ReadFileBytes(run.SettingsPath());
  ASSERT_FALSE(settings.empty());
  run.Start();
  ASSERT_TRUE(run.WaitReady());
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = run.MessageBox()) != nullptr || !run.Proc().Running(); }, 40000));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(run.MessageBoxText(box), kCannotAdopt);
  EXPECT_EQ(ButtonCount(box), 1);
  EXPECT_NE(GetDlgItem(box, IDOK), nullptr);

  run.CloseMessageBox(box);
  ASSERT_TRUE(WaitFor([&] { return run.MessageBox() == nullptr; }, 10000));
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 5000));
  PumpFor(1500);
  EXPECT_TRUE(run.Proc().Running());
  EXPECT_EQ(run.MessageBox(), nullptr);
  HWND host = run.Host();
  ASSERT_NE(host, nullptr);
  EXPECT_TRUE(Shown(host));
  EXPECT_EQ(GetParent(host), shell.Layer());
  EXPECT_TRUE(run.HostChildren().empty());
  EXPECT_TRUE(SaverProcessIds().empty());
  EXPECT_EQ(ReadFileBytes(run.SettingsPath()), settings);
}

TEST(Tray, TwoFailureReportsShowTwoBoxesAndEndTheSaverOnce) {
  FixtureLog log;
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxplain");
  ASSERT_NE(run.StartWithWallpaper(), nullptr);
  // A first report gives the saver its second chance in preview mode; only reports after that reach the user.
  PostMessageW(run.MainWindow(), kWallpaperFailed, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return log.Count(L"fxplain", "/p ") == 1 && !run.HostChildren().empty(); }, 20000));
  ASSERT_TRUE(WaitFor([] { return SaverProcessIds(L"fxplain").size() == 1; }, 10000));
  EXPECT_EQ(run.MessageBox(), nullptr);

  const std::vector<DWORD> savers = SaverProcessIds(L"fxplain");
  ASSERT_EQ(savers.size(), 1u);
  const Process saver(OpenProcess(SYNCHRONIZE, FALSE, savers[0]), savers[0]);
  ASSERT_NE(saver.Handle(), nullptr);
  HWND host = run.Host();

  PostMessageW(run.MainWindow(), kWallpaperFailed, 0, 0);
  PostMessageW(run.MainWindow(), kWallpaperFailed, 0, 0);
  // The second report arrives in the first box's message loop and shows its own box over it.
  ASSERT_TRUE(WaitFor([&] { return MessageBoxes(run).size() == 2; }, 15000));
  // Nothing is ended before a box has been answered.
  EXPECT_TRUE(saver.Running());
  std::vector<HWND> boxes = MessageBoxes(run);
  for (HWND box : boxes) EXPECT_EQ(run.MessageBoxText(box), kCannotAdopt);

  // Answer the newer box first, the one whose loop runs innermost: it is active, or else on top.
  HWND newer = GetForegroundWindow() == boxes[1] ? boxes[1] : boxes[0];
  HWND older = newer == boxes[0] ? boxes[1] : boxes[0];
  run.CloseMessageBox(newer);
  EXPECT_TRUE(saver.WaitExit(10000));
  ASSERT_TRUE(WaitFor([&] { return MessageBoxes(run) == std::vector<HWND>{older}; }, 10000));
  EXPECT_TRUE(run.HostChildren().empty());

  run.CloseMessageBox(older);
  ASSERT_TRUE(WaitFor([&] { return MessageBoxes(run).empty(); }, 10000));
  PumpFor(1500);
  EXPECT_TRUE(run.Proc().Running());
  EXPECT_TRUE(MessageBoxes(run).empty());
  EXPECT_EQ(run.Host(), host);
  EXPECT_TRUE(run.HostChildren().empty());
  EXPECT_TRUE(SaverProcessIds().empty());
  EXPECT_EQ(log.Count(L"fxplain", "/p "), 1) << "nothing was restarted";
}

TEST(Tray, SecondInstanceWithoutTheDialogChangesNothingVisible) {
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxplain");
  HWND saver = run.StartWithWallpaper();
  ASSERT_NE(saver, nullptr);
  const auto visibleWindows = [&] {
    std::vector<HWND> visible;
    for (HWND hwnd : WindowsOfProcess(run.Proc().Id(), false)) {
      if (Shown(hwnd)) visible.push_back(hwnd);
    }
    return visible;
  };
  // The launch shows the main window for an instant at its very end; let it finish.
  ASSERT_TRUE(WaitFor([&] { return !Shown(run.MainWindow()); }, 5000));
  PumpFor(500);
  const std::vector<HWND> before = visibleWindows();
  HWND host = run.Host();

  Process second = run.StartAnother();
  ASSERT_TRUE(second.Handle());
  ASSERT_TRUE(second.WaitExit(15000));
  EXPECT_EQ(second.ExitCode(), 0u);
  PumpFor(1000);
  EXPECT_EQ(visibleWindows(), before);
  EXPECT_EQ(run.SettingsDialog(), nullptr);
  EXPECT_EQ(run.MessageBox(), nullptr);
  EXPECT_EQ(run.Menu(), nullptr);
  EXPECT_EQ(run.Host(), host);
  EXPECT_TRUE(Shown(host));
  EXPECT_EQ(GetParent(saver), host);
  EXPECT_TRUE(run.Proc().Running());
}
