#include "saver/Adoption.h"

#include "FixtureProtocol.h"
#include "app/AppState.h"
#include "common/Bench.h"
#include "desktop/DesktopHost.h"
#include "saver/Launcher.h"
#include "saver/SaverControl.h"
#include "unit/support/TestApp.h"

namespace {

class AdoptionTest : public TestApp {
 protected:
  void SetUp() override {
    TestApp::SetUp();
    shell_ = std::make_unique<bench::FakeShell>(L"--arranged");
    ASSERT_TRUE(shell_->Ready());
    app.progmanWindow = shell_->Progman();
    ASSERT_TRUE(FindDesktopLayer());
    ASSERT_TRUE(CreateHostWindow());
  }
  void TearDown() override {
    TestApp::TearDown();
    bench::KillAllSavers();
    shell_.reset();
  }
  // Launches as wallpaper and returns the milliseconds the launch took.
  ULONGLONG Launch(const wchar_t* name) {
    bench::InstallSavers({{name, L"FixtureSaver.exe"}});
    const ULONGLONG start = GetTickCount64();
    app.wallpaperProcess = LaunchSaver(name, SaverMode::Wallpaper, nullptr);
    return GetTickCount64() - start;
  }
  static DWORD Style(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }
  static DWORD ExStyle(HWND hwnd) { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)); }
  static RECT RectInHost(HWND hwnd) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    MapWindowPoints(nullptr, app.hostWindow, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }
  static LRESULT Frames(HWND hwnd) {
    DWORD_PTR frames = 0;
    SendMessageTimeoutW(hwnd, kFixtureGetFrames, 0, 0, SMTO_NORMAL, 2000, &frames);
    return static_cast<LRESULT>(frames);
  }
  void ExpectAdoptedChild(HWND hwnd) {
    EXPECT_EQ(GetParent(hwnd), app.hostWindow);
    EXPECT_EQ(Style(hwnd) & (WS_CHILD | WS_POPUP | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(ExStyle(hwnd) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), 0u);
    EXPECT_EQ(GetWindow(hwnd, GW_OWNER), nullptr);
  }
  void ExpectFailure() {
    EXPECT_EQ(app.wallpaperProcess, nullptr);
    EXPECT_TRUE(app.saverWindows->empty());
    ASSERT_EQ(capturedBoxes.size(), 1u);
    EXPECT_EQ(capturedBoxes[0].text, L"スクリーン セーバーを壁紙化できません。");
    EXPECT_EQ(capturedBoxes[0].caption, L"Orvane");
    EXPECT_EQ(capturedBoxes[0].type, static_cast<UINT>(MB_OK));
  }

  std::unique_ptr<bench::FakeShell> shell_;
};

}  // namespace

TEST(Nudge, GoesRightNearTheLeftEdgeAndLeftElsewhere) {
  EXPECT_EQ(NudgeDirection(31), 32);
  EXPECT_EQ(NudgeDirection(-100), 32);
  EXPECT_EQ(NudgeDirection(32), -32);
}

TEST_F(AdoptionTest, AFullScreenWindowBecomesAChildOfTheHostAndKeepsAnimating) {
  const ULONGLONG took = Launch(L"fxplain");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  EXPECT_TRUE(capturedBoxes.empty());
  EXPECT_GT(took, kSettleMs) << "the launch waits out the settle period";
  ASSERT_EQ(app.saverWindows->size(), 1u);
  const SaverWindowRecord& record = app.saverWindows->front();
  EXPECT_EQ(record.adoptAfter, 0u);
  EXPECT_TRUE(record.wasEnabled);
  ExpectAdoptedChild(record.hwnd);
  EXPECT_TRUE(IsWindowEnabled(record.hwnd)) << "enabled again after adoption";
  const RECT rect = RectInHost(record.hwnd);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(rect.bottom, GetSystemMetrics(SM_CYSCREEN));
  EXPECT_NE(app.wallpaperStartTick, 0u);
  const LRESULT frames = Frames(record.hwnd);
  EXPECT_TRUE(bench::WaitFor([&] { return Frames(record.hwnd) > frames + 5; }, 10000)) << "still animating";
}

TEST_F(AdoptionTest, AZeroSizeWindowIsHiddenAndNeverRecorded) {
  Launch(L"fxzero");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  ASSERT_EQ(app.saverWindows->size(), 1u);
  ExpectAdoptedChild(app.saverWindows->front().hwnd);
  DWORD processId = GetProcessId(app.wallpaperProcess);
  for (HWND hwnd : bench::WindowsOfProcess(processId, true)) {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    if (IsRectEmpty(&rect)) {
      EXPECT_FALSE(Style(hwnd) & WS_VISIBLE);
    }
  }
}

TEST_F(AdoptionTest, ADisabledWindowStaysDisabled) {
  Launch(L"fxdisabled");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  ASSERT_EQ(app.saverWindows->size(), 1u);
  EXPECT_FALSE(app.saverWindows->front().wasEnabled);
  EXPECT_FALSE(IsWindowEnabled(app.saverWindows->front().hwnd));
}

TEST_F(AdoptionTest, AMaximizedWindowIsRestoredAtItsPlace) {
  Launch(L"fxmax");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  ASSERT_EQ(app.saverWindows->size(), 1u);
  HWND hwnd = app.saverWindows->front().hwnd;
  ExpectAdoptedChild(hwnd);
  EXPECT_FALSE(Style(hwnd) & WS_MAXIMIZE);
  const RECT rect = RectInHost(hwnd);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right - rect.left, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(rect.bottom - rect.top, GetSystemMetrics(SM_CYSCREEN));
}

TEST_F(AdoptionTest, TwoWindowsAreBothAdopted) {
  Launch(L"fxtwo");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  ASSERT_EQ(app.saverWindows->size(), 2u);
  ExpectAdoptedChild((*app.saverWindows)[0].hwnd);
  ExpectAdoptedChild((*app.saverWindows)[1].hwnd);
}

TEST_F(AdoptionTest, TheCursorComesBackOnlyWhenItWasHidden) {
  while (ShowCursor(FALSE) >= 0) {
  }
  Launch(L"fxplain");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  EXPECT_EQ(ShowCursor(FALSE), -1) << "raised from -1 to 0";
  EXPECT_EQ(ShowCursor(TRUE), 0);
  StopSaver(TakeHandle(app.wallpaperProcess), nullptr);
  Launch(L"fxplain");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  EXPECT_EQ(ShowCursor(FALSE), -1) << "left at 0";
  ShowCursor(TRUE);
}

TEST_F(AdoptionTest, AWindowAfterTheDeadlineIsAdoptedOnceTheSaverIsIdle) {
  const ULONGLONG took = Launch(L"fxlate");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  EXPECT_GT(took, kLaunchDeadlineMs);
  ASSERT_EQ(app.saverWindows->size(), 1u);
  ExpectAdoptedChild(app.saverWindows->front().hwnd);
}

TEST_F(AdoptionTest, ASaverThatExitsAtOnceFailsAtTheDeadline) {
  const ULONGLONG took = Launch(L"fxexit");
  EXPECT_GE(took, kLaunchDeadlineMs);
  ExpectFailure();
}

TEST_F(AdoptionTest, ASaverThatNeverGoesIdleIsTerminated) {
  Launch(L"fxbusy");
  ExpectFailure();
  EXPECT_TRUE(bench::WaitFor([] { return bench::SaverProcessIds(L"fxbusy").empty(); }, 5000));
}

TEST_F(AdoptionTest, ASaverWithoutAWindowFailsAfterItWentIdle) {
  Launch(L"fxnowin");
  ExpectFailure();
  EXPECT_TRUE(bench::WaitFor([] { return bench::SaverProcessIds(L"fxnowin").empty(); }, 5000));
}

TEST_F(AdoptionTest, StoppingReleasesTheWindowsBeforeTheSaverEnds) {
  bench::FixtureLog log;
  Launch(L"fxplain");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  HWND hwnd = app.saverWindows->front().hwnd;
  StopSaver(TakeHandle(app.wallpaperProcess), nullptr);
  EXPECT_EQ(app.wallpaperStartTick, 0u);
  EXPECT_EQ(log.Count(L"fxplain", "exit key"), 1) << "quit on the posted input, not terminated";
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(app.saverWindows->size(), 1u) << "records stay until the next launch";
}

TEST_F(AdoptionTest, ASaverIgnoringTheQuitInputIsTerminatedAfterItsGrace) {
  Launch(L"fxdeaf");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  HWND hwnd = app.saverWindows->front().hwnd;
  const DWORD processId = GetProcessId(app.wallpaperProcess);
  const ULONGLONG start = GetTickCount64();
  StopSaver(TakeHandle(app.wallpaperProcess), nullptr);
  EXPECT_GE(GetTickCount64() - start, 2900u);
  EXPECT_FALSE(IsWindow(hwnd));
  HANDLE gone = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (gone) {
    EXPECT_EQ(WaitForSingleObject(gone, 5000), WAIT_OBJECT_0);
    CloseHandle(gone);
  }
}

// Hiding a framework saver's active window deactivates it, and such a saver quits on that before its
// window settles in the host. It then draws into the host in preview mode, and goes there straight
// away at its next start.
TEST_F(AdoptionTest, AFrameworkSaverThatQuitsOnAdoptionDrawsIntoTheHostInPreviewMode) {
  bench::FixtureLog log;
  Launch(L"fxframe");
  ASSERT_NE(app.wallpaperProcess, nullptr);
  EXPECT_TRUE(capturedBoxes.empty());
  EXPECT_EQ(log.Count(L"fxframe", "exit deactivate"), 1);
  EXPECT_TRUE(app.wallpaperIsPreview);
  EXPECT_TRUE(app.saverWindows->empty());
  const std::string inHost = "/p " + std::to_string(reinterpret_cast<UINT_PTR>(app.hostWindow) & 0xFFFFFFFFu);
  EXPECT_EQ(log.Count(L"fxframe", inHost), 1);
  HWND child = GetWindow(app.hostWindow, GW_CHILD);
  ASSERT_NE(child, nullptr);
  DWORD owner = 0;
  GetWindowThreadProcessId(child, &owner);
  EXPECT_EQ(owner, GetProcessId(app.wallpaperProcess));
  const RECT rect = RectInHost(child);
  EXPECT_EQ(rect.right - rect.left, app.hostWidth);
  EXPECT_EQ(rect.bottom - rect.top, app.hostHeight);
  const LRESULT frames = Frames(child);
  EXPECT_TRUE(bench::WaitFor([&] { return Frames(child) > frames + 5; }, 10000)) << "still animating";

  StopWallpaper();
  EXPECT_EQ(log.Count(L"fxframe", "exit close"), 1) << "closed like a preview";
  EXPECT_EQ(GetWindow(app.hostWindow, GW_CHILD), nullptr);

  app.wallpaperProcess = LaunchSaver(L"fxframe", SaverMode::Wallpaper, nullptr);
  ASSERT_NE(app.wallpaperProcess, nullptr);
  EXPECT_EQ(log.Count(L"fxframe", "/s"), 1) << "no second attempt at adoption";
  EXPECT_EQ(log.Count(L"fxframe", inHost), 2);
}

// The shell took the host away (its recovery will start the saver again): nothing to start, nothing to say.
TEST_F(AdoptionTest, WithoutAHostAPreviewModeLaunchGivesUpQuietly) {
  bench::FixtureLog log;
  MarkPreviewMode(L"fxframe");
  bench::InstallSavers({{L"fxframe", L"FixtureSaver.exe"}});
  HWND host = app.hostWindow;
  app.hostWindow = nullptr;
  app.wallpaperProcess = LaunchSaver(L"fxframe", SaverMode::Wallpaper, nullptr);
  app.hostWindow = host;
  EXPECT_EQ(app.wallpaperProcess, nullptr);
  EXPECT_TRUE(capturedBoxes.empty());
  EXPECT_EQ(log.Count(L"fxframe", "start"), 0);
}
