// The start-up of the window program: the controller's own start-up over the wx shell, in the
// job's folder, plus the rule for a desktop without a notification area.
#include "ui/desktop_main.h"

#include "app/command_line.h"
#include "app/main_frame.h"
#include "app/window_folder.h"
#include "ui/system_tray.h"
#include "ui/wx_shell.h"

bool StartDesktop(CMainFrame& frame, CWxShell& shell, const StartOptions& options) {
    StartOptions started = options;
    // Before the job and pemo.ini are read, so that both and the logs of the window's runs sit
    // together in the job's folder, wherever the desktop started the program.
    if (!started.autoRun) {
        started.startJobFile = EnterJobFolder(started.startJobFile, frame.FileSystem());
    }
    frame.ApplyStartOptions(started);
    if (!frame.StartUp()) {
        return false;
    }
    // A hidden start-up run could not be reached at all without the icon: show the window.
    const bool trayShown = shell.Tray() && shell.Tray()->Enabled();
    if (!trayShown && !frame.DialogShown()) {
        frame.Show();
    }
    return true;
}
