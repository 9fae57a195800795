// Drives the real Orvane.exe as a user would: a private copy in a fresh folder with its own "TAVO.dat".
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "common/Bench.h"

namespace bench {

// Identifiers the program shows to the outside (class names, private messages).
inline constexpr wchar_t kMainClass[] = L"5f0c9a7e3b2d4c18a6e1f94d7b20c3a5";
inline constexpr wchar_t kHostClass[] = L"9d41e6b0c7a2485f8e3b16d9a0f4c27e";
inline constexpr wchar_t kMenuOwnerClass[] = L"c2b8f0d4a91e4e67b5d3087f6a1c9e42";
inline constexpr UINT kTrayCallback = WM_APP;
inline constexpr UINT kActivateSettings = WM_APP + 1;
inline constexpr UINT kWallpaperFailed = WM_APP + 2;

class OrvaneRun {
 public:
  // saverName empty: no "TAVO.dat" at all; otherwise one naming that saver.
  explicit OrvaneRun(const std::wstring& saverName = L"");
  ~OrvaneRun();
  OrvaneRun(const OrvaneRun&) = delete;
  OrvaneRun& operator=(const OrvaneRun&) = delete;

  const std::wstring& Dir() const { return dir_; }
  std::wstring SettingsPath() const { return dir_ + L"\\TAVO.dat"; }
  std::wstring ExePath() const { return dir_ + L"\\Orvane.exe"; }

  // Starts the copy; does not wait.
  void Start();
  // Starts a second copy of the same exe (a second instance) and returns it.
  Process StartAnother() const;
  Process& Proc() { return process_; }

  // Starts, and waits until the configured saver shows inside the host; its first window, or null.
  HWND StartWithWallpaper();
  // Waits until the main window exists (the program reached its message loop or close to it).
  bool WaitReady(DWORD timeoutMs = 30000);
  HWND MainWindow() const;
  HWND Host() const;
  // Host's children: the adopted saver windows.
  std::vector<HWND> HostChildren() const;
  // Waits until the host holds a visible saver window, then returns the first one.
  HWND WaitSaverWindow(DWORD timeoutMs = 30000) const;

  // The tray icon's callback, as the shell sends it.
  void TrayCallback(UINT mouseMessage) const;
  // The open pop-up menu (#32768) of the program, or null.
  HWND Menu() const;
  // Opens the menu with a right-button release and picks the item by its mnemonic ('Q' exit, 'S' settings).
  bool PickMenuItem(wchar_t mnemonic);
  // A message box (#32770 with caption "Orvane") of the program, or null.
  HWND MessageBox() const;
  std::wstring MessageBoxText(HWND box) const;
  void CloseMessageBox(HWND box) const;
  // The settings dialog ("Orvane 設定"), or null.
  HWND SettingsDialog() const;
  // True while the program's notification-area icon is registered with the shell.
  bool TrayIconPresent() const;

  // Settings from the tray menu; the open dialog, or null.
  HWND OpenSettings();
  // Selects the list entry with that text in the dialog, then presses the button (IDOK, 104 Apply).
  static void ChooseAndPress(HWND dialog, const wchar_t* entry, int button);

  // Exit through the tray menu, then wait for the process to end.
  bool ExitThroughMenu(DWORD timeoutMs = 30000);

 private:
  void DescribeFailedStart() const;

  std::wstring dir_;
  Process process_;
};

}  // namespace bench
