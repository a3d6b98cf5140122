// The job runner: the steps of one run, from the "Job started" line to the shutdown decision.
#include "run/job_runner.h"

#include <cstdio>
#include <ctime>
#include <utility>

#include "model/job_file.h"
#include "model/message_port.h"
#include "run/summary_log.h"
#include "sync/do_directory.h"
#include "sync/do_file.h"
#include "sync/engine_support.h"
#include "sync/exclusions.h"
#include "sync/fs_layer.h"
#include "sync/restore.h"
#include "sync/undo.h"
#include "util/path_rules.h"
#include "util/texts.h"

namespace {

std::tm LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    LocalCalendarTime(now, local);
    return local;
}

// Keeps the message boxes of a save for the caller to show or not.
class CHeldMessages : public IMessagePort {
public:
    void MessageBox(const std::string& message) override { text += text.empty() ? message : "\n" + message; }
    std::string text;
};

std::string Count(std::int32_t value) {
    return std::to_string(value);
}

// For a task that must write to a mounted disk: whether the destination lies on one. When it does
// not, the absent disk's path would be filled in on the system's own: one Red line and an error.
bool DestinationMounted(CRunContext& ctx, const std::string& destination, RunStats& stats) {
    std::string mountPoint;
    bool systemRoot = true;
    const FsError e = FsOf(ctx).MountPointOf(destination, mountPoint, systemRoot);
    if (!e && !systemRoot) {
        return true;
    }
    LogError(ctx, destination + " is not mounted" + (e ? " (" + ErrorTextOf(e) + ")" : std::string()), stats.errors);
    PublishStats(ctx, stats);
    return false;
}

// The items of the source's own ignore file join the task's. One that cannot be read stops the
// task: what the user meant to leave out is not known.
bool WithIgnoreFile(CRunContext& ctx, const std::string& source, std::string& exclusions, RunStats& stats) {
    const FsError e = AddIgnoreFileItems(FsOf(ctx), source, exclusions);
    if (e.Is(ErrorKind::NotFound)) {
        return true;
    }
    const std::string path = JoinPath(source, kIgnoreFileName);
    if (e) {
        LogError(ctx,
                 "Not running the task: cannot read " + path +
                     (e.Is(ErrorKind::NotSupported) ? ": it is no plain file of at most 1 MiB"
                                                    : " (" + ErrorTextOf(e) + ")"),
                 stats.errors);
        PublishStats(ctx, stats);
        return false;
    }
    LogLine(ctx, "Excluding also what " + path + " names", LogColour::Teal);
    return true;
}

// Runs one task; false when it was skipped for a missing drive letter or an absent disk.
bool RunTask(const RunRequest& request, const RunTarget& target, Task& jobTask, bool singleTask, RunStats& stats) {
    CRunContext& ctx = target.ctx;
    // A run that fakes every task works on a copy, so that no last-run time is stamped either.
    const bool fakeAll = request.fakeIt || request.preview;
    Task faked;
    if (fakeAll) {
        faked = jobTask;
        faked.fakeIt = true;
    }
    Task& task = fakeAll ? faked : jobTask;
    ILogSink& log = target.runLog;
    if (!task.destination.empty() && task.destination[0] == '?' && ctx.driveLetter.empty()) {
        log.AddLogLine("Not running \"" + task.name + "\" - no destination drive letter specified", LogColour::Red);
        return false;
    }
    if (!task.source.empty() && task.source[0] == '?' && ctx.driveLetter.empty()) {
        log.AddLogLine("Not running \"" + task.name + "\" - no source drive letter specified", LogColour::Red);
        return false;
    }
    const std::string source = WithNativeSeparators(WithDriveLetter(task.source, ctx.driveLetter));
    const std::string destination = WithNativeSeparators(WithDriveLetter(task.destination, ctx.driveLetter));
    std::string start = (singleTask ? "Starting the task \"" : "Starting task \"") + task.name + "\"";
    if (task.fakeIt) {
        start += singleTask ? " ***in 'fake it' mode***" : " *** in 'fake it' mode ***";
    }
    log.AddLogLine(start, LogColour::Bold);
    if (target.window != nullptr) {
        target.window->BeginTask(source, destination);
    }
    if (task.mustBeMounted && !DestinationMounted(ctx, destination, stats)) {
        return false;
    }
    if (IsRegularFile(ctx, source)) {
        DoFile(ctx, source, destination, task, stats);
    } else {
        std::string exclusions = task.exclusions;
        if (!WithIgnoreFile(ctx, source, exclusions, stats)) {
            return false;
        }
        // An empty destination is refused by DoDirectory with its own line; there is nothing to
        // create for it.
        if (!task.fakeIt && !destination.empty()) {
            YMakeDirectory(ctx, destination);
        }
        const std::string list = NormaliseExclusions(exclusions, task.source, ctx.driveLetter);
        DoDirectory(ctx, source, destination, list, task, stats);
    }
    if (ctx.stopRequested != 0) {
        // Stopped part-way, the destination is no copy of the source as of now.
        return true;
    }
    std::lock_guard lock(request.job.LastRunLock());
    task.lastRun = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::time(nullptr)));
    return true;
}

} // namespace

std::string RunLogName(bool dated, bool preview) {
    const char* stem = preview ? "log-preview" : "log";
    if (!dated) {
        return std::string(stem) + ".html";
    }
    const std::tm t = LocalNow();
    char name[64];
    std::snprintf(name, sizeof name, "%s%04i%02i%02i-%02i%02i%02i.html", stem, t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return name;
}

void LogTotals(ILogSink& log, const RunStats& stats, const std::string& elapsed) {
    log.AddLogLine("Changed: " + Count(stats.changed) + ", Same: " + Count(stats.same) +
                       ", Deleted: " + Count(stats.deleted) + ", Skipped: " + Count(stats.skipped) +
                       ", New: " + Count(stats.newFiles) + ", Saved: " + Count(stats.saved) +
                       ", Errors: " + Count(stats.errors) + ", Bytes (new): " + stats.bytesNew.ToString(),
                   LogColour::Bold);
    log.AddLogLine("Bytes (change): " + stats.bytesChanged.ToString() + ", Time: " + elapsed +
                       ", Source count: " + Count(stats.sourceCount) + ", Source size: " + stats.sourceSize.ToString(),
                   LogColour::Bold);
}

bool UndoCovers(const Task& task) {
    return task.enabled && task.KeepsVersions();
}

bool UndoTaskRun(CRunContext& ctx, Task task, RunStats& stats) {
    if (!task.destination.empty() && task.destination[0] == '?' && ctx.driveLetter.empty()) {
        ctx.log->AddLogLine("Not undoing \"" + task.name + "\" - no destination drive letter specified",
                            LogColour::Red);
        return false;
    }
    task.destination = WithNativeSeparators(WithDriveLetter(task.destination, ctx.driveLetter));
    ctx.log->AddLogLine("Undoing the last run of task \"" + task.name + "\"" +
                            (task.fakeIt ? " *** in 'fake it' mode ***" : ""),
                        LogColour::Bold);
    return UndoLastRun(ctx, task, stats);
}

bool RestoreTaskPath(CRunContext& ctx, const Task& task, const RestoreOrder& order, RunStats& stats) {
    ctx.log->AddLogLine("Restoring " + JoinPath(task.destination, order.relative) + " of task \"" + task.name +
                            "\" as it was at " + CalendarText(order.at) +
                            (task.fakeIt ? " *** in 'fake it' mode ***" : ""),
                        LogColour::Bold);
    return RestoreVersion(ctx, task, order.relative, order.at, order.into, stats, order.atSequence);
}

std::string WithDriveLetter(const std::string& path, const std::string& driveLetter) {
    if (!path.empty() && path[0] == '?') {
        return driveLetter + path.substr(1);
    }
    return path;
}

std::string FormattedNow(const std::string& format) {
    const std::tm local = LocalNow();
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, format.c_str(), &local);
    return std::string(text, length);
}

namespace {

// The undo's tasks, as RunTasks takes them; the job's tasks are read, never changed.
bool UndoTasks(const RunRequest& request, CRunContext& ctx, RunStats& stats) {
    auto undo = [&](Task task) {
        task.fakeIt = task.fakeIt || request.fakeIt;
        UndoTaskRun(ctx, std::move(task), stats);
    };
    if (request.task != nullptr) {
        undo(*request.task);
        return true;
    }
    bool taskRan = false;
    for (const auto& each : request.job.Tasks()) {
        if (ctx.stopRequested == 0 && UndoCovers(*each)) {
            undo(*each);
            taskRan = true;
        }
    }
    return taskRan;
}

bool RestoreTask(const RunRequest& request, CRunContext& ctx, RunStats& stats) {
    Task task = *request.task;
    task.fakeIt = task.fakeIt || request.fakeIt;
    if (!task.destination.empty() && task.destination[0] == '?' && ctx.driveLetter.empty()) {
        LogError(ctx, "Not restoring \"" + task.name + "\" - no destination drive letter specified", stats.errors);
        return false;
    }
    task.destination = WithNativeSeparators(WithDriveLetter(task.destination, ctx.driveLetter));
    task.source = WithNativeSeparators(WithDriveLetter(task.source, ctx.driveLetter));
    RestoreOrder order = *request.restore;
    order.relative = WithNativeSeparators(order.relative);
    RestoreTaskPath(ctx, task, order, stats);
    return true;
}

// The tasks of the run: the one asked for, or every enabled one until a stop. True when a task ran.
bool RunTasks(const RunRequest& request, const RunTarget& target, RunStats& stats) {
    if (request.undo) {
        return UndoTasks(request, target.ctx, stats);
    }
    if (request.restore != nullptr) {
        return request.task != nullptr && RestoreTask(request, target.ctx, stats);
    }
    if (request.task != nullptr) {
        return RunTask(request, target, *request.task, true, stats);
    }
    bool taskRan = false;
    for (auto& each : request.job.Tasks()) {
        if (target.ctx.stopRequested != 0) {
            continue;
        }
        if (!each->enabled) {
            target.runLog.AddLogLine("Task \"" + each->name + "\" is disabled, skipping it", LogColour::Bold);
            continue;
        }
        taskRan = RunTask(request, target, *each, false, stats) || taskRan;
    }
    return taskRan;
}

// The run's closing lines in the log, and the end-of-run balloon.
void LogRunEnd(const RunRequest& request, const RunTarget& target, const RunStats& stats, bool stopped,
               const DateTime& start, const DateTime& end) {
    CRunLog& log = target.runLog;
    IRunWindow* window = target.window;
    const std::string elapsed = DurationText(start, end);
    if (stopped) {
        log.AddLogLine("Job stopped at user request at " + FormattedNow(request.dateTimeFormat), LogColour::Bold);
    } else {
        log.AddLogLine("Done at " + FormattedNow(request.dateTimeFormat), LogColour::Bold);
        LogTotals(log, stats, elapsed);
        if (!request.noBalloon && window != nullptr) {
            // A notification read in passing must not look like a clean run when it was not.
            const std::string errorNote =
                stats.errors == 0 ? std::string()
                                  : (stats.errors == 1 ? std::string("1 error") : Count(stats.errors) + " errors") +
                                        ": see the run log.\n\n";
            window->ShowBalloon("Job complete",
                                errorNote + "Changed: " + Count(stats.changed) + "\nSame: " + Count(stats.same) +
                                    "\nDeleted: " + Count(stats.deleted) + "\nSkipped: " + Count(stats.skipped) +
                                    "\nNew: " + Count(stats.newFiles) + "\nSaved: " + Count(stats.saved) +
                                    "\nErrors: " + Count(stats.errors) + "\nBytes (new): " + SizeText(stats.bytesNew) +
                                    "\nBytes (change): " + SizeText(stats.bytesChanged) + "\nTime: " + elapsed +
                                    "\nSource count: " + Count(stats.sourceCount) +
                                    "\nSource size: " + SizeText(stats.sourceSize));
        }
    }
}

} // namespace

RunOutcome RunJob(const RunRequest& request, const RunTarget& target) {
    CRunContext& ctx = target.ctx;
    CRunLog& log = target.runLog;
    IRunWindow* window = target.window;
    CJob& job = request.job;
    Task* task = request.task;
    RunOutcome outcome;
    RunStats& stats = outcome.stats;

    ctx.deletionLimitReached = false;
    ctx.replacementsKept = 0;
    const char* what = request.undo ? "Undo" : request.restore != nullptr ? "Restore" : "Job";
    log.AddLogLine(std::string(what) + " started (using " + job.Path() + ") at " + FormattedNow(request.dateTimeFormat),
                   LogColour::Bold);
    if (!request.noBalloon && window != nullptr) {
        window->ShowBalloon("", "");
    }
    std::string reason;
    if (!log.StartLog(RunLogName(request.dateLog, request.preview), reason)) {
        ctx.messages->MessageBox("Error opening logfile:\n\n" + reason);
    }

    const bool taskRan = RunTasks(request, target, stats);

    // End of the run.
    if (taskRan && !request.fakeIt && !request.preview && !request.undo && request.restore == nullptr) {
        CHeldMessages held;
        if (!job.SaveInPlace(held)) {
            outcome.jobNotSaved = held.text;
        }
        if (window != nullptr) {
            window->RefreshTaskList();
        }
    }
    const DateTime start = ctx.runStart;
    const DateTime end = NowLocal();
    const bool stopped = ctx.stopRequested != 0;
    LogRunEnd(request, target, stats, stopped, start, end);
    const std::string tasks = task != nullptr ? task->name : std::string("**all**");
    const std::string label = request.undo ? "undo " + tasks : request.restore != nullptr ? "restore " + tasks : tasks;
    AppendSummaryLine("summary.log", SummaryLine(job.Path(), label, LocalNow(), stats, DurationSeconds(start, end)),
                      *ctx.messages, *ctx.fs);
    if (!log.FinishLog(reason)) {
        ctx.messages->MessageBox("Error closing logfile:\n\n" + reason);
    }
    outcome.stopped = stopped;
    outcome.deletionLimitReached = ctx.deletionLimitReached;
    outcome.taskRan = taskRan;
    outcome.runLogPath = log.RunLogPath();
    return outcome;
}
