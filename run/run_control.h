// Run control: the run state, the commands that start, pause and stop runs, the run and counting
// worker threads, and the 500 ms run timer and 10 s close timer. The controller holds one and
// hands it the job (by reference), the run shell, the power port, the window, the file system
// and the message port; run control calls nothing of the controller but the close handler it is
// given.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model/job.h"
#include "model/message_port.h"
#include "model/settings.h"
#include "run/html_log.h"
#include "run/job_lock.h"
#include "run/job_runner.h"
#include "run/job_runs.h"
#include "run/power_port.h"
#include "run/run_shell.h"
#include "run/run_window.h"
#include "run/shell_ids.h"
#include "run/start_options.h"
#include "sync/run_context.h"
#include "util/guarded.h"
#include "util/large_number.h"

// The counting pass's message boxes: handed to the user-interface thread without waiting for
// them, because that thread joins the counting thread (a new pass, the close) and a box that
// waited for it would never be answered.
class CPostedMessagePort : public IMessagePort {
public:
    // target: where the boxes go on the user-interface thread.
    CPostedMessagePort(IRunShell& shell, IMessagePort& target) : poster(shell), messages(target) {}
    void MessageBox(const std::string& text) override;

private:
    IRunShell& poster;
    IMessagePort& messages;
};

// What the window and the controller see of the runs.
struct RunState {
    bool running = false;
    // The run under way, or the last one, is a preview.
    bool previewing = false;
    bool paused = false;
    bool stopRequested = false;
    // The program stays open after the run; the machine is switched off after it.
    bool stay = false;
    bool shutdown = false;
    // The counting pass's total of the sources, and whether it has finished.
    CLargeNumber sourceTotal;
    bool countingDone = false;
    // The error count of the last run that ended, whether it was stopped, how many runs ended,
    // and how many run threads have returned from their body (after every step of the run's end).
    int lastRunErrors = 0;
    bool lastRunStopped = false;
    int runsEnded = 0;
    int runThreadsFinished = 0;
};

class CRunControl : public IJobRuns {
public:
    // Everything handed in must outlive the run control: the engine of the runs works on fs and
    // reports whole-file failures through messages. window may be null (no window).
    CRunControl(IRunShell& shell, IPowerPort& power, IRunWindow* window, CJob& job, IFileSystem& fs,
                IMessagePort& messages);
    // Stops the counting thread and joins both worker threads.
    ~CRunControl();
    CRunControl(const CRunControl&) = delete;
    CRunControl& operator=(const CRunControl&) = delete;

    // Configuration, on the user-interface thread. The start options are taken before the first
    // run; the settings also while one is going (the options dialog), the thread count applying
    // from the next run on.
    void ApplyStartOptions(const StartOptions& options);
    void ApplySettings(const Settings& settings);
    // strftime format of last-run times and of the times in log lines.
    const std::string& DateTimeFormat() const { return dateTimeFormat; }
    void SetDateTimeFormat(const std::string& format) { dateTimeFormat = format; }
    // The controller's close handler (it refuses while a run is active), called on the
    // user-interface thread by the close timer and after an unattended run.
    void SetCloseHandler(std::function<void()> handler) { onClose = std::move(handler); }
    // Where a job that could not be saved after a run is said, uncounted: the mirror is done, so
    // it is no failure of the run. Once per job and session; the message port until set.
    void SetNoticePort(IMessagePort* port) { notices = port; }
    // The window of the runs and the counting pass (also their progress sink and the log's
    // pane); set before either starts.
    void SetWindow(IRunWindow* runWindow);
    IRunWindow* Window() const { return window; }

    RunState State() const;
    // The run under way, or the last one, is a preview; cheap enough for every progress update.
    bool Previewing() const { return previewing; }
    const std::string& DriveLetter() const { return options.driveLetter; }
    // The flag the stop command sets, for a signal handler to set as well.
    std::atomic<int>& StopFlag() { return ctx.stopRequested; }
    // The run's HTML file; empty before the first run.
    std::string RunLogPath() const { return runLog.RunLogPath(); }
    // The run log's Red lines also go to echo (an unattended run: where cron looks).
    void EchoRedLines(std::function<void(const std::string&)> echo) { runLog.EchoRedLines(std::move(echo)); }

    bool RunActive() const override { return running; }
    void KeepOpen() override;
    void ForgetSourceTotal() override { sourceTotal.Set(CLargeNumber()); }

    // Commands, called on the user-interface thread. The Pause button's caption and the
    // window's own controls are the window's business.
    // Main dialog Run all: stay on, shutdown off, stop cleared; starts a run of all tasks (and
    // the counting pass with countAtStart) unless one is active. A preview runs as -fakeit does
    // (every task faked, the job not saved) and writes its own run log.
    void RunAllCommand(bool preview = false);
    // Main dialog Run selected: runs the one task, enabled or not.
    void RunSelectedCommand(Task* task, bool preview = false);
    // Undo last run: takes back the last run of the task, or of every task UndoCovers when null,
    // on the run thread as a run goes (stop and pause work); stop cleared. Nothing while a run is
    // active; false when no run thread was started.
    bool UndoCommand(Task* task);
    // Restores one path of the task from its kept versions on the run thread, shown as a run is;
    // false when it could not start.
    bool RestoreCommand(Task* task, const RestoreOrder& order);
    // Tray menu Run all: stop cleared; a run of all tasks without counting, unless one is active.
    void TrayRunAllCommand(bool preview = false);
    // The -runall run of start-up; countPass: the dialog is shown at start. False when no run
    // thread could be started.
    bool StartUpRun(bool countPass);
    // Stop (and the first half of Exit): stay on, shutdown off, stop requested.
    void StopCommand();
    // Pause/Resume: logs "Job paused" or "Job restarted" and flips paused; returns the new
    // state (true: paused, the button reads "Resume").
    bool PauseCommand();
    // Timer ticks, user-interface thread.
    void OnRunTimer();
    void OnCloseTimer();
    // The run-control part of the close handler: false while a run is active; otherwise stops
    // the counting pass and joins both threads, so the tasks may then be deleted.
    bool EndWorkerThreads();
    // The teardown of the program: stop requested and the pause lifted, so that a run still
    // going ends within one file-system call (a copy under way is cancelled).
    void Abandon();
    bool CountThreadActive() const { return countThread.joinable(); }
    // Starts the 10 s close timer (a -runall program that is not to stay).
    void StartCloseTimer();

protected:
    // The engine's context of the runs, for a test that plays the engine's part.
    CRunContext& EngineContext() { return ctx; }

private:
    friend void CountJob(CRunControl& control, CRunContext& ctx, const std::vector<Task>& tasks);

    // Takes the job's lock and starts RunThread(task) on the run thread. False when another run
    // of the job holds the lock (said in a message box) or no thread could be started.
    bool StartRun(Task* task, bool preview = false, bool undo = false, const RestoreOrder* restore = nullptr);
    // The run thread: the start of the run's display, RunJob, and the actions its outcome
    // calls for (indicator, details log, close timer, shutdown).
    void RunThread(Task* task);
    // Starts CountJob on the counting thread, over a copy of the tasks to count.
    void StartCount(Task* task);
    // Posted by the run thread when its body has returned.
    void RunThreadEnded();
    void StartRunIndicator();
    void StopRunIndicator();
    void KeepAwake();
    void Close();

    IRunShell& shellPort;
    IPowerPort& powerPort;
    IRunWindow* window = nullptr;
    CJob& job;
    // The engine's context of the runs: the stop and pause flags and the switches it reads.
    CRunContext ctx;
    std::function<void()> onClose;
    std::string dateTimeFormat;
    // Start switches, fixed before the first run; stay and shutdown change during a run
    // (commands, the run's end) and live below.
    StartOptions options;
    // The settings; the user-interface thread reads them (the engine reads its two in ctx).
    Settings settings;
    std::atomic<bool> stay{false};
    std::atomic<bool> shutdown{false};

    std::atomic<bool> running{false};
    std::atomic<bool> previewing{false};
    std::atomic<bool> undoing{false};
    // The restore the run thread does; set before it starts, so it needs no lock.
    std::optional<RestoreOrder> restoring;
    Guarded<CLargeNumber> sourceTotal;
    std::atomic<bool> countingDone{false};
    int animationPhase = 0;  // user-interface thread only
    int keyPressCounter = 0; // user-interface thread only
    // The run's HTML log; also the engine's log sink (ctx.log points here).
    CRunLog runLog{ctx};
    std::atomic<int> lastRunErrors{0};
    std::atomic<bool> lastRunStopped{false};
    std::atomic<int> runsEnded{0};
    std::atomic<int> runThreadsFinished{0};

    IMessagePort* notices = nullptr;
    // The job whose save failure has been said this session; run thread only (runs never overlap).
    std::string jobNotSavedSaid;

    std::thread runThread;
    std::thread countThread;
    // Held from the start of a run until its body returns: taken on the user-interface thread,
    // released on the run thread, which the next start joins first.
    CJobLock jobLock;
    // The counting pass's own context: stopping it (Stop, close, a new pass) never touches the
    // run's flags, and it never reads the task list, which the window may edit meanwhile.
    CRunContext countContext;
    CPostedMessagePort countMessages;
    std::atomic<bool> indicatorOn{false};
};

// The counting pass (thread routine): adds up the sources of the given tasks into the control's
// sourceTotal and shows the total in megabytes in the control's window.
void CountJob(CRunControl& control, CRunContext& ctx, const std::vector<Task>& tasks);
