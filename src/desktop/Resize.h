#pragma once
#include <windows.h>

// Brings the host to the layer's size and place, restarting the saver for them.
void SyncHostSize();
// The same without the restart, for a launch: no saver runs in the host.
void FitHostToLayer();
// A display change settles over a few seconds: look twice.
void ScheduleSizeChecks();
// Each start of a size-check timer looks once.
void OnSizeCheckTimer(UINT_PTR timerId);
// At the start, with a saver chosen: the host and the saver go into the layer. A shell that has none yet (a start at
// sign-in) is looked at again every second and on "TaskbarCreated"; after 30 s the program ends without a word.
// With no saver chosen the layer is looked for only when one is applied.
void StartInLayer();
void OnLayerSearchTimer();
// The shell took the host: the layer is looked for 1, 3 and 10 s from now.
void StartRecovery();
// Applying "<なし>" ends a pending recovery, and the start's search: with no saver there is nothing to bring back.
void CancelRecovery();
// The host and saver come back in a layer found again; the last look gives up on a shell without one.
void OnRecoveryTimer(UINT_PTR timerId);
// After "TaskbarCreated" found the restarted shell's Progman: a host lost with the old shell comes back in the new
// one's layer.
void RecoverAfterShellRestart();
