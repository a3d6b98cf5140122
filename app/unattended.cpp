// The unattended program: start-up, the event loop until the run has ended, the exit status.
#include "app/unattended.h"

#include "app/main_frame.h"
#include "platform/process.h"

int RunUnattended(const StartOptions& options, IClock& clock, IPowerPort& power, IFileSystem& fs, bool showProgress) {
    // The program ends with the run: there is no window to keep open for the 10 s close timer.
    // Failures go to stderr, where cron looks; what a person at a terminal follows, to stdout.
    CHeadlessShell shell(clock, showProgress && !options.quiet, true, stderr, stdout);
    shell.SetVerbose(options.verbose && !options.quiet);
    CMainFrame frame(shell, power, fs);
    frame.ApplyStartOptions(options);
    StopOnSignals stopOnSignals(frame.Run().StopFlag());
    if (!frame.StartUp()) {
        return 2;
    }
    shell.Run();
    shell.ReportEnd(frame.Run().RunLogPath(), frame.Run().State().lastRunStopped ? stopOnSignals.Received() : "");
    return frame.ExitStatus();
}
