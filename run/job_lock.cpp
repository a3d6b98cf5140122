// The cross-process lock of a job's runs.
#include "run/job_lock.h"

namespace {

std::string RealPath(IFileSystem& fs, const std::string& path) {
    std::string resolved;
    return AsFsError(fs.CanonicalPath(path, resolved)) ? std::string() : resolved;
}

} // namespace

std::string JobLockPath(const std::string& jobPath, IFileSystem& fs) {
    if (const std::string real = RealPath(fs, jobPath); !real.empty()) {
        return real + ".lock";
    }
    // A job not saved yet: its directory's real path and its own name.
    const std::size_t slash = jobPath.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : jobPath.substr(0, slash));
    const std::string name = slash == std::string::npos ? jobPath : jobPath.substr(slash + 1);
    if (const std::string real = RealPath(fs, directory); !real.empty() && !name.empty()) {
        return (real == "/" ? real : real + "/") + name + ".lock";
    }
    return jobPath + ".lock";
}

CJobLock::CJobLock(IFileSystem& fileSystem) : fs(fileSystem) {}

CJobLock::~CJobLock() {
    Unlock();
}

bool CJobLock::TryLock(const std::string& jobPath) {
    Unlock();
    const std::string lockPath = JobLockPath(jobPath, fs);
    // Writable by everyone the umask allows, so that another user's run of a shared job can lock
    // it too; a lock needs no write access, so a file that is not ours opens read-only.
    FileOpenMode mode;
    mode.access = FileAccess::ReadWrite;
    mode.create = true;
    mode.noFollow = true;
    FileHandle opened;
    if (fs.OpenFile(lockPath, mode, opened)) {
        mode.access = FileAccess::Read;
        mode.create = false;
        if (fs.OpenFile(lockPath, mode, opened)) {
            // No lock file in this directory: then no save can replace the job either, so the
            // job's own inode is stable enough to lock.
            if (fs.OpenFile(jobPath, FileOpenMode{}, opened)) {
                return true;
            }
        }
    }
    if (const FsError e = fs.LockWholeFile(opened, false)) {
        (void)fs.CloseFile(opened);
        return !e.Is(ErrorKind::Busy);
    }
    file = std::move(opened);
    return true;
}

void CJobLock::Unlock() {
    if (file.IsOpen()) {
        (void)fs.CloseFile(file);
    }
}
