#include "saver/Launcher.h"

#include <cwchar>

#include "app/ReportError.h"
#include "app/Wow64Redirection.h"

namespace {

// Quotes, backslash, ".scr", closing quote, space, "/p " or "/c:" with ten digits, terminator.
constexpr std::size_t kCommandLineExtra = 22;

// A saver's own children stay in its job, but for a configuration run's (a browser opened from the saver's
// settings), which are not the program's.
HANDLE SaverJob(SaverMode mode) {
  HANDLE& job = mode == SaverMode::Configure ? app.configJob : app.saverJob;
  if (job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (mode == SaverMode::Configure) limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  job = CreateJobObjectW(nullptr, nullptr);
  if (job && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
    CloseHandle(TakeHandle(job));
  }
  return job;
}

// The wallpaper gives way to the user's programs: below normal priority, and in efficiency mode (EcoQoS) where the
// system has it (Windows 11; looked up at run time). The dialog's preview and a configuration run keep normal
// priority: the user is looking at them.
void GiveWay(HANDLE process) {
  SetPriorityClass(process, BELOW_NORMAL_PRIORITY_CLASS);
  // PROCESS_POWER_THROTTLING_STATE with EXECUTION_SPEED on, and ProcessPowerThrottling, from newer headers.
  struct {
    ULONG version, controlMask, stateMask;
  } throttling{1, 1, 1};
  constexpr int kPowerThrottling = 4;
  using SetInformationFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
  static const auto setInformation = reinterpret_cast<SetInformationFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessInformation")));
  if (setInformation) setInformation(process, kPowerThrottling, &throttling, sizeof(throttling));
}

}  // namespace

wchar_t* PutSaverDirectory(wchar_t* out, const wchar_t* systemDir, UINT systemDirLength) {
  wmemcpy(out, systemDir, systemDirLength);
  out += systemDirLength;
  // A root directory ("C:\") ends in its backslash already.
  if (systemDirLength > 3) *out++ = L'\\';
  return out;
}

HeapString BuildSaverCommandLine(const wchar_t* systemDir, UINT systemDirLength, const wchar_t* baseName,
                                 SaverMode mode, HWND parentWindow) {
  const std::size_t nameLength = wcslen(baseName);
  HeapString commandLine(new wchar_t[nameLength + systemDirLength + kCommandLineExtra]);
  wchar_t* out = commandLine.get();
  *out++ = L'"';
  out = PutSaverDirectory(out, systemDir, systemDirLength);
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

bool StartSaverProcess(const wchar_t* baseName, SaverMode mode, HWND parentWindow, PROCESS_INFORMATION& process) {
  HeapString commandLine =
      BuildSaverCommandLine(app.systemDir.get(), app.systemDirLength, baseName, mode, parentWindow);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  BOOL created;
  DWORD error = 0;
  {
    Wow64RedirectionOff redirection;
    created = CreateProcessW(nullptr, commandLine.get(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                             app.systemDir.get(), &startup, &process);
    if (!created) error = GetLastError();
  }
  if (!created) {
    ReportError(nullptr, L"スクリーン セーバーを起動できません。", error);
    return false;
  }
  // In the job before it runs a single instruction. Where the program runs in a job itself and the system allows
  // no nesting (Windows 7), the saver runs without.
  if (HANDLE job = SaverJob(mode)) AssignProcessToJobObject(job, process.hProcess);
  // A saver drawing into the host is the wallpaper too, in preview mode.
  if (mode == SaverMode::Wallpaper || parentWindow == app.hostWindow) GiveWay(process.hProcess);
  ResumeThread(process.hThread);
  return true;
}

HANDLE LaunchSaver(const wchar_t* baseName, SaverMode mode, HWND parentWindow) {
  PROCESS_INFORMATION process{};
  if (!StartSaverProcess(baseName, mode, parentWindow, process)) return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}
