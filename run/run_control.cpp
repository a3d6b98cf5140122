// Run control: starting and ending the worker threads, stop and pause, and the two timers.
#include "run/run_control.h"

#include <system_error>

#include "run/job_runner.h"
#include "sync/count.h"
#include "sync/exclusions.h"
#include "sync/fs_layer.h"

void CPostedMessagePort::MessageBox(const std::string& text) {
    owner.PostToUi([this, text] {
        if (owner.messages != nullptr) {
            owner.messages->MessageBox(text);
        }
    });
}

CRunControl::CRunControl() {
    log = &runLog;
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

bool CRunControl::StartRun(Task* task, bool preview) {
    if (runThread.joinable()) {
        // The previous run has passed its last flag write; only its final notifications remain.
        runThread.join();
    }
    // Two runs of one job (a cron run overlapping a slow night, or one started from the window)
    // would write one log.html and save the job over each other.
    if (!jobLock.TryLock(jobPath)) {
        if (messages != nullptr) {
            messages->MessageBox(jobPath + " is already being run");
        }
        return false;
    }
    // Set here as well as by the runner: a second start command arriving before the new thread
    // has begun must see the run as active.
    running = true;
    previewing = preview;
    try {
        runThread = StartThread([this, task] {
            RunJob(*this, task);
            jobLock.Unlock();
            ++runThreadsFinished;
            PostToUi([this] { RunThreadEnded(); });
        });
    } catch (const std::system_error&) {
        jobLock.Unlock();
        running = false;
        return false;
    }
    return true;
}

void CRunControl::StartCount(Task* task) {
    if (countThread.joinable()) {
        countContext.stopRequested = 1;
        countThread.join();
    }
    countContext.stopRequested = 0;
    countContext.debug = debug.load();
    countContext.driveLetter = driveLetter;
    countContext.fs = fs;
    countContext.log = log;
    countContext.window = window;
    countContext.messages = &countMessages;
    std::vector<Task> toCount;
    {
        // The run thread, started just before, may be stamping a lastRun.
        std::lock_guard lock(lastRunMutex);
        if (task != nullptr) {
            toCount.push_back(*task);
        } else {
            for (const auto& t : tasks) {
                if (t->enabled) {
                    toCount.push_back(*t);
                }
            }
        }
    }
    try {
        countThread = StartThread([this, list = std::move(toCount)] { CountJob(*this, countContext, list); });
    } catch (const std::system_error&) {
        // Not reported: the count simply does not happen.
    }
}

void CRunControl::RunThreadEnded() {
    if (runThread.joinable() && !running) {
        runThread.join();
    }
    if (EndsWithRun() && runAll && !running) {
        CloseHandler();
    }
}

void CRunControl::RunAllCommand(bool preview) {
    stay = true;
    shutdown = false;
    stopRequested = 0;
    if (!running) {
        if (StartRun(nullptr, preview) && countAtStart) {
            StartCount(nullptr);
        }
    }
    if (!countAtStart && window != nullptr) {
        window->SetProgressCaption("Files:");
    }
}

void CRunControl::RunSelectedCommand(Task* task, bool preview) {
    stopRequested = 0;
    if (task == nullptr) {
        return;
    }
    if (!running) {
        if (StartRun(task, preview) && countAtStart) {
            StartCount(task);
        }
    }
    if (!countAtStart && window != nullptr) {
        window->SetProgressCaption("Files:");
    }
}

void CRunControl::TrayRunAllCommand(bool preview) {
    // A Stop of the last run must not stop this one before it begins.
    stopRequested = 0;
    if (!running) {
        StartRun(nullptr, preview);
    }
}

bool CRunControl::StartUpRun(bool countPass) {
    if (countPass) {
        if (countAtStart) {
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
    stay = true;
    shutdown = false;
    stopRequested = 1;
    countContext.stopRequested = 1;
}

bool CRunControl::PauseCommand() {
    if (paused) {
        runLog.AddLogLine("Job restarted", LogColour::Bold);
    } else {
        runLog.AddLogLine("Job paused", LogColour::Bold);
        if (window != nullptr) {
            window->SetTrayIcon(iconPaused);
        }
    }
    paused = !paused;
    return paused;
}

void CRunControl::OnRunTimer() {
    if (!indicatorOn) {
        return; // a tick that was already due when the run ended
    }
    animationPhase = animationPhase == 0 ? 1 : 0;
    if (paused) {
        // The inhibitor is held only while the run makes progress.
        Power().SetSleepInhibited(false);
        return;
    }
    const bool working = activity == Working;
    const int icon =
        animationPhase == 1 ? (working ? iconWorkingAlt : iconCopyingAlt) : (working ? iconWorking : iconCopying);
    if (window != nullptr) {
        window->SetTrayIcon(icon);
        window->UpdateProgress();
    }
    KeepAwake();
}

void CRunControl::KeepAwake() {
    const int method = stayAwakeMethod;
    Power().SetSleepInhibited(method == 1);
    if (method == 2) {
        // Pacing survives from run to run: the counter is not reset.
        if (++keyPressCounter >= 30) {
            Power().SimulateKeyPress();
            keyPressCounter = 0;
        }
    }
}

void CRunControl::OnCloseTimer() {
    if (stay) {
        return;
    }
    CloseHandler();
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
    activity = Working;
    StartTimer(runTimerId, runTimerPeriodMs, [this] { OnRunTimer(); });
}

void CRunControl::StopRunIndicator() {
    indicatorOn = false;
    StopTimer(runTimerId);
    if (window != nullptr) {
        window->StopRunIndicator();
    }
    // On the user-interface thread, after any tick that was under way: no late tick can take
    // the inhibitor again, since the indicator is off.
    PostToUi([this] { Power().SetSleepInhibited(false); });
}

void CRunControl::StartCloseTimer() {
    StartTimer(closeTimerId, closeTimerPeriodMs, [this] { OnCloseTimer(); });
}

void CountJob(CRunControl& frame, CRunContext& ctx, const std::vector<Task>& tasks) {
    frame.sourceTotal.Set(CLargeNumber());
    frame.countingDone = false;
    if (ctx.window != nullptr) {
        ctx.window->SetCountText("Calculating...");
        ctx.window->SetProgressCaption("Progress:");
    }
    CLargeNumber total;
    for (const Task& task : tasks) {
        const std::string list = NormaliseExclusions(task.exclusions, task.source, ctx.driveLetter);
        const std::string source = WithDriveLetter(task.source, ctx.driveLetter);
        if (IsRegularFile(ctx, source)) {
            total += FileSizeOf(ctx, source);
        } else {
            total += CountDirectory(ctx, source, list, task.excludeSystem, task.excludeHidden, task.recurse);
        }
    }
    frame.sourceTotal.Set(total);
    frame.countingDone = true;
    if (ctx.window != nullptr) {
        std::string text;
        if (ctx.stopRequested == 0) {
            CLargeNumber megabytes = total;
            megabytes /= CLargeNumber(1024);
            megabytes /= CLargeNumber(1024);
            text = std::to_string(megabytes.ToInt()) + "Mb";
        }
        ctx.window->SetCountText(text);
    }
}
