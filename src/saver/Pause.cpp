#include "saver/Pause.h"

#include <tlhelp32.h>

#include <algorithm>

#include "app/AppState.h"
#include "app/MainWindow.h"

namespace {

// Long enough for a frame a saver is in the middle of; a saver that takes longer is asked again next round.
constexpr UINT kAnswerWaitMs = 100;
// Harmless messages queued behind the question: a saver still working through them when it is suspended again
// has not begun its next frame. Messages sent are taken before anything posted and before timers.
constexpr int kCushion = 8;

BOOL CALLBACK TakeFirstWindow(HWND hwnd, LPARAM lParam) {
  *reinterpret_cast<HWND*>(lParam) = hwnd;
  return FALSE;
}

// A window of the thread, whose messages it takes: one of the saver's in the host, or one of its own.
HWND WindowOf(DWORD threadId) {
  for (HWND child = GetWindow(app.hostWindow, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetWindowThreadProcessId(child, nullptr) == threadId) return child;
  }
  HWND window = nullptr;
  EnumThreadWindows(threadId, TakeFirstWindow, reinterpret_cast<LPARAM>(&window));
  return window;
}

bool AnyAsked() {
  const std::vector<PausedThread>& threads = app.pausedSaver.threads;
  return std::any_of(threads.begin(), threads.end(), [](const PausedThread& thread) { return thread.asked; });
}

// Runs on the UI thread, from its message loop, once the saver has taken the question: whatever was sent to it
// before has been answered too.
VOID CALLBACK OnAnswered(HWND, UINT, ULONG_PTR threadId, LRESULT) {
  for (PausedThread& thread : app.pausedSaver.threads) {
    if (thread.id == threadId) thread.asked = false;
  }
  if (!AnyAsked()) EndAnswerRound();
}

}  // namespace

void PauseSaver(DWORD processId) {
  std::vector<PausedThread>& suspended = app.pausedSaver.threads;
  // A thread started by one not yet suspended can be missing from a snapshot: look until none is new.
  for (std::size_t before = SIZE_MAX; before != suspended.size();) {
    before = suspended.size();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) break;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID != processId ||
          std::any_of(suspended.begin(), suspended.end(),
                      [&](const PausedThread& known) { return known.id == entry.th32ThreadID; })) {
        continue;
      }
      HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
      if (thread && SuspendThread(thread) != static_cast<DWORD>(-1)) {
        suspended.push_back({entry.th32ThreadID, thread, WindowOf(entry.th32ThreadID), false});
      } else if (thread) {
        CloseHandle(thread);
      }
    }
    CloseHandle(snapshot);
  }
  if (SaverPaused()) SetTimer(app.mainWindow, kAnswerTimer, kAnswerPeriodMs, nullptr);
}

void ResumeSaver() {
  KillTimer(app.mainWindow, kAnswerTimer);
  KillTimer(app.mainWindow, kAnswerDeadlineTimer);
  PausedSaver& paused = app.pausedSaver;
  for (const PausedThread& thread : paused.threads) {
    // In a round the threads run already.
    if (!paused.answering) ResumeThread(thread.handle);
    CloseHandle(thread.handle);
  }
  paused = {};
}

bool SaverPaused() { return !app.pausedSaver.threads.empty(); }

void StartAnswerRound() {
  PausedSaver& paused = app.pausedSaver;
  if (!SaverPaused() || paused.answering) return;
  // Asked while still suspended, so that on waking the saver finds the question, and the cushion behind it,
  // before its next frame is due.
  for (PausedThread& thread : paused.threads) {
    if (thread.asked || !thread.window) continue;
    thread.asked = SendMessageCallbackW(thread.window, WM_NULL, 0, 0, OnAnswered, thread.id) != FALSE;
    for (int i = 0; thread.asked && i < kCushion; ++i) SendNotifyMessageW(thread.window, WM_NULL, 0, 0);
  }
  if (!AnyAsked()) return;
  for (const PausedThread& thread : paused.threads) ResumeThread(thread.handle);
  paused.answering = true;
  SetTimer(app.mainWindow, kAnswerDeadlineTimer, kAnswerWaitMs, nullptr);
}

void EndAnswerRound() {
  PausedSaver& paused = app.pausedSaver;
  KillTimer(app.mainWindow, kAnswerDeadlineTimer);
  if (!paused.answering) return;
  for (const PausedThread& thread : paused.threads) SuspendThread(thread.handle);
  paused.answering = false;
}
