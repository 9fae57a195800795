// User stories as rows: the shell's arrangement, the savers installed, the settings file, then what the user
// and the shell do and what must hold (verbs: tests/system/Engine.cpp). Run as `Scenarios.exe ROW [SCALE]`;
// SCALE multiplies every repeat (the soak rows' cycles).
#include <cstdio>
#include <string>

#include "Engine.h"

namespace {

const Row kRows[] = {
    {"wallpaper-from-start", L"", L"fxplain", L"fxplain",
     "start; wall fxplain; adopted; children 1; requests 2; hostsize 1280 1024; icon 1; second; close; pump 500; "
     "running; starts fxplain /s 1; pick q; exits; exited fxplain key; savers 0; repaint 1"},
    {"unsafe-stored-name", L"--arranged", L"fxplain", L"..\\fxplain",
     "start; icon 1; pump 1500; nohost; savers 0; nobox; pick q; exits; repaint 1"},
    {"no-shell", nullptr, L"fxplain", L"fxplain", "launch; exits 10000; savers 0"},
    {"layer-never-built", L"--ignore-052c", L"fxplain", L"fxplain", "launch; exits; savers 0; requests 2; repaint 1"},
    {"tray-menu-and-dialog", L"--arranged", L"fxplain fxalt=A fxnoname=N", nullptr,
     "start; tray ld rd ldbl rdbl move; pump 1000; nomenu; tray lu; menu; esc; nomenu; tray ru; menu; esc; nomenu; "
     "second; nodialog; dialog; list <なし>|Alt~Saver|Fixture~Saver|fxnoname; selected <なし>; second; front; "
     "press cancel; nodialog; savers 0; pick q; exits; icon 0"},
    {"switch-saver", L"--arranged", L"fxplain fxalt=A", L"fxplain",
     "start; wall fxplain; dialog; selected Fixture~Saver; starts fxplain /p 1; select Alt~Saver; starts fxalt /p 1; "
     "savers 1 fxplain; press ok; wall fxalt; adopted; nodialog; file fxalt; exited fxplain key; savers 1; pick q; "
     "exits; savers 0"},
    {"none-and-back", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; dialog; select <なし>; lock; press apply; box 書き込み; unlock; file fxplain; nohost; "
     "savers 0; repaint 1; select Fixture~Saver; press ok; wall fxplain; file fxplain; pick q; exits"},
    {"stubborn-saver", L"--arranged", L"fxdeaf", L"fxdeaf", "start; wall fxdeaf; pick q; exits; savers 0"},
    {"framework-saver-falls-back", L"--arranged", L"fxframe", L"fxframe",
     "start; wall fxframe p; nobox; shell resize 800 600; workarea; wall fxframe p; starts fxframe /s 1; "
     "starts fxframe /p 2; nobox"},
    {"suicide-falls-back", L"--arranged", L"fxsuicide", L"fxsuicide",
     "start; wall fxsuicide; wall fxsuicide p; pump 1000; nobox; starts fxsuicide /s 1; children 1"},
    {"doomed-reports-once", L"--arranged", L"fxdoomed", L"fxdoomed",
     "start; wall fxdoomed; box 壁紙化; pump 1000; nobox; savers 0; running; children 0"},
    {"no-window-reports", L"--arranged", L"fxnowin", L"fxnowin", "start; box 壁紙化; savers 0; running; children 0"},
    {"many-windows", L"--arranged", L"fxmulti", L"fxmulti",
     "start; wall fxmulti; children 2; enabled 1; adopted; pick q; exits; savers 0"},
    {"display-changes", L"--arranged --size 800x600", L"fxplain", L"fxplain",
     "start; wall fxplain; hostsize 800 600; workarea; pump 1500; starts fxplain /s 1; shell resize 1024 768; "
     "workarea; wall fxplain; hostsize 1024 768; shell resize 640 480; display; wall fxplain; hostsize 640 480; "
     "pump 3500; starts fxplain /s 3"},
    {"layer-recovery", L"--arranged --ignore-052c", L"fxplain", L"fxplain",
     "start; wall fxplain; shell destroy; shell later 5000; nohost; wall fxplain; adopted; nobox; "
     "starts fxplain /s 2; shell kill; pump 12000; running; savers 0; shell new --arranged; wall fxplain s 3000; "
     "nobox; pick q; exits; savers 0"},
    {"shell-restart", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; shell kill; icon 0; nohost; savers 0; shell new --raised; icon 1; "
     "wall fxplain s 3000; below; adopted; savers 1; starts fxplain /s 2; nobox; pick q; exits; repaint 1"},
    {"shell-restart-no-saver", L"--arranged", L"fxplain", nullptr,
     "start; icon 1; shell kill; icon 0; shell new; icon 1; pump 1000; nohost; savers 0; requests 0; "
     "pick q; exits; repaint 1"},
    {"shell-restart-dialog", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; dialog; starts fxplain /p 1; shell kill; nohost; shell new --arranged; icon 1; "
     "wall fxplain s 3000; selected Fixture~Saver; savers 2; pump 1000; starts fxplain /p 1; press config; "
     "starts fxplain /c: 1; shell kill; nohost; shell new --arranged; icon 1; pump 1000; starts fxplain /s 2; "
     "configclose; wall fxplain; starts fxplain /p 2; pick q; exits"},
    {"tray-not-ready", L"--arranged --tray-late", L"fxplain", L"fxplain",
     "start; wall fxplain; icon 0; nobox; shell tray; icon 1; nobox; adopted; pick q; exits"},
    {"raised-desktop", L"--raised", L"fxplain", L"fxplain",
     "start; wall fxplain; below; adopted; shell worker; below; pump 1000; starts fxplain /s 1"},
    {"configure-wallpaper-saver", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; dialog; starts fxplain /p 1; press config; starts fxplain /c: 1; exited fxplain key; configclose; "
     "wall fxplain; starts fxplain /p 2; press cancel; nodialog; savers 1"},
    {"stubborn-preview-and-config", L"--arranged", L"fxprevhang fxcfghang=A", nullptr,
     "start; dialog; select Fixture~Saver; starts fxprevhang /p 1; select Alt~Saver; savers 0 fxprevhang; "
     "starts fxcfghang /p 1; press config; starts fxcfghang /c: 1; pump 500; pick q; exits 15000"},
    {"hung-saver-resize-exit", L"--arranged", L"fxhang", L"fxhang",
     "start; wall fxhang; pump 1000; responsive 1000; shell resize 1000 700; display; wall fxhang s 6500; "
     "savers 1 fxhang; pump 1000; responsive 1000; pick q; exits 5000; savers 0"},
    {"hung-saver-apply", L"--arranged", L"fxhang fxplain_b=N", L"fxhang",
     "start; wall fxhang; dialog; pump 500; select fxplain_b; starts fxplain_b /p 1; responsive 1000; press ok; "
     "wall fxplain_b s 5000; savers 0 fxhang; responsive 1000"},
    {"exit-when-adopted-falls-back", L"--arranged", L"fxadopted", L"fxadopted",
     "start; wall fxadopted; wall fxadopted p; nobox; starts fxadopted /s 1"},
    {"crash-later-restarts", L"--arranged", L"fxcrashlater", L"fxcrashlater",
     "start; wall fxcrashlater; wall fxcrashlater s 7500; nobox; wall fxcrashlater; wall fxcrashlater; box 壁紙化; "
     "pump 3000; nobox; starts fxcrashlater /s 4; savers 0; running"},
    {"crash-reports-once", L"--arranged", L"fxcrash", L"fxcrash",
     "start; box 壁紙化; pump 3000; nobox; starts fxcrash /s 1; savers 0; running"},
    {"work-area-twice", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; handles mark; shell resize 1000 700; workarea 2; wall fxplain; pump 2500; "
     "starts fxplain /s 2; savers 1; handles 2"},
    {"none-during-recovery", L"--arranged --ignore-052c", L"fxplain", L"fxplain",
     "start; wall fxplain; shell destroy; shell later 5000; dialog; select <なし>; press ok; pump 11000; running; "
     "nohost; savers 0; nobox"},
    {"pause-while-unseen", L"--arranged", L"fxplain fxalt=A", L"fxplain",
     "start; wall fxplain; beat 1; cover small; pump 700; beat 1; cover overlay; pump 700; beat 1; cover hidden; "
     "pump 700; beat 1; cover max; beat 0; cover restore; beat 1; session lock; beat 0; session unlock; beat 1; "
     "power 0; beat 0; power 1; beat 1; cover max; beat 0; shell resize 1000 700; workarea; pump 1000; "
     "starts fxplain /s 1; cover restore; wall fxplain; cover max; beat 0; dialog; select Alt~Saver; press ok; "
     "wall fxalt; exited fxplain key; cover max; beat 0; pick q; exits; exited fxalt key; savers 0"},
    {"other-monitor-keeps-wallpaper", L"--arranged --size 2560x1024", L"fxplain", L"fxplain",
     "start; wall fxplain; region 1280 1024; adopted"},
    {"soak-saver-crashes", L"--arranged", L"fxcrashlater", L"fxcrashlater",
     "start; wall fxcrashlater; handles mark; repeat 1; shell resize 1000 700; workarea; wall fxcrashlater; "
     "wall fxcrashlater s 7500; shell resize 1280 1024; workarea; wall fxcrashlater; end; handles 12; nobox; savers 1"},
    {"soak-switch", L"--arranged", L"fxplain fxalt=A", L"fxplain",
     "start; wall fxplain; handles mark; repeat 1; dialog; select Alt~Saver; press ok; wall fxalt; nodialog; "
     "dialog; select Fixture~Saver; press ok; wall fxplain; nodialog; end; handles 12; savers 1; file fxplain"},
    {"soak-layer-and-display", L"--arranged", L"fxplain", L"fxplain",
     "start; wall fxplain; handles mark; repeat 1; shell destroy; wall fxplain; shell resize 1000 700; workarea; "
     "wall fxplain; shell resize 1280 1024; display; wall fxplain; end; handles 12; savers 1; children 1"},
    // Benchmark rows (tools/perf): "figure" lines, each beside its reference measured in the same run.
    {"perf-start", L"--arranged", L"fxplain fxref", L"fxplain",
     "mark; spawn fxref /s; firstshown fxref saver-first-window; quit fxref saver-exit; spawn; mark; start; "
     "wall fxplain; figure start fxplain; usage start; mark; pick q; exits; figure exit"},
    {"perf-switch", L"--arranged", L"fxplain fxalt=A", L"fxplain",
     "start; wall fxplain; dialog; select Alt~Saver; pump 1500; usage before; mark; press ok; wall fxalt; "
     "figure switch fxalt; usage after"},
    {"perf-dialog", L"--arranged", L"fxplain", nullptr,
     "install 500; enumerate enumeration; start; mark; dialog; figure dialog-first; press cancel; nodialog; mark; "
     "dialog; figure dialog-second"},
    {"perf-idle", L"--arranged", L"fxplain fxnowin", L"fxplain",
     "spawn fxnowin /s; start; wall fxplain; pump 3000; usage idle-start fxnowin; pump 60000; usage idle-end fxnowin; "
     "memory"},
    {"perf-pause", L"--arranged", L"fxplain fxnowin", L"fxplain",
     "spawn fxnowin /s; start; wall fxplain; pump 2000; usage shown fxplain.scr; pump 30000; usage shown-end fxplain.scr; "
     "cover max; beat 0; usage covered fxnowin; usage saver-covered fxplain.scr; pump 30000; usage covered-end fxnowin; "
     "usage saver-covered-end fxplain.scr; uncover uncover-to-frame"},
};

}  // namespace

int main(int argc, char** argv) {
  for (const Row& row : kRows) {
    if (argc > 1 && row.name == std::string(argv[1])) return RunRow(row, argc > 2 ? std::stoi(argv[2]) : 1);
  }
  std::printf("no row named %s\n", argc > 1 ? argv[1] : "(none)");
  return 2;
}
