// The start-up of the window program: the order in which the job, the settings, the dialog and
// the tray icon come up, and whether the window shows or a start-up run begins.
#include "ui/desktop_main.h"

#include "app/command_line.h"
#include "app/main_frame.h"
#include "ui/system_tray.h"
#include "ui/wx_shell.h"

void StartDesktop(CMainFrame& frame, CWxShell& shell, const StartOptions& options) {
    frame.ApplyStartOptions(options);
    frame.ResetForStart();
    frame.LoadStartJob();
    frame.LoadSettings();
    shell.CreateDialog();
    shell.CreateTrayIcon();
    shell.Window().SetTrayIcon(130);
    shell.Window().SetProgressState(RunStats{}, 0.0);
    shell.Window().UpdateProgress();
    // Without a notification area a hidden start could not be reached at all.
    const bool trayShown = shell.Tray() && shell.Tray()->Enabled();
    if (!frame.runAll) {
        shell.ShowCommand();
        return;
    }
    if (frame.show || !trayShown) {
        shell.ShowCommand();
        frame.StartUpRun(true);
    } else {
        frame.StartUpRun(false);
    }
}
