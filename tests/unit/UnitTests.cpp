// The program's own functions and its settings file on real files, checked in-process under Wine.
// A failed check prints the fault it stands for; the exit code tells CTest.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "app/ReportError.h"
#include "desktop/Visibility.h"
#include "saver/Launcher.h"
#include "saver/RunRules.h"
#include "settings/SettingsFile.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

int failures = 0;
// Prints the fault when the condition does not hold.
template <class... Details>
void Check(bool holds, const char* fault, Details... details) {
  if (holds) return;
  ++failures;
  std::printf("FAILED: ");
  std::printf(fault, details...);
  std::printf("\n");
}

std::vector<std::wstring> boxes;
int WINAPI RecordBox(HWND, LPCWSTR text, LPCWSTR, UINT) {
  boxes.push_back(text);
  return IDOK;
}
BOOL WINAPI FailSecondWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  static int calls = 0;
  return ++calls != 2 && WriteFile(file, data, size, written, overlapped);
}
Bytes ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}
void Write(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A stored name reaches a path and a command line: only a plain base name may pass.
void NameCheck() {
  const std::wstring longest(251, L'a');
  const std::pair<std::wstring, bool> names[] = {
      {L"Mystify", true}, {L"スクリーン.a b", true}, {longest, true}, {longest + L"a", false}, {L"", false},
      {L"..", false},     {L"ab.", false},           {L"ab ", false}, {L"a\tb", false},        {L"..\\evil", false},
      {L"a/b", false},    {L"C:a", false},           {L"a*", false}};
  for (const auto& [name, plain] : names) {
    Check(IsPlainBaseName(name.c_str(), name.size()) == plain, "the stored name '%ls' is %s", name.c_str(),
          plain ? "refused though plain" : "used unchecked: it is no plain base name");
  }
  const HeapString line = BuildSaverCommandLine(L"C:\\", 3, L"a b", SaverMode::Configure, HWND(UINT_PTR(0xFFFFFFFF)));
  Check(wcscmp(line.get(), L"\"C:\\a b.scr\" /c:4294967295") == 0, "the longest command line is %ls", line.get());
}

void LoadAndSave(const fs::path& file) {
  app.settingsPath = CopyString(file.c_str());
  const Bytes abc = EncodeSettings(L"abc");
  Check(abc == Bytes({0x2A, 0xAA, 1, 0, 0, 0, 3, 0, 'a', 0, 'b', 0, 'c', 0}), "TAVO.dat's layout changed");
  Bytes wrongMagic = abc;
  wrongMagic[0] = 0x2B;
  // Only a file that cannot be read is an error; any unusable content just means no saver. A share mode of 1
  // stands for no other program holding the file.
  const std::tuple<const char*, Bytes, const wchar_t*, DWORD> loads[] = {
      {"no file", {}, L"-", 1},
      {"a valid file", abc, L"abc", 1},
      {"a wrong magic", wrongMagic, L"-", 1},
      {"a stored path", EncodeSettings(L"..\\evil"), L"-", 1},
      {"a file held without sharing", abc, L"-", 0},
      {"a file held by a writer that shares it", abc, L"abc", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}};
  for (const auto& [what, content, expected, share] : loads) {
    fs::remove(file);
    if (!content.empty()) Write(file, content);
    HANDLE held = share == 1 ? nullptr : CreateFileW(file.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, 0);
    app.saverName.reset();
    boxes.clear();
    const bool loaded = LoadSettings();
    if (held) CloseHandle(held);
    Check(loaded == (share != 0) && boxes.size() == (share == 0), "%s: an error, or none where it is", what);
    const wchar_t* saver = app.saverName ? app.saverName.get() : L"-";
    Check(wcscmp(saver, expected) == 0, "%s gave the saver '%ls', not '%ls'", what, saver, expected);
  }
  app.saverName = CopyString(L"other");
  settingsWriteFile = FailSecondWrite;
  const DWORD error = SaveSettings();
  settingsWriteFile = WriteFile;
  Check(error != 0 && ReadBytes(file) == abc, "a save cut short after the header lost the old choice");
  Check(SaveSettings() == 0 && ReadBytes(file) == EncodeSettings(L"other"), "a save did not store the choice");
  Check(!fs::exists(file.wstring() + L".new"), "a save left TAVO.dat.new behind");
}

void Rules() {
  RestartHistory restarts{};
  for (std::uint64_t minute : {1, 2, 3}) RecordRestart(restarts, minute * 60000);
  Check(!RestartAllowed(restarts, 4 * 60000) && RestartAllowed(restarts, 11 * 60000),
        "a saver that keeps ending is restarted more than three times in 10 minutes, or never again after them");
  // Locked, display off, monitors, of them hidden: unseen.
  const std::tuple<bool, bool, std::size_t, std::size_t, bool> views[] = {{true, false, 1, 0, true},
                                                                          {false, true, 0, 0, true},
                                                                          {false, false, 2, 2, true},
                                                                          {false, false, 2, 1, false},
                                                                          {false, false, 0, 0, false}};
  for (const auto& [locked, displayOff, monitors, hidden, unseen] : views) {
    Check(WallpaperUnseen(locked, displayOff, monitors, hidden) == unseen,
          "locked %d, display off %d, %zu of %zu monitors hidden: the wallpaper should %s", locked, displayOff, hidden,
          monitors, unseen ? "pause" : "run");
  }
  boxes.clear();
  ReportError(nullptr, L"msg", ERROR_BAD_EXE_FORMAT);
  Check(boxes.size() == 1 && boxes[0].size() > 4, "a system text with inserts (error 193) was dropped");
}

}  // namespace

int main() {
  showMessageBox = RecordBox;
  const fs::path temp = fs::temp_directory_path() / L"orvane-unit";
  std::error_code error;
  fs::remove_all(temp, error);
  fs::create_directories(temp);
  NameCheck();
  LoadAndSave(temp / L"TAVO.dat");
  Rules();
  fs::remove_all(temp, error);
  std::printf("%d failed checks\n", failures);
  return failures != 0;
}
