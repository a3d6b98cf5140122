// Copying one file for the engine: lock check, announcement, progress, pause, stop and retry.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/fs_error.h"
#include "sync/run_context.h"
#include "util/large_number.h"

// True when copied, in fake-it mode and when stopped by the user; false (already logged Red)
// when the file was locked, the lock check failed or the copy failed. stopped (may be null) tells
// a copy cancelled by Stop, which left the old destination as it was, from one that was made:
// the caller counts only the latter.
bool YCopyFile(CRunContext& ctx, const std::string& source, const std::string& destination, bool isNew, bool checkOpen,
               const CLargeNumber& size, bool fakeIt, bool* stopped = nullptr);

class DirectoryHandle;

// One side of a copy: a name in an open directory (null, with dirError, when that could not be
// opened) and the full path shown in the log.
struct CopyEnd {
    const DirectoryHandle* dir;
    FsError dirError;
    const std::string& name;
    const std::string& path;
};

// The run-log and debug-log lines of a copy made on a worker, kept for the walk thread, which
// alone writes the logs, to write in the order a one-thread run would; and the copy's progress,
// shown only while the walk waits for this copy, so that the window follows one file at a time.
class CopyJournal {
public:
    struct Line {
        bool debug = false; // a debug-log line, else a run-log line
        std::string text;
        LogColour colour = LogColour::Bold;
    };
    // Filled by the worker, read by the walk once the copy is over.
    std::vector<Line> lines;

    // Writes the lines to the logs. Walk thread only.
    void Replay(CRunContext& ctx) const;

    // Worker: the copy's current-file label (empty once it is over) and its percentage.
    void ShowFile(const std::string& label);
    void ShowPercent(int percent);
    // Walk: from now on the progress goes to window, beginning with where the copy stands.
    void Watch(IProgressSink* window);

private:
    std::mutex mutex_;
    IProgressSink* window_ = nullptr;
    std::string label_;
    int percent_ = 0;
};

// How one file is copied.
struct CopyOptions {
    bool isNew = false;     // nothing has the destination's name yet: "Adding file", not "Updating file"
    bool checkOpen = false; // refuse a source that another program holds open
    bool fakeIt = false;    // announce only; change nothing
    // The source file as listed: the copy reads only that file, and a link under the source's
    // name only when followLink (a path the user chose).
    FileIdentity listed;
    bool followLink = false;
    // Set on a worker: the lines and the progress go here instead of to the logs and the window.
    CopyJournal* journal = nullptr;
    // Set: the Red line of a failure is put here for the caller to log and count, not logged.
    std::string* failure = nullptr;
};

// Copied covers fake-it too. Stopped: cancelled by Stop, the old destination left as it was and
// nothing to count. Failed: its Red line logged, or left in options.failure; the caller counts it
// either way. BecameLink: the source's name holds a link now (never followed unless followLink);
// nothing was logged or done, and the caller mirrors it as the link it is. Skipped: not made, for
// a reason that is no failure; its Purple line is left in options.failure.
enum class CopyVerdict { Copied, Stopped, Failed, BecameLink, Skipped };

// YCopyFile on names in open directories, so that neither side is looked up again by path; size
// serves the current-file label only. A source that changes while it is copied is copied once
// more; if it changes again the old destination stays and the Red line "File changed while
// being copied: " is the failure. A source whose name holds another file than the one listed is
// not copied: the Red line "Not copying <source>: replaced since it was listed".
CopyVerdict YCopyFileAt(CRunContext& ctx, const CopyEnd& source, const CopyEnd& destination, const CLargeNumber& size,
                        const CopyOptions& options);

// The progress routine of the platform copy: shows the whole percentage when it changes and
// holds the copy while paused until resumed or stopped. Runs on the copying thread.
void CopyProgress(CRunContext& ctx, std::uint64_t total, std::uint64_t transferred);
