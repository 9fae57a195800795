#include "saver/Launcher.h"

#include <algorithm>
#include <cwchar>

#include "app/ReportError.h"
#include "app/Wow64Redirection.h"
#include "saver/Adoption.h"

namespace {

// Quotes, backslash, ".scr", closing quote, space, "/p " or "/c:" with ten digits, terminator.
constexpr std::size_t kCommandLineExtra = 22;

bool StartProcess(const wchar_t* baseName, SaverMode mode, HWND parentWindow, PROCESS_INFORMATION& process) {
  HeapString commandLine =
      BuildSaverCommandLine(app.systemDir.get(), app.systemDirLength, baseName, mode, parentWindow);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  BOOL created;
  DWORD error = 0;
  {
    Wow64RedirectionOff redirection;
    created = CreateProcessW(nullptr, commandLine.get(), nullptr, nullptr, FALSE, 0, nullptr, app.systemDir.get(),
                             &startup, &process);
    if (!created) error = GetLastError();
  }
  if (!created) ReportError(nullptr, L"スクリーン セーバーを起動できません。", error);
  return created != FALSE;
}

bool NeedsPreviewMode(const wchar_t* baseName) {
  return std::any_of(app.previewModeSavers.begin(), app.previewModeSavers.end(),
                     [&](const HeapString& name) { return lstrcmpW(name.get(), baseName) == 0; });
}

// Waits for the saver's preview window inside the host. The saver's window creation sends the host
// a notification, so sent messages are handled meanwhile; posted ones wait for the message loop.
bool WaitForHostChild(HANDLE process, std::uint64_t launchDeadline) {
  for (;;) {
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_NULL, WM_NULL, PM_NOREMOVE);
    if (app.hostWindow && GetWindow(app.hostWindow, GW_CHILD)) return true;
    if (GetTickCount64() > launchDeadline || WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return false;
    MsgWaitForMultipleObjects(1, &process, FALSE, 10, QS_SENDMESSAGE);
  }
}

HANDLE LaunchPreviewWallpaper(const wchar_t* baseName) {
  // Without a host (the shell took it) the recovery starts the saver again later.
  if (!app.hostWindow) return nullptr;
  // Notifications about an earlier saver's windows that arrive during this launch are no failure of it.
  app.wallpaperStartTick = 0;
  const std::uint64_t launchDeadline = GetTickCount64() + kLaunchDeadlineMs;
  PROCESS_INFORMATION process{};
  if (!StartProcess(baseName, SaverMode::Preview, app.hostWindow, process)) return nullptr;
  CloseHandle(process.hThread);
  app.wallpaperIsPreview = true;
  if (WaitForHostChild(process.hProcess, launchDeadline)) {
    app.wallpaperStartTick = GetTickCount64();
    return process.hProcess;
  }
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.hProcess, &exitCode) && exitCode == STILL_ACTIVE) TerminateProcess(process.hProcess, 0);
  CloseHandle(process.hProcess);
  if (app.hostWindow) ReportError(nullptr, L"スクリーン セーバーを壁紙化できません。", 0);
  return nullptr;
}

HANDLE LaunchWallpaper(const wchar_t* baseName) {
  app.saverWindows->clear();
  ++app.wallpaperGeneration;
  app.wallpaperIsPreview = false;
  if (NeedsPreviewMode(baseName)) return LaunchPreviewWallpaper(baseName);
  const std::uint64_t launchDeadline = GetTickCount64() + kLaunchDeadlineMs;
  PROCESS_INFORMATION process{};
  if (!StartProcess(baseName, SaverMode::Wallpaper, nullptr, process)) return nullptr;
  switch (AdoptSaverWindows(process, launchDeadline)) {
    case AdoptionResult::Adopted:
      CloseHandle(process.hThread);
      return process.hProcess;
    case AdoptionResult::WindowsLost:
      MarkPreviewMode(baseName);
      return LaunchPreviewWallpaper(baseName);
    default:
      return nullptr;
  }
}

}  // namespace

HeapString BuildSaverCommandLine(const wchar_t* systemDir, UINT systemDirLength, const wchar_t* baseName,
                                 SaverMode mode, HWND parentWindow) {
  const std::size_t nameLength = wcslen(baseName);
  HeapString commandLine(new wchar_t[nameLength + systemDirLength + kCommandLineExtra]);
  wchar_t* out = commandLine.get();
  *out++ = L'"';
  wmemcpy(out, systemDir, systemDirLength);
  out += systemDirLength;
  if (systemDirLength > 3) *out++ = L'\\';
  wmemcpy(out, baseName, nameLength);
  out += nameLength;
  wmemcpy(out, L".scr\" ", 6);
  out += 6;
  const auto handleValue = static_cast<unsigned>(reinterpret_cast<UINT_PTR>(parentWindow));
  switch (mode) {
    case SaverMode::Preview:
      wsprintfW(out, L"/p %u", handleValue);
      break;
    case SaverMode::Configure:
      wsprintfW(out, L"/c:%u", handleValue);
      break;
    default:
      wcscpy(out, L"/s");
      break;
  }
  return commandLine;
}

void MarkPreviewMode(const wchar_t* baseName) {
  if (!NeedsPreviewMode(baseName)) app.previewModeSavers.push_back(CopyString(baseName));
}

HANDLE LaunchSaver(const wchar_t* baseName, SaverMode mode, HWND parentWindow) {
  if (mode != SaverMode::Wallpaper) {
    PROCESS_INFORMATION process{};
    if (!StartProcess(baseName, mode, parentWindow, process)) return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
  }
  // A size check or recovery arriving in a message box of this launch must not start another one.
  const bool outerLaunch = app.wallpaperLaunching;
  app.wallpaperLaunching = true;
  HANDLE process = LaunchWallpaper(baseName);
  app.wallpaperLaunching = outerLaunch;
  return process;
}
