// The program's own functions, its settings file and saver list on real files, and the resources the
// built exe loads, checked in-process under Wine. A failed check prints the fault it stands for; the exit
// code tells CTest.
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FixtureProtocol.h"
#include "app/ReportError.h"
#include "desktop/DesktopHost.h"
#include "desktop/Visibility.h"
#include "resource.h"
#include "saver/Adoption.h"
#include "saver/Launcher.h"
#include "saver/RunRules.h"
#include "settings/Catalogue.h"
#include "settings/SettingsFile.h"

namespace fs = std::filesystem;

int failures = 0;
#define CHECK(condition, ...) \
  if (!(condition)) std::printf("FAILED line %d: ", __LINE__), std::printf(__VA_ARGS__), std::printf("\n"), ++failures

namespace {

using Bytes = std::vector<std::uint8_t>;
struct Box {
  HWND owner;
  std::wstring text, caption;
  UINT type;
};
std::vector<Box> boxes;
int WINAPI RecordBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  return boxes.push_back({owner, text, caption, type}), IDOK;
}
BOOL WINAPI FailSecondWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  static int calls = 0;
  return ++calls != 2 && WriteFile(file, data, size, written, overlapped);
}
fs::path temp;
Bytes ReadBytes(const fs::path& path) {
  return Bytes(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}

#define SAVER L"\"C:\\Windows\\System32\\a b.scr\" "
void CommandLines() {
  const struct {
    const wchar_t* dir;
    SaverMode mode;
    UINT_PTR hwnd;
    const wchar_t* line;
    const char* fault;
  } rows[] = {
      {L"C:\\", SaverMode::Wallpaper, 0, L"\"C:\\a b.scr\" /s", "a root directory got a second backslash"},
      {L"C:\\Windows\\System32", SaverMode::Wallpaper, 0, SAVER L"/s", "no single backslash before the name"},
      {L"C:\\Windows\\System32", SaverMode::Preview, 1234, SAVER L"/p 1234", "a preview is not '/p <handle>'"},
      {L"C:\\Windows\\System32", SaverMode::Configure, 1234, SAVER L"/c:1234", "a configuration is not '/c:<handle>'"},
      {L"C:\\Windows\\System32", SaverMode::Preview, 0xFFFFFFFE, SAVER L"/p 4294967294", "a high handle is signed"},
      {L"C:\\Windows\\System32", SaverMode::Configure, 0xFFFFFFFF, SAVER L"/c:4294967295", "a high handle is signed"}};
  for (const auto& row : rows) {
    const HeapString line = BuildSaverCommandLine(row.dir, UINT(wcslen(row.dir)), L"a b", row.mode, HWND(row.hwnd));
    CHECK(wcscmp(line.get(), row.line) == 0, "%s: %ls", row.fault, line.get());
  }
}

void Codec() {
  CHECK(EncodeSettings(nullptr) == Bytes({0x2A, 0xAA, 1, 0, 0, 0, 0, 0}), "no saver is not a bare header of length 0");
  CHECK(EncodeSettings(L"a\u30B9") == Bytes({0x2A, 0xAA, 1, 0, 0, 0, 2, 0, 0x61, 0, 0xB9, 0x30}),
        "a name is not stored as magic, version, zero, length and UTF-16LE");
  const std::wstring longest(252, L'a');
  std::vector<std::pair<std::wstring, bool>> names = {
      {L"Mystify", true},        {L"スクリーン", true}, {L"a.b", true},   {L"..a", true},   {L"a b", true},
      {longest.substr(1), true}, {longest, false},      {L"", false},     {L".", false},    {L"..", false},
      {L"ab.", false},           {L"ab ", false},       {L"a\tb", false}, {L"\x1f", false}, {L"a\x7f", false}};
  for (const wchar_t* c = L"<>:\"/\\|?*"; *c; ++c) names.push_back({std::wstring(L"a") + *c + L"b", false});
  for (const auto& [name, plain] : names) {
    CHECK(IsPlainBaseName(name.c_str(), name.size()) == plain, "the name '%ls' (%zu units) is %s", name.c_str(),
          name.size(), plain ? "refused though plain" : "let through though it is no plain base name");
  }
}

void LoadAndSave() {
  const fs::path file = temp / L"TAVO.dat";
  app.settingsPath = CopyString(file.c_str());
  const Bytes abc = EncodeSettings(L"abc");
  const auto with = [&](std::size_t at, std::uint8_t value) {
    Bytes bytes = abc;
    bytes[at] = value;
    return bytes;
  };
  // Only a file that cannot be read is an error; any unusable content just means no saver.
  const struct {
    const char* what;
    Bytes content;
    const wchar_t* saver;
    bool held = false;
  } loads[] = {{"no file", {}, L"-"},
               {"a valid file", abc, L"abc"},
               {"a wrong magic", with(0, 0x2B), L"-"},
               {"a zero length", with(6, 0), L"-"},
               {"a name cut short", Bytes(abc.begin(), abc.end() - 1), L"-"},
               {"..\\evil", EncodeSettings(L"..\\evil"), L"-"},
               {"a/b", EncodeSettings(L"a/b"), L"-"},
               {"a file held open", abc, L"-", true}};
  for (const auto& row : loads) {
    fs::remove(file);
    if (!row.content.empty())
      std::ofstream(file, std::ios::binary) << std::string(row.content.begin(), row.content.end());
    const HANDLE held =
        row.held ? CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr;
    app.saverName.reset(), boxes.clear();
    const bool loaded = LoadSettings();
    if (held) CloseHandle(held);
    CHECK(loaded == !row.held && boxes.size() == row.held &&
              (!row.held || !boxes[0].text.rfind(L"設定ファイルの読み込みでエラーが発生しました。\n", 0)),
          "%s: returned %d with %zu boxes; only an unreadable file is one error", row.what, loaded, boxes.size());
    const wchar_t* saver = app.saverName ? app.saverName.get() : L"-";
    CHECK(wcscmp(saver, row.saver) == 0, "%s gave the saver '%ls', not '%ls'", row.what, saver, row.saver);
  }
  const struct {
    const wchar_t* saver;
    WriteFileFunction write;
    const char* what;
  } saves[] = {{nullptr, WriteFile, "a save of no saver"},
               {L"abc", WriteFile, "a save of a name"},
               {L"other", FailSecondWrite, "a save cut short after the header"}};
  for (const auto& row : saves) {
    const bool complete = row.write == WriteFile;
    const Bytes expected = complete ? EncodeSettings(row.saver) : ReadBytes(file);
    app.saverName = row.saver ? CopyString(row.saver) : nullptr;
    settingsWriteFile = row.write;
    const DWORD error = SaveSettings();
    settingsWriteFile = WriteFile;
    CHECK((error == 0) == complete, "%s returned %lu", row.what, error);
    CHECK(ReadBytes(file) == expected, complete ? "%s wrote other bytes" : "%s lost the old choice", row.what);
    CHECK(!fs::exists(temp / L"TAVO.dat.new"), "%s left TAVO.dat.new behind", row.what);
  }
}

void Timing() {
  const std::uint64_t late = UINT64_MAX - 20000;
  const struct {
    std::uint64_t now, start;
    bool early;
  } ticks[] = {{5000, 5000, true},
               {14999, 5000, true},
               {15000, 5000, false},
               {late + 9999, late, true},
               {late + 10000, late, false}};
  for (const auto& row : ticks) {
    CHECK(IsEarlyFailure(row.now, row.start) == row.early, "a saver lost %llu ms after its start at %llu %s early",
          row.now - row.start, row.start, row.early ? "is not" : "counts as");
  }
  for (const auto& [x, step] : {std::pair{-5, 32}, {0, 32}, {31, 32}, {32, -32}, {1000, -32}}) {
    CHECK(NudgeDirection(x) == step, "a cursor at x=%d is nudged by %d, not %d", x, NudgeDirection(x), step);
  }
  CHECK(IsEarlyEnd(late + 2999, late) && !IsEarlyEnd(late + 3000, late), "an end 3 s after the start is early");
  RestartHistory restarts{};
  const std::uint64_t minute = 60000;
  for (std::uint64_t at : {minute, 2 * minute, 3 * minute}) RecordRestart(restarts, at);
  CHECK(!RestartAllowed(restarts, 4 * minute) && RestartAllowed(restarts, 11 * minute),
        "a fourth restart within 10 minutes of the first is allowed, or one after them is not");
  const RECT screen{0, 0, 1280, 1024};
  const struct {
    RECT window;
    bool maximized, on, hides;
  } windows[] = {{{0, 0, 1280, 1024}, false, true, true},
                 {{-8, -8, 1288, 1032}, false, true, true},
                 {{0, 0, 1280, 984}, true, true, true},
                 {{0, 0, 1280, 984}, false, true, false},
                 {{0, 0, 1280, 1024}, true, false, false}};
  for (const auto& row : windows) {
    CHECK(HidesMonitor(row.window, row.maximized, row.on, screen) == row.hides, "a window (%ld,%ld)-(%ld,%ld)%s %s",
          row.window.left, row.window.top, row.window.right, row.window.bottom, row.maximized ? " maximized" : "",
          row.hides ? "does not hide its monitor" : "hides a monitor it does not fill");
  }
  CHECK(WallpaperUnseen(true, false, 1, 0) && WallpaperUnseen(false, true, 0, 0) &&
            WallpaperUnseen(false, false, 2, 2) && !WallpaperUnseen(false, false, 2, 1) &&
            !WallpaperUnseen(false, false, 0, 0),
        "pausing does not follow lock, display off and every monitor hidden");
}

void Errors() {
  CHECK(wcscmp(ComposeErrorText(L"msg", L"system text\r\n").get(), L"msg\nsystem text\r\n") == 0,
        "the message and the system text are not joined by one line feed, the system text as it is");
  boxes.clear();
  ReportError(HWND(0x1234), L"msg", 0);
  ReportError(nullptr, L"msg", ERROR_BAD_EXE_FORMAT);
  CHECK(boxes.size() == 2 && boxes[0].text == L"msg" && boxes[0].caption == L"Orvane" && boxes[0].type == MB_OK &&
            boxes[0].owner == HWND(0x1234),
        "an error without a code is not one OK box 'msg' captioned Orvane for its owner");
  CHECK(boxes.size() == 2 && boxes[1].text.size() > 4, "a system text with inserts (error 193) was dropped");
}

void Catalogue() {
  const fs::path dir = temp / L"savers", fixtures = fs::path(BenchPath(L"ORVANE_FIXTURES_DIR"));
  fs::create_directories(dir / L"dir.scr");
  std::ofstream(dir / L"junk.scr") << "not a program";
  // Neither the base names nor an ordinal comparison give the order of the shown names here.
  for (const auto& [from, to] : {std::pair{L"FixtureSaver.exe", L"a.scr"},
                                 {L"FixtureSaverAlt.exe", L"b.scr"},
                                 {L"FixtureSaverNoName.exe", L"c.scr"}}) {
    CHECK(fs::copy_file(fixtures / from, dir / to), "no fixture %ls", from);
  }
  std::vector<SaverEntry> entries;
  std::vector<CatalogueCacheEntry> cache;
  const std::wstring path = dir.wstring(), missing = path + L"\\missing";
  const auto list = [&] {
    CHECK(BuildSaverCatalogue(path.c_str(), UINT(path.size()), entries, cache) == 0,
          "listing a readable directory failed");
    std::wstring listed;
    for (const SaverEntry& entry : entries) listed += std::wstring(entry.baseName.get()) + L"=" + entry.Shown() + L"; ";
    return listed;
  };
  std::wstring listed = list();
  CHECK(listed == L"b=Alt Saver; c=c; a=Fixture Saver; ",
        "listed %ls: a folder or no program got in, or the order by shown name, a display name or the base-name "
        "fallback is wrong",
        listed.c_str());
  // The second opening reads names from what the first one kept, except for files that changed or went.
  fs::copy_file(fixtures / L"FixtureSaverAlt.exe", dir / L"a.scr", fs::copy_options::overwrite_existing);
  fs::remove(dir / L"b.scr");
  CHECK((listed = list()) == L"a=Alt Saver; c=c; ", "listed %ls after a.scr was replaced and b.scr removed",
        listed.c_str());
  CHECK(BuildSaverCatalogue(missing.c_str(), UINT(missing.size()), entries, cache) != 0 && entries.empty(),
        "a missing directory did not fail with an empty list");
}

INT_PTR CALLBACK InertDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
LONG Width(HWND window) {
  RECT rect{};
  return GetWindowRect(window, &rect) ? rect.right - rect.left : -1;
}

void Resources() {
  const fs::path exe = fs::path(BenchPath(L"ORVANE_EXE_PATH"));
  DWORD unused = 0;
  CHECK(GetFileVersionInfoSizeW(exe.c_str(), &unused) > 0, "the exe %ls carries no version record", exe.c_str());
  const auto module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  for (int size : {16, 32}) {
    CHECK(DestroyIcon(HICON(LoadImageW(module, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, 0))),
          "the app icon does not load at %d px", size);
  }
  const HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(IDR_TRAYMENU)), items = GetSubMenu(menu, 0);
  CHECK(GetMenuItemCount(items) == 2 && GetMenuItemID(items, 0) == IDM_EXIT && GetMenuItemID(items, 1) == IDM_SETTINGS,
        "the tray menu does not hold exactly Exit then Settings");
  DestroyMenu(menu);
  const HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, InertDialog, 0);
  for (int id : {IDC_PREVIEW, IDC_SAVERLIST, IDC_CONFIGURE, IDC_APPLY, IDOK, IDCANCEL})
    CHECK(GetDlgItem(dialog, id), "the settings dialog lacks control %d", id);
  const HWND label = dialog ? FindWindowExW(dialog, nullptr, L"Static", L"スクリーン セーバー(&S):") : nullptr;
  const LONG labelWidth = Width(label), listWidth = Width(GetDlgItem(dialog, IDC_SAVERLIST));
  CHECK(label && labelWidth >= listWidth, "the saver label (%ld px) is narrower than its list (%ld px)", labelWidth,
        listWidth);
  DestroyWindow(dialog);
  // A wrong namespace makes Windows ignore an entry without a word.
  const HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  const std::string text = manifest
                               ? std::string(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                                             SizeofResource(module, manifest))
                               : "";
  for (const char* entry :
       {R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm</dpiAware>)",
        R"(<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, PerMonitor<)"})
    CHECK(text.find(entry) != std::string::npos, "the exe's manifest lacks %s", entry);
  FreeLibrary(module);
}

}  // namespace

int main() {
  showMessageBox = RecordBox;
  std::error_code error;
  fs::remove_all(temp = fs::temp_directory_path() / L"orvane-unit", error);
  fs::create_directories(temp, error);
  for (const auto& [name, run] : {std::pair{"command lines", CommandLines},
                                  {"settings codec", Codec},
                                  {"settings load and save", LoadAndSave},
                                  {"timing and visibility", Timing},
                                  {"error text", Errors},
                                  {"saver list", Catalogue},
                                  {"resources", Resources}}) {
    const int before = failures;
    run();
    std::printf("%s %s\n", failures == before ? "ok  " : "FAIL", name);
  }
  fs::remove_all(temp, error);
  return failures != 0;
}
