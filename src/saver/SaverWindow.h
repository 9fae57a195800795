#pragma once
#include <windows.h>

#include <cstdint>

// One top-level window of the saver running as wallpaper. adoptAfter is 0 once the window is adopted.
struct SaverWindowRecord {
  HWND hwnd;
  std::uint64_t adoptAfter;
  BOOL wasEnabled;
};
