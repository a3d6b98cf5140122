// RunJob: one run of all enabled tasks or of one task, with its HTML log frame, statistics,
// summary line and saved job. What the run leads to afterwards (indicator, close timer,
// shutdown) is run control's business, decided on the outcome returned here.
#pragma once

#include <cstdint>
#include <string>

#include "model/job.h"
#include "model/task.h"
#include "run/html_log.h"
#include "run/run_window.h"
#include "sync/run_context.h"

// A restore of one path of a task from its kept versions (RestoreVersion).
struct RestoreOrder {
    std::string relative; // below the destination
    std::int64_t at = 0;  // as CalendarSeconds counts
    int atSequence = 1;
    std::string into; // empty: into the destination itself
};

struct RunRequest {
    // The job, owned by the controller. The runner walks its tasks (the window leaves them alone
    // during a run), stamps their lastRun under the job's lock and saves it in place at the end.
    CJob& job;
    // strftime format of the times in log lines.
    std::string dateTimeFormat;
    // The one task to run, enabled or not; null runs every enabled task.
    Task* task = nullptr;
    // Every task runs in fake-it mode and the job is not saved.
    bool fakeIt = false;
    // The log file is named after the start time instead of "log.html".
    bool dateLog = false;
    // No balloons at the start and end of the run.
    bool noBalloon = false;
    // A preview: run as fakeIt does, with a run log of its own name so that the last real
    // run's log is kept.
    bool preview = false;
    // Takes back the last run of the task, or of every task UndoCovers, from the kept versions
    // instead of running; the job is neither stamped nor saved, and the summary line says "undo".
    bool undo = false;
    // Restores one path of task from its kept versions instead of running; the job is neither
    // stamped nor saved, and the summary line says "restore".
    const RestoreOrder* restore = nullptr;
};

// What the runner writes to: the engine's context (flags, file system, progress sink, message
// boxes), the run's HTML log (also the context's log sink) and the window, which may be null.
struct RunTarget {
    CRunContext& ctx;
    CRunLog& runLog;
    IRunWindow* window = nullptr;
};

struct RunOutcome {
    RunStats stats;
    // The stop was requested before the run ended.
    bool stopped = false;
    // The -maxdelete limit held back at least one deletion.
    bool deletionLimitReached = false;
    // At least one task ran (none skipped for a missing drive letter or disabled).
    bool taskRan = false;
    // The run's HTML file; empty when none could be made.
    std::string runLogPath;
    // Why the job could not be saved after the run (its message box text, not yet shown); empty
    // when it was saved or was not to be.
    std::string jobNotSaved;
};

// The steps of a run from the "Job started" line to the closed log file. The caller has begun
// the log (CRunLog::BeginRun) and set ctx.runStart.
RunOutcome RunJob(const RunRequest& request, const RunTarget& target);

// "log.html", or with the run's date and time; a preview's log beside it never replaces the last
// real run's log.
std::string RunLogName(bool dated, bool preview);
// The two lines of a run's totals.
void LogTotals(ILogSink& log, const RunStats& stats, const std::string& elapsed);
// Whether an undo of the whole job takes back the task's last run: it is enabled and keeps
// versions.
bool UndoCovers(const Task& task);
// Undoes the last run of the task (faked when task.fakeIt) after its "Undoing" line in ctx.log;
// false when it was refused or failed, or its drive letter is missing.
bool UndoTaskRun(CRunContext& ctx, Task task, RunStats& stats);

// Logs the "Restoring" line and restores the order's path of the task, whose paths are as a run
// uses them (drive letter applied, separators native); false when refused or failed.
bool RestoreTaskPath(CRunContext& ctx, const Task& task, const RestoreOrder& order, RunStats& stats);

// The working form of a task path: a leading "?" stands for the variable drive letter.
std::string WithDriveLetter(const std::string& path, const std::string& driveLetter);

// The local time of the current second in the strftime format, at most 127 characters; empty
// when the conversion or the formatting fails.
std::string FormattedNow(const std::string& format);
