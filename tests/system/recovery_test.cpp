// When the shell destroys its wallpaper layer the host goes with it: the program looks for the layer again
// after one, three and ten seconds, and exits when it is still missing at the last try.
#include <gtest/gtest.h>

#include <algorithm>

#include "FixtureProtocol.h"
#include "system/support/OrvaneRun.h"
#include "system/support/SaverWatch.h"

using namespace bench;

namespace {

constexpr wchar_t kSaver[] = L"fxplain";

int WallpaperStarts(const FixtureLog& log) { return CountStarts(log, kSaver, "/s"); }

std::vector<HWND> TopLevelWindows(OrvaneRun& run) {
  std::vector<HWND> windows = WindowsOfProcess(run.Proc().Id(), true);
  std::sort(windows.begin(), windows.end());
  return windows;
}

// Time since the tick until the condition held, or the bound when it never did.
ULONGLONG MsUntil(ULONGLONG since, const std::function<bool()>& condition, DWORD timeoutMs) {
  if (!WaitFor(condition, timeoutMs)) return timeoutMs;
  return GetTickCount64() - since;
}

}  // namespace

TEST(Recovery, LayerBackWithinASecondIsRecoveredOnceByTheFirstTimer) {
  RunningWallpaper bench;
  ASSERT_TRUE(bench.Ready());
  const HWND oldHost = bench.run.Host();
  const DWORD oldSaver = HostedSaverProcess(bench.run);
  const std::vector<HWND> windows = TopLevelWindows(bench.run);

  const ULONGLONG lost = GetTickCount64();
  bench.shell.Command(kShellDestroyLayer);
  PumpFor(300);
  bench.shell.Command(kShellBuildLayer);

  const ULONGLONG hostAfter = MsUntil(lost, [&] { return bench.run.Host() != nullptr; }, 15000);
  HWND host = bench.run.Host();
  ASSERT_NE(host, nullptr);
  EXPECT_NE(host, oldHost);
  EXPECT_LT(hostAfter, 2800u) << "the first recovery timer fires after one second";
  EXPECT_EQ(GetParent(host), bench.shell.Layer());
  ASSERT_TRUE(WaitFor([&] { return WallpaperStarts(bench.log) == 2 && HostedSaverProcess(bench.run) != 0; }, 30000));
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(oldSaver); }, 5000));

  // Past the other two timers: nothing more happens.
  const ULONGLONG elapsed = GetTickCount64() - lost;
  if (elapsed < 11500) PumpFor(static_cast<DWORD>(11500 - elapsed));
  EXPECT_EQ(WallpaperStarts(bench.log), 2);
  EXPECT_EQ(bench.run.Host(), host);
  EXPECT_EQ(SaverProcessIds().size(), 1u);
  EXPECT_EQ(TopLevelWindows(bench.run), windows);
}

TEST(Recovery, LayerBackAfterFiveSecondsIsRecoveredByTheLastTimer) {
  RunningWallpaper bench;
  ASSERT_TRUE(bench.Ready());
  const std::vector<HWND> windows = TopLevelWindows(bench.run);
  // The shell does not build on request, only on its own five seconds later.
  bench.shell.Command(kShellSetIgnore052c, 1);

  const ULONGLONG lost = GetTickCount64();
  bench.shell.Command(kShellDestroyLayer);
  bench.shell.Command(kShellBuildLayerLater, 5000);
  ASSERT_TRUE(WaitFor([&] { return bench.shell.Layer() != nullptr; }, 15000));
  EXPECT_GE(GetTickCount64() - lost, 4000u);

  const ULONGLONG hostAfter = MsUntil(lost, [&] { return bench.run.Host() != nullptr; }, 25000);
  ASSERT_NE(bench.run.Host(), nullptr);
  EXPECT_GE(hostAfter, 9500u) << "the timers at one and three seconds find no layer; the one at ten does";
  ASSERT_TRUE(WaitFor([&] { return WallpaperStarts(bench.log) == 2 && HostedSaverProcess(bench.run) != 0; }, 30000));
  EXPECT_EQ(GetParent(bench.run.Host()), bench.shell.Layer());
  EXPECT_TRUE(bench.run.Proc().Running());
  EXPECT_EQ(TopLevelWindows(bench.run), windows);
}

TEST(Recovery, LayerNeverBackEndsTheProgramAfterTenSeconds) {
  RunningWallpaper bench;
  ASSERT_TRUE(bench.Ready());
  bench.shell.Command(kShellSetIgnore052c, 1);
  bench.shell.Command(kShellResetCounts);

  const ULONGLONG lost = GetTickCount64();
  bench.shell.Command(kShellDestroyLayer);
  EXPECT_FALSE(bench.run.Proc().WaitExit(8000));
  ASSERT_TRUE(bench.run.Proc().WaitExit(20000));
  EXPECT_GE(GetTickCount64() - lost, 9500u);
  EXPECT_EQ(bench.run.Proc().ExitCode(), 0u);
  // Posted on the way out: the shell may answer a query before it gets to it.
  EXPECT_TRUE(WaitFor([&] { return bench.shell.CountSysColor() == 1; }, 5000));
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 5000));
  EXPECT_EQ(bench.run.MainWindow(), nullptr);
}

TEST(Recovery, LayerNeverBackWithTheDialogOpenEndsTheProgram) {
  RunningWallpaper bench;
  ASSERT_TRUE(bench.Ready());
  ASSERT_TRUE(bench.run.PickMenuItem(L's'));
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (dialog = bench.run.SettingsDialog()) != nullptr; }, 15000));
  // The dialog previews the configured saver.
  ASSERT_TRUE(WaitFor([&] { return CountStarts(bench.log, kSaver, "/p") == 1; }, 15000));
  bench.shell.Command(kShellSetIgnore052c, 1);
  bench.shell.Command(kShellResetCounts);

  bench.shell.Command(kShellDestroyLayer);
  ASSERT_TRUE(bench.run.Proc().WaitExit(25000));
  EXPECT_EQ(bench.run.Proc().ExitCode(), 0u);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_TRUE(WaitFor([&] { return bench.shell.CountSysColor() == 1; }, 5000));
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 5000));
}
