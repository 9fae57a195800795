#include <gtest/gtest.h>

#include "FixtureProtocol.h"
#include "system/support/OrvaneRun.h"

using namespace bench;

namespace {

class RaisedDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
    ASSERT_TRUE(shell_.Ready());
    view_ = reinterpret_cast<HWND>(shell_.Command(kShellGetDefView));
  }
  // Host in Progman, directly below the icon view, directly above the shell's wallpaper.
  void ExpectHostInPlace(HWND host) {
    EXPECT_EQ(GetParent(host), shell_.Progman());
    HWND worker = reinterpret_cast<HWND>(shell_.Command(kShellGetWorker));
    EXPECT_TRUE(WaitFor([&] { return GetWindow(view_, GW_HWNDNEXT) == host; }, 5000));
    EXPECT_EQ(GetWindow(host, GW_HWNDNEXT), worker);
    EXPECT_TRUE(GetWindowLongW(host, GWL_EXSTYLE) & WS_EX_LAYERED);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(host, GWL_STYLE));
    EXPECT_EQ(style & (WS_CHILD | WS_POPUP | WS_DISABLED | WS_CLIPCHILDREN),
              static_cast<DWORD>(WS_CHILD | WS_DISABLED | WS_CLIPCHILDREN));
    RECT progman{};
    RECT hostRect{};
    GetClientRect(shell_.Progman(), &progman);
    GetClientRect(host, &hostRect);
    EXPECT_EQ(hostRect.right, progman.right);
    EXPECT_EQ(hostRect.bottom, progman.bottom);
  }

  FakeShell shell_{L"--raised"};
  HWND view_ = nullptr;
};

}  // namespace

TEST_F(RaisedDesktop, TheWallpaperRunsBelowTheIconsFromStartToExit) {
  OrvaneRun run(L"fxplain");
  HWND saver = run.StartWithWallpaper();
  ASSERT_NE(saver, nullptr);
  HWND host = run.Host();
  ExpectHostInPlace(host);
  EXPECT_EQ(GetParent(saver), host);

  // The shell makes its wallpaper window anew right below the icons: the host goes back above it.
  shell_.Command(kShellRecreateWorker);
  ExpectHostInPlace(host);
  EXPECT_EQ(run.MessageBox(), nullptr);

  const int repaintsBefore = shell_.CountSysColor();
  ASSERT_TRUE(run.ExitThroughMenu());
  EXPECT_EQ(run.Proc().ExitCode(), 0u);
  EXPECT_TRUE(WaitFor([&] { return shell_.CountSysColor() > repaintsBefore; }, 5000));
  EXPECT_TRUE(SaverProcessIds().empty());
}

TEST_F(RaisedDesktop, RemovingAndChoosingASaverInTheDialog) {
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}, {L"fxplain_b", L"FixtureSaverAlt.exe"}});
  OrvaneRun run(L"fxplain");
  ASSERT_NE(run.StartWithWallpaper(), nullptr);

  // Another saver: the host stays where it is and carries the new one.
  HWND host = run.Host();
  HWND dialog = run.OpenSettings();
  ASSERT_NE(dialog, nullptr);
  OrvaneRun::ChooseAndPress(dialog, L"Alt Saver", IDOK);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog) && SaverProcessIds(L"fxplain_b").size() == 1; }, 30000));
  EXPECT_EQ(run.Host(), host);
  EXPECT_NE(run.WaitSaverWindow(), nullptr);
  EXPECT_TRUE(SaverProcessIds(L"fxplain").empty());
  ExpectHostInPlace(host);

  // None: no host, the shell repaints its wallpaper.
  const int repaints = shell_.CountSysColor();
  dialog = run.OpenSettings();
  ASSERT_NE(dialog, nullptr);
  OrvaneRun::ChooseAndPress(dialog, L"<なし>", IDOK);
  ASSERT_TRUE(WaitFor([&] { return run.Host() == nullptr && !IsWindow(dialog); }, 15000));
  EXPECT_TRUE(WaitFor([&] { return shell_.CountSysColor() > repaints; }, 5000));
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 10000));

  // And back: a new host below the icons.
  dialog = run.OpenSettings();
  ASSERT_NE(dialog, nullptr);
  OrvaneRun::ChooseAndPress(dialog, L"Fixture Saver", IDOK);
  ASSERT_TRUE(WaitFor([&] { return run.Host() != nullptr && !IsWindow(dialog); }, 30000));
  ASSERT_NE(run.WaitSaverWindow(), nullptr);
  ExpectHostInPlace(run.Host());
}

TEST(RaisedDesktopMarker, AnIconViewInProgmanWithoutTheMarkerIsNoDesktop) {
  FakeShell shell(L"--icons-in-progman");
  ASSERT_TRUE(shell.Ready());
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  OrvaneRun run(L"fxplain");
  run.Start();
  EXPECT_TRUE(run.Proc().WaitExit(20000));
  EXPECT_EQ(run.Proc().ExitCode(), 0u);
  EXPECT_EQ(shell.Count052c(), 2);
  EXPECT_TRUE(SaverProcessIds().empty());
}
