// The process services with POSIX calls; the program's own path from Linux's /proc.
#include "platform/process.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include <cerrno>

long CurrentProcessId() {
    return static_cast<long>(::getpid());
}

bool ProcessExists(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

std::string OwnProgramPath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

FsError ChangeCurrentDirectory(const std::string& path) {
    return ::chdir(path.c_str()) == 0 ? FsError() : FsError::FromSystem(errno);
}

namespace {

// The flag, for the signal handler: a lock-free atomic store is safe there.
std::atomic<int>* volatile signalStop = nullptr;
// The first signal that asked for the stop; 0 while none has.
std::atomic<int> firstSignal{0};

extern "C" void RequestStop(int signal) {
    if (signalStop != nullptr) {
        int none = 0;
        firstSignal.compare_exchange_strong(none, signal);
        signalStop->store(1);
    }
}

} // namespace

// SIGTERM (systemd stopping the unit, a shutdown), SIGINT (Ctrl-C) and SIGHUP (the terminal or
// ssh session going away).
struct StopOnSignals::State {
    struct sigaction previousTerm {};
    struct sigaction previousInt {};
    struct sigaction previousHup {};
};

StopOnSignals::StopOnSignals(std::atomic<int>& flag) : state(std::make_unique<State>()) {
    firstSignal.store(0);
    signalStop = &flag;
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART: a call that waits (an open of something that never answers) ends
    // with EINTR instead of holding the stop off for ever.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGTERM, &action, &state->previousTerm);
    sigaction(SIGINT, &action, &state->previousInt);
    sigaction(SIGHUP, &action, &state->previousHup);
}

StopOnSignals::~StopOnSignals() {
    sigaction(SIGTERM, &state->previousTerm, nullptr);
    sigaction(SIGINT, &state->previousInt, nullptr);
    sigaction(SIGHUP, &state->previousHup, nullptr);
    signalStop = nullptr;
}

std::string StopOnSignals::Received() const {
    switch (firstSignal.load()) {
    case 0:
        return "";
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "signal " + std::to_string(firstSignal.load());
    }
}
