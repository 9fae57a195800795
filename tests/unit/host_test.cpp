#include "desktop/DesktopHost.h"

#include "FixtureProtocol.h"
#include "app/AppState.h"
#include "common/Bench.h"
#include "unit/support/TestApp.h"

namespace {

class HostTest : public TestApp {
 protected:
  void StartShell(const wchar_t* options) {
    shell_ = std::make_unique<bench::FakeShell>(options);
    ASSERT_TRUE(shell_->Ready());
    app.progmanWindow = shell_->Progman();
  }
  void TearDown() override {
    TestApp::TearDown();
    shell_.reset();
  }
  // A timer exists exactly when killing it succeeds.
  static bool TimerExists(UINT_PTR id) { return KillTimer(app.mainWindow, id) != FALSE; }

  std::unique_ptr<bench::FakeShell> shell_;
};

}  // namespace

TEST(EarlyFailure, CountsUpToOneMillisecondBeforeTheDeadline) {
  EXPECT_TRUE(IsEarlyFailure(5000 + 9999, 5000));
  EXPECT_FALSE(IsEarlyFailure(5000 + 10000, 5000));
  EXPECT_TRUE(IsEarlyFailure(0xFFFFFFFFull + 1, 0xFFFFFFFFull)) << "beyond 32 bits";
}

TEST_F(HostTest, AnArrangedShellIsFoundWithoutAsking) {
  StartShell(L"--arranged");
  ASSERT_TRUE(FindDesktopLayer());
  EXPECT_EQ(app.desktopLayer, shell_->Layer());
  EXPECT_EQ(shell_->Count052c(), 0);
}

TEST_F(HostTest, TheShellIsAskedTwiceToBuildItsLayer) {
  StartShell(L"");
  ASSERT_TRUE(FindDesktopLayer());
  EXPECT_EQ(app.desktopLayer, shell_->Layer());
  EXPECT_EQ(shell_->Count052c(), 2);
}

TEST_F(HostTest, AnIconViewOutOfPlaceIsNoLayer) {
  for (const wchar_t* options : {L"--icons-grandchild", L"--icons-in-progman"}) {
    StartShell(options);
    EXPECT_FALSE(FindDesktopLayer()) << options;
    EXPECT_EQ(shell_->Count052c(), 2) << options;
    shell_.reset();
  }
}

TEST_F(HostTest, TheHostIsABlackChildOfTheLayerWithItsSize) {
  StartShell(L"--arranged --size 800x600");
  ASSERT_TRUE(FindDesktopLayer());
  ASSERT_TRUE(CreateHostWindow());
  HWND host = app.hostWindow;
  EXPECT_EQ(GetParent(host), app.desktopLayer);
  const DWORD style = static_cast<DWORD>(GetWindowLongW(host, GWL_STYLE));
  EXPECT_EQ(style & (WS_POPUP | WS_CHILD | WS_DISABLED | WS_CLIPCHILDREN | WS_VISIBLE),
            static_cast<DWORD>(WS_CHILD | WS_DISABLED | WS_CLIPCHILDREN | WS_VISIBLE));
  EXPECT_TRUE(GetWindowLongW(host, GWL_EXSTYLE) & WS_EX_LAYERED);
  BYTE alpha = 0;
  DWORD flags = 0;
  ASSERT_TRUE(GetLayeredWindowAttributes(host, nullptr, &alpha, &flags));
  EXPECT_EQ(alpha, 255);
  EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
  RECT rect{};
  GetWindowRect(host, &rect);
  MapWindowPoints(nullptr, app.desktopLayer, reinterpret_cast<POINT*>(&rect), 2);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, 800);
  EXPECT_EQ(rect.bottom, 600);
  EXPECT_EQ(app.hostWidth, 800);
  EXPECT_EQ(app.hostHeight, 600);
  SendMessageW(host, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(host));
}

TEST_F(HostTest, AnEmptyLayerGivesAnEmptyHost) {
  StartShell(L"--arranged --empty-layer");
  ASSERT_TRUE(FindDesktopLayer());
  ASSERT_TRUE(CreateHostWindow());
  EXPECT_EQ(app.hostWidth, 0);
  EXPECT_EQ(app.hostHeight, 0);
}

TEST_F(HostTest, LosingTheLayerEndsTheSaverAndStartsRecoveryOnlyWhileASaverIsConfigured) {
  StartShell(L"--arranged");
  ASSERT_TRUE(FindDesktopLayer());

  // Removed by the program itself (no saver chosen): nothing follows.
  ASSERT_TRUE(CreateHostWindow());
  DestroyWindow(app.hostWindow);
  EXPECT_EQ(app.hostWindow, nullptr);
  EXPECT_FALSE(TimerExists(1));

  // Destroyed by the shell while a saver runs: the saver ends, three recovery timers start.
  bench::InstallSavers({{L"fxnowin", L"FixtureSaver.exe"}});
  ASSERT_TRUE(CreateHostWindow());
  app.saverName = CopyString(L"fxplain");
  bench::Process saver = bench::Start(bench::SystemDir() + L"\\fxnowin.scr", L"/s");
  HANDLE process = nullptr;
  DuplicateHandle(GetCurrentProcess(), saver.Handle(), GetCurrentProcess(), &process, 0, FALSE, DUPLICATE_SAME_ACCESS);
  app.wallpaperProcess = process;
  shell_->Command(kShellDestroyLayer);
  ASSERT_TRUE(bench::WaitFor([] { return app.hostWindow == nullptr; }, 10000));
  EXPECT_EQ(app.wallpaperProcess, nullptr);
  EXPECT_TRUE(saver.WaitExit(5000));
  EXPECT_TRUE(TimerExists(1));
  EXPECT_TRUE(TimerExists(2));
  EXPECT_TRUE(TimerExists(3));
}

TEST_F(HostTest, AHostDestroyedAfterTheMainWindowStartsNoRecovery) {
  StartShell(L"--arranged");
  ASSERT_TRUE(FindDesktopLayer());
  ASSERT_TRUE(CreateHostWindow());
  app.saverName = CopyString(L"fxplain");
  HWND mainWindow = app.mainWindow;
  app.mainWindow = nullptr;
  DestroyWindow(app.hostWindow);
  app.mainWindow = mainWindow;
  EXPECT_FALSE(TimerExists(1));
}

TEST_F(HostTest, OnlyAnEarlyDestructionOfAWindowInsideIsReported) {
  StartShell(L"--arranged");
  ASSERT_TRUE(FindDesktopLayer());
  ASSERT_TRUE(CreateHostWindow());
  const auto notify = [](WPARAM event) {
    SendMessageW(app.hostWindow, WM_PARENTNOTIFY, event, 0);
  };
  app.wallpaperStartTick = GetTickCount64();
  notify(MAKEWPARAM(WM_CREATE, 0));
  notify(MAKEWPARAM(WM_LBUTTONDOWN, 0));
  EXPECT_FALSE(TakePosted(WMA_WALLPAPER_FAILED));
  notify(MAKEWPARAM(WM_DESTROY, 0));
  notify(MAKEWPARAM(WM_DESTROY, 7));
  EXPECT_TRUE(TakePosted(WMA_WALLPAPER_FAILED));
  EXPECT_TRUE(TakePosted(WMA_WALLPAPER_FAILED)) << "each destruction is reported";
  app.wallpaperStartTick = GetTickCount64() - 10000;
  notify(MAKEWPARAM(WM_DESTROY, 0));
  app.wallpaperStartTick = 0;
  notify(MAKEWPARAM(WM_DESTROY, 0));
  EXPECT_FALSE(TakePosted(WMA_WALLPAPER_FAILED));
}

TEST_F(HostTest, OnTheRaisedDesktopTheHostLivesInProgmanBelowTheIcons) {
  StartShell(L"--raised --size 800x600");
  ASSERT_TRUE(FindDesktopLayer());
  EXPECT_EQ(shell_->Count052c(), 2) << "the classic arrangement is tried first";
  EXPECT_TRUE(app.raisedDesktop);
  EXPECT_EQ(app.desktopLayer, app.progmanWindow);
  ASSERT_TRUE(CreateHostWindow());
  HWND view = reinterpret_cast<HWND>(shell_->Command(kShellGetDefView));
  HWND worker = reinterpret_cast<HWND>(shell_->Command(kShellGetWorker));
  ASSERT_NE(worker, nullptr);
  EXPECT_EQ(GetParent(app.hostWindow), app.progmanWindow);
  EXPECT_EQ(GetWindow(view, GW_HWNDNEXT), app.hostWindow);
  EXPECT_EQ(GetWindow(app.hostWindow, GW_HWNDNEXT), worker);
  EXPECT_TRUE(GetWindowLongW(app.hostWindow, GWL_EXSTYLE) & WS_EX_LAYERED);
  EXPECT_EQ(app.hostWidth, 800);
  EXPECT_EQ(app.hostHeight, 600);

  // The shell makes a new wallpaper window right below its icons: the host goes back above it.
  // (The main window hears of it by the shell's broadcast; here the test passes it on.)
  shell_->Command(kShellRecreateWorker);
  HWND newWorker = reinterpret_cast<HWND>(shell_->Command(kShellGetWorker));
  ASSERT_NE(newWorker, nullptr);
  EXPECT_EQ(GetWindow(view, GW_HWNDNEXT), newWorker);
  KeepHostBelowIcons();
  EXPECT_EQ(GetWindow(view, GW_HWNDNEXT), app.hostWindow);
  EXPECT_EQ(GetWindow(app.hostWindow, GW_HWNDNEXT), newWorker);
}

TEST_F(HostTest, TheClassicArrangementIsPreferredOverTheRaisedMarker) {
  StartShell(L"--arranged");
  ASSERT_TRUE(FindDesktopLayer());
  EXPECT_FALSE(app.raisedDesktop);
  EXPECT_EQ(app.desktopLayer, shell_->Layer());
}
