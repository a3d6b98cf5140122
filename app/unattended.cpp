// The unattended program: start-up, the event loop until the run has ended, the exit status.
#include "app/unattended.h"

#include <csignal>

#include "app/main_frame.h"

namespace {

// The run's stop flag, for the signal handler: a lock-free atomic store is safe there.
std::atomic<int>* volatile signalStop = nullptr;

extern "C" void RequestStop(int /*signal*/) {
    if (signalStop != nullptr) {
        signalStop->store(1);
    }
}

// SIGTERM (systemd stopping the unit, a shutdown), SIGINT (Ctrl-C) and SIGHUP (the terminal or
// ssh session going away) end the run the way the Stop button does: the copy under way is
// cancelled and the run still writes the end of its log, its summary line and the job. A second
// signal of the same kind ends the program at once.
class StopOnSignals {
public:
    explicit StopOnSignals(std::atomic<int>& flag) {
        signalStop = &flag;
        struct sigaction action {};
        action.sa_handler = RequestStop;
        sigemptyset(&action.sa_mask);
        // Without SA_RESTART: a call that waits (an open of something that never answers) ends
        // with EINTR instead of holding the stop off for ever.
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGTERM, &action, &previousTerm);
        sigaction(SIGINT, &action, &previousInt);
        sigaction(SIGHUP, &action, &previousHup);
    }
    ~StopOnSignals() {
        sigaction(SIGTERM, &previousTerm, nullptr);
        sigaction(SIGINT, &previousInt, nullptr);
        sigaction(SIGHUP, &previousHup, nullptr);
        signalStop = nullptr;
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    struct sigaction previousTerm {};
    struct sigaction previousInt {};
    struct sigaction previousHup {};
};

} // namespace

int RunUnattended(const StartOptions& options, IClock& clock, IPowerPort& power, bool showProgress) {
    // The program ends with the run: there is no window to keep open for the 10 s close timer.
    CHeadlessShell shell(clock, showProgress, true);
    CMainFrame frame(shell, power);
    frame.ApplyStartOptions(options);
    StopOnSignals stopOnSignals(frame.Run().StopFlag());
    if (!frame.StartUp()) {
        return 2;
    }
    shell.Run();
    return frame.ExitStatus();
}
