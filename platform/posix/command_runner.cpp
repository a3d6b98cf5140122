// Starting programs with posix_spawnp; a command's standard output and error share one pipe.
#include "platform/command_runner.h"
#include "util/path_parts.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

extern char** environ;

namespace {

// Starts argv with standard input from /dev/null and standard output and error on outputFd, or
// with this program's streams when outputFd is negative. 0 when the child could not be started.
pid_t Spawn(const std::vector<std::string>& argv, int outputFd) {
    if (argv.empty()) {
        return 0;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? child : 0;
}

// The exit status of a child that has ended, kCommandEndedAbnormally when a signal ended it.
int ExitStatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : kCommandEndedAbnormally;
}

int WaitForever(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return kCommandEndedAbnormally;
        }
    }
    return ExitStatusOf(status);
}

class CPosixCommandRunner : public ICommandRunner {
public:
    int Run(const std::vector<std::string>& argv, std::string& output, std::chrono::milliseconds timeout) override {
        output.clear();
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            return kCommandNotStarted;
        }
        const pid_t child = Spawn(argv, pipeFds[1]);
        ::close(pipeFds[1]);
        if (child == 0) {
            ::close(pipeFds[0]);
            return kCommandNotStarted;
        }
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + timeout;
        const auto left = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        };
        // The output until the command closes it; a grandchild that keeps it open holds the read
        // until the time limit, no longer.
        bool open = true;
        char buffer[4096];
        while (open && left() > 0) {
            pollfd ready{pipeFds[0], POLLIN, 0};
            const int polled = ::poll(&ready, 1, static_cast<int>(left()));
            if (polled < 0 && errno != EINTR) {
                break;
            }
            if (polled <= 0) {
                continue;
            }
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n > 0) {
                output.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                open = false;
            }
        }
        ::close(pipeFds[0]);
        for (;;) {
            int status = 0;
            const pid_t ended = ::waitpid(child, &status, WNOHANG);
            if (ended == child) {
                return ExitStatusOf(status);
            }
            if (ended < 0 && errno != EINTR) {
                return kCommandEndedAbnormally;
            }
            if (left() <= 0) {
                ::kill(child, SIGKILL);
                WaitForever(child);
                return kCommandTimedOut;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(10, left())));
        }
    }
};

} // namespace

ICommandRunner& NativeCommandRunner() {
    static CPosixCommandRunner runner;
    return runner;
}

bool StartProgram(const std::vector<std::string>& argv, std::function<void(int status)> exited) {
    const pid_t child = Spawn(argv, -1);
    if (child == 0) {
        return false;
    }
    std::thread([child, exited = std::move(exited)] {
        const int status = WaitForever(child);
        if (exited) {
            exited(status);
        }
    }).detach();
    return true;
}

std::string FindCompanionProgram(const std::string& ownPath, const std::vector<std::string>& candidates) {
    if (ownPath.find('/') == std::string::npos) {
        return {};
    }
    const std::string folder = DirectoryPartOf(ownPath) + "/";
    for (const std::string& candidate : candidates) {
        if (candidate.empty()) {
            continue;
        }
        std::string path = candidate[0] == '/' ? candidate : folder + candidate;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

int ReplaceProcess(const std::string& program, char* const* argv) {
    ::execv(program.c_str(), argv);
    return errno;
}
