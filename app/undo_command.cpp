// The unattended undo of a job's last run, and the frame it shares with the unattended restore.
#include "app/undo_command.h"

#include <string>

#include "app/main_frame.h"
#include "model/job_file.h"
#include "run/html_log.h"
#include "run/job_lock.h"
#include "run/job_runner.h"
#include "run/summary_log.h"
#include "sync/undo.h"
#include "util/path_rules.h"
#include "util/texts.h"

namespace {

class CPrintedMessages : public IMessagePort {
public:
    explicit CPrintedMessages(std::FILE* err) : err_(err) {}
    void MessageBox(const std::string& text) override {
        std::fputs(("pemo: " + EscapeControlCharacters(text) + "\n").c_str(), err_);
    }

private:
    std::FILE* err_;
};

} // namespace

// Every line to the terminal and to the run log.
class CJobCommand::CSinks : public ILogSink {
public:
    CSinks(CRunContext& ctx, std::FILE* out, std::FILE* err, bool quiet)
        : messages(err), runLog(ctx), out_(out), err_(err), quiet_(quiet) {}
    void AddLogLine(const std::string& text, LogColour colour) override {
        const std::string line = EscapeControlCharacters(WithoutLineEnd(text)) + "\n";
        if (!quiet_) {
            std::fputs(line.c_str(), out_);
        }
        if (colour == LogColour::Red) {
            std::fputs(("pemo: " + line).c_str(), err_);
        }
        runLog.AddLogLine(text, colour);
    }
    void FlushLog() override {
        std::fflush(out_);
        runLog.FlushLog();
    }

    CPrintedMessages messages;
    CRunLog runLog;

private:
    std::FILE* out_;
    std::FILE* err_;
    bool quiet_;
};

CJobCommand::CJobCommand(const StartOptions& options, IFileSystem& fs, std::FILE* out, std::FILE* err)
    : options_(options), fs_(fs), out_(out), err_(err) {
    ctx_.fs = &fs;
    ctx_.driveLetter = options.driveLetter;
    sinks_ = std::make_unique<CSinks>(ctx_, out, err, options.quiet);
    ctx_.log = sinks_.get();
    ctx_.messages = &sinks_->messages;
}

CJobCommand::~CJobCommand() = default;

bool CJobCommand::Open() {
    if (!LoadJob(options_.startJobFile, tasks_, jobPath_, sinks_->messages, fs_)) {
        sinks_->messages.MessageBox("cannot read the job " + options_.startJobFile);
        return false;
    }
    bool named = options_.taskName.empty();
    for (const auto& task : tasks_) {
        named = named || task->name == options_.taskName;
    }
    if (!named) {
        sinks_->messages.MessageBox("the job " + options_.startJobFile + " has no task \"" + options_.taskName + "\"");
        return false;
    }
    return true;
}

void CJobCommand::Begin(const std::string& what) {
    sinks_->runLog.BeginRun();
    ctx_.runStart = NowLocal();
    Log(what + " started (using " + jobPath_ + ") at " + FormattedNow(LocaleDateTimeFormat()), LogColour::Bold);
    std::string reason;
    if (!sinks_->runLog.StartLog(RunLogName(options_.dateLog, false), reason)) {
        sinks_->messages.MessageBox("Error opening logfile:\n\n" + reason);
    }
}

bool CJobCommand::Prepare(Task& task, const std::string& doing) {
    task.fakeIt = task.fakeIt || options_.fakeIt;
    if (!task.destination.empty() && task.destination[0] == '?' && ctx_.driveLetter.empty()) {
        Log("Not " + doing + " \"" + task.name + "\" - no destination drive letter specified", LogColour::Red);
        return false;
    }
    task.destination = WithNativeSeparators(WithDriveLetter(task.destination, ctx_.driveLetter));
    // Only compared with: a source that needs a missing letter is no path at all.
    task.source = !task.source.empty() && task.source[0] == '?' && ctx_.driveLetter.empty()
                      ? std::string()
                      : WithNativeSeparators(WithDriveLetter(task.source, ctx_.driveLetter));
    return true;
}

void CJobCommand::Log(const std::string& text, LogColour colour) {
    sinks_->AddLogLine(text, colour);
}

int CJobCommand::End(const std::string& label, bool clean) {
    const DateTime start = ctx_.runStart;
    const DateTime end = NowLocal();
    Log("Done at " + FormattedNow(LocaleDateTimeFormat()), LogColour::Bold);
    LogTotals(*sinks_, stats_, DurationText(start, end));
    std::tm local{};
    LocalCalendarTime(std::time(nullptr), local);
    AppendSummaryLine("summary.log", SummaryLine(jobPath_, label, local, stats_, DurationSeconds(start, end)),
                      sinks_->messages, fs_);
    std::string reason;
    if (!sinks_->runLog.FinishLog(reason)) {
        sinks_->messages.MessageBox("Error closing logfile:\n\n" + reason);
    }
    sinks_->FlushLog();
    const bool ok = clean && stats_.errors == 0;
    const std::string logPath = sinks_->runLog.RunLogPath();
    const std::string closing = std::to_string(stats_.errors) +
                                (stats_.errors == 1 ? " error; log: " : " errors; log: ") +
                                EscapeControlCharacters(logPath.empty() ? "(none)" : logPath) + "\n";
    if (!ok) {
        std::fputs(("pemo: " + closing).c_str(), err_);
    } else if (!options_.quiet) {
        std::fputs(closing.c_str(), out_);
    }
    std::fflush(out_);
    std::fflush(err_);
    return ok ? 0 : 1;
}

int RunUndo(const StartOptions& options, IFileSystem& fs, std::FILE* out, std::FILE* err) {
    CJobCommand command(options, fs, out, err);
    if (!command.Open()) {
        return 2;
    }
    // An undo moves what a run of the same job would be copying into and deleting from.
    CJobLock lock(fs);
    if (!lock.TryLock(command.JobPath())) {
        CPrintedMessages(err).MessageBox(lock.Refusal().empty() ? command.JobPath() + " is already being run"
                                                                : lock.Refusal());
        return 2;
    }
    command.Begin("Undo");
    bool clean = true;
    for (const auto& held : command.Tasks()) {
        if (options.taskName.empty() ? !held->enabled : held->name != options.taskName) {
            continue;
        }
        Task task = *held;
        if (!command.Prepare(task, "undoing")) {
            clean = false;
            continue;
        }
        command.Log("Undoing the last run of task \"" + task.name + "\"" +
                        (task.fakeIt ? " *** in 'fake it' mode ***" : ""),
                    LogColour::Bold);
        clean = UndoLastRun(command.Context(), task, command.Stats()) && clean;
    }
    return command.End("undo " + (options.taskName.empty() ? std::string("**all**") : options.taskName), clean);
}
