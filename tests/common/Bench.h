// What both kinds of tests need from the bench: paths, the simulated shell, fixture savers, waits.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// A Unix path from the bench's environment, as Wine sees it (Z: drive).
std::wstring WindowsPathFromEnv(const char* variable);
std::wstring FixturesDir();
std::wstring OrvaneExePath();
std::wstring SystemDir();
// A fresh empty directory under the temp folder.
std::wstring MakeTempDir(const wchar_t* tag);
void RemoveTree(const std::wstring& dir);

// Pumps this thread's messages until the condition holds or the time is up.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);
// Pumps for a fixed time: only to show that something does NOT happen.
void PumpFor(DWORD ms);

class Process {
 public:
  Process() = default;
  Process(HANDLE process, DWORD id) : handle_(process), id_(id) {}
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  HANDLE Handle() const { return handle_; }
  DWORD Id() const { return id_; }
  bool Running() const;
  // True when it ended within the time.
  bool WaitExit(DWORD timeoutMs) const;
  DWORD ExitCode() const;
  void Kill();

 private:
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

Process Start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workingDir = L"");

// The simulated shell; ended when the object goes.
class FakeShell {
 public:
  explicit FakeShell(const std::wstring& options = L"--arranged");
  ~FakeShell();
  FakeShell(const FakeShell&) = delete;
  FakeShell& operator=(const FakeShell&) = delete;

  LRESULT Command(UINT command, WPARAM wParam = 0, LPARAM lParam = 0) const;
  HWND Progman() const;
  HWND Layer() const;
  HWND Icons() const;
  int Count052c() const;
  int CountSysColor() const;
  bool Ready() const { return control_ != nullptr; }

 private:
  Process process_;
  HWND control_ = nullptr;
};

// Installs fixture savers as <system dir>\<name>.scr, after removing every other .scr there.
// binary: "FixtureSaver.exe", "FixtureSaverAlt.exe" or "FixtureSaverNoName.exe".
void InstallSavers(const std::vector<std::pair<std::wstring, std::wstring>>& savers);
void RemoveAllSavers();

// Running processes whose image is a .scr (optionally only those with this base name).
std::vector<DWORD> SaverProcessIds(const std::wstring& baseName = L"");
void KillAllSavers();

// The fixture savers' log directory, set in this process's environment so children inherit it.
class FixtureLog {
 public:
  FixtureLog();
  ~FixtureLog();
  FixtureLog(const FixtureLog&) = delete;
  FixtureLog& operator=(const FixtureLog&) = delete;
  std::vector<std::string> Lines(const std::wstring& saverName) const;
  // Lines of that saver containing the text.
  int Count(const std::wstring& saverName, const std::string& text) const;

 private:
  std::wstring dir_;
};

// The top-level or child windows of a process.
std::vector<HWND> WindowsOfProcess(DWORD processId, bool topLevelOnly);
std::vector<HWND> ChildWindows(HWND parent);

// Handles open in this process. GetProcessHandleCount answers 0 under Wine; the system's handle
// table does not.
unsigned OwnHandleCount();
// Handles open in another process, read from the same table.
unsigned HandleCountOf(DWORD processId);

// Writes "TAVO.dat" content for a saver name (empty: no saver).
void WriteSettingsFile(const std::wstring& path, const std::wstring& saverName);
std::vector<unsigned char> ReadFileBytes(const std::wstring& path);

}  // namespace bench
