// CRunLog: the run log. Each line goes to the log pane and, marked up by its colour, to the
// run's HTML file, collected in pendingLog and appended in blocks.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "run/run_window.h"
#include "sync/run_context.h"

class CRunLog : public ILogSink {
public:
    // Reads logExclusions, messages and the file system of the context at each call; the context
    // must outlive the log. Lines other than Teal ones also go to the pane of the window, when
    // there is one.
    explicit CRunLog(CRunContext& context, IRunWindow* pane = nullptr);
    // Set while no thread logs (before the workers start).
    void SetPane(IRunWindow* window) { pane = window; }

    // Any thread. pendingLog and the file are updated under one lock, so lines of two threads
    // never interleave; the pane line is handed over before the lock is taken (the pane keeps
    // each caller's order), and a message box is shown after it is released.
    void AddLogLine(const std::string& text, LogColour colour) override;
    // Appends pendingLog to the file and empties it; on failure a message box "Error saving
    // logfile:" and pendingLog is kept for the next try. After a failure AddLogLine tries again
    // once another threshold's worth of text has gathered; an explicit flush always tries.
    void FlushLog() override;

    // Start of a run: pendingLog is emptied and lines go to the file again.
    void BeginRun();
    // Creates (truncating) the file at path with the header and makes it the run's log. Lines
    // already pending stay pending. False with the system's text for the error in reason (at
    // most 255 characters); later flushes try the path again.
    bool StartLog(const std::string& path, std::string& reason);
    // Appends pendingLog and the footer and empties pendingLog. From then on lines reach only
    // the pane, until the next BeginRun. False with the reason as StartLog.
    bool FinishLog(std::string& reason);

    // Also hands every Red line to echo (the unattended program writes them to stderr). Set
    // before a run starts; called on the logging thread, outside the log's lock.
    void EchoRedLines(std::function<void(const std::string&)> echo);

    std::string PendingLog() const;
    std::string RunLogPath() const;

    // Lines longer than this in pendingLog are flushed.
    static constexpr std::size_t kFlushThreshold = 8192;

private:
    // With the lock held; false with the reason on a file error.
    bool AppendLocked(const std::string& text, std::string& reason);

    CRunContext& ctx;
    std::atomic<IRunWindow*> pane;
    std::function<void(const std::string&)> redEcho;
    mutable std::mutex mutex;
    std::string pendingLog;
    std::string runLogPath;
    bool finished = false;
    // pendingLog is flushed once longer than this: the threshold, or more after a failed flush.
    std::size_t flushAt = kFlushThreshold;
};

// The text with &, < and > replaced by their entities.
std::string HtmlEscape(const std::string& text);
