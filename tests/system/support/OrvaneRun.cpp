#include "system/support/OrvaneRun.h"

#include <shellapi.h>

#include <cwchar>

namespace bench {

namespace {

struct Search {
  DWORD processId;
  const wchar_t* className;
  const wchar_t* title;
  HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner != search->processId) return TRUE;
  wchar_t text[256];
  if (search->className) {
    GetClassNameW(hwnd, text, 256);
    if (wcscmp(text, search->className) != 0) return TRUE;
  }
  if (search->title) {
    GetWindowTextW(hwnd, text, 256);
    if (wcscmp(text, search->title) != 0) return TRUE;
  }
  if (!(GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE)) return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND FindWindowOf(DWORD processId, const wchar_t* className, const wchar_t* title) {
  Search search{processId, className, title, nullptr};
  EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

OrvaneRun::OrvaneRun(const std::wstring& saverName) : dir_(MakeTempDir(L"run")) {
  CopyFileW(OrvaneExePath().c_str(), ExePath().c_str(), FALSE);
  if (!saverName.empty()) WriteSettingsFile(SettingsPath(), saverName);
}

OrvaneRun::~OrvaneRun() {
  if (process_.Running()) {
    if (HWND box = MessageBox()) CloseMessageBox(box);
    ExitThroughMenu(15000);
  }
  process_.Kill();
  KillAllSavers();
  RemoveTree(dir_);
}

void OrvaneRun::Start() { process_ = bench::Start(ExePath(), L"", dir_); }

HWND OrvaneRun::StartWithWallpaper() {
  Start();
  return WaitReady() ? WaitSaverWindow() : nullptr;
}

Process OrvaneRun::StartAnother() const { return bench::Start(ExePath(), L"", dir_); }

bool OrvaneRun::WaitReady(DWORD timeoutMs) {
  if (WaitFor([this] { return MainWindow() != nullptr || !process_.Running(); }, timeoutMs) && MainWindow()) {
    return true;
  }
  DescribeFailedStart();
  return false;
}

// What a start that never reached its main window met, for the test's output.
void OrvaneRun::DescribeFailedStart() const {
  HANDLE instance = OpenMutexW(SYNCHRONIZE, FALSE, kMainClass);
  if (instance) CloseHandle(instance);
  HWND otherMain = FindWindowW(kMainClass, nullptr);
  DWORD otherOwner = 0;
  GetWindowThreadProcessId(otherMain, &otherOwner);
  HWND progman = FindWindowW(L"Progman", nullptr);
  std::wstring above;
  HWND hwnd = progman;
  for (int i = 0; i < 2 && (hwnd = GetWindow(hwnd, GW_HWNDPREV)) != nullptr; ++i) {
    wchar_t name[64] = L"";
    GetClassNameW(hwnd, name, 64);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    above += L" " + std::wstring(name) + L"(pid " + std::to_wstring(owner) + L")";
  }
  DWORD progmanOwner = 0;
  GetWindowThreadProcessId(progman, &progmanOwner);
  wprintf(L"Orvane (pid %lu) %ls, exit code %lu; instance mutex %ls; a main window of pid %lu; Progman of pid "
          L"%lu, above it:%ls\n",
          process_.Id(),
          !process_.Handle() ? L"never started" : process_.Running() ? L"still running" : L"ended",
          process_.ExitCode(),
          instance ? L"exists" : L"absent", otherOwner, progmanOwner, above.c_str());
}

HWND OrvaneRun::MainWindow() const {
  HWND hwnd = FindWindowW(kMainClass, nullptr);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  return hwnd && owner == process_.Id() ? hwnd : nullptr;
}

HWND OrvaneRun::Host() const {
  HWND hwnd = nullptr;
  while ((hwnd = FindWindowExW(nullptr, hwnd, nullptr, nullptr)) != nullptr) {
    // The host lives inside the shell's layer: search every top-level window's children.
    if (HWND host = FindWindowExW(hwnd, nullptr, kHostClass, nullptr)) return host;
  }
  return nullptr;
}

std::vector<HWND> OrvaneRun::HostChildren() const {
  HWND host = Host();
  return host ? ChildWindows(host) : std::vector<HWND>();
}

HWND OrvaneRun::WaitSaverWindow(DWORD timeoutMs) const {
  HWND found = nullptr;
  WaitFor(
      [&] {
        for (HWND child : HostChildren()) {
          if (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) {
            found = child;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

void OrvaneRun::TrayCallback(UINT mouseMessage) const {
  PostMessageW(MainWindow(), kTrayCallback, 1, mouseMessage);
}

HWND OrvaneRun::Menu() const { return FindWindowOf(process_.Id(), L"#32768", nullptr); }

bool OrvaneRun::PickMenuItem(wchar_t mnemonic) {
  TrayCallback(WM_RBUTTONUP);
  HWND menu = nullptr;
  if (!WaitFor([&] { return (menu = Menu()) != nullptr; }, 15000)) return false;
  PostMessageW(menu, WM_CHAR, mnemonic, 0);
  return true;
}

HWND OrvaneRun::MessageBox() const { return FindWindowOf(process_.Id(), L"#32770", L"Orvane"); }

std::wstring OrvaneRun::MessageBoxText(HWND box) const {
  wchar_t text[2048] = L"";
  GetDlgItemTextW(box, 0xFFFF, text, 2048);
  return text;
}

void OrvaneRun::CloseMessageBox(HWND box) const { PostMessageW(box, WM_COMMAND, IDOK, 0); }

HWND OrvaneRun::SettingsDialog() const { return FindWindowOf(process_.Id(), L"#32770", L"Orvane 設定"); }

bool OrvaneRun::TrayIconPresent() const {
  HWND main = MainWindow();
  if (!main) return false;
  // Modifying nothing succeeds only for an icon the shell knows.
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof(icon);
  icon.hWnd = main;
  icon.uID = 1;
  return Shell_NotifyIconW(NIM_MODIFY, &icon) != FALSE;
}

HWND OrvaneRun::OpenSettings() {
  HWND dialog = nullptr;
  if (!PickMenuItem(L's')) return nullptr;
  WaitFor([&] { return (dialog = SettingsDialog()) != nullptr; }, 15000);
  return dialog;
}

void OrvaneRun::ChooseAndPress(HWND dialog, const wchar_t* entry, int button) {
  HWND combo = GetDlgItem(dialog, 102);
  const LRESULT index =
      SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(entry));
  if (index < 0) return;
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(102, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

bool OrvaneRun::ExitThroughMenu(DWORD timeoutMs) {
  if (!process_.Running()) return true;
  if (!PickMenuItem(L'q')) return false;
  return process_.WaitExit(timeoutMs);
}

}  // namespace bench
