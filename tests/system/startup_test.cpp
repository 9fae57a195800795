// Start-up of the real program: the single-instance rule, the search for the shell's windows, the
// settings file, and what every exit leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "FixtureProtocol.h"
#include "system/support/OrvaneRun.h"

using namespace bench;

namespace {

constexpr wchar_t kReadError[] = L"設定ファイルの読み込みでエラーが発生しました。";

bool InstanceMarkerExists() {
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMainClass);
  if (!mutex) return false;
  CloseHandle(mutex);
  return true;
}

std::wstring SystemText(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0x400,
                 reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::wstring result = text ? text : L"";
  LocalFree(text);
  return result;
}

// A file placed for one test and removed with it.
struct FileCopy {
  FileCopy(const std::wstring& from, const std::wstring& to)
      : path(to), made(CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE) {}
  ~FileCopy() { DeleteFileW(path.c_str()); }
  FileCopy(const FileCopy&) = delete;
  FileCopy& operator=(const FileCopy&) = delete;
  std::wstring path;
  bool made;
};

int SaverFrames(HWND window) {
  DWORD_PTR frames = 0;
  SendMessageTimeoutW(window, kFixtureGetFrames, 0, 0, SMTO_NORMAL, 2000, &frames);
  return static_cast<int>(frames);
}

// Waits for the program to end by itself, watching that it never shows a message box meanwhile.
bool EndsSilently(OrvaneRun& run, DWORD timeoutMs) {
  bool boxSeen = false;
  const bool ended = WaitFor(
      [&] {
        if (run.MessageBox()) boxSeen = true;
        return !run.Proc().Running();
      },
      timeoutMs);
  return ended && !boxSeen;
}

// What every exit must leave: code 0, the shell told to repaint, the instance marker gone.
void ExpectCleanExitAndRestart(OrvaneRun& run, const FakeShell& shell) {
  EXPECT_EQ(run.Proc().ExitCode(), 0u);
  EXPECT_TRUE(WaitFor([&] { return shell.CountSysColor() >= 1; }, 5000));
  run.Start();
  EXPECT_TRUE(run.WaitReady()) << "a new instance right after the exit did not reach its main window";
}

void ExpectSilentExitAfterTwoRequests(const wchar_t* shellOptions) {
  FakeShell shell(shellOptions);
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  run.Start();
  ASSERT_TRUE(EndsSilently(run, 20000));
  EXPECT_EQ(run.Proc().ExitCode(), 0u);
  EXPECT_EQ(shell.Count052c(), 2);
  EXPECT_TRUE(WaitFor([&] { return shell.CountSysColor() >= 1; }, 5000));
}

}  // namespace

TEST(Startup, SecondStartWhileRunningExitsAndLeavesTheFirstAlone) {
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run(L"fxplain");
  HWND saver = run.StartWithWallpaper();
  ASSERT_NE(saver, nullptr);
  HWND main = run.MainWindow();
  HWND host = run.Host();
  const std::vector<DWORD> savers = SaverProcessIds(L"fxplain");
  ASSERT_EQ(savers.size(), 1u);

  Process second = run.StartAnother();
  ASSERT_TRUE(second.Handle());
  ASSERT_TRUE(second.WaitExit(15000));
  EXPECT_EQ(second.ExitCode(), 0u);

  const int frames = SaverFrames(saver);
  EXPECT_TRUE(WaitFor([&] { return SaverFrames(saver) > frames; }, 5000)) << "the saver stopped drawing";
  EXPECT_TRUE(run.Proc().Running());
  EXPECT_EQ(run.MainWindow(), main);
  EXPECT_TRUE(run.TrayIconPresent());
  EXPECT_EQ(run.Host(), host);
  EXPECT_EQ(GetParent(saver), host);
  EXPECT_EQ(SaverProcessIds(L"fxplain"), savers);
  EXPECT_EQ(run.MessageBox(), nullptr);
  EXPECT_EQ(run.SettingsDialog(), nullptr);
}

TEST(Startup, SecondStartWhileTheFirstIsStartingSendsNothingAndExits) {
  // The shell neither answers nor builds the layer: the first instance sits in its layer search.
  FakeShell shell(L"--ignore-052c --hang-052c");
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  run.Start();
  ASSERT_TRUE(WaitFor([] { return InstanceMarkerExists(); }, 15000));
  ASSERT_EQ(run.MainWindow(), nullptr);

  Process second = run.StartAnother();
  ASSERT_TRUE(second.Handle());
  ASSERT_TRUE(second.WaitExit(15000));
  EXPECT_EQ(second.ExitCode(), 0u);
  // Only meaningful if the first was still starting all the while.
  ASSERT_TRUE(run.Proc().Running()) << "the first instance ended before the second was done; no test";
  EXPECT_EQ(run.MainWindow(), nullptr);

  ASSERT_TRUE(EndsSilently(run, 20000));
  EXPECT_EQ(run.Proc().ExitCode(), 0u);
}

TEST(Startup, WithoutShellExitsSilentlyAfterAboutOneSecond) {
  ASSERT_EQ(FindWindowW(L"Progman", nullptr), nullptr);
  OrvaneRun run;
  const ULONGLONG start = GetTickCount64();
  run.Start();
  ASSERT_TRUE(EndsSilently(run, 20000));
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 950u);
  EXPECT_LT(elapsed, 15000u);
  EXPECT_EQ(run.Proc().ExitCode(), 0u);
  // Nothing of the ended instance stands in the way of the next one.
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  run.Start();
  EXPECT_TRUE(run.WaitReady());
}

TEST(Startup, IconViewAsGrandchildAsksTheShellTwiceAndExitsSilently) {
  ExpectSilentExitAfterTwoRequests(L"--arranged --icons-grandchild");
}

TEST(Startup, IconViewInProgmanAsksTheShellTwiceAndExitsSilently) {
  ExpectSilentExitAfterTwoRequests(L"--arranged --icons-in-progman");
}

TEST(Startup, ShellThatBuildsNothingEndsSilentlyAndAllowsAnImmediateRestart) {
  FakeShell shell(L"--ignore-052c");
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  run.Start();
  ASSERT_TRUE(EndsSilently(run, 20000));
  EXPECT_EQ(shell.Count052c(), 2);
  shell.Command(kShellSetIgnore052c, 0);
  ExpectCleanExitAndRestart(run, shell);
}

TEST(Startup, ArrangedShellIsAskedNothing) {
  FakeShell shell(L"--arranged");
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  run.Start();
  ASSERT_TRUE(run.WaitReady());
  EXPECT_EQ(shell.Count052c(), 0);
  EXPECT_EQ(shell.CountSysColor(), 0);
  ASSERT_TRUE(run.ExitThroughMenu());
  ExpectCleanExitAndRestart(run, shell);
  EXPECT_EQ(shell.Count052c(), 0);
}

TEST(Startup, WithoutSettingsFileRunsWithoutHostOrSaver) {
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  run.Start();
  ASSERT_TRUE(run.WaitReady());
  EXPECT_TRUE(WaitFor([&] { return run.TrayIconPresent(); }, 10000));
  PumpFor(1500);
  EXPECT_EQ(run.Host(), nullptr);
  EXPECT_TRUE(ChildWindows(shell.Layer()).empty());
  EXPECT_TRUE(SaverProcessIds().empty());
  EXPECT_EQ(run.MessageBox(), nullptr);
  EXPECT_EQ(GetFileAttributesW(run.SettingsPath().c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(run.ExitThroughMenu());
  ExpectCleanExitAndRestart(run, shell);
}

TEST(Startup, SettingsPathThatIsADirectoryReportsReadErrorAndExits) {
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  OrvaneRun run;
  ASSERT_TRUE(CreateDirectoryW(run.SettingsPath().c_str(), nullptr));
  run.Start();
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = run.MessageBox()) != nullptr || !run.Proc().Running(); }, 20000));
  ASSERT_NE(box, nullptr);
  const std::wstring text = run.MessageBoxText(box);
  const std::wstring prefix = std::wstring(kReadError) + L"\n";
  ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << "box text: " << testing::PrintToString(text);
  // Opening a directory as a file is refused with "access denied".
  EXPECT_EQ(text.substr(prefix.size()), SystemText(ERROR_ACCESS_DENIED));
  EXPECT_EQ(run.MainWindow(), nullptr);
  EXPECT_TRUE(SaverProcessIds().empty());

  run.CloseMessageBox(box);
  ASSERT_TRUE(run.Proc().WaitExit(10000));
  EXPECT_EQ(run.Host(), nullptr);
  ASSERT_TRUE(RemoveDirectoryW(run.SettingsPath().c_str()));
  ExpectCleanExitAndRestart(run, shell);
}

TEST(Startup, StoredNameThatIsNoPlainBaseNameRunsNoSaver) {
  InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  // A saver one directory up, where "..\evil" would lead if the name were used as a path.
  const FileCopy outside(FixturesDir() + L"\\FixtureSaver.exe", SystemDir() + L"\\..\\evil.scr");
  ASSERT_TRUE(outside.made);
  FakeShell shell;
  ASSERT_TRUE(shell.Ready());
  for (const wchar_t* name : {L"..\\evil", L"a\" /c x"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    OrvaneRun run(name);
    run.Start();
    ASSERT_TRUE(run.WaitReady());
    PumpFor(2000);
    EXPECT_EQ(run.MessageBox(), nullptr);
    EXPECT_EQ(run.Host(), nullptr);
    EXPECT_TRUE(SaverProcessIds().empty());
    EXPECT_TRUE(run.ExitThroughMenu());
    EXPECT_EQ(run.Proc().ExitCode(), 0u);
  }
}
