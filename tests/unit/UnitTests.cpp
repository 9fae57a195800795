// The program's own functions and its settings file on real files, checked in-process under Wine: tables played
// as verbs of the scenario engine by the one row "unit". A failed check names the fault it stands for.
#include <tuple>

#include "Engine.h"
#include "app/ReportError.h"
#include "desktop/Visibility.h"
#include "saver/Launcher.h"
#include "saver/SaverControl.h"

namespace {

std::vector<std::wstring> boxes;
int WINAPI RecordBox(HWND, LPCWSTR text, LPCWSTR, UINT) {
  boxes.push_back(text);
  return IDOK;
}
BOOL WINAPI FailSecondWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  static int calls = 0;
  return ++calls != 2 && WriteFile(file, data, size, written, overlapped);
}
std::string Bytes(const wchar_t* saverName) {
  const std::vector<std::uint8_t> bytes = EncodeSettings(saverName);
  return std::string(bytes.begin(), bytes.end());
}

// A stored name reaches a path and a command line: only a plain base name may pass.
void Names(Scenario&, const Args&) {
  const std::string longest(251, 'a');
  const std::pair<std::string, bool> names[] = {{"Mystify", true},     {"..\\evil", false}, {"a/b", false},
                                                {"C:a", false},        {"a*", false},       {"", false},
                                                {"..", false},         {"ab.", false},      {"ab ", false},
                                                {"a\tb", false},       {longest, true},     {"スクリーン.a b", true},
                                                {longest + "a", false}};
  for (const auto& [name, plain] : names) {
    const std::wstring wide = Widen(name);
    Expect(IsPlainBaseName(wide.c_str(), wide.size()) == plain,
           "the stored name '" + name + (plain ? "' is refused though plain" : "' is used unchecked"));
  }
  const HeapString line = BuildSaverCommandLine(L"C:\\", 3, L"a b", SaverMode::Configure, HWND(UINT_PTR(0xFFFFFFFF)));
  Expect(wcscmp(line.get(), L"\"C:\\a b.scr\" /c:4294967295") == 0, "the longest command line is another");
}

void Settings(Scenario& s, const Args&) {
  const std::wstring file = s.dir + L"\\TAVO.dat";
  const std::string abc = Bytes(L"abc");
  Expect(abc == std::string("\x2A\xAA\1\0\0\0\3\0a\0b\0c\0", 14), "TAVO.dat's layout changed");
  // Only a file that cannot be read is an error; any unusable content just means no saver. A share mode of 1
  // stands for no other program holding the file.
  const std::tuple<const char*, std::string, const wchar_t*, DWORD> loads[] = {
      {"no file", "", L"-", 1},
      {"a valid file", abc, L"abc", 1},
      {"a stored path", Bytes(L"..\\evil"), L"-", 1},
      {"a file held without sharing", abc, L"-", 0},
      {"a file held by a writer that shares it", abc, L"abc", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}};
  for (const auto& [what, content, expected, share] : loads) {
    DeleteFileW(file.c_str());
    if (!content.empty()) std::ofstream(std::filesystem::path(file), std::ios::binary) << content;
    HANDLE held = share == 1 ? nullptr : CreateFileW(file.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, 0);
    app.saverName.reset();
    boxes.clear();
    const bool loaded = LoadSettings();
    if (held) CloseHandle(held);
    Expect(loaded == (share != 0) && boxes.size() == (share == 0),
           std::string(what) + ": an error, or none where it is");
    Expect(wcscmp(app.saverName ? app.saverName.get() : L"-", expected) == 0,
           std::string(what) + " gave another saver");
  }
  app.saverName = CopyString(L"other");
  settingsWriteFile = FailSecondWrite;
  const DWORD error = SaveSettings();
  settingsWriteFile = WriteFile;
  Expect(error != 0 && ReadText(file) == abc, "a save cut short after the header lost the old choice");
  Expect(SaveSettings() == 0 && ReadText(file) == Bytes(L"other"), "a save did not store the choice");
  Expect(!std::filesystem::exists(file + L".new"), "a save left TAVO.dat.new behind");
}

void Pausing(Scenario&, const Args&) {
  // Each reason alone pauses a wallpaper on one monitor that nothing hides.
  using F = PauseFacts;
  const std::pair<const char*, bool F::*> reasons[] = {{"locked", &F::locked},         {"display", &F::displayOff},
                                                       {"battery", &F::batterySaver},  {"energy", &F::energySaver},
                                                       {"presenting", &F::presenting}, {"remote", &F::remote}};
  for (const auto& [what, reason] : reasons) {
    PauseFacts known{1, 0};
    known.*reason = true;
    Expect(ShouldPause(known), std::string("the ") + what + " rule lets the wallpaper run");
  }
  Expect(ShouldPause(F{2, 2}) && !ShouldPause(F{2, 1}) && !ShouldPause(F{1, 0}) && !ShouldPause(F{0, 0}),
         "windows pause the wallpaper other than when they hide every monitor it shows on");
  // Session events by number: 1/2 console connect/disconnect, 3/4 remote connect/disconnect, 7/8 lock/unlock.
  const std::pair<std::string, bool> sessions[] = {{"721", true}, {"7218", false}, {"2", true},
                                                   {"21", false}, {"238", true},   {"23418", false}};
  for (const auto& [events, pause] : sessions) {
    PauseFacts known{};
    for (char event : events) FollowSessionEvent(known, WPARAM(event - '0'));
    Expect(ShouldPause(known) == pause, "after the session events " + events + " the wallpaper should switch");
  }
}

// Windows ignores an entry in a wrong namespace without a word.
void Manifest(Scenario&, const Args&) {
  const HMODULE exe = LoadLibraryExW(BenchPath(L"ORVANE_EXE_PATH").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  const HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST);
  const char* text = found ? static_cast<const char*>(LockResource(LoadResource(exe, found))) : "";
  const std::string manifest(text, found ? SizeofResource(exe, found) : 0);
  for (const char* entry :
       {R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm<)",
        R"(<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2,)"}) {
    Expect(manifest.find(entry) != std::string::npos, std::string("the exe's manifest lacks ") + entry);
  }
}

// A process may end with the code that also means "still running" (259).
void Ended(Scenario&, const Args&) {
  PROCESS_INFORMATION ended = Launch(SystemDir() + L"\\cmd.exe", L"/c exit 259", nullptr);
  Expect(WaitForSingleObject(ended.hProcess, kLong) == WAIT_OBJECT_0 && !StillRunning(ended.hProcess),
         "a process that ended with code 259 counts as running");
  End(ended);
}

const Row kRows[] = {{"unit", nullptr, L"", nullptr, "names; settings; pausing; manifest; ended"}};

}  // namespace

int main(int argc, char** argv) {
  showMessageBox = RecordBox;
  verbs.insert(
      {{"names", Names}, {"settings", Settings}, {"pausing", Pausing}, {"manifest", Manifest}, {"ended", Ended}});
  return PlayRow(kRows, argc, argv);
}
