// Hostile "TAVO.dat" files: generated from a fixed seed, each written to disk and read by LoadSettings.
// Whatever the bytes, the read must survive, stay silent, and yield either no saver or a plain base name
// that is exactly the name stored in the file.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "common/Bench.h"
#include "settings/SettingsFile.h"
#include "unit/support/TestApp.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSeed = 0x7A5D0C1Eu;
constexpr wchar_t kReadError[] = L"設定ファイルの読み込みでエラーが発生しました。\n";

// Written independently of the program's own check: what a base name of a ".scr" file may be.
bool PlainName(const std::wstring& name) {
  if (name.empty() || name.size() > 251) return false;
  bool onlyDots = true;
  for (wchar_t c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    for (wchar_t bad : std::wstring(L"<>:\"/\\|?*")) {
      if (c == bad) return false;
    }
    if (c != L'.') onlyDots = false;
  }
  return !onlyDots && name.back() != L' ' && name.back() != L'.';
}

// The name the file stores in full, or false when it stores none.
bool StoredName(const Bytes& bytes, std::wstring& name) {
  if (bytes.size() < 8 || bytes[0] != 0x2A || bytes[1] != 0xAA) return false;
  const std::size_t length = bytes[6] | (bytes[7] << 8);
  if (length == 0 || bytes.size() < 8 + 2 * length) return false;
  name.clear();
  for (std::size_t i = 0; i < length; ++i) {
    name += static_cast<wchar_t>(bytes[8 + 2 * i] | (bytes[9 + 2 * i] << 8));
  }
  return true;
}

Bytes WithName(const std::wstring& name, std::size_t announced) {
  Bytes bytes = {0x2A, 0xAA, 0x01, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(announced & 0xFF),
                 static_cast<std::uint8_t>(announced >> 8)};
  for (wchar_t c : name) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

Bytes WithName(const std::wstring& name) { return WithName(name, name.size()); }

class SettingsFuzzTest : public TestApp {
 protected:
  void SetUp() override {
    TestApp::SetUp();
    dir_ = bench::MakeTempDir(L"fuzz");
    path_ = dir_ + L"\\TAVO.dat";
    app.settingsPath = CopyString(path_.c_str());
  }
  void TearDown() override {
    bench::RemoveTree(dir_);
    TestApp::TearDown();
  }

  // Writes the file, loads it, and checks the outcome against the bytes. Counts what it saw.
  void Check(const Bytes& bytes) {
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);

    app.saverName.reset();
    const bool loaded = LoadSettings();
    ++files_;
    std::wstring stored;
    const bool hasName = StoredName(bytes, stored);
    const bool expectName = hasName && PlainName(stored);
    const std::string what = "file " + std::to_string(files_) + " of " + std::to_string(bytes.size()) + " bytes";
    ASSERT_TRUE(loaded) << what;
    ASSERT_TRUE(capturedBoxes.empty()) << what;
    if (expectName) {
      ASSERT_TRUE(app.saverName) << what;
      ASSERT_EQ(std::wstring(app.saverName.get()), stored) << what;
      ++names_;
    } else {
      ASSERT_FALSE(app.saverName) << what;
      if (hasName) ++refused_;
    }
  }

  Bytes RandomBytes(std::size_t size) {
    Bytes bytes(size);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random_() & 0xFF);
    return bytes;
  }

  wchar_t RandomUnit() {
    // Mostly the characters that matter: path punctuation, dots, blanks, controls; some anything.
    static const std::wstring kPicks = L"\\/:\"<>|?*. \t\r\n\x7f\x01\x1f" L"aZ9_-()ｽ";
    if (random_() % 3 == 0) return static_cast<wchar_t>(random_() & 0xFFFF);
    return kPicks[random_() % kPicks.size()];
  }

  std::wstring RandomName(std::size_t length) {
    std::wstring name;
    for (std::size_t i = 0; i < length; ++i) name += RandomUnit();
    return name;
  }

  std::wstring dir_;
  std::wstring path_;
  std::mt19937 random_{kSeed};
  int files_ = 0;
  int names_ = 0;
  int refused_ = 0;
};

}  // namespace

TEST_F(SettingsFuzzTest, RandomBytes) {
  for (int i = 0; i < 3000; ++i) {
    const std::size_t size = i % 10 == 0 ? random_() % 1024 : random_() % 40;
    Bytes bytes = RandomBytes(size);
    // A third carry the right magic, so the length and the name are what gets tested; half of those
    // announce exactly the units that follow.
    if (i % 3 == 0 && bytes.size() >= 2) {
      bytes[0] = 0x2A;
      bytes[1] = 0xAA;
    }
    if (i % 6 == 0 && bytes.size() >= 8) {
      bytes[6] = static_cast<std::uint8_t>(((bytes.size() - 8) / 2) & 0xFF);
      bytes[7] = static_cast<std::uint8_t>(((bytes.size() - 8) / 2) >> 8);
    }
    ASSERT_NO_FATAL_FAILURE(Check(bytes));
  }
  std::printf("random bytes: %d files, %d names taken, %d stored names refused\n", files_, names_, refused_);
}

TEST_F(SettingsFuzzTest, TruncatedAndBitFlippedValidFiles) {
  const std::vector<std::wstring> names = {L"fxplain", L"Mystify", L"a", L"ｽｸﾘｰﾝ ｾｰﾊﾞｰ", std::wstring(251, L'x')};
  for (const std::wstring& name : names) {
    const Bytes valid = WithName(name);
    for (std::size_t cut = 0; cut <= valid.size(); ++cut) {
      ASSERT_NO_FATAL_FAILURE(Check(Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(cut))));
    }
  }
  for (int i = 0; i < 3000; ++i) {
    Bytes bytes = WithName(names[random_() % names.size()]);
    const int flips = 1 + static_cast<int>(random_() % 3);
    for (int f = 0; f < flips; ++f) {
      // Flips land in the header more often than its share of the bytes would give.
      const std::size_t at = random_() % 2 == 0 ? random_() % 8 : random_() % bytes.size();
      bytes[at] = static_cast<std::uint8_t>(bytes[at] ^ (1u << (random_() % 8)));
    }
    ASSERT_NO_FATAL_FAILURE(Check(bytes));
  }
  std::printf("truncated and bit-flipped: %d files, %d names taken, %d stored names refused\n", files_, names_,
              refused_);
}

TEST_F(SettingsFuzzTest, HugeAndLyingLengths) {
  for (std::size_t announced : {0xFFFFu, 0x8000u, 0x7FFFu, 0x0100u, 0x00FCu, 0x00FBu}) {
    // Announced in full, and announced with far fewer units present.
    ASSERT_NO_FATAL_FAILURE(Check(WithName(std::wstring(announced, L'a'))));
    ASSERT_NO_FATAL_FAILURE(Check(WithName(L"abc", announced)));
  }
  for (int i = 0; i < 1500; ++i) {
    const std::size_t present = random_() % 300;
    const std::size_t announced = random_() % 2 == 0 ? present + 1 + random_() % 0xFF : random_() % 0x10000;
    Bytes bytes = WithName(std::wstring(present, L'n'), announced & 0xFFFF);
    // Some files carry bytes after the name as well.
    if (random_() % 4 == 0) {
      const Bytes tail = RandomBytes(random_() % 16);
      bytes.insert(bytes.end(), tail.begin(), tail.end());
    }
    ASSERT_NO_FATAL_FAILURE(Check(bytes));
  }
  std::printf("huge and lying lengths: %d files, %d names taken, %d stored names refused\n", files_, names_,
              refused_);
}

TEST_F(SettingsFuzzTest, HostileNames) {
  const std::vector<std::wstring> fixed = {
      L"..",        L".",           L"...",          L"..\\fxplain", L"../fxplain", L"C:fxplain", L"\\\\server\\x",
      L"a\"b",      L"\" /c calc",  L"fx\tplain",    L"fx\nplain",   L"fxplain.",   L"fxplain ",   L" fxplain",
      L"fx*",       L"fx?",         L"fx|x",         L"fx<x>",       L"fx\x7f",     L"CON",        L"nul.scr",
      L"\xD800",    L"a\xDC00z",    L"\xFEFFname",   L"..a",         L"a..b",       L"a b",        L"fxplain"};
  for (const std::wstring& name : fixed) ASSERT_NO_FATAL_FAILURE(Check(WithName(name)));
  ASSERT_NO_FATAL_FAILURE(Check(WithName(std::wstring(L"a\0b", 3))));
  ASSERT_NO_FATAL_FAILURE(Check(WithName(std::wstring(5, L'\0'))));
  for (int i = 0; i < 3000; ++i) {
    const std::size_t length = i % 50 == 0 ? 240 + random_() % 20 : 1 + random_() % 12;
    ASSERT_NO_FATAL_FAILURE(Check(WithName(RandomName(length))));
  }
  std::printf("hostile names: %d files, %d names taken, %d stored names refused\n", files_, names_, refused_);
}

// The one way a settings file may make the program speak: it cannot be read at all.
TEST_F(SettingsFuzzTest, OnlyAnUnreadableFileBringsAMessage) {
  ASSERT_NO_FATAL_FAILURE(Check(WithName(L"fxplain")));
  HANDLE writer = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  app.saverName.reset();
  EXPECT_FALSE(LoadSettings());
  CloseHandle(writer);
  EXPECT_FALSE(app.saverName);
  ASSERT_EQ(capturedBoxes.size(), 1u);
  EXPECT_EQ(capturedBoxes[0].text.rfind(kReadError, 0), 0u);
  EXPECT_EQ(capturedBoxes[0].caption, L"Orvane");
}
