// Run control: the run state, the commands that start, pause and stop runs, the run and counting
// worker threads, and the 500 ms run timer and 10 s close timer. The controller holds one and
// hands it the job (by reference), the run shell, the power port and the window; run control
// calls nothing of the controller but the close handler it is given.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/job_file.h"
#include "model/message_port.h"
#include "run/html_log.h"
#include "run/job_lock.h"
#include "run/job_runner.h"
#include "run/power_port.h"
#include "run/run_shell.h"
#include "run/run_window.h"
#include "run/shell_ids.h"
#include "sync/run_context.h"
#include "util/guarded.h"
#include "util/large_number.h"

// The counting pass's message boxes: handed to the user-interface thread without waiting for
// them, because that thread joins the counting thread (a new pass, the close) and a box that
// waited for it would never be answered.
class CPostedMessagePort : public IMessagePort {
public:
    // target: where the boxes go on the user-interface thread, read there (it may change).
    CPostedMessagePort(IRunShell& shell, IMessagePort* const& target) : poster(shell), messages(target) {}
    void MessageBox(const std::string& text) override;

private:
    IRunShell& poster;
    IMessagePort* const& messages;
};

class CRunControl {
public:
    // The ports, the file system and the job must outlive the run control. window may be null
    // (no window). Every file of the runs and the counting pass goes through fs.
    CRunControl(IRunShell& shell, IPowerPort& power, IFileSystem& fs, IRunWindow* window, const JobRef& job);
    // Stops the counting thread and joins both worker threads.
    ~CRunControl();
    CRunControl(const CRunControl&) = delete;
    CRunControl& operator=(const CRunControl&) = delete;

    // The engine's context of the runs: the stop and pause flags, the switches the engine reads,
    // the file system (the one given) and the message port (set by the owner before the first run).
    CRunContext ctx;
    // The window of the runs and the counting pass (also their progress sink and the log's
    // pane); set before either starts.
    void SetWindow(IRunWindow* runWindow);
    IRunWindow* Window() const { return window; }
    // The controller's close handler (it refuses while a run is active), called on the
    // user-interface thread by the close timer and after an unattended run.
    std::function<void()> onClose;

    // Start switches. stay and shutdown also change during a run (commands, the run's end).
    bool runAll = false;
    bool ignoreErrors = false;
    bool dateLog = false;
    bool noBalloon = false;
    bool showDetLog = false;
    // Every task runs in fake-it mode and the job is never saved, so nothing on disk changes but
    // the run log and the summary.
    bool fakeIt = false;
    std::atomic<bool> stay{false};
    std::atomic<bool> shutdown{false};

    // Settings that run control reads (the options dialog may change them during a run).
    bool countAtStart = false;
    std::atomic<int> stayAwakeMethod{1};

    // Run state.
    std::atomic<bool> running{false};
    // The run under way, or the last one, is a preview. Set before its thread starts.
    std::atomic<bool> previewing{false};
    Guarded<CLargeNumber> sourceTotal;
    std::atomic<bool> countingDone{false};
    int animationPhase = 0;  // user-interface thread only
    int keyPressCounter = 0; // user-interface thread only
    // The run's HTML log; also the engine's log sink (ctx.log points here).
    CRunLog runLog{ctx};
    // The error count of the last run that ended, whether it was stopped, and how many runs
    // ended.
    std::atomic<int> lastRunErrors{0};
    std::atomic<bool> lastRunStopped{false};
    std::atomic<int> runsEnded{0};
    // How many run threads have returned from their body (after every step of the run's end).
    std::atomic<int> runThreadsFinished{0};

    // Commands, called on the user-interface thread. The Pause button's caption and the
    // window's own controls are the window's business.
    // Main dialog Run all: stay on, shutdown off, stop cleared; starts a run of all tasks (and
    // the counting pass with countAtStart) unless one is active. A preview runs as -fakeit does
    // (every task faked, the job not saved) and writes its own run log (see `previewing`).
    void RunAllCommand(bool preview = false);
    // Main dialog Run selected: runs the one task, enabled or not.
    void RunSelectedCommand(Task* task, bool preview = false);
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
    bool CountThreadActive() const { return countThread.joinable(); }
    // Starts the 10 s close timer (a -runall program that is not to stay).
    void StartCloseTimer();

private:
    // Takes the job's lock and starts RunThread(task) on the run thread. False when another run
    // of the job holds the lock (said in a message box) or no thread could be started.
    bool StartRun(Task* task, bool preview = false);
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
    JobRef job;
    std::thread runThread;
    std::thread countThread;
    // Held from the start of a run until its body returns: taken on the user-interface thread,
    // released on the run thread, which the next start joins first.
    CJobLock jobLock;
    // The counting pass's own context: stopping it (Stop, close, a new pass) never touches the
    // run's flags, and it never reads the task list, which the window may edit meanwhile.
    CRunContext countContext;
    CPostedMessagePort countMessages{shellPort, ctx.messages};
    std::atomic<bool> indicatorOn{false};
};

// The counting pass (thread routine): adds up the sources of the given tasks into the control's
// sourceTotal and shows the total in megabytes in the control's window.
void CountJob(CRunControl& control, CRunContext& ctx, const std::vector<Task>& tasks);
