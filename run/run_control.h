// Run control: the controller's job and run state, the commands that start, pause and stop runs,
// the run and counting worker threads, and the 500 ms run timer and 10 s close timer. CMainFrame
// derives from CRunControl and supplies the shell services (timers, threads, the desktop, the
// power port, the close handler) through the virtual hooks at the end.
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
#include "run/power_port.h"
#include "run/shell_ids.h"
#include "sync/run_context.h"
#include "util/guarded.h"
#include "util/large_number.h"

class CRunControl;

// The counting pass's message boxes: handed to the user-interface thread without waiting for
// them, because that thread joins the counting thread (a new pass, the close) and a box that
// waited for it would never be answered.
class CPostedMessagePort : public IMessagePort {
public:
    explicit CPostedMessagePort(CRunControl& control) : owner(control) {}
    void MessageBox(const std::string& text) override;

private:
    CRunControl& owner;
};

class CRunControl : public CRunContext {
public:
    CRunControl();
    // Stops the counting thread and joins both worker threads.
    virtual ~CRunControl();
    CRunControl(const CRunControl&) = delete;
    CRunControl& operator=(const CRunControl&) = delete;

    // The job. The user-interface thread changes it only while no run is active; the runner
    // reads it during a run and stamps the tasks' lastRun under lastRunMutex, which a window
    // holds while it reads lastRun during a run.
    TaskList tasks;
    std::string jobPath;
    mutable std::mutex lastRunMutex;
    // Set when the job file exists but could not be read to its end: saving the partial task
    // list after a run would lose the tasks that were not read.
    bool jobReadIncomplete = false;
    // strftime format of last-run times and of the times in log lines.
    std::string dateTimeFormat;

    // Start switches. stay and shutdown also change during a run (commands, the runner).
    bool show = false;
    bool runAll = false;
    bool ignoreErrors = false;
    bool dateLog = false;
    bool noBalloon = false;
    bool autoRun = false;
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
    // The run's HTML log; also the engine's log sink (CRunContext::log points here).
    CRunLog runLog{*this};
    // The error count of the last run that ended, whether it was stopped, and how many runs
    // ended.
    std::atomic<int> lastRunErrors{0};
    std::atomic<bool> lastRunStopped{false};
    std::atomic<int> runsEnded{0};
    // How many run threads have returned from RunJob (after every step of the run's end).
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

    // Called by the runner on the run thread.
    void StartRunIndicator();
    void StopRunIndicator();
    void StartCloseTimer();

    // Shell services, implemented by the controller over its shell port.
    virtual void StartTimer(int id, int periodMs, std::function<void()> onTick) = 0;
    virtual void StopTimer(int id) = 0;
    virtual void PostToUi(std::function<void()> work) = 0;
    // Throws std::system_error when no thread can be started.
    virtual std::thread StartThread(std::function<void()> body) = 0;
    virtual void OpenWithDesktop(const std::string& path) = 0;
    virtual IPowerPort& Power() = 0;
    // The controller's close handler (refuses while running).
    virtual void CloseHandler() = 0;
    // True when the program ends with an unattended run instead of through the close timer.
    virtual bool EndsWithRun() const = 0;

private:
    // Takes the job's lock and starts RunJob(task) on the run thread. False when another run of
    // the job holds the lock (said in a message box) or no thread could be started.
    bool StartRun(Task* task, bool preview = false);
    // Starts CountJob on the counting thread, over a copy of the tasks to count.
    void StartCount(Task* task);
    // Posted by the run thread when RunJob has returned.
    void RunThreadEnded();
    void KeepAwake();

    std::thread runThread;
    std::thread countThread;
    // Held from the start of a run until RunJob returns: taken on the user-interface thread,
    // released on the run thread, which the next start joins first.
    CJobLock jobLock;
    // The counting pass's own context: stopping it (Stop, close, a new pass) never touches the
    // run's flags, and it never reads the task list, which the window may edit meanwhile.
    CRunContext countContext;
    CPostedMessagePort countMessages{*this};
    std::atomic<bool> indicatorOn{false};
};

// The counting pass (thread routine): adds up the sources of the given tasks into sourceTotal
// and shows the total in megabytes.
void CountJob(CRunControl& frame, CRunContext& ctx, const std::vector<Task>& tasks);
