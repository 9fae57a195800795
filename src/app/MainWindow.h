#pragma once
#include <windows.h>

// Every timer of the program belongs to the main window. Each id: who starts it -> what MainWndProc runs.
enum MainTimer : UINT_PTR {
  // StartRecovery, 1, 3 and 10 s after the shell took the host -> OnRecoveryTimer (which starts the same id
  // again for 1 s while the wallpaper run is busy).
  kRecoveryTimer1 = 1,
  kRecoveryTimer2,
  kRecoveryTimer3,
  // RecoverAfterShellRestart, for 1 s while the wallpaper run is busy -> RecoverAfterShellRestart.
  kShellRestartTimer,
  // ScheduleSizeChecks, 1 and 3 s after a display change; the second also SyncHostSize, for 1 s while the
  // wallpaper run is busy -> OnSizeCheckTimer.
  kSizeCheckTimer1,
  kSizeCheckTimer2,
  // The wallpaper run's Launch and UpdateWallpaperPause, every 500 ms while a saver runs in the host and no
  // notification alone keeps it paused -> UpdateWallpaperPause.
  kVisibilityTimer,
  // AddTrayIcon, every second while the notification area refuses the icon -> OnTrayIconTimer.
  kTrayIconTimer,
  // StartInLayer, every second while the chosen saver waits at the start for the shell's layer -> OnLayerSearchTimer.
  kLayerSearchTimer,
  // PauseSaver, every kAnswerPeriodMs while the wallpaper saver is paused -> StartAnswerRound.
  kAnswerTimer,
  // StartAnswerRound, once, for the saver to answer in -> EndAnswerRound.
  kAnswerDeadlineTimer,
};

// The hidden main window: tray callbacks, display changes, timers, the second instance's request.
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The program's way to end itself from inside the message loop.
void RequestExit();
// Puts the notification-area icon in place (anew after a shell restart). A notification area that is not ready
// is asked again every second and on "TaskbarCreated"; after 30 s the program says so and ends.
void AddTrayIcon();
