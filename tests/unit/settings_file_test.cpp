#include "settings/SettingsFile.h"

#include <string>

#include "app/AppState.h"
#include "common/Bench.h"
#include "unit/support/TestApp.h"

namespace {

using Bytes = std::vector<unsigned char>;

class SettingsFileTest : public TestApp {
 protected:
  void SetUp() override {
    TestApp::SetUp();
    dir_ = bench::MakeTempDir(L"settings");
    path_ = dir_ + L"\\TAVO.dat";
    app.settingsPath = CopyString(path_.c_str());
  }
  void TearDown() override {
    bench::RemoveTree(dir_);
    settingsWriteFile = WriteFile;
    TestApp::TearDown();
  }
  void Write(const Bytes& bytes) {
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  }
  // Loads into a fresh saverName; returns what LoadSettings returned.
  bool Load() {
    app.saverName.reset();
    return LoadSettings();
  }
  std::wstring Loaded() const { return app.saverName ? app.saverName.get() : L"<null>"; }

  std::wstring dir_;
  std::wstring path_;
};

const Bytes kAbc = {0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x61, 0x00, 0x62, 0x00, 0x63, 0x00};

Bytes WithName(const std::wstring& name) {
  Bytes bytes = {0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00, static_cast<unsigned char>(name.size()),
                 static_cast<unsigned char>(name.size() >> 8)};
  for (wchar_t c : name) {
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>(c >> 8));
  }
  return bytes;
}

int failAfterWrites = 0;
BOOL WINAPI FailingWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  if (failAfterWrites-- <= 0) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return WriteFile(file, data, size, written, overlapped);
}

}  // namespace

TEST(SettingsCodec, EncodesTheExactBytes) {
  EXPECT_EQ(EncodeSettings(nullptr), (std::vector<std::uint8_t>{0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}));
  const Bytes abc = kAbc;
  EXPECT_EQ(EncodeSettings(L"abc"), std::vector<std::uint8_t>(abc.begin(), abc.end()));
}

TEST(SettingsCodec, OnlyPlainBaseNamesPass) {
  for (const wchar_t* good : {L"abc", L"Mystify", L"ｽｸﾘｰﾝ", L"a.b", L"..a", L"a b"}) {
    EXPECT_TRUE(IsPlainBaseName(good, wcslen(good))) << good;
  }
  for (const wchar_t* bad : {L"", L".", L"..", L"...", L"a\\b", L"a/b", L"c:x", L"a\"b", L"a*", L"a?", L"a|b", L"a<b",
                             L"a>b", L"a\tb", L"a\x7f", L"ab.", L"ab "}) {
    EXPECT_FALSE(IsPlainBaseName(bad, wcslen(bad))) << bad;
  }
  const std::wstring tooLong(252, L'a');
  EXPECT_FALSE(IsPlainBaseName(tooLong.c_str(), tooLong.size()));
  EXPECT_TRUE(IsPlainBaseName(tooLong.c_str(), 251));
}

TEST_F(SettingsFileTest, ReadsWhatItWrites) {
  app.saverName = CopyString(L"abc");
  ASSERT_EQ(SaveSettings(), 0u);
  EXPECT_EQ(bench::ReadFileBytes(path_), kAbc);
  ASSERT_TRUE(Load());
  EXPECT_EQ(Loaded(), L"abc");

  app.saverName.reset();
  ASSERT_EQ(SaveSettings(), 0u);
  EXPECT_EQ(bench::ReadFileBytes(path_), (Bytes{0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}));
  ASSERT_TRUE(Load());
  EXPECT_EQ(Loaded(), L"<null>");
  EXPECT_EQ(GetFileAttributesW((path_ + L".new").c_str()), INVALID_FILE_ATTRIBUTES) << "no leftover beside it";
}

TEST_F(SettingsFileTest, UnusableContentMeansNoSaverAndNoMessage) {
  ASSERT_TRUE(Load()) << "absent file";
  EXPECT_EQ(Loaded(), L"<null>");
  Bytes extra = kAbc;
  extra.push_back(0x41);
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"empty", {}},
      {"7 bytes", {0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x03}},
      {"wrong magic", {0x2B, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x61, 0x00, 0x62, 0x00, 0x63, 0x00}},
      {"length 0", {0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x61, 0x00}},
      {"name cut short", {0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x61, 0x00, 0x62, 0x00, 0x63}},
      {"huge length", {0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x61, 0x00}},
      {"path", WithName(L"..\\..\\evil")},
      {"drive", WithName(L"C:evil")},
      {"quote", WithName(L"a\" /c calc")},
      {"dots", WithName(L"..")},
      {"control", WithName(std::wstring(L"a\nb"))},
      {"nul inside", WithName(std::wstring(L"a\0b", 3))},
  };
  for (const auto& [what, bytes] : cases) {
    Write(bytes);
    EXPECT_TRUE(Load()) << what;
    EXPECT_EQ(Loaded(), L"<null>") << what;
  }
  EXPECT_TRUE(capturedBoxes.empty());
}

TEST_F(SettingsFileTest, OtherVersionReservedAndTrailingBytesAreIgnored) {
  Bytes bytes = kAbc;
  bytes[2] = 2;
  bytes[4] = 7;
  bytes.push_back(0x41);
  bytes.push_back(0x42);
  Write(bytes);
  ASSERT_TRUE(Load());
  EXPECT_EQ(Loaded(), L"abc");
}

TEST_F(SettingsFileTest, ADirectoryInItsPlaceIsAReadError) {
  ASSERT_TRUE(CreateDirectoryW(path_.c_str(), nullptr));
  EXPECT_FALSE(Load());
  ASSERT_EQ(capturedBoxes.size(), 1u);
  EXPECT_EQ(capturedBoxes[0].text.rfind(L"設定ファイルの読み込みでエラーが発生しました。\n", 0), 0u);
  EXPECT_GT(capturedBoxes[0].text.size(), wcslen(L"設定ファイルの読み込みでエラーが発生しました。\n"));
}

TEST_F(SettingsFileTest, AFileHeldOpenForWritingIsAReadError) {
  Write(kAbc);
  HANDLE writer = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Load());
  CloseHandle(writer);
  ASSERT_EQ(capturedBoxes.size(), 1u);
  EXPECT_EQ(Loaded(), L"<null>");
}

TEST_F(SettingsFileTest, AFailedSaveKeepsTheOldChoice) {
  Write(kAbc);
  HANDLE reader = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  app.saverName = CopyString(L"other");
  EXPECT_NE(SaveSettings(), 0u) << "the file is in use";
  CloseHandle(reader);
  EXPECT_EQ(bench::ReadFileBytes(path_), kAbc);
}

TEST_F(SettingsFileTest, ASaveCutShortAfterTheHeaderKeepsTheOldChoice) {
  Write(kAbc);
  app.saverName = CopyString(L"other");
  failAfterWrites = 1;
  settingsWriteFile = FailingWriteFile;
  EXPECT_EQ(SaveSettings(), static_cast<DWORD>(ERROR_DISK_FULL));
  settingsWriteFile = WriteFile;
  EXPECT_EQ(bench::ReadFileBytes(path_), kAbc);
  EXPECT_EQ(GetFileAttributesW((path_ + L".new").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(Load());
  EXPECT_EQ(Loaded(), L"abc");
}

TEST_F(SettingsFileTest, AnUnwritableDirectoryReportsTheError) {
  app.settingsPath = CopyString((dir_ + L"\\missing\\TAVO.dat").c_str());
  app.saverName = CopyString(L"abc");
  EXPECT_EQ(SaveSettings(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}
