// The program's own functions and its settings file on real files, checked in-process under Wine.
// A failed check prints the fault it stands for; the exit code tells CTest.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "FixtureProtocol.h"
#include "app/ReportError.h"
#include "desktop/Visibility.h"
#include "saver/Launcher.h"
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
  // Only a file that cannot be read is an error; any unusable content just means no saver. A share mode of 1
  // stands for no other program holding the file.
  const std::tuple<const char*, Bytes, const wchar_t*, DWORD> loads[] = {
      {"no file", {}, L"-", 1},
      {"a valid file", abc, L"abc", 1},
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
  // Each reason alone pauses a wallpaper on one monitor that nothing hides.
  using F = PauseFacts;
  const std::pair<const char*, bool F::*> reasons[] = {{"locked", &F::locked},         {"display", &F::displayOff},
                                                       {"battery", &F::batterySaver},  {"energy", &F::energySaver},
                                                       {"presenting", &F::presenting}, {"remote", &F::remote}};
  for (const auto& [what, reason] : reasons) {
    PauseFacts known{1, 0};
    known.*reason = true;
    Check(ShouldPause(known), "the %s rule lets the wallpaper run", what);
  }
  Check(ShouldPause(F{2, 2}) && !ShouldPause(F{2, 1}) && !ShouldPause(F{1, 0}) && !ShouldPause(F{0, 0}),
        "windows pause the wallpaper other than when they hide every monitor it shows on");
  // Session events by number: 1/2 console connect/disconnect, 3/4 remote connect/disconnect, 7/8 lock/unlock.
  const std::pair<const char*, bool> sessions[] = {{"721", true}, {"7218", false}, {"2", true},
                                                   {"21", false}, {"238", true},   {"23418", false}};
  for (const auto& [events, pause] : sessions) {
    PauseFacts known{};
    for (const char* event = events; *event; ++event) FollowSessionEvent(known, WPARAM(*event - '0'));
    Check(ShouldPause(known) == pause, "after the session events %s the wallpaper should %s", events,
          pause ? "pause" : "run");
  }
}

// Windows ignores an entry in a wrong namespace without a word.
void Manifest() {
  const HMODULE exe = LoadLibraryExW(BenchPath(L"ORVANE_EXE_PATH").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  const HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST);
  const char* text = found ? static_cast<const char*>(LockResource(LoadResource(exe, found))) : "";
  const std::string manifest(text, found ? SizeofResource(exe, found) : 0);
  for (const char* entry :
       {R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm<)",
        R"(<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2,)"}) {
    Check(manifest.find(entry) != std::string::npos, "the exe's manifest lacks %s", entry);
  }
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
  Manifest();
  fs::remove_all(temp, error);
  std::printf("%d failed checks\n", failures);
  return failures != 0;
}
