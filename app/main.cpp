// The program's entry: the command line decides between the unattended run of -auto, which needs
// no display, and the window program.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/desktop_entry.h"
#include "app/headless_shell.h"
#include "app/unattended.h"
#include "run/logind_power.h"

namespace {

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // The locale gives the date format of last-run times and the character set of summary.log.
    std::setlocale(LC_ALL, "");
    const StartOptions options = ParseCommandLine(JoinArguments(argc, argv), OwnProgramPath());
    if (!options.error.empty()) {
        std::fprintf(stderr, "pemo: %s\n", options.error.c_str());
        return 2;
    }
    if (!options.autoRun) {
        if (!HasDisplay()) {
            std::fputs("pemo: there is no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset).\n"
                       "pemo: to run a job without a window, start it with -auto, e.g. pemo -auto -file nightly.job\n",
                       stderr);
            return 2;
        }
        return RunDesktop(argc, argv);
    }
    // The only place the real power port exists: tests never construct it.
    CSteadyClock clock;
    CLogindPowerPort power;
    return RunUnattended(options, clock, power, isatty(STDERR_FILENO) == 1);
}
