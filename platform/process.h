// The running program's own process: its id, file, environment, current directory and the
// system's requests to end it, and whether another process still exists.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs_error.h"

long CurrentProcessId();
// True unless the system says no process has the id (one of another user counts as existing).
bool ProcessExists(long pid);

// The program's arguments after its name, in UTF-8 (on Windows the system's own wide command
// line, as the C runtime would hand main them in the ANSI code page and lose what it cannot hold).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The absolute path of the running program's file; empty when the system will not tell.
std::string OwnProgramPath();

// The value of the environment variable name; empty when it is not set.
std::string EnvironmentValue(const char* name);

// Makes path the process's current directory, where the files named without a folder (the run
// log, summary.log, pemo.ini) are written.
FsError ChangeCurrentDirectory(const std::string& path);

// While it lives, a request from outside to end the program (a service manager stopping it, a
// Ctrl-C, the terminal going away) stores 1 in flag instead, so the run can end as the Stop
// button ends it; a second request of the same kind ends the program at once. One at a time;
// made and destroyed on the main thread.
class StopOnSignals {
public:
    explicit StopOnSignals(std::atomic<int>& flag);
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;
    // The system's name of the first request that came ("SIGINT", "SIGTERM", "CTRL_C_EVENT",
    // ...); empty while none has.
    std::string Received() const;

private:
    struct State;
    std::unique_ptr<State> state;
};
