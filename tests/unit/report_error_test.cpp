#include "app/ReportError.h"

#include "app/AppState.h"

#include "unit/support/TestApp.h"

using ReportErrorTest = TestApp;

TEST(ComposeErrorText, JoinsWithOneLineFeedAndKeepsTheSystemTextAsItIs) {
  EXPECT_STREQ(ComposeErrorText(L"msg", L"sys text.\r\n").get(), L"msg\nsys text.\r\n");
  EXPECT_STREQ(ComposeErrorText(L"", L"").get(), L"\n");
}

TEST_F(ReportErrorTest, ZeroCodeShowsTheMessageAlone) {
  ReportError(nullptr, L"スクリーン セーバーを壁紙化できません。", 0);
  ASSERT_EQ(capturedBoxes.size(), 1u);
  EXPECT_EQ(capturedBoxes[0].text, L"スクリーン セーバーを壁紙化できません。");
  EXPECT_EQ(capturedBoxes[0].caption, L"Orvane");
  EXPECT_EQ(capturedBoxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(capturedBoxes[0].owner, nullptr);
}

TEST_F(ReportErrorTest, CodeAddsTheSystemTextAfterALineFeed) {
  HWND owner = app.mainWindow;
  ReportError(owner, L"設定ファイルの読み込みでエラーが発生しました。", ERROR_FILE_NOT_FOUND);
  wchar_t* systemText = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0x400,
                 reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
  ASSERT_NE(systemText, nullptr);
  const std::wstring expected = std::wstring(L"設定ファイルの読み込みでエラーが発生しました。\n") + systemText;
  LocalFree(systemText);
  ASSERT_EQ(capturedBoxes.size(), 1u);
  EXPECT_EQ(capturedBoxes[0].text, expected);
  EXPECT_EQ(capturedBoxes[0].owner, owner);
  EXPECT_EQ(capturedBoxes[0].text.find(L'\r'), expected.find(L'\r')) << "no carriage return before the system text";
}
