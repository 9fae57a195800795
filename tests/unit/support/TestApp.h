// In-process tests run the program's own functions on a hand-built AppState with real windows.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

struct CapturedBox {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT type;
};

// Message boxes land here instead of on the screen while a TestApp runs.
extern std::vector<CapturedBox> capturedBoxes;

// Fills AppState as the start-up does (system directory, classes, a main window, the window list),
// without the tray icon; host and shell are up to each test.
class TestApp : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A message the host or a handler posted to the main window, taken off the queue.
  bool TakePosted(UINT message);
};
