// The cross-process lock of a job's runs.
#include "run/job_lock.h"

#include "util/path_parts.h"

namespace {

std::string RealPath(IFileSystem& fs, const std::string& path) {
    std::string resolved;
    return fs.CanonicalPath(path, resolved) ? std::string() : resolved;
}

} // namespace

std::string JobLockPath(const std::string& jobPath, IFileSystem& fs) {
    if (const std::string real = RealPath(fs, jobPath); !real.empty()) {
        return real + ".lock";
    }
    // A job not saved yet: its directory's real path and its own name.
    const std::string directory = DirectoryPartOf(jobPath);
    const std::string name = NamePartOf(jobPath);
    if (const std::string real = RealPath(fs, directory); !real.empty() && !name.empty()) {
        return JoinedPath(real, name + ".lock");
    }
    return jobPath + ".lock";
}

CJobLock::CJobLock(IFileSystem& fileSystem) : fs(fileSystem) {}

CJobLock::~CJobLock() {
    Unlock();
}

bool CJobLock::TryLock(const std::string& jobPath) {
    Unlock();
    refusal.clear();
    const std::string lockPath = JobLockPath(jobPath, fs);
    // Readable by its owner alone: whoever can open the file can flock it, and would hold every
    // run of the job off.
    FileOpenMode mode;
    mode.access = FileAccess::ReadWrite;
    mode.create = true;
    mode.noFollow = true;
    mode.regularOnly = true;
    mode.createMode = 0600;
    FileHandle opened;
    FsError e = fs.OpenFile(lockPath, mode, opened);
    const auto refused = [&e] { return e.Is(ErrorKind::IsALink) || e.Is(ErrorKind::NotSupported); };
    if (e && !refused()) {
        // A lock needs no write access: a file of ours on a read-only mount still serves.
        mode.access = FileAccess::Read;
        mode.create = false;
        e = fs.OpenFile(lockPath, mode, opened);
    }
    if (e) {
        FileStatus st;
        if (refused() || !fs.Status(lockPath, false, st)) {
            // Something is there that is not ours to open: never worked around, as the run would
            // go ahead beside a lock that another run takes.
            refusal = lockPath + " is not a lock file of this user's";
            return false;
        }
        // No lock file can be made in this directory: then no save can replace the job either,
        // so the job's own inode is stable enough to lock.
        FileOpenMode jobMode;
        jobMode.regularOnly = true;
        if (fs.OpenFile(jobPath, jobMode, opened)) {
            return true;
        }
    } else {
        OpenFileInfo info;
        if (fs.FileInfo(opened, info) || !info.ownedByUser) {
            (void)fs.CloseFile(opened);
            refusal = lockPath + " is not a lock file of this user's";
            return false;
        }
        if ((info.mode & 077) != 0) {
            // A lock file left open to others by an older version.
            (void)fs.SetFileMode(opened, 0600);
        }
    }
    if (const FsError locked = fs.LockWholeFile(opened, false)) {
        (void)fs.CloseFile(opened);
        return !locked.Is(ErrorKind::Busy);
    }
    file = std::move(opened);
    return true;
}

void CJobLock::Unlock() {
    if (file.IsOpen()) {
        (void)fs.CloseFile(file);
    }
}
