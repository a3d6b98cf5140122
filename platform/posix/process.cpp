#include "platform/process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

long CurrentProcessId() {
    return static_cast<long>(::getpid());
}

bool ProcessExists(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

FsError ChangeCurrentDirectory(const std::string& path) {
    return ::chdir(path.c_str()) == 0 ? FsError() : FsError::FromSystem(errno);
}
