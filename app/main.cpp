// The program's entry: the command line decides between the unattended run of -auto, which needs
// no display, and the window program.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_entry.h"
#include "app/headless_shell.h"
#include "app/restore_command.h"
#include "app/unattended.h"
#include "app/undo_command.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "run/system_power_port.h"
#include "util/texts.h"

int main(int argc, char** argv) {
    // The locale gives the date format of last-run times and the character set of summary.log.
    std::setlocale(LC_ALL, "");
    // The one file system of the program: every layer below is handed this one.
    IFileSystem& fs = NativeFileSystem();
    const CheckedArguments checked = CheckArguments(ProgramArguments(argc, argv), OwnProgramPath(), fs);
    switch (checked.verdict) {
    case ArgumentsVerdict::Help:
        std::fputs(UsageText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case ArgumentsVerdict::Version:
        std::fputs(VersionText().c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case ArgumentsVerdict::Refused:
        for (std::size_t start = 0; start < checked.error.size();) {
            const std::size_t end = std::min(checked.error.find('\n', start), checked.error.size());
            std::fputs(("pemo: " + EscapeControlCharacters(checked.error.substr(start, end - start)) + "\n").c_str(),
                       stderr);
            start = end + 1;
        }
        return 2;
    case ArgumentsVerdict::Run:
        break;
    }
    const StartOptions& options = checked.options;
    if (!options.autoRun) {
        if (!HasGraphicalDisplay()) {
            std::fputs(("pemo: there is no display to open the window on (" + std::string(kNoDisplayReason) +
                        ").\n"
                        "pemo: to run a job without a window, start it with -auto, e.g. pemo -auto -file nightly.job\n")
                           .c_str(),
                       stderr);
            return 2;
        }
        return RunDesktop(argc, argv, options, fs);
    }
    if (options.undo) {
        return RunUndo(options, fs, stdout, stderr);
    }
    if (options.restore) {
        return RunRestore(options, fs, stdout, stderr);
    }
    // The only place the real power port exists: tests never construct it.
    CSteadyClock clock;
    CSystemPowerPort power;
    return RunUnattended(options, clock, power, fs, EnableLineRewriting(stdout));
}
