// The unattended undo of a job's last run.
#include "app/undo_command.h"

#include <string>

#include "model/job_file.h"
#include "run/job_lock.h"
#include "run/job_runner.h"
#include "sync/run_context.h"
#include "util/texts.h"

namespace {

class CPrintedLog : public ILogSink {
public:
    CPrintedLog(std::FILE* out, std::FILE* err, bool quiet) : out_(out), err_(err), quiet_(quiet) {}
    void AddLogLine(const std::string& text, LogColour colour) override {
        const std::string line = EscapeControlCharacters(text) + "\n";
        if (!quiet_) {
            std::fputs(line.c_str(), out_);
        }
        if (colour == LogColour::Red) {
            std::fputs(("pemo: " + line).c_str(), err_);
        }
    }
    void FlushLog() override { std::fflush(out_); }

private:
    std::FILE* out_;
    std::FILE* err_;
    bool quiet_;
};

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

int RunUndo(const StartOptions& options, IFileSystem& fs, std::FILE* out, std::FILE* err) {
    CPrintedMessages messages(err);
    TaskList tasks;
    std::string jobPath;
    if (!LoadJob(options.startJobFile, tasks, jobPath, messages, fs)) {
        messages.MessageBox("cannot read the job " + options.startJobFile);
        return 2;
    }
    bool named = options.taskName.empty();
    for (const auto& task : tasks) {
        named = named || task->name == options.taskName;
    }
    if (!named) {
        messages.MessageBox("the job " + options.startJobFile + " has no task \"" + options.taskName + "\"");
        return 2;
    }
    // An undo moves what a run of the same job would be copying into and deleting from.
    CJobLock lock(fs);
    if (!lock.TryLock(jobPath)) {
        messages.MessageBox(lock.Refusal().empty() ? jobPath + " is already being run" : lock.Refusal());
        return 2;
    }
    CPrintedLog log(out, err, options.quiet);
    CRunContext ctx;
    ctx.fs = &fs;
    ctx.log = &log;
    ctx.messages = &messages;
    ctx.driveLetter = options.driveLetter;
    RunStats stats;
    bool clean = true;
    for (const auto& held : tasks) {
        if (options.taskName.empty() ? !held->enabled : held->name != options.taskName) {
            continue;
        }
        Task task = *held;
        task.fakeIt = task.fakeIt || options.fakeIt;
        clean = UndoTaskRun(ctx, task, stats) && clean;
    }
    log.FlushLog();
    return clean && stats.errors == 0 ? 0 : 1;
}
