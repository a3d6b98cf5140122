// CJobLock: one run of a job at a time, across processes. The lock is an flock on the file
// "<job>.lock" beside the job (the job's real path when it exists, so every name of the job
// shares one lock). The job file itself cannot carry it: each save renames a new file over it.
// The kernel drops the lock with the last descriptor, so a crashed run leaves nothing to clean
// up; the empty lock file stays and is reused.
#pragma once

#include <string>

#include "platform/file_system.h"

class CJobLock {
public:
    // The lock file is opened and locked through fs.
    explicit CJobLock(IFileSystem& fs);
    ~CJobLock();
    CJobLock(const CJobLock&) = delete;
    CJobLock& operator=(const CJobLock&) = delete;

    // Takes the lock of the job at jobPath without waiting, releasing one held before. False
    // when another run of that job holds it (in this process or another), or when the lock file
    // belongs to another user, is a link or is no regular file (Refusal() then says so). The
    // lock file is created readable by this user alone. Where no lock can be had at all (a
    // read-only directory without the job, a file system without locks), the run goes ahead
    // unlocked: true.
    bool TryLock(const std::string& jobPath);
    // Why the last TryLock was refused; empty when it was not, or another run held the lock.
    const std::string& Refusal() const { return refusal; }
    void Unlock();
    bool Held() const { return file.IsOpen(); }

private:
    IFileSystem& fs;
    FileHandle file;
    std::string refusal;
};

// The lock file of the job at jobPath.
std::string JobLockPath(const std::string& jobPath, IFileSystem& fs);
