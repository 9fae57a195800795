// User stories as rows of the engine (Engine.h), each told to its end. `Scenarios.exe ROW [SCALE]` plays one;
// SCALE multiplies every repeat count (tools/soak). `Scenarios.exe --list` names them for CTest.
#include "Engine.h"

namespace {

const Row kRows[] = {
    // The main path: a second start, switches saved (repeated by tools/soak), "<なし>" giving the shell its
    // wallpaper back, and Exit.
    {"wallpaper-switch-and-exit", L"", L"fxplain fxalt:Alt", L"fxplain",
     "start; wall fxplain; priority fxplain /s below; hostsize 1280 1024; icon 1; second; "
     "dialog; starts fxplain /p 1; priority fxplain /p normal; select Alt~Saver; starts fxalt /p 1; savers 1 fxplain; "
     "press ok; wall fxalt; nodialog; file fxalt; exited fxplain key; savers 1; "
     "repeat 1; dialog; select Fixture~Saver; press ok; wall fxplain; file fxplain; "
     "dialog; select Alt~Saver; press ok; wall fxalt; file fxalt; end; "
     "dialog; second; select <なし>; press apply; nohost; savers 0; repaint 1; file <なし>; select Fixture~Saver; "
     "press ok; wall fxplain; file fxplain; pick q; exits; exited fxplain key; savers 0; repaint 2"},
    // A saver that stops taking messages once hosted cannot hold Orvane, and is ended by force.
    {"hung-saver", L"--arranged", L"fxhang fxplain:NoName", L"fxhang",
     "start; wall fxhang; pump 1000; responsive 2500; shell resize 1000 700; display; wall fxhang; savers 1 fxhang; "
     " responsive 2500; dialog; select fxplain; starts fxplain /p 1; press ok; wall fxplain; "
     "savers 0 fxhang; responsive 2500; pick q; exits; savers 0"},
    // The layer destroyed and rebuilt late; then the whole shell gone for longer than the recovery waits, and a new
    // one whose notification area is not ready yet: the icon and the wallpaper come back, the dialog stays.
    {"layer-lost-and-shell-restarts", L"--arranged --ignore-052c", L"fxplain", L"fxplain",
     "start; wall fxplain; shell destroy; shell later 5000; nohost; wall fxplain; nobox; "
     "starts fxplain /s 2; dialog; starts fxplain /p 1; shell kill; nohost; savers 1; pump 11000; running; "
     "shell new --raised~--tray-late; wall fxplain; nobox; shell tray; icon 1; "
     "starts fxplain /p 1; press cancel; pick q; exits; savers 0; "
     "repaint 1"},
    // A late crash is restarted three times within ten minutes, then reported once.
    {"saver-keeps-crashing", L"--arranged", L"fxcrashlater", L"fxcrashlater",
     "start; wall fxcrashlater; wall fxcrashlater; wall fxcrashlater; wall fxcrashlater; box 壁紙化; pump 2000; "
     "nobox; savers 0; running; region 0 0"},
    // A saver built on the standard framework closes when taken over: preview mode, remembered for the run.
    {"framework-saver-falls-back", L"--arranged", L"fxframe", L"fxframe",
     "start; wall fxframe p; nobox; shell resize 800 600; workarea; wall fxframe p; starts fxframe /s 1; "
     "starts fxframe /p 2; nobox"},
    {"pause-while-unseen", L"--arranged", L"fxplain fxbusy:Alt", L"fxplain",
     "start; wall fxplain; beat 1; cover overlay; pump 700; beat 1; cover max; beat 0; cover restore; beat 1; "
     "session lock; beat 0; session connect; beat 0; session unlock; beat 1; session remote; beat 0; "
     "session connect; beat 1; power battery 1; beat 0; power energy 2; power battery 0; beat 0; power energy 0; "
     "beat 1; power display 0; beat 0; input; shell destroy; shell later 300; pump 2500; starts fxplain /s 1; "
     "region 0 0; input 0; cover max; power display 1; wall fxplain; beat 0; shell resize 1000 700; workarea; "
     "pump 1000; starts fxplain /s 2; cover restore; wall fxplain; hostsize 1000 700; cover max; beat 0; "
     "shell resize 900 600; workarea; dialog; select Alt~Saver; press ok; wall fxbusy; hostsize 900 600; "
     "exited fxplain key; cover max; beat 0; pump 5500; broadcast 1000; beat 0; pick q; exits; "
     "exited fxbusy key; savers 0"},
    {"configure-wallpaper-saver", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; dialog; starts fxplain /p 1; press config; starts fxplain /c: 1; exited fxplain key; "
     "region 0 0; shell resize 1000 700; workarea; pump 1500; starts fxplain /s 1; endconfig; wall fxplain; "
     "hostsize 1000 700; starts fxplain /p 2; press cancel; nodialog; savers 1; dialog; press config; "
     "starts fxplain /c: 2; exited fxplain key; press cancel; nodialog; endconfig; wall fxplain; savers 1"},
    // Ended by force (the Task Manager, a crash), with a preview shown and while paused, or by the session's end:
    // no saver outlives Orvane, and a paused one can answer the system.
    {"killed", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; dialog; starts fxplain /p 1; kill; savers 0 fxplain; start; wall fxplain; "
     "cover max; beat 0; kill; savers 0 fxplain; start; wall fxplain; power display 0; beat 0; session query; "
     "beat 1; pump 1000; beat 1; session end 0; beat 0; session query; session end 1; exited fxplain key; savers 0"},
    // Started before the shell is up (at sign-in): the wallpaper comes with the shell.
    {"start-before-the-shell", nullptr, L"fxplain", L"fxplain",
     "launch; pump 2000; running; shell new --arranged~--tray-slow; wall fxplain; icon 1; pump 2500; icon 1 1; "
     "pick q; exits; icon 0 1; savers 0"},
    // The chosen saver is gone: one message, and the shell's own wallpaper stays.
    {"chosen-saver-missing", L"--arranged", L"", L"fxgone", "start; box 起動; region 0 0; pick q; exits"},
    // The host shows only the first monitor's part of a layer spanning two; a work-area change restarts the saver
    // only when the size changed, two at once restart it once, a display change once after its checks.
    {"layer-and-display", L"--arranged --size 2560x1024", L"fxplain", L"fxplain",
     "start; wall fxplain; hostsize 2560 1024; region 1280 1024; workarea; pump 1500; starts fxplain /s 1; "
     "shell resize 1000 700; workarea 2; wall fxplain; hostsize 1000 700; pump 2500; starts fxplain /s 2; "
     "shell resize 640 480; display; wall fxplain; hostsize 640 480; pump 3500; starts fxplain /s 3; repeat 1; "
     "shell resize 1024 768; workarea; wall fxplain; shell resize 640 480; display; wall fxplain; end; "
     "shell move -100 0; workarea; wall fxplain; savers 1"},
    // At 150 % the host covers the whole layer of the (per-monitor aware) shell; tools/dpi-check runs it under Wine 10.
    {"high-dpi", L"--arranged", L"fxplain", L"fxplain", "scaled; start; hostsize; wall fxplain; region"},
};

// tools/run: a wallpaper shown for SCALE seconds, the proof that it runs, and the dialog to try.
const Row kTour[] = {{"tour", L"--arranged --visible", L"fxplain fxalt:Alt", L"fxplain",
                      "start; wall fxplain; show; dialog; repeat 1; pump 1000; end"}};

}  // namespace

int main(int argc, char** argv) {
  // Wine's notification area stalls about 2 s each time its last icon goes, which a real desktop never lets
  // happen: `bench up` starts one of these to keep an icon there for the bench's life.
  if (argc > 1 && argv[1] == std::string("--keep-icon")) {
    HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    NOTIFYICONDATAW icon{sizeof(icon), window, 1};
    while (!Shell_NotifyIconW(NIM_ADD, &icon)) Sleep(500);
    for (MSG msg; GetMessageW(&msg, nullptr, 0, 0) > 0;) DispatchMessageW(&msg);
    return 0;
  }
  if (argc > 1 && argv[1] == std::string("tour")) return PlayRow(kTour, argc, argv);
  return PlayRow(kRows, argc, argv);
}
