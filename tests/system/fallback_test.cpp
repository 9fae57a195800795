#include <gtest/gtest.h>

#include <string>

#include "FixtureProtocol.h"
#include "system/support/OrvaneRun.h"

using namespace bench;

namespace {

std::string Decimal(HWND hwnd) { return std::to_string(reinterpret_cast<UINT_PTR>(hwnd) & 0xFFFFFFFFu); }

LRESULT Frames(HWND hwnd) {
  DWORD_PTR frames = 0;
  SendMessageTimeoutW(hwnd, kFixtureGetFrames, 0, 0, SMTO_NORMAL, 2000, &frames);
  return static_cast<LRESULT>(frames);
}

// The saver drawing in the host in preview mode: the host's only child, of that saver's process.
HWND WaitPreviewInHost(OrvaneRun& run, const std::wstring& saverName) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        std::vector<HWND> children = run.HostChildren();
        if (children.size() != 1) return false;
        DWORD owner = 0;
        GetWindowThreadProcessId(children[0], &owner);
        for (DWORD id : SaverProcessIds(saverName)) {
          if (id == owner) found = children[0];
        }
        return found != nullptr;
      },
      30000);
  return found;
}

class Fallback : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(shell_.Ready()); }
  FixtureLog log_;
  FakeShell shell_{L"--arranged --size 1000x700"};
};

}  // namespace

TEST_F(Fallback, AFrameworkSaverDrawsIntoTheHostInPreviewMode) {
  InstallSavers({{L"fxframe", L"FixtureSaver.exe"}});
  OrvaneRun run(L"fxframe");
  run.Start();
  ASSERT_TRUE(run.WaitReady());
  HWND child = WaitPreviewInHost(run, L"fxframe");
  ASSERT_NE(child, nullptr);
  HWND host = run.Host();
  EXPECT_EQ(log_.Count(L"fxframe", "/p " + Decimal(host)), 1);
  EXPECT_EQ(log_.Count(L"fxframe", "exit deactivate"), 1) << "the full-screen run closed itself";
  RECT childRect{};
  RECT hostRect{};
  GetClientRect(child, &childRect);
  GetClientRect(host, &hostRect);
  EXPECT_EQ(childRect.right, hostRect.right);
  EXPECT_EQ(childRect.bottom, hostRect.bottom);
  const LRESULT frames = Frames(child);
  EXPECT_TRUE(WaitFor([&] { return Frames(child) > frames + 5; }, 10000));
  PumpFor(1500);
  EXPECT_EQ(run.MessageBox(), nullptr) << "no failure is reported";
  EXPECT_EQ(SaverProcessIds(L"fxframe").size(), 1u);

  // A display change restarts it at the new size, straight in preview mode.
  shell_.Command(kShellResizeLayer, 800, 600);
  PostMessageW(run.MainWindow(), WM_DISPLAYCHANGE, 32, MAKELPARAM(800, 600));
  ASSERT_TRUE(WaitFor([&] { return log_.Count(L"fxframe", "/p " + Decimal(host)) == 2; }, 20000));
  child = WaitPreviewInHost(run, L"fxframe");
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(WaitFor(
      [&] {
        GetClientRect(child, &childRect);
        return childRect.right == 800 && childRect.bottom == 600;
      },
      10000));
  EXPECT_EQ(log_.Count(L"fxframe", "/s"), 1) << "no second full-screen attempt";

  ASSERT_TRUE(run.ExitThroughMenu());
  EXPECT_EQ(log_.Count(L"fxframe", "exit close"), 2) << "closed like a preview, both times";
  EXPECT_TRUE(SaverProcessIds().empty());
}

TEST_F(Fallback, ASaverThatFailsInBothModesIsReportedOnce) {
  InstallSavers({{L"fxdoomed", L"FixtureSaver.exe"}});
  OrvaneRun run(L"fxdoomed");
  run.Start();
  ASSERT_TRUE(run.WaitReady());
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = run.MessageBox()) != nullptr; }, 40000));
  EXPECT_EQ(run.MessageBoxText(box), L"スクリーン セーバーを壁紙化できません。");
  run.CloseMessageBox(box);
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 10000));
  PumpFor(3000);
  EXPECT_EQ(run.MessageBox(), nullptr) << "only one message";
  EXPECT_EQ(log_.Count(L"fxdoomed", "/s"), 1);
  EXPECT_EQ(log_.Count(L"fxdoomed", "/p "), 1);
  EXPECT_TRUE(run.Proc().Running());
}

TEST_F(Fallback, ASaverThatSurvivesAdoptionNeverFallsBack) {
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  OrvaneRun run(L"fxplain");
  ASSERT_NE(run.StartWithWallpaper(), nullptr);
  PumpFor(2000);
  EXPECT_EQ(log_.Count(L"fxplain", "/p "), 0);
  EXPECT_EQ(log_.Count(L"fxplain", "/s"), 1);
}

TEST_F(Fallback, SwitchingAwayFromAPreviewModeWallpaperAndBack) {
  InstallSavers({{L"fxframe", L"FixtureSaver.exe"}, {L"fxplain", L"FixtureSaverAlt.exe"}});
  OrvaneRun run(L"fxframe");
  run.Start();
  ASSERT_TRUE(run.WaitReady());
  ASSERT_NE(WaitPreviewInHost(run, L"fxframe"), nullptr);

  HWND dialog = run.OpenSettings();
  ASSERT_NE(dialog, nullptr);
  OrvaneRun::ChooseAndPress(dialog, L"Alt Saver", IDOK);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }, 30000));
  ASSERT_NE(run.WaitSaverWindow(), nullptr);
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds(L"fxframe").empty(); }, 10000));
  EXPECT_EQ(SaverProcessIds(L"fxplain").size(), 1u);

  dialog = run.OpenSettings();
  ASSERT_NE(dialog, nullptr);
  OrvaneRun::ChooseAndPress(dialog, L"Fixture Saver", IDOK);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog); }, 30000));
  ASSERT_NE(WaitPreviewInHost(run, L"fxframe"), nullptr);
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds(L"fxplain").empty(); }, 10000));
  EXPECT_EQ(SaverProcessIds(L"fxframe").size(), 1u);
  EXPECT_EQ(log_.Count(L"fxframe", "/s"), 1) << "remembered for the run";
  EXPECT_EQ(run.MessageBox(), nullptr);
}
