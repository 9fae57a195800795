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
// Keeps the layer's area the host was fitted to: hostWidth, hostHeight and hostOrigin, and the host's DPI.
void RecordHostArea(const RECT& area);
// The layer's size and place on the screen, and the host's DPI, are those the saver was started for. Monitors
// rearranged within the same bounds move the layer without resizing it, and a new display scale changes neither.
bool HostFitsLayer();
// The black host window inside the layer that carries the saver's windows; nothing of it shows until a saver runs.
bool CreateHostWindow();
// Shows only that area of the host (the system owns the region from here on); null shows all of it.
void ShowInHost(HRGN area);
LRESULT CALLBACK HostWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Windows made while one lives may hold another process's windows of another DPI awareness, as a saver's
// (most are DPI-unaware); the system scales those. Windows 10 1803 and later; elsewhere it changes nothing.
class MixedDpiHosting {
 public:
  MixedDpiHosting();
  ~MixedDpiHosting();
  MixedDpiHosting(const MixedDpiHosting&) = delete;
  MixedDpiHosting& operator=(const MixedDpiHosting&) = delete;

 private:
  int previous;
};

// A saver window that dies within this time of the start means the saver did not take to the host.
constexpr std::uint64_t kEarlyFailureMs = 10000;
inline bool IsEarlyFailure(std::uint64_t now, std::uint64_t startTick) { return now < startTick + kEarlyFailureMs; }
