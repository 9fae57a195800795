#include "app/MainWindow.h"

#include "app/AppState.h"
#include "app/ReportError.h"
#include "app/ResourceIds.h"
#include "app/Startup.h"
#include "desktop/DesktopHost.h"
#include "desktop/Resize.h"
#include "saver/Pause.h"
#include "saver/Wallpaper.h"
#include "settings/SettingsDialog.h"

namespace {

constexpr UINT kMenuFlags = TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON;
constexpr UINT kTrayIconRetryMs = 1000;
constexpr std::uint64_t kTrayIconWaitMs = 30000;

void OnMainDestroy() {
  // First: the saver ends on its key while the rest is taken down, and the clean-up waits for it last.
  AskWallpaperToEnd();
  StopWatchingSessionAndDisplay();
  ReleaseConfigRun();
  app.mainWindow = nullptr;
  PostQuitMessage(0);
}

void OpenSettings() {
  if (app.settingsDialog) return;
  HWND dialog = CreateDialogParamW(app.instance, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, SettingsDlgProc, 0);
  // A dialog whose list could not be built has destroyed itself while it was being created.
  app.settingsDialog = IsWindow(dialog) ? dialog : nullptr;
  if (app.settingsDialog) ShowWindow(app.settingsDialog, SW_SHOW);
}

// Owns the tray's pop-up menu while it is shown.
LRESULT CALLBACK MenuOwnerWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefProgramWindowProc(hwnd, message, wParam, lParam);
}

void OnTrayCallback(LPARAM lParam) {
  if (lParam != WM_LBUTTONUP && lParam != WM_RBUTTONUP) return;
  // The class is registered only while a menu is open: a second click meanwhile finds it and leaves.
  const ATOM ownerAtom = RegisterWindowClass(MenuOwnerWndProc, kMenuOwnerClassName, nullptr, nullptr);
  if (!ownerAtom) {
    const DWORD error = GetLastError();
    if (error != ERROR_CLASS_ALREADY_EXISTS) {
      ReportError(nullptr, L"作業用ウィンドウのウィンドウ クラスを登録できません。", error);
    }
    return;
  }
  POINT cursor{};
  GetCursorPos(&cursor);
  HWND owner = CreateWindowExW(0, MAKEINTATOM(ownerAtom), nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, app.instance,
                               nullptr);
  if (!owner) {
    ReportError(nullptr, L"作業用ウィンドウを作成できません。", GetLastError());
    UnregisterClassW(MAKEINTATOM(ownerAtom), app.instance);
    return;
  }
  // The menu closes properly on a click elsewhere only when its owner is in the foreground.
  SetForegroundWindow(owner);
  if (app.settingsDialog) SetForegroundWindow(app.settingsDialog);
  const UINT command =
      static_cast<UINT>(TrackPopupMenuEx(GetSubMenu(app.trayMenu, 0), kMenuFlags, cursor.x, cursor.y, owner, nullptr));
  // The saver is asked to end at once. The owner, still the foreground window, goes with the process then: its
  // destruction would hand the activation on, and take longer than the saver takes to end.
  if (command == IDM_EXIT) return RequestExit();
  DestroyWindow(owner);
  UnregisterClassW(MAKEINTATOM(ownerAtom), app.instance);
  if (command == IDM_SETTINGS) OpenSettings();
}

void OnSessionChange(WPARAM event) {
  FollowSessionEvent(app.pauseFacts, event);
  UpdateWallpaperPause();
}

void OnPowerSetting(const POWERBROADCAST_SETTING* setting) {
  if (!setting || setting->DataLength < sizeof(DWORD)) return;
  FollowPowerSetting(app.pauseFacts, setting->PowerSetting, *reinterpret_cast<const DWORD*>(setting->Data));
  UpdateWallpaperPause();
}

// trayIcon.hWnd is set once the icon was asked for: a taskbar busy at logon takes it after the call gave up, and a
// notification area that outlived the shell's restart keeps it. Either has it already, where a second NIM_ADD
// would fail; the end removes it in any case.
bool PlaceTrayIcon() {
  if (app.trayIcon.hWnd && Shell_NotifyIconW(NIM_MODIFY, &app.trayIcon)) return true;
  app.trayIcon.hWnd = app.mainWindow;
  return Shell_NotifyIconW(NIM_ADD, &app.trayIcon) != FALSE;
}

void OnTrayIconTimer() {
  AddTrayIcon();
  // Without its icon the program can be neither reached nor ended.
  if (!app.trayIconDeadline || GetTickCount64() < app.trayIconDeadline || app.wallpaperBusy) return;
  KillTimer(app.mainWindow, kTrayIconTimer);
  app.trayIconDeadline = 0;
  showMessageBox(nullptr, L"タスク バーの通知領域にアイコンを登録できません。", kAppTitle, MB_OK);
  RequestExit();
}

void OnTaskbarCreated() {
  AddTrayIcon();
  FindProgmanAgain();
  RecoverAfterShellRestart();
}

void OnMainTimer(WPARAM timerId) {
  switch (timerId) {
    case kRecoveryTimer1:
    case kRecoveryTimer2:
    case kRecoveryTimer3:
      OnRecoveryTimer(timerId);
      break;
    case kShellRestartTimer:
      RecoverAfterShellRestart();
      break;
    case kSizeCheckTimer1:
    case kSizeCheckTimer2:
      OnSizeCheckTimer(timerId);
      break;
    case kVisibilityTimer:
      UpdateWallpaperPause();
      break;
    case kTrayIconTimer:
      OnTrayIconTimer();
      break;
    case kLayerSearchTimer:
      OnLayerSearchTimer();
      break;
    case kAnswerTimer:
      StartAnswerRound();
      break;
    case kAnswerDeadlineTimer:
      EndAnswerRound();
      break;
    default:
      break;
  }
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return GuardHandler([&]() -> LRESULT {
    switch (message) {
      case WM_DESTROY:
        OnMainDestroy();
        return 0;
      case WM_SETTINGCHANGE:
        KeepHostBelowIcons();
        if (wParam == SPI_SETWORKAREA) SyncHostSize();
        return DefWindowProcW(hwnd, message, wParam, lParam);
      case WM_DISPLAYCHANGE:
        LookAgainAtDesktop();
        ScheduleSizeChecks();
        return DefWindowProcW(hwnd, message, wParam, lParam);
      case WM_TIMER:
        OnMainTimer(wParam);
        return 0;
      case WM_QUERYENDSESSION:
        // Asked of the saver as well: suspended, it could not answer, and would hold up the end of the session.
        app.sessionEnding = true;
        UpdateWallpaperPause();
        return TRUE;
      case WM_ENDSESSION:
        app.sessionEnding = wParam != FALSE;
        if (app.sessionEnding) {
          StopWallpaper();
        } else {
          // Called off: what keeps the wallpaper paused holds again.
          UpdateWallpaperPause();
        }
        return 0;
      case WM_WTSSESSION_CHANGE:
        OnSessionChange(wParam);
        return 0;
      case WM_POWERBROADCAST:
        if (wParam == PBT_POWERSETTINGCHANGE) OnPowerSetting(reinterpret_cast<const POWERBROADCAST_SETTING*>(lParam));
        return TRUE;
      case WMA_TRAY_CALLBACK:
        OnTrayCallback(lParam);
        return 0;
      case WMA_ACTIVATE_SETTINGS:
        if (app.settingsDialog) SetForegroundWindow(app.settingsDialog);
        return 0;
      case WMA_WALLPAPER_FAILED:
        OnWallpaperFailed(wParam);
        return 0;
      case WMA_WALLPAPER_ENDED:
        OnWallpaperEnded(wParam);
        return 0;
      case WMA_CONFIG_DONE:
        OnConfigRunEnded();
        return 0;
      default:
        if (message == app.taskbarCreatedMessage && message != 0) {
          OnTaskbarCreated();
          return 0;
        }
        return DefProgramWindowProc(hwnd, message, wParam, lParam);
    }
  });
}

void RequestExit() {
  if (app.settingsDialog) {
    PostMessageW(app.settingsDialog, WMA_SHUTDOWN, 0, 0);
  } else {
    DestroyWindow(app.mainWindow);
  }
}

void AddTrayIcon() {
  if (PlaceTrayIcon()) {
    KillTimer(app.mainWindow, kTrayIconTimer);
    app.trayIconDeadline = 0;
  } else if (!app.trayIconDeadline) {
    // At logon, and right after a shell restart, the notification area may not be ready yet.
    app.trayIconDeadline = GetTickCount64() + kTrayIconWaitMs;
    SetTimer(app.mainWindow, kTrayIconTimer, kTrayIconRetryMs, nullptr);
  }
}
