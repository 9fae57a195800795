// The configured saver started with the program: where its window ends up, that it keeps drawing
// while the program idles, and what the user is told when it cannot run.
#include <gtest/gtest.h>

#include <string>

#include "FixtureProtocol.h"
#include "system/support/OrvaneRun.h"

using namespace bench;

namespace {

constexpr wchar_t kCannotStart[] = L"スクリーン セーバーを起動できません。";
constexpr wchar_t kCannotAdopt[] = L"スクリーン セーバーを壁紙化できません。";

std::wstring SystemText(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0x400,
                 reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::wstring result = text ? text : L"";
  LocalFree(text);
  return result;
}

int SaverFrames(HWND window) {
  DWORD_PTR frames = 0;
  SendMessageTimeoutW(window, kFixtureGetFrames, 0, 0, SMTO_NORMAL, 2000, &frames);
  return static_cast<int>(frames);
}

// Kernel plus user time of another process, in milliseconds.
ULONGLONG CpuMs(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return (ticks(kernel) + ticks(user)) / 10000;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

TEST(Wallpaper, ConfiguredSaverDrawsInsideTheHostWhileTheProgramIdles) {
  FixtureLog log;
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  FakeShell shell(L"--arranged");
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxplain");
  HWND saver = run.StartWithWallpaper();
  ASSERT_NE(saver, nullptr);

  HWND host = run.Host();
  HWND layer = shell.Layer();
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(GetParent(saver), host);
  EXPECT_EQ(GetParent(host), layer);
  EXPECT_EQ(GetWindow(shell.Progman(), GW_HWNDPREV), layer);
  EXPECT_EQ(run.HostChildren().size(), 1u);

  const DWORD hostStyle = static_cast<DWORD>(GetWindowLongW(host, GWL_STYLE));
  EXPECT_EQ(hostStyle & (WS_CHILD | WS_DISABLED | WS_CLIPCHILDREN | WS_VISIBLE),
            static_cast<DWORD>(WS_CHILD | WS_DISABLED | WS_CLIPCHILDREN | WS_VISIBLE));
  EXPECT_EQ(hostStyle & WS_POPUP, 0u);
  EXPECT_NE(GetWindowLongW(host, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
  DWORD hostProcess = 0;
  GetWindowThreadProcessId(host, &hostProcess);
  EXPECT_EQ(hostProcess, run.Proc().Id());

  const DWORD saverStyle = static_cast<DWORD>(GetWindowLongW(saver, GWL_STYLE));
  EXPECT_NE(saverStyle & WS_CHILD, 0u);
  EXPECT_EQ(saverStyle & WS_POPUP, 0u);
  EXPECT_EQ(GetWindowLongW(saver, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), 0);
  const std::vector<DWORD> savers = SaverProcessIds(L"fxplain");
  ASSERT_EQ(savers.size(), 1u);
  DWORD saverProcess = 0;
  GetWindowThreadProcessId(saver, &saverProcess);
  EXPECT_EQ(saverProcess, savers[0]);

  const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  RECT rect{};
  GetWindowRect(saver, &rect);
  EXPECT_TRUE(SameRect(rect, screen)) << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
  GetWindowRect(host, &rect);
  EXPECT_TRUE(SameRect(rect, screen)) << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
  EXPECT_EQ(log.Count(L"fxplain", " start "), 1);
  EXPECT_EQ(log.Count(L"fxplain", "/s"), 1);

  // The program must not poll while the saver draws: its UI thread answers, its CPU time stays flat.
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, run.Proc().Id());
  ASSERT_NE(process, nullptr);
  const int framesBefore = SaverFrames(saver);
  const ULONGLONG cpuBefore = CpuMs(process);
  PumpFor(3000);
  const ULONGLONG cpuAfter = CpuMs(process);
  CloseHandle(process);
  EXPECT_GT(cpuBefore, 0u) << "no process times to compare";
  EXPECT_LT(cpuAfter - cpuBefore, 200u);
  EXPECT_GT(SaverFrames(saver), framesBefore + 10) << "the saver stopped drawing";
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(run.MainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer), 0);
  EXPECT_EQ(GetParent(saver), host);
  EXPECT_EQ(run.MessageBox(), nullptr);

  ASSERT_TRUE(run.ExitThroughMenu());
  EXPECT_EQ(run.Proc().ExitCode(), 0u);
  EXPECT_TRUE(WaitFor([&] { return shell.CountSysColor() >= 1; }, 5000));
  EXPECT_EQ(log.Count(L"fxplain", " exit key"), 1);
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 5000));
}

TEST(Wallpaper, MissingSaverReportsThatItCannotStartAndKeepsABlackHost) {
  RemoveAllSavers();
  FakeShell shell(L"--arranged");
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxgone");
  run.Start();
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = run.MessageBox()) != nullptr || !run.Proc().Running(); }, 30000));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(run.MessageBoxText(box), std::wstring(kCannotStart) + L"\n" + SystemText(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(SaverProcessIds().empty());

  run.CloseMessageBox(box);
  ASSERT_TRUE(WaitFor([&] { return run.MessageBox() == nullptr; }, 10000));
  PumpFor(1000);
  EXPECT_TRUE(run.Proc().Running());
  EXPECT_NE(run.MainWindow(), nullptr);
  HWND host = run.Host();
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(GetParent(host), shell.Layer());
  // The shell's windows stay hidden on the bench, so only the host's own flag tells.
  EXPECT_NE(GetWindowLongW(host, GWL_STYLE) & WS_VISIBLE, 0);
  EXPECT_TRUE(run.HostChildren().empty());
  EXPECT_TRUE(SaverProcessIds().empty());
  EXPECT_EQ(run.MessageBox(), nullptr);
}

TEST(Wallpaper, SaverThatShowsNoWindowIsReportedAfterTheLaunchDeadline) {
  FixtureLog log;
  InstallSavers({{L"fxnowin", L"FixtureSaver.exe"}});
  FakeShell shell(L"--arranged");
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxnowin");
  const ULONGLONG start = GetTickCount64();
  run.Start();
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = run.MessageBox()) != nullptr || !run.Proc().Running(); }, 40000));
  ASSERT_NE(box, nullptr);
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 9500u);
  EXPECT_LT(elapsed, 30000u);
  EXPECT_EQ(run.MessageBoxText(box), kCannotAdopt);
  EXPECT_EQ(log.Count(L"fxnowin", " start "), 1);

  run.CloseMessageBox(box);
  ASSERT_TRUE(WaitFor([&] { return run.MessageBox() == nullptr; }, 10000));
  EXPECT_TRUE(WaitFor([] { return SaverProcessIds().empty(); }, 5000));
  PumpFor(1000);
  EXPECT_TRUE(run.Proc().Running());
  EXPECT_NE(run.MainWindow(), nullptr);
  EXPECT_NE(run.Host(), nullptr);
  EXPECT_TRUE(SaverProcessIds().empty());
  EXPECT_EQ(run.MessageBox(), nullptr);
}
