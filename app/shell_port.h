// The shell port: what the toolkit-free controller needs from the program around it (event loop,
// timers, message boxes, the desktop, the window and the tray). The window program implements it
// over wxWidgets in ui/; the headless program of -auto runs and tests implement it in app/.
#pragma once

#include <string>
#include <vector>

#include "model/message_port.h"
#include "run/run_shell.h"
#include "run/run_window.h"

// The timers, posting, threads and desktop of IRunShell are what run control uses; the rest is
// the controller's own.
class IShellPort : public IMessagePort, public IRunShell {
public:
    // The main dialog and the tray icon as the worker threads and the controller see them.
    virtual IRunWindow& Window() = 0;

    // Window parts of start-up and close, called on the user-interface thread. The headless
    // shell has no window and does nothing.
    // Creates the main dialog hidden; the controller has loaded the settings before.
    virtual void CreateDialog() {}
    // Creates the notification-area icon; false ends the program.
    virtual bool CreateTrayIcon() { return true; }
    virtual void ShowDialog() {}
    virtual void HideDialog() {}
    virtual void DestroyDialog() {}

    // Shows lines (what a command would do, or why it cannot) and under them question, with Yes
    // and No: true for Yes. With an empty question only OK, and false. User-interface thread.
    // The headless shell has nobody to ask.
    virtual bool AskAboutLines(const std::string& /*title*/, const std::vector<std::string>& /*lines*/,
                               const std::string& /*question*/) {
        return false;
    }

    // A Red line of an unattended run, for whoever watches the program (cron mails stderr).
    // Callable from any thread. The window program shows it in its log pane already.
    virtual void RunErrorLine(const std::string& /*text*/) {}

    // Ends the event loop: the frame's own close processing after the controller's close
    // handler has let the program close. Called on the user-interface thread.
    virtual void EndProgram() = 0;
};
