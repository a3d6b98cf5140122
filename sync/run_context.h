// What the synchronisation engine reads and writes of a run: the run's flags, its switches, the
// log sink, the progress sink and the file system it works on. Run control holds one CRunContext
// for the runs and one for the counting pass; tests build a bare context around fakes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "util/large_number.h"
#include "util/texts.h"

class IFileSystem;
class IMessagePort;

enum class LogColour { Bold, Red, Green, Purple, Teal };

// Which pair of running icons the run timer shows.
enum Activity : int { Working = 1, Copying = 2 };

// The counters of one run, accumulated over all its tasks.
struct RunStats {
    std::int32_t changed = 0;
    std::int32_t same = 0;
    std::int32_t deleted = 0;
    std::int32_t skipped = 0;
    std::int32_t newFiles = 0;
    std::int32_t saved = 0;
    std::int32_t errors = 0;
    CLargeNumber bytesNew;
    CLargeNumber bytesChanged;
    std::int32_t sourceCount = 0;
    CLargeNumber sourceSize;
};

// What the engine shows of its progress: the file being copied, its percentage and the run's
// figures. Every call may come from any thread; an implementation keeps the order of one
// thread's calls and never makes a worker wait for a user-interface thread that is waiting for
// it. The window's other parts (pane, controls, tray) belong to run control's IRunWindow.
class IProgressSink {
public:
    virtual ~IProgressSink() = default;
    // A copy of the run's figures is kept for display; startTime 0 means "not started".
    virtual void SetProgressState(const RunStats& stats, DateTime startTime) = 0;
    virtual void SetCurrentFileText(const std::string& text) = 0;
    virtual void SetPercentText(const std::string& text) = 0;
    virtual void SetFileProgress(int percent) = 0;
    // One change of the run as it is counted: '+' a new file, '>' a changed one, '-' a deleted file
    // or directory (a directory's path ends with a separator), '*' an excluded entry; faked, what
    // the run would change. path is the source's for '+', '>' and '*', the destination's for '-'.
    virtual void ReportChange(char /*mark*/, const std::string& /*path*/) {}
    // Bytes a copy under way has just moved, for the run's rate.
    virtual void AddBytesCopied(std::uint64_t /*bytes*/) {}
};

// The run log: a line goes to the pane and, marked up, to the run's HTML file.
class ILogSink {
public:
    virtual ~ILogSink() = default;
    virtual void AddLogLine(const std::string& text, LogColour colour) = 0;
    virtual void FlushLog() = 0;
};

// The Pause state of a run, which copies wait on instead of polling. Any thread may set it;
// assigning false wakes every waiter, and so does Wake, which a stop calls.
class CPauseGate {
public:
    CPauseGate& operator=(bool paused) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            paused_ = paused;
        }
        if (!paused) {
            resumed_.notify_all();
        }
        return *this;
    }
    operator bool() const { return paused_.load(); }
    bool load() const { return paused_.load(); }

    // Blocks while paused, until resumed or stop is set (with Wake called after it).
    void WaitWhilePaused(const std::atomic<int>& stop) {
        if (!paused_.load()) {
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        // A stop raised by a signal handler cannot notify, so the wait also looks now and then.
        while (!resumed_.wait_for(lock, std::chrono::milliseconds(250),
                                  [&] { return !paused_.load() || stop.load() != 0; })) {
        }
    }
    void Wake() {
        // Taken once, so that a waiter between its test and its wait is not missed.
        std::unique_lock<std::mutex> lock(mutex_);
        lock.unlock();
        resumed_.notify_all();
    }

private:
    std::atomic<bool> paused_{false};
    std::mutex mutex_;
    std::condition_variable resumed_;
};

struct CRunContext {
    // Written by the user interface (stop, pause) and read by the workers between items.
    std::atomic<int> stopRequested{0};
    CPauseGate paused;
    // Stop and wake whatever waits while paused.
    void RequestStop() {
        stopRequested = 1;
        paused.Wake();
    }
    // Written by the copy routine, read by the run timer.
    std::atomic<int> activity{0};
    std::atomic<int> lastPercent{0};
    // The debug setting; the options dialog may change it during a run.
    std::atomic<bool> debug{false};
    // Start switch: excluded items are written to the HTML log.
    bool logExclusions = false;
    // Variable drive letter, empty or one character; fixed before a run starts.
    std::string driveLetter;
    // Start of the current run, handed to SetProgressState by the engine.
    std::atomic<DateTime> runStart{0.0};
    // The emptyguard setting: a task whose source lists nothing deletes nothing in its
    // destination. The options dialog may change it during a run.
    std::atomic<bool> emptyGuard{true};
    // Start switch -maxdelete:N: at most this many files are deleted in one run; -1 for no limit.
    // Fixed before a run starts.
    std::int64_t maxDelete = -1;
    // Set by the run thread once the limit has held a deletion back; cleared when a run starts.
    bool deletionLimitReached = false;
    // Files the run replaced and kept the old version of: they count against maxDelete as
    // deletions. Walk thread only; cleared when a run starts.
    std::int64_t replacementsKept = 0;
    // The top directory of the source of the task being walked, by identity: no removal in its
    // destination enters it, whatever path leads there. Set and cleared by the walk.
    bool sourceTopKnown = false;
    std::uint64_t sourceTopDevice = 0;
    std::uint64_t sourceTopInode = 0;
    // Worker threads that copy a level's files and read levels ahead of the walk (the threads
    // setting); with 1 the run thread does both itself, in turn. Fixed before a run starts.
    int threads = 1;

    // Every file the run touches goes through it: the trees, the run log, the lock, the debug log.
    IFileSystem* fs = nullptr;
    ILogSink* log = nullptr;
    IProgressSink* window = nullptr;
    IMessagePort* messages = nullptr;
};
