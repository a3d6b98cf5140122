// The start-up of the window program: the controller's own start-up over the wx shell, plus the
// rule for a desktop without a notification area.
#include "ui/desktop_main.h"

#include "app/command_line.h"
#include "app/main_frame.h"
#include "ui/system_tray.h"
#include "ui/wx_shell.h"

bool StartDesktop(CMainFrame& frame, CWxShell& shell, const StartOptions& options) {
    frame.ApplyStartOptions(options);
    if (!frame.StartUp()) {
        return false;
    }
    // A hidden start-up run could not be reached at all without the icon: show the window.
    const bool trayShown = shell.Tray() && shell.Tray()->Enabled();
    if (!trayShown && !frame.dialogShown) {
        frame.Show();
    }
    return true;
}
