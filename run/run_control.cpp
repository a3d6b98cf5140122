// Run control: starting and ending the worker threads, stop and pause, and the two timers.
#include "run/run_control.h"

#include <system_error>

#include "run/job_runner.h"
#include "sync/count.h"
#include "sync/engine_support.h"
#include "sync/exclusions.h"
#include "sync/fs_layer.h"
#include "sync/worker_pool.h"
#include "util/texts.h"

void CPostedMessagePort::MessageBox(const std::string& text) {
    poster.PostToUi([this, text] { messages.MessageBox(text); });
}

CRunControl::CRunControl(IRunShell& shell, IPowerPort& power, IRunWindow* runWindow, CJob& runJob, IFileSystem& fs,
                         IMessagePort& messages)
    : shellPort(shell), powerPort(power), job(runJob), jobLock(fs), countMessages(shell, messages) {
    ctx.fs = &fs;
    ctx.messages = &messages;
    ctx.log = &runLog;
    SetWindow(runWindow);
}

void CRunControl::ApplyStartOptions(const StartOptions& startOptions) {
    options = startOptions;
    stay = options.stay;
    shutdown = options.shutdown;
    ctx.logExclusions = options.logExclusions;
    ctx.driveLetter = options.driveLetter;
    ctx.maxDelete = options.maxDelete;
}

void CRunControl::ApplySettings(const Settings& changed) {
    settings = changed;
    ctx.debug = settings.debug;
    ctx.emptyGuard = settings.emptyGuard;
}

RunState CRunControl::State() const {
    RunState state;
    state.running = running;
    state.previewing = previewing;
    state.paused = ctx.paused;
    state.stopRequested = ctx.stopRequested != 0;
    state.stay = stay;
    state.shutdown = shutdown;
    state.sourceTotal = sourceTotal.Get();
    state.countingDone = countingDone;
    state.lastRunErrors = lastRunErrors;
    state.lastRunStopped = lastRunStopped;
    state.runsEnded = runsEnded;
    state.runThreadsFinished = runThreadsFinished;
    return state;
}

void CRunControl::Abandon() {
    ctx.stopRequested = 1;
    ctx.paused = false;
}

void CRunControl::SetWindow(IRunWindow* runWindow) {
    window = runWindow;
    ctx.window = runWindow;
    runLog.SetPane(runWindow);
}

CRunControl::~CRunControl() {
    countContext.stopRequested = 1;
    if (countThread.joinable()) {
        countThread.join();
    }
    if (runThread.joinable()) {
        runThread.join();
    }
}

bool CRunControl::StartRun(Task* task, bool preview, bool undo, const RestoreOrder* restore) {
    if (runThread.joinable()) {
        // The previous run has passed its last flag write; only its final notifications remain.
        runThread.join();
    }
    // Two runs of one job (a cron run overlapping a slow night, or one started from the window)
    // would write one log.html and save the job over each other.
    if (!jobLock.TryLock(job.Path())) {
        ctx.messages->MessageBox(jobLock.Refusal().empty() ? job.Path() + " is already being run" : jobLock.Refusal());
        return false;
    }
    ctx.threads = ThreadCountOf(settings.threads);
    // Set here as well as by the runner: a second start command arriving before the new thread
    // has begun must see the run as active.
    running = true;
    previewing = preview;
    undoing = undo;
    restoring.reset();
    if (restore != nullptr) {
        restoring = *restore;
    }
    try {
        runThread = shellPort.StartThread([this, task] {
            RunThread(task);
            jobLock.Unlock();
            ++runThreadsFinished;
            shellPort.PostToUi([this] { RunThreadEnded(); });
        });
    } catch (const std::system_error&) {
        jobLock.Unlock();
        running = false;
        return false;
    }
    return true;
}

void CRunControl::RunThread(Task* task) {
    running = true;
    runLog.BeginRun();
    // Cleared before the Pause button is enabled, so a pause pressed at once is not lost.
    ctx.paused = false;
    StartRunIndicator();
    ctx.runStart = NowLocal();
    if (window != nullptr) {
        window->SetRunningControls();
        window->SetProgressState(RunStats{}, 0.0);
        window->UpdateProgress();
    }

    const RunOutcome outcome =
        RunJob(RunRequest{job, dateTimeFormat, task, options.fakeIt, options.dateLog, options.noBalloon, previewing,
                          undoing, restoring ? &*restoring : nullptr},
               RunTarget{ctx, runLog, window});

    if (!outcome.jobNotSaved.empty() && jobNotSavedSaid != job.Path()) {
        jobNotSavedSaid = job.Path();
        (notices != nullptr ? *notices : *ctx.messages).MessageBox(outcome.jobNotSaved);
    }
    lastRunErrors = outcome.stats.errors;
    lastRunStopped = outcome.stopped;
    ++runsEnded;
    StopRunIndicator();
    running = false;
    if (window != nullptr) {
        window->SetIdleControls();
    }
    if (!outcome.stopped && options.showDetLog && !outcome.runLogPath.empty()) {
        shellPort.OpenWithDesktop(outcome.runLogPath);
    }
    if (!stay && options.runAll && !shellPort.EndsWithRun()) {
        StartCloseTimer();
    }
    if (shutdown) {
        if (outcome.stats.errors != 0 && !options.ignoreErrors) {
            runLog.AddLogLine("Aborting shutdown due to errors", LogColour::Bold);
            stay = true;
        } else {
            powerPort.ShutdownMachine();
        }
    }
    if (window != nullptr) {
        window->SetProgressState(outcome.stats, ctx.runStart);
        window->UpdateProgress();
    }
}

void CRunControl::StartCount(Task* task) {
    if (countThread.joinable()) {
        countContext.stopRequested = 1;
        countThread.join();
    }
    countContext.stopRequested = 0;
    countContext.debug = ctx.debug.load();
    countContext.driveLetter = ctx.driveLetter;
    countContext.fs = ctx.fs;
    countContext.log = ctx.log;
    countContext.window = window;
    countContext.messages = &countMessages;
    std::vector<Task> toCount;
    {
        // The run thread, started just before, may be stamping a lastRun.
        std::lock_guard lock(job.LastRunLock());
        if (task != nullptr) {
            toCount.push_back(*task);
        } else {
            for (const auto& t : job.Tasks()) {
                if (t->enabled) {
                    toCount.push_back(*t);
                }
            }
        }
    }
    try {
        countThread = shellPort.StartThread([this, list = std::move(toCount)] { CountJob(*this, countContext, list); });
    } catch (const std::system_error&) {
        // Not reported: the count simply does not happen.
    }
}

void CRunControl::RunThreadEnded() {
    if (runThread.joinable() && !running) {
        runThread.join();
    }
    if (shellPort.EndsWithRun() && options.runAll && !running) {
        Close();
    }
}

void CRunControl::KeepOpen() {
    stay = true;
    shutdown = false;
}

void CRunControl::RunAllCommand(bool preview) {
    KeepOpen();
    ctx.stopRequested = 0;
    if (!running) {
        if (StartRun(nullptr, preview) && settings.countAtStart) {
            StartCount(nullptr);
        }
    }
    if (!settings.countAtStart && window != nullptr) {
        window->SetProgressCaption("Files:");
    }
}

void CRunControl::RunSelectedCommand(Task* task, bool preview) {
    ctx.stopRequested = 0;
    if (task == nullptr) {
        return;
    }
    if (!running) {
        if (StartRun(task, preview) && settings.countAtStart) {
            StartCount(task);
        }
    }
    if (!settings.countAtStart && window != nullptr) {
        window->SetProgressCaption("Files:");
    }
}

bool CRunControl::UndoCommand(Task* task) {
    KeepOpen();
    ctx.stopRequested = 0;
    return !running && StartRun(task, false, true);
}

bool CRunControl::RestoreCommand(Task* task, const RestoreOrder& order) {
    KeepOpen();
    ctx.stopRequested = 0;
    return task != nullptr && !running && StartRun(task, false, false, &order);
}

void CRunControl::TrayRunAllCommand(bool preview) {
    // A Stop of the last run must not stop this one before it begins.
    ctx.stopRequested = 0;
    if (!running) {
        StartRun(nullptr, preview);
    }
}

bool CRunControl::StartUpRun(bool countPass) {
    if (countPass) {
        if (settings.countAtStart) {
            if (!running) {
                StartCount(nullptr);
            }
        } else if (window != nullptr) {
            window->SetProgressCaption("Files:");
        }
    }
    if (!running) {
        return StartRun(nullptr);
    }
    return true;
}

void CRunControl::StopCommand() {
    KeepOpen();
    ctx.RequestStop();
    countContext.stopRequested = 1;
}

bool CRunControl::PauseCommand() {
    if (ctx.paused) {
        runLog.AddLogLine("Job restarted", LogColour::Bold);
    } else {
        runLog.AddLogLine("Job paused", LogColour::Bold);
        if (window != nullptr) {
            window->SetTrayIcon(iconPaused);
        }
    }
    ctx.paused = !ctx.paused;
    return ctx.paused;
}

void CRunControl::OnRunTimer() {
    if (!indicatorOn) {
        return; // a tick that was already due when the run ended
    }
    animationPhase = animationPhase == 0 ? 1 : 0;
    if (ctx.paused) {
        // The inhibitor is held only while the run makes progress.
        powerPort.SetSleepInhibited(false);
        return;
    }
    const bool working = ctx.activity == Working;
    const int icon =
        animationPhase == 1 ? (working ? iconWorkingAlt : iconCopyingAlt) : (working ? iconWorking : iconCopying);
    if (window != nullptr) {
        window->SetTrayIcon(icon);
        window->UpdateProgress();
    }
    KeepAwake();
}

void CRunControl::KeepAwake() {
    const int method = settings.stayAwakeMethod;
    powerPort.SetSleepInhibited(method == 1);
    if (method == 2) {
        // Pacing survives from run to run: the counter is not reset.
        if (++keyPressCounter >= 30) {
            powerPort.SimulateKeyPress();
            keyPressCounter = 0;
        }
    }
}

void CRunControl::OnCloseTimer() {
    if (stay) {
        return;
    }
    Close();
}

void CRunControl::Close() {
    if (onClose) {
        onClose();
    }
}

bool CRunControl::EndWorkerThreads() {
    if (running) {
        return false;
    }
    countContext.stopRequested = 1;
    if (countThread.joinable()) {
        countThread.join();
    }
    if (runThread.joinable()) {
        runThread.join();
    }
    return true;
}

void CRunControl::StartRunIndicator() {
    indicatorOn = true;
    if (window != nullptr) {
        window->StartRunIndicator();
    }
    ctx.activity = Working;
    shellPort.StartTimer(runTimerId, runTimerPeriodMs, [this] { OnRunTimer(); });
}

void CRunControl::StopRunIndicator() {
    indicatorOn = false;
    shellPort.StopTimer(runTimerId);
    if (window != nullptr) {
        window->StopRunIndicator();
    }
    // On the user-interface thread, after any tick that was under way: no late tick can take
    // the inhibitor again, since the indicator is off.
    shellPort.PostToUi([this] { powerPort.SetSleepInhibited(false); });
}

void CRunControl::StartCloseTimer() {
    shellPort.StartTimer(closeTimerId, closeTimerPeriodMs, [this] { OnCloseTimer(); });
}

void CountJob(CRunControl& control, CRunContext& ctx, const std::vector<Task>& tasks) {
    IRunWindow* window = control.Window();
    control.sourceTotal.Set(CLargeNumber());
    control.countingDone = false;
    if (window != nullptr) {
        window->SetCountText("Calculating...");
        window->SetProgressCaption("Progress:");
    }
    CLargeNumber total;
    for (const Task& task : tasks) {
        const std::string source = WithDriveLetter(task.source, ctx.driveLetter);
        std::string exclusions = task.exclusions;
        // What the run will leave out is left out of the count; the run reports a bad ignore file.
        AddIgnoreFileItems(FsOf(ctx), source, exclusions);
        const std::string list = NormaliseExclusions(exclusions, task.source, ctx.driveLetter);
        if (IsRegularFile(ctx, source)) {
            total += FileSizeOf(ctx, source);
        } else {
            total += CountDirectory(ctx, source, list, task.recurse);
        }
    }
    control.sourceTotal.Set(total);
    control.countingDone = true;
    if (window != nullptr) {
        std::string text;
        if (ctx.stopRequested == 0) {
            text = SizeText(total);
        }
        window->SetCountText(text);
    }
}
