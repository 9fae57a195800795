#include "settings/SettingsDialog.h"

#include <utility>
#include <vector>

#include "app/AppState.h"
#include "app/ReportError.h"
#include "app/ResourceIds.h"
#include "desktop/DesktopHost.h"
#include "desktop/Resize.h"
#include "saver/Adoption.h"
#include "saver/Launcher.h"
#include "saver/SaverControl.h"
#include "saver/Wallpaper.h"
#include "settings/Catalogue.h"
#include "settings/SettingsFile.h"

namespace {

constexpr int kShutdownRounds = 8;
constexpr UINT kCloseTimeoutMs = 1000;

// Launches and message boxes run nested message loops in which the dialog may be destroyed
// (Exit from the tray); after them the dialog's state may be touched only while it still exists.
bool DialogAlive(HWND dialog) { return app.settingsDialog == dialog && IsWindow(dialog); }

void InvalidatePreview() { InvalidateRect(app.previewStatic, nullptr, FALSE); }

void ResumeWallpaperAfterConfig() {
  // Cleared in any case: a wallpaper that a size change started meanwhile needs nothing.
  if (!std::exchange(app.resumeWallpaperAfterConfig, false) || app.wallpaperProcess) return;
  StartWallpaper(false);
}

// The wallpaper, and the preview while the dialog that started the run is open (a launch's message box may
// close it).
void ResumeAfterConfig() {
  ResumeWallpaperAfterConfig();
  if (app.settingsDialog && app.resumePreviewAfterConfig && app.dialogSelection) StartPreview(app.dialogSelection);
  app.resumePreviewAfterConfig = false;
}

// The template's preview area made again under mixed DPI hosting: only this window of the dialog holds a
// saver's. Where that fails the template's stays.
HWND MakePreviewArea(HWND dialog) {
  HWND fromTemplate = GetDlgItem(dialog, IDC_PREVIEW);
  RECT area{};
  GetWindowRect(fromTemplate, &area);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
  const MixedDpiHosting hosting;
  HWND made =
      CreateWindowExW(0, L"Static", nullptr, WS_CHILD | WS_VISIBLE, area.left, area.top, area.right - area.left,
                      area.bottom - area.top, dialog, reinterpret_cast<HMENU>(IDC_PREVIEW), app.instance, nullptr);
  if (!made) return fromTemplate;
  // In the template's place in the tab order.
  SetWindowPos(made, fromTemplate, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  DestroyWindow(fromTemplate);
  return made;
}

bool OnInitDialog(HWND dialog) {
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(app.appIcon));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(app.appIcon));
  app.settingsDialog = dialog;
  // Made again, and the preview started, once the list shows: nothing but the list lies before it.
  app.previewStatic = GetDlgItem(dialog, IDC_PREVIEW);
  app.saverCombo = GetDlgItem(dialog, IDC_SAVERLIST);
  app.dialogSelection = nullptr;
  app.previewProcess = nullptr;

  std::vector<SaverEntry> catalogue;
  const DWORD error = BuildSaverCatalogue(app.systemDir.get(), app.systemDirLength, catalogue, app.catalogueCache);
  if (error != 0) {
    ReportError(nullptr, L"スクリーン セーバーの一覧を取得できません。", error);
    DestroyWindow(dialog);
    return true;
  }
  SendMessageW(app.saverCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"<なし>"));
  SendMessageW(app.saverCombo, CB_SETITEMDATA, 0, 0);
  for (SaverEntry& entry : catalogue) {
    const LRESULT index = SendMessageW(app.saverCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.Shown()));
    // An entry the list refuses is left out; its strings go with the catalogue.
    if (index < 0) continue;
    const wchar_t* baseName = entry.baseName.release();
    SendMessageW(app.saverCombo, CB_SETITEMDATA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(baseName));
    if (app.saverName && !app.dialogSelection && lstrcmpW(app.saverName.get(), baseName) == 0) {
      app.dialogSelection = baseName;
      SendMessageW(app.saverCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
      EnableWindow(GetDlgItem(dialog, IDC_CONFIGURE), TRUE);
    }
  }
  if (!app.dialogSelection) SendMessageW(app.saverCombo, CB_SETCURSEL, 0, 0);
  PostMessageW(dialog, WMA_SHOW_PREVIEW, 0, 0);
  return true;
}

void OnShowPreview(HWND dialog) {
  app.previewStatic = MakePreviewArea(dialog);
  if (app.dialogSelection) StartPreview(app.dialogSelection);
}

void OnSelectionChange(HWND dialog) {
  if (app.configProcess) {
    ReleaseConfigRun();
    ResumeWallpaperAfterConfig();
    if (!DialogAlive(dialog)) return;
  }
  StopPreview();
  const LRESULT index = SendMessageW(app.saverCombo, CB_GETCURSEL, 0, 0);
  if (index > 0) {
    app.dialogSelection =
        reinterpret_cast<const wchar_t*>(SendMessageW(app.saverCombo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    StartPreview(app.dialogSelection);
  } else {
    app.dialogSelection = nullptr;
  }
  EnableWindow(GetDlgItem(dialog, IDC_CONFIGURE), index > 0);
  EnableWindow(GetDlgItem(dialog, IDC_APPLY), TRUE);
}

// Ends the program from inside the dialog: the layer or the host is gone for good.
void EndProgram(HWND dialog) {
  DestroyWindow(dialog);
  DestroyWindow(app.mainWindow);
}

// Puts the selection into effect. False when the dialog is gone afterwards.
bool SwitchWallpaper(HWND dialog, const wchar_t* selection) {
  // The preview and the old wallpaper end side by side: the preview is asked first and its grace runs
  // while the wallpaper is stopped.
  const std::uint64_t previewAsked = selection ? AskPreviewToClose(app.previewStatic) : 0;
  if (app.saverName) {
    app.saverName.reset();
    // It ends on its quit input while the next one starts up, and is waited for after that.
    AskWallpaperToEnd();
    if (!selection) {
      AwaitWallpaperEnd();
      CancelRecovery();
      // Cleared before the host goes, so its destruction starts no recovery.
      if (app.hostWindow) DestroyWindow(app.hostWindow);
      RepaintShellWallpaper();
      return true;
    }
  }
  if (!app.hostWindow) {
    if (!FindDesktopLayer() || !CreateHostWindow()) {
      EndProgram(dialog);
      return false;
    }
  }
  app.saverName = CopyString(selection);
  EndAskedSaver(TakeHandle(app.previewProcess), previewAsked);
  InvalidatePreview();
  ShowWindow(dialog, SW_HIDE);
  StartWallpaper(true);
  AwaitWallpaperEnd();
  if (!DialogAlive(dialog)) return false;
  ShowWindow(dialog, SW_SHOW);
  NudgeInput();
  StartPreview(app.saverName.get());
  return true;
}

void ApplySelection(HWND dialog, int commandId) {
  const wchar_t* selection = app.dialogSelection;
  const wchar_t* old = app.saverName.get();
  const bool unchanged = (!old && !selection) || (old && selection && lstrcmpW(old, selection) == 0);
  if (!unchanged) {
    // A tracked configuration run would bring back a second preview when it ends.
    if (app.configProcess) {
      ReleaseConfigRun();
      app.resumePreviewAfterConfig = false;
      app.resumeWallpaperAfterConfig = false;
    }
    if (!SwitchWallpaper(dialog, selection)) return;
    const DWORD error = SaveSettings();
    if (error != 0) {
      ReportError(dialog, L"設定ファイルの書き込みでエラーが発生しました。", error);
      return;
    }
  }
  if (commandId == IDOK) {
    DestroyWindow(dialog);
    return;
  }
  HWND applyButton = GetDlgItem(dialog, IDC_APPLY);
  if (GetFocus() == applyButton) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDOK)), TRUE);
  }
  EnableWindow(applyButton, FALSE);
}

// Runs on the thread pool's wait thread when a configuration run ends; it only posts, to the main window, which
// outlives the dialog.
VOID CALLBACK ConfigWaitCallback(PVOID, BOOLEAN) { PostMessageW(app.mainWindow, WMA_CONFIG_DONE, 0, 0); }

void StartConfigRun() {
  // One tracked run at a time; its window is already open for the user.
  if (app.configProcess || !app.dialogSelection) return;
  app.resumePreviewAfterConfig = app.previewProcess != nullptr;
  StopPreview();
  app.resumeWallpaperAfterConfig = false;
  if (app.saverName && app.wallpaperProcess && lstrcmpW(app.dialogSelection, app.saverName.get()) == 0) {
    app.resumeWallpaperAfterConfig = true;
    StopWallpaper();
  }
  HANDLE config = LaunchSaver(app.dialogSelection, SaverMode::Configure, app.previewStatic);
  HANDLE wait = nullptr;
  if (config && RegisterWaitForSingleObject(&wait, config, ConfigWaitCallback, nullptr, INFINITE,
                                            WT_EXECUTEINWAITTHREAD | WT_EXECUTEONLYONCE)) {
    app.configProcess = config;
    app.configWait = wait;
    return;
  }
  // Not started, or nothing would tell when it ends (it goes on untracked): what it stopped comes back now.
  if (config) CloseHandle(config);
  ResumeAfterConfig();
}

// Closes what the dialog owns on screen (a message box, a saver's configuration window), then the
// dialog and the program. Bounded: a pop-up may ignore WM_CLOSE.
BOOL CALLBACK FindOwnedPopup(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<std::pair<HWND, HWND>*>(lParam);
  if (GetWindow(hwnd, GW_OWNER) != search->first || !IsWindowEnabled(hwnd) || !IsWindowVisible(hwnd)) return TRUE;
  search->second = hwnd;
  return FALSE;
}

// Some systems do not answer GW_ENABLEDPOPUP; the owned windows are then looked up directly.
HWND EnabledPopup(HWND dialog) {
  if (HWND popup = GetWindow(dialog, GW_ENABLEDPOPUP)) return popup;
  std::pair<HWND, HWND> search{dialog, nullptr};
  EnumWindows(FindOwnedPopup, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

void OnShutdown(HWND dialog) {
  for (int round = 0; round < kShutdownRounds; ++round) {
    HWND popup = EnabledPopup(dialog);
    if (!popup || popup == dialog) break;
    SendMessageTimeoutW(popup, WM_CLOSE, 0, 0, SMTO_NORMAL, kCloseTimeoutMs, nullptr);
  }
  EndProgram(dialog);
}

void OnDialogDestroy() {
  // A configuration run goes on, and brings the wallpaper back when it ends; the preview goes with the dialog.
  app.resumePreviewAfterConfig = false;
  app.settingsDialog = nullptr;
  StopPreview();
  app.dialogSelection = nullptr;
  const LRESULT count = SendMessageW(app.saverCombo, CB_GETCOUNT, 0, 0);
  for (LRESULT index = count - 1; index >= 1; --index) {
    delete[] reinterpret_cast<wchar_t*>(SendMessageW(app.saverCombo, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
  }
}

}  // namespace

void ReleaseConfigRun() {
  if (!app.configProcess) return;
  UnregisterWait(TakeHandle(app.configWait));
  CloseHandle(TakeHandle(app.configProcess));
}

void OnConfigRunEnded() {
  // A report about a run released meanwhile (a later run may be tracked already) is no end.
  if (!app.configProcess || StillRunning(app.configProcess)) return;
  ReleaseConfigRun();
  ResumeAfterConfig();
}

void StopPreview() {
  if (!app.previewProcess) return;
  StopSaver(TakeHandle(app.previewProcess), app.previewStatic);
  InvalidatePreview();
}

void StartPreview(const wchar_t* baseName) {
  // One started meanwhile, in a failed launch's message box (the user chose another saver there), shows the choice.
  if (app.previewProcess) return;
  // Only a failed launch runs a message box, and it returns null: a handle means nothing ran meanwhile.
  if (HANDLE preview = LaunchSaver(baseName, SaverMode::Preview, app.previewStatic)) app.previewProcess = preview;
}

INT_PTR CALLBACK SettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return GuardHandler([&]() -> INT_PTR {
    switch (message) {
      case WM_INITDIALOG:
        return OnInitDialog(dialog);
      case WM_COMMAND:
        switch (LOWORD(wParam)) {
          case IDOK:
          case IDC_APPLY:
            ApplySelection(dialog, LOWORD(wParam));
            break;
          case IDCANCEL:
            DestroyWindow(dialog);
            break;
          case IDC_SAVERLIST:
            if (HIWORD(wParam) == CBN_SELCHANGE) OnSelectionChange(dialog);
            break;
          case IDC_CONFIGURE:
            StartConfigRun();
            break;
          default:
            break;
        }
        return 0;
      case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == app.previewStatic) {
          return reinterpret_cast<INT_PTR>(GetStockObject(BLACK_BRUSH));
        }
        return 0;
      case WMA_SHUTDOWN:
        OnShutdown(dialog);
        return 0;
      case WMA_SHOW_PREVIEW:
        OnShowPreview(dialog);
        return 0;
      case WM_DESTROY:
        OnDialogDestroy();
        return 0;
      default:
        return 0;
    }
  });
}
