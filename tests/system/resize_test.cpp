// The wallpaper follows the size of the shell's layer: work-area changes check at once, display changes
// check after one and after three seconds; a size check while a restart is still inside its failure
// message box waits for it instead of starting a second saver.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "FixtureProtocol.h"
#include "system/support/OrvaneRun.h"
#include "system/support/SaverWatch.h"

using namespace bench;

namespace {

constexpr wchar_t kSaver[] = L"fxplain";

SIZE ClientSize(HWND hwnd) {
  RECT rect{};
  GetClientRect(hwnd, &rect);
  return {rect.right, rect.bottom};
}

bool SameSize(SIZE size, int width, int height) { return size.cx == width && size.cy == height; }

int WallpaperStarts(const FixtureLog& log, const wchar_t* saver = kSaver) { return CountStarts(log, saver, "/s"); }

}  // namespace

TEST(Resize, WorkAreaChangeKeepingTheSizeRestartsNothing) {
  RunningWallpaper bench;
  ASSERT_TRUE(bench.Ready());
  const HWND host = bench.run.Host();
  const DWORD saver = HostedSaverProcess(bench.run);

  ASSERT_TRUE(SendWorkAreaChange(bench.run.MainWindow()));
  PumpFor(2000);

  EXPECT_EQ(WallpaperStarts(bench.log), 1);
  EXPECT_TRUE(ProcessAlive(saver));
  EXPECT_FALSE(LoggedExit(bench.log, kSaver, saver));
  EXPECT_EQ(bench.run.Host(), host);
  EXPECT_EQ(HostedSaverProcess(bench.run), saver);
}

TEST(Resize, WorkAreaChangeWithANewSizeRestartsOnceAtThatSize) {
  RunningWallpaper bench;
  ASSERT_TRUE(bench.Ready());
  const HWND host = bench.run.Host();
  const DWORD first = HostedSaverProcess(bench.run);

  bench.shell.Command(kShellResizeLayer, 1000, 700);
  ASSERT_TRUE(SendWorkAreaChange(bench.run.MainWindow()));
  ASSERT_TRUE(WaitWallpaperStart(bench.run, bench.log, kSaver, 2));

  const DWORD second = HostedSaverProcess(bench.run);
  EXPECT_NE(second, first);
  EXPECT_EQ(bench.run.Host(), host);
  EXPECT_TRUE(SameSize(ClientSize(host), 1000, 700));
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(first); }, 10000));
  // Stopped before the new one started: the new run starts at the new size.
  const int firstExit = LogLineIndex(bench.log, kSaver, first, "exit");
  EXPECT_GE(firstExit, 0);
  EXPECT_LT(firstExit, LogLineIndex(bench.log, kSaver, second, "start"));
  // The saver sizes its window by the screen; the host shows what lies inside its own client area.
  HWND window = bench.run.WaitSaverWindow(5000);
  ASSERT_NE(window, nullptr);
  RECT inHost{};
  GetWindowRect(window, &inHost);
  MapWindowPoints(nullptr, host, reinterpret_cast<POINT*>(&inHost), 2);
  EXPECT_LE(inHost.left, 0);
  EXPECT_LE(inHost.top, 0);
  EXPECT_GE(inHost.right, 1000);
  EXPECT_GE(inHost.bottom, 700);

  PumpFor(2000);
  EXPECT_EQ(WallpaperStarts(bench.log), 2);
  EXPECT_EQ(SaverProcessIds().size(), 1u);
}

TEST(Resize, DisplayChangeWithTheSizeInPlaceRestartsOnce) {
  RunningWallpaper bench;
  ASSERT_TRUE(bench.Ready());
  const HWND host = bench.run.Host();

  bench.shell.Command(kShellResizeLayer, 1100, 800);
  PostDisplayChange(bench.run.MainWindow(), 1100, 800);
  ASSERT_TRUE(WaitWallpaperStart(bench.run, bench.log, kSaver, 2));
  EXPECT_TRUE(SameSize(ClientSize(host), 1100, 800));

  // Well past the check at three seconds.
  PumpFor(4000);
  EXPECT_EQ(WallpaperStarts(bench.log), 2);
  EXPECT_EQ(bench.run.Host(), host);
  EXPECT_EQ(SaverProcessIds().size(), 1u);
}

TEST(Resize, DisplayChangeWithTheSizeChangingBetweenTheChecksRestartsTwice) {
  RunningWallpaper bench;
  ASSERT_TRUE(bench.Ready());
  const HWND host = bench.run.Host();
  const DWORD first = HostedSaverProcess(bench.run);

  bench.shell.Command(kShellResizeLayer, 1100, 800);
  PostDisplayChange(bench.run.MainWindow(), 1100, 800);
  // The first check has read the size once it has stopped the saver; the second one comes at three seconds.
  ASSERT_TRUE(WaitFor([&] { return LoggedExit(bench.log, kSaver, first); }, 10000));
  bench.shell.Command(kShellResizeLayer, 900, 600);

  ASSERT_TRUE(WaitWallpaperStart(bench.run, bench.log, kSaver, 3));
  EXPECT_TRUE(SameSize(ClientSize(host), 900, 600));
  PumpFor(2500);
  EXPECT_EQ(WallpaperStarts(bench.log), 3);
  EXPECT_EQ(SaverProcessIds().size(), 1u);
}

TEST(Resize, WithoutAHostSizeChecksChangeNothing) {
  FixtureLog log;
  InstallSavers({{kSaver, L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  run.Start();
  ASSERT_TRUE(run.WaitReady());

  shell.Command(kShellResizeLayer, 1000, 700);
  ASSERT_TRUE(SendWorkAreaChange(run.MainWindow()));
  PostDisplayChange(run.MainWindow(), 1000, 700);
  PumpFor(4500);

  EXPECT_EQ(run.Host(), nullptr);
  EXPECT_TRUE(SaverStarts(log, kSaver).empty());
  EXPECT_TRUE(SaverProcessIds().empty());
  EXPECT_TRUE(run.Proc().Running());
}

TEST(Resize, AfterAFailedWallpaperASizeChangeStartsTheSaverAgain) {
  RunningWallpaper bench;
  ASSERT_TRUE(bench.Ready());
  const HWND host = bench.run.Host();
  const std::string inHost = "/p " + std::to_string(reinterpret_cast<UINT_PTR>(host));

  // The first report gives the saver another chance, drawing into the host; the second one gives up.
  PostMessageW(bench.run.MainWindow(), kWallpaperFailed, 0, 0);
  ASSERT_TRUE(WaitFor(
      [&] {
        return CountStarts(bench.log, kSaver, inHost) == 1 &&
               HostedSaverProcess(bench.run) == LastStart(bench.log, kSaver, inHost);
      },
      20000));
  const DWORD failing = HostedSaverProcess(bench.run);
  PostMessageW(bench.run.MainWindow(), kWallpaperFailed, 0, 0);
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = bench.run.MessageBox()) != nullptr; }, 10000));
  EXPECT_EQ(bench.run.MessageBoxText(box), L"スクリーン セーバーを壁紙化できません。");
  bench.run.CloseMessageBox(box);
  ASSERT_TRUE(WaitFor([&] { return !ProcessAlive(failing); }, 10000));
  EXPECT_EQ(bench.run.Host(), host);
  EXPECT_TRUE(SaverProcessIds().empty());

  bench.shell.Command(kShellResizeLayer, 1000, 700);
  ASSERT_TRUE(SendWorkAreaChange(bench.run.MainWindow()));
  ASSERT_TRUE(WaitFor(
      [&] {
        const DWORD hosted = HostedSaverProcess(bench.run);
        return hosted != 0 && hosted != failing && SaverNameOfProcess(hosted) == kSaver;
      },
      20000));
  EXPECT_EQ(bench.run.Host(), host);
  EXPECT_TRUE(SameSize(ClientSize(host), 1000, 700));
  EXPECT_EQ(CountStarts(bench.log, kSaver, inHost), 2);
  EXPECT_EQ(SaverProcessIds().size(), 1u);
}

TEST(Resize, SizeChecksDuringARestartStartNoSecondSaver) {
  constexpr wchar_t kMissing[] = L"fxplain_b";
  FixtureLog log;
  RemoveAllSavers();
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  std::thread firstCheck;
  std::thread laterCheck;
  struct Joiner {
    std::thread& a;
    std::thread& b;
    ~Joiner() {
      if (a.joinable()) a.join();
      if (b.joinable()) b.join();
    }
  } joiner{firstCheck, laterCheck};
  OrvaneRun run(kMissing);
  run.Start();
  ASSERT_TRUE(run.WaitReady());
  const HWND main = run.MainWindow();

  // The start-up launch fails: the host stays, black.
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = run.MessageBox()) != nullptr; }, 20000));
  EXPECT_EQ(run.MessageBoxText(box).rfind(L"スクリーン セーバーを起動できません。", 0), 0u);
  run.CloseMessageBox(box);
  ASSERT_TRUE(WaitFor([&] { return run.MessageBox() == nullptr; }, 10000));
  const HWND host = run.Host();
  ASSERT_NE(host, nullptr);

  // A size change whose restart fails and waits in its message box.
  shell.Command(kShellResizeLayer, 1000, 700);
  firstCheck = std::thread([main] { SendWorkAreaChange(main); });
  ASSERT_TRUE(WaitFor([&] { return (box = run.MessageBox()) != nullptr; }, 20000));
  EXPECT_TRUE(SameSize(ClientSize(host), 1000, 700));

  // Now the saver exists, and the size changes again while the box is open.
  ASSERT_TRUE(CopyFileW((FixturesDir() + L"\\FixtureSaver.exe").c_str(),
                        (SystemDir() + L"\\" + kMissing + L".scr").c_str(), FALSE));
  shell.Command(kShellResizeLayer, 900, 600);
  laterCheck = std::thread([main] { SendWorkAreaChange(main); });
  PostDisplayChange(main, 900, 600);
  EXPECT_FALSE(WaitFor([] { return !SaverProcessIds().empty(); }, 3500));
  EXPECT_TRUE(IsWindow(box));

  run.CloseMessageBox(box);
  ASSERT_TRUE(WaitWallpaperStart(run, log, kMissing, 1));
  EXPECT_EQ(run.Host(), host);
  EXPECT_TRUE(SameSize(ClientSize(host), 900, 600));
  size_t most = 0;
  WaitFor(
      [&] {
        most = std::max(most, SaverProcessIds().size());
        return false;
      },
      4500);
  EXPECT_EQ(most, 1u);
  EXPECT_EQ(WallpaperStarts(log, kMissing), 1);
  EXPECT_EQ(run.MessageBox(), nullptr);

  const DWORD saver = HostedSaverProcess(run);
  EXPECT_EQ(SaverProcessIds(), std::vector<DWORD>{saver});
  EXPECT_TRUE(run.ExitThroughMenu());
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 10000));
}
