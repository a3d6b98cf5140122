// The unattended undo of -auto -undo: the job's tasks, one after another, each back to where it
// stood before its last run. What it shares with -restore: the job read and locked, and a log
// written as a run writes its own.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "model/job.h"
#include "platform/file_system.h"
#include "run/start_options.h"
#include "sync/run_context.h"

// One unattended command on a job's destinations. Lines are printed on out (failures on err as
// well, nothing on out with options.quiet) and go to the run log (log.html, or the dated name
// with -datelog) and, at the end, a line of summary.log, so that a scheduled undo or restore
// leaves the trail a run leaves.
class CJobCommand {
public:
    CJobCommand(const StartOptions& options, IFileSystem& fs, std::FILE* out, std::FILE* err);
    ~CJobCommand();
    CJobCommand(const CJobCommand&) = delete;
    CJobCommand& operator=(const CJobCommand&) = delete;

    // Reads the job; false (the reason printed) when it cannot, or when -task names no task of
    // it.
    bool Open();
    // Starts the log with the line "<what> started (using JOB) at TIME".
    void Begin(const std::string& what);
    TaskList& Tasks() { return tasks_; }
    const std::string& JobPath() const { return jobPath_; }
    // The task as a run would use it: -fakeit and the drive letter applied, separators native.
    // False, with a Red line, when its paths need a drive letter none was given for.
    bool Prepare(Task& task, const std::string& doing);
    CRunContext& Context() { return ctx_; }
    RunStats& Stats() { return stats_; }
    void Log(const std::string& text, LogColour colour);
    // The totals, the summary line (label standing for the tasks), the log closed and the
    // closing line printed, naming the log. The exit status: 0 when clean, else 1.
    int End(const std::string& label, bool clean);

private:
    class CSinks;
    const StartOptions& options_;
    IFileSystem& fs_;
    std::FILE* out_;
    std::FILE* err_;
    TaskList tasks_;
    std::string jobPath_;
    CRunContext ctx_;
    RunStats stats_;
    std::unique_ptr<CSinks> sinks_;
};

// Undoes the last run of each enabled task of the job (only options.taskName's when given) and
// returns the exit status: 0 when every task was undone or had nothing to undo, 1 when one was
// refused or failed, 2 when the job could not be read or has no task of that name.
int RunUndo(const StartOptions& options, IFileSystem& fs, std::FILE* out, std::FILE* err);
