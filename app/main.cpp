// The program's entry: the command line into the controller, then the window program or, with
// -auto, the unattended run. Interim: the unattended run is not wired up in this build yet.
#include <clocale>
#include <cstdio>

#include "app/command_line.h"
#include "app/desktop_entry.h"
#include "app/headless_shell.h"
#include "app/main_frame.h"
#include "run/logind_power.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    const StartOptions options = ParseCommandLine(JoinArguments(argc, argv), OwnProgramPath());
    if (!options.autoRun) {
        return RunDesktop(argc, argv);
    }
    CSteadyClock clock;
    CHeadlessShell shell(clock, false, true);
    CLogindPowerPort power;
    CMainFrame frame(shell, power);
    frame.ApplyStartOptions(options);
    frame.ResetForStart();
    frame.LoadStartJob();
    std::fprintf(stderr, "pemo: loaded %zu task(s) from %s\n", frame.tasks.size(), frame.jobPath.c_str());
    std::fputs("pemo: running jobs is not available in this build yet\n", stderr);
    return 2;
}
