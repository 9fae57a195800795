#pragma once
#include <windows.h>

// Brings the host to the layer's size, restarting the saver at the new size.
void SyncHostSize();
// Applying "<なし>" ends a pending recovery: with no saver there is nothing to bring back.
void CancelRecovery();
// A display change settles over a few seconds: look twice.
void ScheduleSizeChecks();
// Size checks and the recovery after the shell destroyed the host.
void OnMainTimer(WPARAM timerId);
// "TaskbarCreated": a restarted shell is looked up, and a host lost with the old one comes back in its layer.
void RecoverAfterShellRestart();
