// CMainFrame: the toolkit-free controller. It owns the program's state (the job, the start
// options, the settings) and its run control, and reaches the program around it only through
// its shell and power ports.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "app/command_line.h"
#include "app/job_commands.h"
#include "app/shell_port.h"
#include "model/job.h"
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
    // The ports and the file system must outlive the frame; message boxes go to the shell, the
    // workers' run window is shell.Window(), and every file of the program goes through fs.
    CMainFrame(IShellPort& shell, IPowerPort& power, IFileSystem& fs);
    // Stops a run still going and joins the worker threads before anything they use goes away.
    ~CMainFrame();
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    IShellPort& Shell() const { return shell; }
    // The file system every file of the program goes through.
    IFileSystem& FileSystem() const { return fs; }
    // The job. The user-interface thread changes it only while no run is active.
    CJob& Job() { return job; }
    const CJob& Job() const { return job; }
    // The runs of the job: their state, commands, worker threads and timers.
    CRunControl& Run() { return run; }
    const CRunControl& Run() const { return run; }
    // The window's task-list and job-file commands over the job (user-interface thread).
    CJobCommands& Jobs() { return jobs; }
    // Where the core's message boxes go: on to the shell, counted.
    const CCountingMessagePort& Reports() const { return reports; }

    const StartOptions& GetStartOptions() const { return options; }
    const Settings& GetSettings() const { return settings; }
    // The options dialog's choice: kept, and handed to run control (a run under way sees the
    // change). Not saved.
    void ChangeSettings(const Settings& changed);
    // The window's size as the user leaves it; the close handler saves the settings when it
    // differs from the size at start.
    void SetWindowSize(int width, int height);
    // The dialog has taken the stored size at start-up: that is now the size to compare with.
    void KeepWindowSizeAsSaved();
    // Where the settings live: "pemo.ini" in iniDirectory (empty: the current directory), else
    // the per-user file at userStorePath. Tests point both into a temporary directory.
    void SetSettingsPlace(const std::string& iniDirectory, const std::string& userStorePath);
    // The main dialog has been made visible (user-interface thread only).
    bool DialogShown() const { return dialogShown; }
    // strftime format of last-run times and of the times in log lines.
    const std::string& DateTimeFormat() const { return run.DateTimeFormat(); }

    // The start switches, the drive letter and the job file name of the command line.
    void ApplyStartOptions(const StartOptions& startOptions);
    // The reset of the window's creation: the dialog hidden, no job path, settings to
    // defaults, the date format from the locale.
    void ResetForStart();
    // Loads the start job file ("default.job" when none is named) and makes it the job's path
    // whether or not it could be read, so that the first save creates it.
    JobLoad LoadStartJob();

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

    // Undo last run, for the task or (null) every task UndoCovers: what the undo would do is
    // worked out without changing anything and shown with a question; on Yes the undo runs on the
    // run thread as a run does. A task that would be refused, or nothing to undo, is shown without
    // a question. Refused while a run is active. True when the undo was started.
    bool UndoLastRunCommand(Task* task);

    // Restore in the versions browser: the entry at relative ('/' between levels) of the task's
    // destination as it was at a run folder's time `at` and sequence (its _N), into the
    // destination or (into not empty) into that folder, on the run thread with its lines in the
    // log pane. Refused while a run is active or another holds the job. True when it started.
    bool RestoreCommand(const Task& task, const std::string& relative, std::int64_t at, int sequence,
                        const std::string& into);

    // False when pemo.ini is there but refused (reported); the per-user store is used then.
    bool LoadSettings();
    bool SaveSettings();

    // Refuses while a run is active; otherwise saves a changed window size, hides and destroys
    // the dialog, deletes the tasks and ends the program.
    void CloseHandler();

private:
    IShellPort& shell;
    IFileSystem& fs;
    CCountingMessagePort reports{shell};
    CJob job;
    StartOptions options;
    Settings settings;
    CRunControl run;
    CJobCommands jobs{job, run, shell, reports};
    bool dialogShown = false;
    // The size as loaded, then as the dialog took it at start-up.
    int savedWidth = -1;
    int savedHeight = -1;
    std::string settingsDirectory;
    std::string userSettingsPath;
};

// The strftime format of last-run times from the locale's short date (the year always with four
// digits) and its 12- or 24-hour clock: "%m/%d/%Y %H:%M" in the C locale.
std::string LocaleDateTimeFormat();
// The same from a locale's D_FMT and T_FMT texts.
std::string DateTimeFormatFrom(const std::string& dateFormat, const std::string& timeFormat);
