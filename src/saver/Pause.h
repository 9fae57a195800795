// The wallpaper saver paused: its threads suspended, yet let run for a moment every kAnswerPeriodMs so that
// what other programs sent it meanwhile is answered. A thread suspended in its message wait never counts as
// hung, so a broadcast, a DDE conversation or a window of the shell's tree would otherwise wait for the pause
// to end.
#pragma once
#include <windows.h>

#include <vector>

constexpr UINT kAnswerPeriodMs = 250;

struct PausedThread {
  DWORD id;
  HANDLE handle;
  // A window of the thread, found when the pause began; null for a thread without one, which is never asked.
  HWND window;
  // Asked and not answered yet: a thread busy in a frame is asked again only once it has answered.
  bool asked;
};

struct PausedSaver {
  // Every thread suspended; empty while the saver runs.
  std::vector<PausedThread> threads;
  // A round is on: the threads run until each one asked has answered, or kAnswerWaitMs has passed.
  bool answering = false;
};

// Suspends every thread of the process and starts the rounds.
void PauseSaver(DWORD processId);
// Lets the saver run for good.
void ResumeSaver();
bool SaverPaused();
// kAnswerTimer: the saver is asked, then let run until it has answered.
void StartAnswerRound();
// kAnswerDeadlineTimer, or the last answer: the saver is suspended again.
void EndAnswerRound();
