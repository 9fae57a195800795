#include "app/Startup.h"

#include <wtsapi32.h>

#include <cwchar>
#include <initializer_list>

#include "app/AppState.h"
#include "app/MainWindow.h"
#include "app/ReportError.h"
#include "app/ResourceIds.h"
#include "desktop/DesktopHost.h"
#include "desktop/Resize.h"
#include "saver/Wallpaper.h"
#include "settings/SettingsFile.h"

namespace {

constexpr UINT kSystemDirInitialSize = 32;
constexpr DWORD kModulePathInitialSize = 256;
constexpr DWORD kModulePathGrowth = 64;
constexpr wchar_t kSettingsFileName[] = L"TAVO.dat";
// A busy or hung first instance must not hold the second one.
constexpr UINT kActivateTimeoutMs = 5000;

// wtsapi32 is loaded for as long as the notifications are registered rather than imported, so the exe's imports
// stay what every Windows has loaded.
template <class Function>
Function SessionFunction(const char* name) {
  return app.sessionLibrary
             ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(app.sessionLibrary, name)))
             : nullptr;
}

HPOWERNOTIFY WatchPowerSetting(const GUID& setting) {
  return RegisterPowerSettingNotification(app.mainWindow, &setting, DEVICE_NOTIFY_WINDOW_HANDLE);
}

// Lock, disconnect, display-off and the energy savers reach the main window, so the wallpaper can pause. Each
// registration sends the setting's current value at once; one the system does not know fails and is left out.
// Without them the wallpaper only pauses when covered.
void WatchSessionAndDisplay() {
  app.sessionLibrary = LoadLibraryW(L"wtsapi32.dll");
  const auto registerSession = SessionFunction<BOOL(WINAPI*)(HWND, DWORD)>("WTSRegisterSessionNotification");
  // Kept only while registered, so the end unregisters exactly what was registered.
  if (app.sessionLibrary && !(registerSession && registerSession(app.mainWindow, NOTIFY_FOR_THIS_SESSION))) {
    FreeLibrary(app.sessionLibrary);
    app.sessionLibrary = nullptr;
  }
  app.powerNotifications[0] = WatchPowerSetting(kConsoleDisplayState);
  if (!app.powerNotifications[0]) app.powerNotifications[0] = WatchPowerSetting(kMonitorPowerOn);
  app.powerNotifications[1] = WatchPowerSetting(kBatterySaver);
  app.powerNotifications[2] = WatchPowerSetting(kEnergySaver);
}

// Run elevated, the program would not hear the shell's broadcast from its lower integrity level: after a shell
// restart there would be neither icon nor wallpaper. From Windows 7 on it is let through to the main window alone.
void AllowTaskbarCreated() {
  constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW, which the headers give only to Windows 7 and later builds
  using FilterFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  const auto filter = reinterpret_cast<FilterFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx")));
  if (filter) {
    filter(app.mainWindow, app.taskbarCreatedMessage, kAllow, nullptr);
  } else {
    ChangeWindowMessageFilter(app.taskbarCreatedMessage, MSGFLT_ADD);
  }
}

void FinishStartup() {
  AddTrayIcon();
  WatchSessionAndDisplay();
}

bool Fail(const wchar_t* message, DWORD error) {
  ReportError(nullptr, message, error);
  return false;
}

bool ReadSystemDirectory() {
  app.systemDir.reset(new wchar_t[kSystemDirInitialSize]);
  app.systemDirLength = GetSystemDirectoryW(app.systemDir.get(), kSystemDirInitialSize);
  if (app.systemDirLength > kSystemDirInitialSize) {
    const UINT needed = app.systemDirLength;
    app.systemDir.reset(new wchar_t[needed]);
    app.systemDirLength = GetSystemDirectoryW(app.systemDir.get(), needed);
  }
  // Without it no saver can be found or started.
  return app.systemDirLength != 0 || Fail(L"GetSystemDirectory() でエラーが発生しました。", GetLastError());
}

bool BuildSettingsPath() {
  DWORD size = kModulePathInitialSize;
  HeapString modulePath(new wchar_t[size]);
  // Cleared first: only a truncation may leave ERROR_INSUFFICIENT_BUFFER behind.
  SetLastError(ERROR_SUCCESS);
  DWORD length = GetModuleFileNameW(nullptr, modulePath.get(), size);
  while (length != 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    size += kModulePathGrowth;
    modulePath.reset(new wchar_t[size]);
    SetLastError(ERROR_SUCCESS);
    length = GetModuleFileNameW(nullptr, modulePath.get(), size);
  }
  if (length == 0) return Fail(L"GetModuleFileName() でエラーが発生しました。", GetLastError());
  const wchar_t* lastSlash = wcsrchr(modulePath.get(), L'\\');
  const std::size_t dirLength = lastSlash ? static_cast<std::size_t>(lastSlash - modulePath.get()) + 1 : 0;
  const std::size_t nameLength = wcslen(kSettingsFileName);
  app.settingsPath.reset(new wchar_t[dirLength + nameLength + 1]);
  wmemcpy(app.settingsPath.get(), modulePath.get(), dirLength);
  wmemcpy(app.settingsPath.get() + dirLength, kSettingsFileName, nameLength + 1);
  return true;
}

bool Initialize() {
  app.appIcon =
      static_cast<HICON>(LoadImageW(app.instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  if (!app.appIcon) return Fail(L"アプリケーション アイコンをロードできません。", GetLastError());
  if (!ReadSystemDirectory()) return false;
  if (!BuildSettingsPath()) return false;
  if (!LoadSettings()) return false;
  app.mainClassAtom = RegisterWindowClass(MainWndProc, kInstanceId, nullptr, nullptr);
  if (!app.mainClassAtom) return Fail(L"メイン ウィンドウのウィンドウ クラスを登録できません。", GetLastError());
  app.mainWindow = CreateWindowExW(0, MAKEINTATOM(app.mainClassAtom), nullptr, WS_POPUP | WS_DISABLED, 0, 0, 0, 0,
                                   nullptr, nullptr, app.instance, nullptr);
  if (!app.mainWindow) return Fail(L"メイン ウィンドウを作成できません。", GetLastError());
  app.pauseFacts.remote = GetSystemMetrics(SM_REMOTESESSION) != 0;
  app.hostClassAtom = RegisterWindowClass(HostWndProc, kHostClassName, LoadCursorW(nullptr, IDC_ARROW),
                                          static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  if (!app.hostClassAtom) return Fail(L"親ウィンドウのウィンドウ クラスを登録できません。", GetLastError());
  app.taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
  AllowTaskbarCreated();
  app.trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  app.trayIcon.uCallbackMessage = WMA_TRAY_CALLBACK;
  app.trayIcon.hIcon = app.appIcon;
  wcscpy(app.trayIcon.szTip, kAppTitle);
  app.trayMenu = LoadMenuW(app.instance, MAKEINTRESOURCEW(IDR_TRAYMENU));
  if (!app.trayMenu) return Fail(L"処理選択のポップアップ メニューをロードできません。", GetLastError());
  app.saverWindows = std::make_unique<std::vector<SaverWindowRecord>>();
  app.finishStartup = FinishStartup;
  StartInLayer();
  FinishStartupOnce();
  return true;
}

// Releases what exists; serves every stage of a failed start as well as the normal end.
void Cleanup() {
  if (app.trayIcon.hWnd) {
    Shell_NotifyIconW(NIM_DELETE, &app.trayIcon);
    app.trayIcon.hWnd = nullptr;
  }
  if (app.trayMenu) {
    DestroyMenu(app.trayMenu);
    app.trayMenu = nullptr;
  }
  app.systemDir.reset();
  app.settingsPath.reset();
  app.saverName.reset();
  if (app.mainClassAtom) {
    if (app.mainWindow) DestroyWindow(app.mainWindow);
    UnregisterClassW(MAKEINTATOM(app.mainClassAtom), app.instance);
    app.mainClassAtom = 0;
  }
  if (app.hostClassAtom) {
    if (app.hostWindow) DestroyWindow(app.hostWindow);
    UnregisterClassW(MAKEINTATOM(app.hostClassAtom), app.instance);
    app.hostClassAtom = 0;
  }
  app.saverWindows.reset();
  StopWatchingShell();
  RepaintShellWallpaper();
  AwaitWallpaperEnd();
  // Last: they end whatever saver is still running, such as a configuration window left open.
  for (HANDLE* job : {&app.saverJob, &app.configJob}) {
    if (*job) CloseHandle(TakeHandle(*job));
  }
}

// The program's one message loop; ends on WM_QUIT or when a handler failed.
void RunMessageLoop() {
  MSG msg;
  while (!app.handlerFailed && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (app.settingsDialog && IsDialogMessageW(app.settingsDialog, &msg)) continue;
    DispatchMessageW(&msg);
  }
}

}  // namespace

void StopWatchingSessionAndDisplay() {
  for (HPOWERNOTIFY& notification : app.powerNotifications) {
    if (notification) UnregisterPowerSettingNotification(notification);
    notification = nullptr;
  }
  if (!app.sessionLibrary) return;
  if (auto unregister = SessionFunction<BOOL(WINAPI*)(HWND)>("WTSUnRegisterSessionNotification")) {
    unregister(app.mainWindow);
  }
  FreeLibrary(app.sessionLibrary);
  app.sessionLibrary = nullptr;
}

int RunApplication(HINSTANCE instance) {
  app.instance = instance;
  HANDLE instanceMutex = CreateMutexW(nullptr, FALSE, kInstanceId);
  if (!instanceMutex) return 0;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (HWND running = FindWindowW(kInstanceId, nullptr)) {
      // The foreground may pass only to a process that the one holding it allows.
      DWORD runningProcess = 0;
      GetWindowThreadProcessId(running, &runningProcess);
      AllowSetForegroundWindow(runningProcess);
      SendMessageTimeoutW(running, WMA_ACTIVATE_SETTINGS, 0, 0, SMTO_ABORTIFHUNG, kActivateTimeoutMs, nullptr);
    }
    CloseHandle(instanceMutex);
    return 0;
  }
  app.progmanWindow = FindWindowW(L"Progman", nullptr);
  try {
    if (Initialize()) RunMessageLoop();
  } catch (...) {
    // Out of memory during the start: end as after any failed start.
  }
  Cleanup();
  CloseHandle(instanceMutex);
  return 0;
}
