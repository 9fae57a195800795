#include "saver/SaverControl.h"

namespace {

// What a saver gets to end by itself once asked, before it is ended by force.
constexpr DWORD kStopGraceMs = 3000;
// Long enough for a saver drawing a frame, short enough to keep Exit and Apply quick with a hung one.
constexpr UINT kAnswerMs = 100;

// Ends the process by force unless it has ended already; the handle stays open.
void TerminateIfRunning(HANDLE process) {
  if (StillRunning(process)) TerminateProcess(process, 0);
}

}  // namespace

// Not by the exit code: a process may end with STILL_ACTIVE (259) as its code.
bool StillRunning(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

void EndSaverProcess(HANDLE process, DWORD graceMs) {
  WaitForSingleObject(process, graceMs);
  TerminateIfRunning(process);
  // Gone before anything else starts in its place.
  WaitForSingleObject(process, kStopGraceMs);
  CloseHandle(process);
}

void StopSaver(HANDLE process, HWND parentWindow) {
  DWORD grace = kStopGraceMs;
  if (parentWindow) {
    HWND child = GetWindow(parentWindow, GW_CHILD);
    // A saver whose window has already gone gets no grace; one that takes no messages would hold the UI
    // thread for the whole time-out, so it is not asked.
    if (!child) {
      grace = 0;
    } else if (Answers(child)) {
      SendMessageTimeoutW(child, WM_CLOSE, 0, 0, SMTO_NORMAL, kStopGraceMs, nullptr);
    }
  }
  if (process) EndSaverProcess(process, grace);
}

std::uint64_t AskPreviewToClose(HWND parentWindow) {
  if (HWND child = GetWindow(parentWindow, GW_CHILD)) PostMessageW(child, WM_CLOSE, 0, 0);
  return GetTickCount64();
}

void EndAskedSaver(HANDLE process, std::uint64_t askedTick) {
  const std::uint64_t waited = GetTickCount64() - askedTick;
  if (process) EndSaverProcess(process, waited < kStopGraceMs ? static_cast<DWORD>(kStopGraceMs - waited) : 0);
}

// Not SMTO_ABORTIFHUNG: a saver resumed after a pause of more than 5 s counts as hung until it next looks at its
// messages, and would not be asked to close. The time limit alone keeps a saver that is really hung from holding us.
bool Answers(HWND hwnd) { return SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerMs, nullptr) != 0; }
