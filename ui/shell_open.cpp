// Shell opening through xdg-open. The opener is started at once and waited for on a helper
// thread, so the user-interface thread never waits; its outcome is posted back to that thread.
#include "ui/shell_open.h"

#include <cerrno>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

#include <wx/app.h>

extern char** environ;

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

bool ShellOpen(const std::string& target, ShellOpenDone done) {
    std::string program = "xdg-open";
    std::string argument = target;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
        if (done) {
            done(31);
        }
        return false;
    }
    std::thread([pid, done = std::move(done)]() mutable {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        const int code = WIFEXITED(status) ? ShellCodeFromOpenerStatus(WEXITSTATUS(status)) : 1000;
        if (done && wxTheApp) {
            wxTheApp->CallAfter([done = std::move(done), code] { done(code); });
        }
    }).detach();
    return true;
}
