#include "unit/support/TestApp.h"

#include "app/AppState.h"
#include "app/ReportError.h"
#include "desktop/DesktopHost.h"

std::vector<CapturedBox> capturedBoxes;

namespace {

int WINAPI CaptureBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  capturedBoxes.push_back({owner, text ? text : L"", caption ? caption : L"", type});
  return IDOK;
}

constexpr wchar_t kTestMainClass[] = L"OrvaneUnitTestMain";

}  // namespace

void TestApp::SetUp() {
  capturedBoxes.clear();
  showMessageBox = CaptureBox;
  app = AppState();
  app.instance = GetModuleHandleW(nullptr);
  wchar_t systemDir[MAX_PATH];
  app.systemDirLength = GetSystemDirectoryW(systemDir, MAX_PATH);
  app.systemDir = CopyString(systemDir);
  WNDCLASSEXW mainClass{};
  mainClass.cbSize = sizeof(mainClass);
  mainClass.lpfnWndProc = DefWindowProcW;
  mainClass.hInstance = app.instance;
  mainClass.lpszClassName = kTestMainClass;
  app.mainClassAtom = RegisterClassExW(&mainClass);
  app.mainWindow = CreateWindowExW(0, kTestMainClass, nullptr, WS_POPUP | WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr,
                                   app.instance, nullptr);
  WNDCLASSEXW hostClass{};
  hostClass.cbSize = sizeof(hostClass);
  hostClass.lpfnWndProc = HostWndProc;
  hostClass.hInstance = app.instance;
  hostClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  hostClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  hostClass.lpszClassName = kHostClassName;
  app.hostClassAtom = RegisterClassExW(&hostClass);
  app.saverWindows = std::make_unique<std::vector<SaverWindowRecord>>();
  ASSERT_NE(app.mainWindow, nullptr);
  ASSERT_NE(app.hostClassAtom, 0);
}

void TestApp::TearDown() {
  // The program removes its host with the main window already gone: no recovery timers.
  HWND mainWindow = app.mainWindow;
  app.mainWindow = nullptr;
  if (app.hostWindow) DestroyWindow(app.hostWindow);
  DestroyWindow(mainWindow);
  for (HANDLE* process : {&app.wallpaperProcess, &app.previewProcess}) {
    if (*process) {
      TerminateProcess(*process, 0);
      CloseHandle(*process);
      *process = nullptr;
    }
  }
  UnregisterClassW(kTestMainClass, app.instance);
  UnregisterClassW(kHostClassName, app.instance);
  app = AppState();
  showMessageBox = MessageBoxW;
}

bool TestApp::TakePosted(UINT message) {
  MSG msg;
  return PeekMessageW(&msg, nullptr, message, message, PM_REMOVE) != FALSE;
}
