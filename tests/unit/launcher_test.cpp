#include "saver/Launcher.h"

#include <cwchar>

#include "common/Bench.h"
#include "saver/SaverControl.h"
#include "unit/support/TestApp.h"

namespace {

std::wstring CommandLine(const wchar_t* dir, const wchar_t* name, SaverMode mode, UINT_PTR parent) {
  return BuildSaverCommandLine(dir, static_cast<UINT>(wcslen(dir)), name, mode, reinterpret_cast<HWND>(parent)).get();
}

unsigned HandleCount() { return bench::OwnHandleCount(); }

using LauncherTest = TestApp;

}  // namespace

TEST(SaverCommandLine, QuotesThePathAndAppendsTheModeArgument) {
  EXPECT_EQ(CommandLine(L"C:\\windows\\system32", L"Mystify", SaverMode::Wallpaper, 0),
            L"\"C:\\windows\\system32\\Mystify.scr\" /s");
  EXPECT_EQ(CommandLine(L"C:\\windows\\system32", L"a b", SaverMode::Preview, 1234),
            L"\"C:\\windows\\system32\\a b.scr\" /p 1234");
  EXPECT_EQ(CommandLine(L"C:\\windows\\system32", L"x", SaverMode::Configure, 1234),
            L"\"C:\\windows\\system32\\x.scr\" /c:1234");
}

TEST(SaverCommandLine, ARootDirectoryGetsNoSecondBackslash) {
  EXPECT_EQ(CommandLine(L"C:\\", L"x", SaverMode::Wallpaper, 0), L"\"C:\\x.scr\" /s");
  EXPECT_EQ(CommandLine(L"C:\\a", L"x", SaverMode::Wallpaper, 0), L"\"C:\\a\\x.scr\" /s");
}

TEST(SaverCommandLine, TheLargestHandleFitsTheBuffer) {
  // The buffer holds exactly the longest result; the heap checker of the runtime would catch an overrun
  // on release, and the text must be whole.
  const std::wstring dir(200, L'd');
  const std::wstring name(251, L'n');
  const std::wstring expected = L"\"" + dir + L"\\" + name + L".scr\" /c:4294967295";
  EXPECT_EQ(expected.size() + 1, name.size() + dir.size() + 22);
  EXPECT_EQ(CommandLine(dir.c_str(), name.c_str(), SaverMode::Configure, 0xFFFFFFFFu), expected);
  EXPECT_EQ(CommandLine(dir.c_str(), name.c_str(), SaverMode::Preview, 0xFFFFFFFFu),
            L"\"" + dir + L"\\" + name + L".scr\" /p 4294967295");
}

TEST_F(LauncherTest, AMissingSaverIsReportedWithTheSystemTextAndLeavesNothingOpen) {
  bench::RemoveAllSavers();
  app.saverWindows->push_back({app.mainWindow, 0, TRUE});
  const unsigned before = HandleCount();
  EXPECT_EQ(LaunchSaver(L"nosuchsaver", SaverMode::Wallpaper, nullptr), nullptr);
  EXPECT_EQ(HandleCount(), before);
  EXPECT_TRUE(app.saverWindows->empty());
  ASSERT_EQ(capturedBoxes.size(), 1u);
  wchar_t* systemText = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0x400,
                 reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
  EXPECT_EQ(capturedBoxes[0].text, std::wstring(L"スクリーン セーバーを起動できません。\n") + systemText);
  LocalFree(systemText);
}

TEST_F(LauncherTest, APreviewStartsWithItsCommandLineAndOnlyTheProcessHandleStaysOpen) {
  bench::FixtureLog log;
  bench::InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  HWND area = CreateWindowExW(0, L"Static", nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 160, 120, nullptr, nullptr,
                              app.instance, nullptr);
  const unsigned before = HandleCount();
  HANDLE preview = LaunchSaver(L"fxplain", SaverMode::Preview, area);
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(HandleCount(), before + 1);
  EXPECT_TRUE(bench::WaitFor([&] { return GetWindow(area, GW_CHILD) != nullptr; }, 15000));
  const std::string expected = "/p " + std::to_string(reinterpret_cast<UINT_PTR>(area) & 0xFFFFFFFFu);
  EXPECT_EQ(log.Count(L"fxplain", expected), 1);
  // A preview that closes on request ends without being terminated.
  StopSaver(preview, area);
  EXPECT_EQ(log.Count(L"fxplain", "exit close"), 1);
  EXPECT_EQ(HandleCount(), before);
  DestroyWindow(area);
}

TEST_F(LauncherTest, APreviewWhoseWindowIsGoneIsTerminatedAtOnce) {
  bench::FixtureLog log;
  bench::InstallSavers({{L"fxplain", L"FixtureSaver.exe"}});
  HWND area = CreateWindowExW(0, L"Static", nullptr, WS_POPUP, 0, 0, 160, 120, nullptr, nullptr, app.instance, nullptr);
  HANDLE preview = LaunchSaver(L"fxplain", SaverMode::Preview, area);
  ASSERT_NE(preview, nullptr);
  ASSERT_TRUE(bench::WaitFor([&] { return GetWindow(area, GW_CHILD) != nullptr; }, 15000));
  HANDLE watch = nullptr;
  DuplicateHandle(GetCurrentProcess(), preview, GetCurrentProcess(), &watch, 0, FALSE, DUPLICATE_SAME_ACCESS);
  // The area's child is gone (as when the preview window closed), the process still runs.
  HWND other = CreateWindowExW(0, L"Static", nullptr, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, app.instance, nullptr);
  SetParent(GetWindow(area, GW_CHILD), other);
  StopSaver(preview, area);
  EXPECT_EQ(WaitForSingleObject(watch, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(log.Count(L"fxplain", "exit"), 0) << "terminated, not asked";
  CloseHandle(watch);
  DestroyWindow(other);
  DestroyWindow(area);
}
