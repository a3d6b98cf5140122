// The job runner: the steps of one run, from the "Job started" line to the shutdown decision.
#include "run/job_runner.h"

#include <cstdio>
#include <ctime>

#include "model/job_file.h"
#include "run/run_control.h"
#include "run/summary_log.h"
#include "sync/do_directory.h"
#include "sync/do_file.h"
#include "sync/exclusions.h"
#include "sync/fs_layer.h"
#include "util/texts.h"

namespace {

std::tm LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// "log.html", or with the run's date and time; a preview's log beside it never replaces the last
// real run's log.
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

std::string Count(std::int32_t value) {
    return std::to_string(value);
}

// Runs one task; false when it was skipped for a missing drive letter.
bool RunTask(CRunControl& frame, Task& jobTask, bool singleTask, RunStats& stats) {
    // A run that fakes every task works on a copy, so that no last-run time is stamped either.
    const bool fakeAll = frame.fakeIt || frame.previewing;
    Task faked;
    if (fakeAll) {
        faked = jobTask;
        faked.fakeIt = true;
    }
    Task& task = fakeAll ? faked : jobTask;
    ILogSink& log = frame.runLog;
    if (!task.destination.empty() && task.destination[0] == '?' && frame.driveLetter.empty()) {
        log.AddLogLine("Not running \"" + task.name + "\" - no destination drive letter specified", LogColour::Red);
        return false;
    }
    if (!task.source.empty() && task.source[0] == '?' && frame.driveLetter.empty()) {
        log.AddLogLine("Not running \"" + task.name + "\" - no source drive letter specified", LogColour::Red);
        return false;
    }
    const std::string source = WithDriveLetter(task.source, frame.driveLetter);
    const std::string destination = WithDriveLetter(task.destination, frame.driveLetter);
    std::string start = (singleTask ? "Starting the task \"" : "Starting task \"") + task.name + "\"";
    if (task.fakeIt) {
        start += singleTask ? " ***in 'fake it' mode***" : " *** in 'fake it' mode ***";
    }
    log.AddLogLine(start, LogColour::Bold);
    if (IsRegularFile(frame, source)) {
        DoFile(frame, source, destination, task, stats);
    } else {
        // An empty destination is refused by DoDirectory with its own line; there is nothing to
        // create for it.
        if (!task.fakeIt && !destination.empty()) {
            YMakeDirectory(frame, destination);
        }
        const std::string list = NormaliseExclusions(task.exclusions, task.source, frame.driveLetter);
        DoDirectory(frame, source, destination, list, task, stats);
    }
    std::lock_guard lock(frame.lastRunMutex);
    task.lastRun = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::time(nullptr)));
    return true;
}

} // namespace

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

void RunJob(CRunControl& frame, Task* task) {
    IWindowNotifications* window = frame.window;
    ILogSink& log = frame.runLog;

    // Start of the run.
    frame.running = true;
    frame.runLog.BeginRun();
    // Cleared before the Pause button is enabled, so a pause pressed at once is not lost.
    frame.paused = false;
    frame.StartRunIndicator();
    frame.runStart = NowLocal();
    if (window != nullptr) {
        window->SetRunningControls();
        window->SetProgressState(RunStats{}, 0.0);
        window->UpdateProgress();
    }
    RunStats stats;
    frame.deletionLimitReached = false;
    log.AddLogLine("Job started (using " + frame.jobPath + ") at " + FormattedNow(frame.dateTimeFormat),
                   LogColour::Bold);
    if (!frame.noBalloon && window != nullptr) {
        window->ShowBalloon("", "");
    }
    std::string reason;
    if (!frame.runLog.StartLog(RunLogName(frame.dateLog, frame.previewing), reason)) {
        frame.messages->MessageBox("Error opening logfile:\n\n" + reason);
    }

    // The tasks.
    bool taskRan = false;
    if (task != nullptr) {
        taskRan = RunTask(frame, *task, true, stats);
    } else {
        for (auto& each : frame.tasks) {
            if (frame.stopRequested != 0) {
                continue;
            }
            if (!each->enabled) {
                log.AddLogLine("Task \"" + each->name + "\" is disabled, skipping it", LogColour::Bold);
                continue;
            }
            taskRan = RunTask(frame, *each, false, stats) || taskRan;
        }
    }

    // End of the run.
    if (taskRan && !frame.fakeIt && !frame.previewing) {
        if (frame.jobReadIncomplete) {
            frame.messages->MessageBox("Not saving " + frame.jobPath +
                                       "\n\nThe job file could not be read completely; saving it now would lose "
                                       "the tasks that were not read.");
        } else {
            const std::string path = frame.jobPath;
            SaveJob(path, frame.tasks, frame.jobPath, *frame.messages);
        }
        if (window != nullptr) {
            window->RefreshTaskList();
        }
    }
    const DateTime end = NowLocal();
    const std::string elapsed = DurationText(frame.runStart, end);
    const std::string bytesNew = stats.bytesNew.ToString();
    const std::string bytesChanged = stats.bytesChanged.ToString();
    const std::string sourceSize = stats.sourceSize.ToString();
    const bool stopped = frame.stopRequested != 0;
    if (stopped) {
        log.AddLogLine("Job stopped at user request at " + FormattedNow(frame.dateTimeFormat), LogColour::Bold);
    } else {
        log.AddLogLine("Done at " + FormattedNow(frame.dateTimeFormat), LogColour::Bold);
        log.AddLogLine("Changed: " + Count(stats.changed) + ", Same: " + Count(stats.same) +
                           ", Deleted: " + Count(stats.deleted) + ", Skipped: " + Count(stats.skipped) +
                           ", New: " + Count(stats.newFiles) + ", Saved: " + Count(stats.saved) +
                           ", Errors: " + Count(stats.errors) + ", Bytes (new): " + bytesNew,
                       LogColour::Bold);
        log.AddLogLine("Bytes (change): " + bytesChanged + ", Time: " + elapsed +
                           ", Source count: " + Count(stats.sourceCount) + ", Source size: " + sourceSize,
                       LogColour::Bold);
        if (!frame.noBalloon && window != nullptr) {
            window->ShowBalloon("Job complete",
                                "Changed: " + Count(stats.changed) + "\nSame: " + Count(stats.same) +
                                    "\nDeleted: " + Count(stats.deleted) + "\nSkipped: " + Count(stats.skipped) +
                                    "\nNew: " + Count(stats.newFiles) + "\nSaved: " + Count(stats.saved) +
                                    "\nErrors: " + Count(stats.errors) + "\nBytes (new): " + SizeText(stats.bytesNew) +
                                    "\nBytes (change): " + SizeText(stats.bytesChanged) + "\nTime: " + elapsed +
                                    "\nSource count: " + Count(stats.sourceCount) +
                                    "\nSource size: " + SizeText(stats.sourceSize));
        }
    }
    AppendSummaryLine("summary.log",
                      SummaryLine(frame.jobPath, task != nullptr ? task->name : std::string("**all**"), LocalNow(),
                                  stats, DurationSeconds(frame.runStart, end)),
                      *frame.messages);
    if (!frame.runLog.FinishLog(reason)) {
        frame.messages->MessageBox("Error closing logfile:\n\n" + reason);
    }
    frame.lastRunErrors = stats.errors;
    frame.lastRunStopped = stopped;
    ++frame.runsEnded;
    frame.StopRunIndicator();
    frame.running = false;
    if (window != nullptr) {
        window->SetIdleControls();
    }
    const std::string runLogPath = frame.runLog.RunLogPath();
    if (!stopped && frame.showDetLog && !runLogPath.empty()) {
        frame.OpenWithDesktop(runLogPath);
    }
    if (!frame.stay && frame.runAll && !frame.EndsWithRun()) {
        frame.StartCloseTimer();
    }
    if (frame.shutdown) {
        if (stats.errors != 0 && !frame.ignoreErrors) {
            log.AddLogLine("Aborting shutdown due to errors", LogColour::Bold);
            frame.stay = true;
        } else {
            frame.Power().ShutdownMachine();
        }
    }
    if (window != nullptr) {
        window->SetProgressState(stats, frame.runStart);
        window->UpdateProgress();
    }
}
