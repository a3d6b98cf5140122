// The cross-process lock of a job's runs.
#include "run/job_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

} // namespace

std::string JobLockPath(const std::string& jobPath) {
    if (const std::string real = RealPath(jobPath); !real.empty()) {
        return real + ".lock";
    }
    // A job not saved yet: its directory's real path and its own name.
    const std::size_t slash = jobPath.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : jobPath.substr(0, slash));
    const std::string name = slash == std::string::npos ? jobPath : jobPath.substr(slash + 1);
    if (const std::string real = RealPath(directory); !real.empty() && !name.empty()) {
        return (real == "/" ? real : real + "/") + name + ".lock";
    }
    return jobPath + ".lock";
}

CJobLock::~CJobLock() {
    Unlock();
}

bool CJobLock::TryLock(const std::string& jobPath) {
    Unlock();
    const std::string lockPath = JobLockPath(jobPath);
    // Writable by everyone the umask allows, so that another user's run of a shared job can lock
    // it too; a lock needs no write access, so a file that is not ours opens read-only.
    int opened = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (opened < 0) {
        opened = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (opened < 0) {
        // No lock file in this directory: then no save can replace the job either, so the job's
        // own inode is stable enough to lock.
        opened = ::open(jobPath.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (opened < 0) {
        return true;
    }
    int result = 0;
    do {
        result = ::flock(opened, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(opened);
        return !busy;
    }
    fd = opened;
    return true;
}

void CJobLock::Unlock() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}
