// CMainFrame: the toolkit-free controller. It holds the program's shared state (the job, the start
// switches, the settings) and its run control, and reaches the program around it only through
// its shell and power ports. Exactly one exists while the program runs.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "app/command_line.h"
#include "app/job_commands.h"
#include "app/shell_port.h"
#include "model/settings.h"
#include "run/power_port.h"
#include "run/run_control.h"

// Counts the message boxes on their way to the shell: every box the core shows reports a failure
// (a job, settings, log or summary file), which the exit status of an unattended run reflects.
class CCountingMessagePort : public IMessagePort {
public:
    explicit CCountingMessagePort(IMessagePort& target) : inner(target) {}
    void MessageBox(const std::string& text) override {
        ++shown;
        inner.MessageBox(text);
    }
    int Shown() const { return shown; }

private:
    IMessagePort& inner;
    std::atomic<int> shown{0};
};

class CMainFrame {
public:
    // Registers the frame as the current one. The ports and the file system must outlive the
    // frame; message boxes go to the shell, the workers' run window is shell.Window(), and every
    // file of the program goes through fs.
    CMainFrame(IShellPort& shell, IPowerPort& power, IFileSystem& fs);
    // Stops a run still going and joins the worker threads before anything they use goes away.
    ~CMainFrame();
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    IShellPort& shell;
    IPowerPort& power;
    IFileSystem& fs;
    // Where the core's message boxes go (run.ctx.messages points here): on to the shell.
    CCountingMessagePort reports{shell};
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

    // The runs of the job: their state, commands, worker threads and timers, and the engine's
    // context with the flags the window sets (stop, pause, debug, emptyguard).
    CRunControl run;
    // The window's task-list and job-file commands over the job (user-interface thread).
    CJobCommands jobs{
        {tasks, jobPath, lastRunMutex, jobReadIncomplete, run.running, run.stay, run.shutdown, run.sourceTotal},
        shell,
        reports,
        fs};

    // Start switches that run control does not read.
    bool show = false;
    bool autoRun = false;

    // The main dialog has been made visible (user-interface thread only).
    bool dialogShown = false;
    // The job file named on the command line.
    std::string startJobFile;
    // Settings beside run control's countAtStart and stayAwakeMethod and the context's debug
    // and emptyGuard.
    bool compactView = false;
    int windowWidth = -1;
    int windowHeight = -1;
    bool useIniFile = false;
    // The threads setting as stored (0: one per core); the context holds the count a run uses.
    int threads = 0;
    // The size as loaded, then as the dialog took it at start-up; the close handler saves the
    // settings only when the size differs.
    int savedWidth = -1;
    int savedHeight = -1;
    // Where the settings live: "pemo.ini" in settingsDirectory (empty: the current directory),
    // else the per-user file. Tests point both into a temporary directory.
    std::string settingsDirectory;
    std::string userSettingsPath;

    // The start switches, the drive letter and the job file name of the command line.
    void ApplyStartOptions(const StartOptions& options);
    // The reset of the window's creation: run state, settings to defaults, dateTimeFormat from
    // the locale.
    void ResetForStart();
    // Loads startJobFile ("default.job" when empty) and makes it the jobPath whether or not it
    // could be read, so that the first save creates it. False when it was not read.
    bool LoadStartJob();

    // The frame's creation, on the user-interface thread: the reset, the date format, the job,
    // the settings and the hidden dialog; then either the unattended run at once (-auto: no
    // tray icon) or the tray icon, the zeroed progress display and the dialog or the -runall
    // run. False when the program cannot start (no tray icon; no thread for the -auto run).
    bool StartUp();
    // Tray "Show Pemo": shows the dialog unless it is shown already.
    void Show();
    // The Exit button and File > Exit: stay on, shutdown off, stop requested, then the close
    // handler (which does nothing while the run is still ending).
    void ExitCommand();
    // A click on the end-of-run balloon: the run's log opened with the desktop.
    void OpenRunLog();
    // The process exit status: 1 when the last run counted errors or was stopped, or any failure
    // was reported in a message box, else 0.
    int ExitStatus() const;

    // False when pemo.ini is there but refused (reported); the per-user store is used then.
    bool LoadSettings();
    bool SaveSettings();

    // Refuses while a run is active; otherwise saves a changed window size, hides and destroys
    // the dialog, deletes the tasks and ends the program.
    void CloseHandler();
};

// The current controller; null before the first frame exists and after it is destroyed.
CMainFrame* CurrentFrame();

// The strftime format of last-run times from the locale's short date (the year as %y) and its
// 12- or 24-hour clock: "%m/%d/%y %H:%M" in the C locale.
std::string LocaleDateTimeFormat();
// The same from a locale's D_FMT and T_FMT texts.
std::string DateTimeFormatFrom(const std::string& dateFormat, const std::string& timeFormat);
