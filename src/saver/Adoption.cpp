#include "saver/Adoption.h"

#include <algorithm>

#include "app/AppState.h"
#include "saver/SaverControl.h"

namespace {

constexpr std::uint64_t kSettleMs = 1000;
constexpr std::uint64_t kAdoptionDelayMs = 10;
constexpr DWORD kPassPauseMs = 4;
constexpr DWORD kIdleWaitMs = 10000;
// A window seen but never adoptable (destroyed, hidden, emptied before its turn) must not hold
// the UI thread forever: the wait for the last adoption ends this long after it began.
constexpr std::uint64_t kCompletionLimitMs = 10000;
constexpr LONG_PTR kTopmostAndToolWindow = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;

bool AllAdopted() {
  return std::all_of(app.saverWindows->begin(), app.saverWindows->end(),
                     [](const SaverWindowRecord& record) { return record.adoptAfter == 0; });
}

void ClearTopmostAndToolWindow(HWND hwnd) {
  const LONG_PTR exStyle = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  SetWindowLongPtrW(hwnd, GWL_EXSTYLE, exStyle & ~kTopmostAndToolWindow);
}

// Every call here waits for the saver's thread, which has just answered (Answers).
void Adopt(HWND hwnd, SaverWindowRecord& record, const RECT& rect) {
  record.adoptAfter = 0;
  if (IsZoomed(hwnd)) {
    ShowWindow(hwnd, SW_SHOWNORMAL);
    SetWindowPos(hwnd, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top, SWP_NOZORDER | SWP_NOMOVE);
  }
  ShowWindow(hwnd, SW_HIDE);
  ClearTopmostAndToolWindow(hwnd);
  SetWindowPos(hwnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  ClearTopmostAndToolWindow(hwnd);
  SetWindowLongPtrW(hwnd, GWLP_HWNDPARENT, 0);
  SetWindowKind(hwnd, WS_CHILD);
  SetParent(hwnd, app.hostWindow);
  if (record.wasEnabled) EnableWindow(hwnd, TRUE);
  POINT corner{rect.left, rect.top};
  ScreenToClient(app.hostWindow, &corner);
  // Its size on screen too, in this program's physical pixels: where the system does not scale a DPI-unaware
  // child (no mixed DPI hosting), the saver still covers what it covered.
  SetWindowPos(hwnd, nullptr, corner.x, corner.y, rect.right - rect.left, rect.bottom - rect.top, SWP_NOZORDER);
}

// The program's own window takes the foreground from the saver's hidden windows, so that the input that wakes the
// desktop reaches none of them. Done while the launch settles: the first showing of that window takes a while.
void WakeDesktop() {
  ShowWindow(app.mainWindow, SW_SHOW);
  NudgeInput();
  ShowWindow(app.mainWindow, SW_HIDE);
}

void ShowAdoptedWindows(bool woken) {
  if (!woken) WakeDesktop();
  // Asynchronous: a saver that stopped taking messages since its adoption cannot hold the UI thread.
  for (const SaverWindowRecord& record : *app.saverWindows) ShowWindowAsync(record.hwnd, SW_SHOW);
  ShowWindow(app.mainWindow, SW_SHOW);
  ShowWindow(app.mainWindow, SW_HIDE);
  // A full-screen saver hides the cursor; bring it back only if it is hidden.
  if (ShowCursor(TRUE) > 0) ShowCursor(FALSE);
}

// A window that died or slipped out of the host during the launch is no wallpaper, nor one whose host
// the shell took away meanwhile.
bool AllStillHosted() {
  return app.hostWindow &&
         std::all_of(app.saverWindows->begin(), app.saverWindows->end(), [](const SaverWindowRecord& record) {
           return IsWindow(record.hwnd) && GetParent(record.hwnd) == app.hostWindow;
         });
}

AdoptionResult FailAdoption(const PROCESS_INFORMATION& process) {
  EndSaverProcess(process.hProcess, 0);
  CloseHandle(process.hThread);
  // Windows were seen, so the saver did start: it closed them when they were taken over.
  const bool windowsLost = !app.saverWindows->empty();
  // A failed launch leaves no records behind.
  app.saverWindows->clear();
  // Without the host the recovery starts the saver again.
  return windowsLost && app.hostWindow ? AdoptionResult::WindowsLost : AdoptionResult::Failed;
}

BOOL CALLBACK AdoptWindowCallback(HWND hwnd, LPARAM) {
  return GuardHandler([&]() -> BOOL {
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    if (IsRectEmpty(&rect)) {
      ShowWindowAsync(hwnd, SW_HIDE);
      return TRUE;
    }
    if (!IsWindowVisible(hwnd)) return TRUE;
    SaverWindowRecord* record = FindSaverWindow(hwnd);
    // A window whose thread does not answer is looked at again in a later pass.
    if (!record) {
      if (!Answers(hwnd)) return TRUE;
      const BOOL wasEnabled = IsWindowEnabled(hwnd);
      EnableWindow(hwnd, FALSE);
      app.saverWindows->push_back({hwnd, GetTickCount64() + kAdoptionDelayMs, wasEnabled});
      return TRUE;
    }
    if (record->adoptAfter == 0 || GetTickCount64() < record->adoptAfter || !Answers(hwnd)) return TRUE;
    Adopt(hwnd, *record, rect);
    return FALSE;
  });
}

void Pass(DWORD threadId) { EnumThreadWindows(threadId, AdoptWindowCallback, 0); }

// A pass costs little, but polling without a pause kept a core busy for the whole launch. Waiting on the
// process sleeps without dispatching anything; once it has ended, that wait no longer sleeps.
void PauseBetweenPasses(HANDLE process) {
  if (WaitForSingleObject(process, kPassPauseMs) != WAIT_TIMEOUT) Sleep(kPassPauseMs);
}

}  // namespace

SaverWindowRecord* FindSaverWindow(HWND hwnd) {
  for (SaverWindowRecord& record : *app.saverWindows) {
    if (record.hwnd == hwnd) return &record;
  }
  return nullptr;
}

AdoptionResult AdoptSaverWindows(const PROCESS_INFORMATION& process, std::uint64_t launchDeadline) {
  std::uint64_t settleDeadline = 0;
  std::uint64_t completionLimit = 0;
  bool woken = false;
  for (;;) {
    Pass(process.dwThreadId);
    if (app.handlerFailed) return FailAdoption(process);
    const std::uint64_t now = GetTickCount64();
    if (app.saverWindows->empty()) {
      if (now > launchDeadline) break;
    } else if (settleDeadline == 0) {
      settleDeadline = now + kSettleMs;
      completionLimit = now + kCompletionLimitMs;
    } else if (now > settleDeadline && AllAdopted()) {
      if (!AllStillHosted()) return FailAdoption(process);
      ShowAdoptedWindows(woken);
      return AdoptionResult::Adopted;
    } else if (now > completionLimit) {
      return FailAdoption(process);
    } else if (!woken && AllAdopted()) {
      WakeDesktop();
      woken = true;
    }
    PauseBetweenPasses(process.hProcess);
  }

  // No window in time: a saver that is slow to open one gets its chance once it waits for input.
  if (!StillRunning(process.hProcess)) return FailAdoption(process);
  if (WaitForInputIdle(process.hProcess, kIdleWaitMs) != 0) return FailAdoption(process);
  const std::uint64_t idleLimit = GetTickCount64() + kCompletionLimitMs;
  for (;;) {
    Pass(process.dwThreadId);
    if (app.saverWindows->empty() || app.handlerFailed) return FailAdoption(process);
    if (AllAdopted()) {
      if (!AllStillHosted()) return FailAdoption(process);
      ShowAdoptedWindows(false);
      return AdoptionResult::Adopted;
    }
    if (GetTickCount64() > idleLimit) return FailAdoption(process);
    PauseBetweenPasses(process.hProcess);
  }
}

void NudgeInput() {
  // Input would wake the display, and nobody could see what it is for.
  if (NobodyCanSee(app.pauseFacts)) return;
  POINT cursor{};
  GetCursorPos(&cursor);
  const int dx = NudgeDirection(cursor.x);
  INPUT inputs[3]{};
  inputs[0].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = VK_SHIFT;
  inputs[1].type = INPUT_KEYBOARD;
  inputs[1].ki.wVk = VK_SHIFT;
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  inputs[2].type = INPUT_MOUSE;
  inputs[2].mi.dx = dx;
  inputs[2].mi.dwFlags = MOUSEEVENTF_MOVE;
  SendInput(3, inputs, sizeof(INPUT));
  Sleep(10);
  inputs[2].mi.dx = -dx;
  SendInput(1, &inputs[2], sizeof(INPUT));
}
