// Shell opening through xdg-open. The opener is started at once and waited for on a helper
// thread, so the user-interface thread never waits; its outcome is posted back to that thread.
#include "ui/shell_open.h"

#include <wx/app.h>

#include "platform/command_runner.h"

int ShellCodeFromOpenerStatus(int status) {
    switch (status) {
    case 0:
        return 42;
    case 2:
        return 2; // the file or address does not exist
    case 3:
        return 31; // no application is set up for it
    default:
        return 1000 + status;
    }
}

bool ShellOpen(const std::string& target, const ShellOpenDone& done) {
    const bool started = StartProgram({"xdg-open", target}, [done](int status) {
        const int code = status >= 0 ? ShellCodeFromOpenerStatus(status) : 1000;
        if (done && wxTheApp) {
            wxTheApp->CallAfter([done, code] { done(code); });
        }
    });
    if (!started && done) {
        done(31);
    }
    return started;
}
