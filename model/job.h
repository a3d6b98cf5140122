// CJob: the job the program works on - its task list, the file it is kept in, whether that file
// could be read only in part, and the lock of the tasks' last-run times.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "model/job_file.h"
#include "model/message_port.h"
#include "platform/file_system.h"

// What reading a job file found.
enum class JobLoad {
    Missing, // nothing has the name, or a directory on the way to it is missing
    Read,    // read to its end
    Partial, // read until an error (reported); the tasks before it were kept
    Failed   // there but unreadable from the start (reported)
};

class CJob {
public:
    // fs must outlive the job.
    explicit CJob(IFileSystem& fs) : files(fs) {}
    CJob(const CJob&) = delete;
    CJob& operator=(const CJob&) = delete;

    // Load replaces the tasks with those of the file; the path becomes the job's only when it was
    // read. Partial and Failed mark the job as read in part, so that no save writes the partial
    // list over the file.
    JobLoad Load(const std::string& path, IMessagePort& messages);
    // Replaces the job with the file only when it is read to its end; otherwise (a missing file
    // is not reported here) the job stays as it was.
    JobLoad Open(const std::string& path, IMessagePort& messages);
    // Writes the tasks to path, reading the last-run times under their lock; a failure is shown
    // only once the lock is released, since a box waits for the user-interface thread, which
    // may want the lock to paint. On success path is the job's and the job is whole again.
    bool Save(const std::string& path, IMessagePort& messages);
    // Saves to the job's own path, unless the file was read in part (reported instead).
    bool SaveInPlace(IMessagePort& messages);
    // Empties the task list under the last-run lock and forgets how the file was written.
    void Clear();

    // The user-interface thread changes the tasks only while no run is active; the runner walks
    // them during a run and stamps lastRun under LastRunLock(), which a window holds while it
    // reads lastRun during a run.
    TaskList& Tasks() { return tasks; }
    const TaskList& Tasks() const { return tasks; }
    std::mutex& LastRunLock() const { return lastRun; }
    // The path may change (Save As) while a run reads it, so it is handed out as a copy.
    std::string Path() const {
        std::lock_guard lock(pathMutex);
        return path;
    }
    void SetPath(const std::string& jobPath) {
        std::lock_guard lock(pathMutex);
        path = jobPath;
    }
    bool ReadInPart() const { return readInPart; }

private:
    JobLoad Outcome(bool read, const std::string& path, const TaskList& loaded) const;

    IFileSystem& files;
    TaskList tasks;
    JobForm form;
    mutable std::mutex pathMutex;
    std::string path;
    std::atomic<bool> readInPart{false};
    mutable std::mutex lastRun;
};
