// Starting other programs: a command whose output is collected (the few services only a command
// offers, such as the user's service manager), a program left to run on its own (the desktop's
// opener), and the companion program this one hands its process to.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Run's status for a command that could not be started, for one that did not end in time, and
// for one that a signal ended (or that could not be waited for).
inline constexpr int kCommandNotStarted = -1;
inline constexpr int kCommandTimedOut = -2;
inline constexpr int kCommandEndedAbnormally = -3;

// Runs commands; tests replace it with a recorder.
class ICommandRunner {
public:
    virtual ~ICommandRunner() = default;
    // Runs argv[0] (looked up in PATH) with the arguments and waits for it, at most timeout: a
    // command still running then is killed (kCommandTimedOut). Returns its exit status,
    // kCommandEndedAbnormally when it did not exit by itself, or kCommandNotStarted; output receives its standard
    // output and error. Standard input is empty.
    virtual int Run(const std::vector<std::string>& argv, std::string& output, std::chrono::milliseconds timeout) = 0;
};

// The runner of the platform the program was built for.
ICommandRunner& NativeCommandRunner();

// Starts argv[0] (looked up in PATH) with this program's standard streams and returns at once;
// false when it could not be started. exited is then called once, on a thread of its own, with
// the program's exit status (-1 when it did not exit by itself).
bool StartProgram(const std::vector<std::string>& argv, std::function<void(int status)> exited);

// The first candidate that names an executable regular file. A relative candidate is taken from
// the folder of ownPath (this program's own path), an absolute one as it stands. Empty when none
// does, or when ownPath has no folder.
std::string FindCompanionProgram(const std::string& ownPath, const std::vector<std::string>& candidates);

// Replaces this process with program, passing argv (null-terminated) and the environment
// unchanged, so the caller's exit status and process id become the program's. Returns only on
// failure, with the system's error code.
int ReplaceProcess(const std::string& program, char* const* argv);
