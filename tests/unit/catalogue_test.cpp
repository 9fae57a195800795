#include "settings/Catalogue.h"

#include <gtest/gtest.h>

#include <string>

#include "common/Bench.h"

namespace {

class CatalogueTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = bench::MakeTempDir(L"catalogue"); }
  void TearDown() override { bench::RemoveTree(dir_); }
  void Copy(const wchar_t* binary, const wchar_t* name) {
    ASSERT_TRUE(CopyFileW((bench::FixturesDir() + L"\\" + binary).c_str(), (dir_ + L"\\" + name).c_str(), FALSE));
  }
  DWORD Build(std::vector<SaverEntry>& entries) {
    return BuildSaverCatalogue(dir_.c_str(), static_cast<UINT>(dir_.size()), entries);
  }
  static std::vector<std::wstring> Names(const std::vector<SaverEntry>& entries) {
    std::vector<std::wstring> names;
    for (const SaverEntry& entry : entries) names.push_back(std::wstring(entry.baseName.get()) + L"=" + entry.Shown());
    return names;
  }

  std::wstring dir_;
};

}  // namespace

TEST_F(CatalogueTest, AnEmptyDirectoryGivesAnEmptyList) {
  std::vector<SaverEntry> entries;
  EXPECT_EQ(Build(entries), 0u);
  EXPECT_TRUE(entries.empty());
}

TEST_F(CatalogueTest, ListsLoadableSaversByDisplayNameAndSkipsTheRest) {
  Copy(L"FixtureSaver.exe", L"b.scr");
  Copy(L"FixtureSaver.exe", L"c.scr");
  Copy(L"FixtureSaverAlt.exe", L"a.scr");
  Copy(L"FixtureSaverNoName.exe", L"zzz.scr");
  CreateDirectoryW((dir_ + L"\\x.scr").c_str(), nullptr);
  HANDLE text = CreateFileW((dir_ + L"\\y.scr").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(text, "not a program", 13, &written, nullptr);
  CloseHandle(text);

  std::vector<SaverEntry> entries;
  ASSERT_EQ(Build(entries), 0u);
  std::vector<std::wstring> names = Names(entries);
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], L"a=Alt Saver");
  // Equal display names may come in either order.
  EXPECT_TRUE((names[1] == L"b=Fixture Saver" && names[2] == L"c=Fixture Saver") ||
              (names[1] == L"c=Fixture Saver" && names[2] == L"b=Fixture Saver"));
  EXPECT_EQ(names[3], L"zzz=zzz");
  EXPECT_EQ(entries[3].displayName, nullptr) << "no second copy of a base name";
}

TEST_F(CatalogueTest, TheOrderFollowsTheUsersLocale) {
  Copy(L"FixtureSaverNoName.exe", L"beta.scr");
  Copy(L"FixtureSaverNoName.exe", L"Alpha.scr");
  Copy(L"FixtureSaverNoName.exe", L"alpha2.scr");
  std::vector<SaverEntry> entries;
  ASSERT_EQ(Build(entries), 0u);
  ASSERT_EQ(entries.size(), 3u);
  for (std::size_t i = 1; i < entries.size(); ++i) {
    EXPECT_LT(lstrcmpW(entries[i - 1].Shown(), entries[i].Shown()), 0);
  }
}

TEST_F(CatalogueTest, AMissingDirectoryFailsWithItsError) {
  const std::wstring missing = dir_ + L"\\missing";
  std::vector<SaverEntry> entries;
  EXPECT_EQ(BuildSaverCatalogue(missing.c_str(), static_cast<UINT>(missing.size()), entries),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(entries.empty());
}

TEST_F(CatalogueTest, ARootDirectoryIsSearchedAsItIs) {
  const std::wstring path = L"C:\\orvane-root-test.scr";
  ASSERT_TRUE(CopyFileW((bench::FixturesDir() + L"\\FixtureSaverAlt.exe").c_str(), path.c_str(), FALSE));
  std::vector<SaverEntry> entries;
  const DWORD error = BuildSaverCatalogue(L"C:\\", 3, entries);
  DeleteFileW(path.c_str());
  ASSERT_EQ(error, 0u);
  bool found = false;
  for (const SaverEntry& entry : entries) {
    if (std::wstring(entry.baseName.get()) == L"orvane-root-test") found = true;
  }
  EXPECT_TRUE(found);
}
