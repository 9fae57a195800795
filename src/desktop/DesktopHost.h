#pragma once
#include <windows.h>

#include <cstdint>

// The shell's wallpaper layer lies directly above Progman, with the icon view's holder directly above it;
// on the raised desktop of current Windows 11 the host goes into Progman itself.
bool FindDesktopLayer();
// After a restart of the shell its "Progman" is a new window.
void FindProgmanAgain();
void StopWatchingShell();
// The shell repaints its own wallpaper where the saver was.
void RepaintShellWallpaper();
// On the raised desktop the shell may make a new wallpaper window right below its icons; the host
// goes back between the two. Told by the shell's window events and by its setting broadcasts.
void KeepHostBelowIcons();
// The layer's client area in screen coordinates; empty once the layer is gone.
RECT LayerArea();
// The black host window inside the layer that carries the saver's windows.
bool CreateHostWindow();
LRESULT CALLBACK HostWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// A saver window that dies within this time of the start means the saver did not take to the host.
constexpr std::uint64_t kEarlyFailureMs = 10000;
inline bool IsEarlyFailure(std::uint64_t now, std::uint64_t startTick) { return now < startTick + kEarlyFailureMs; }
