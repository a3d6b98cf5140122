// CMainFrame: the toolkit-free controller. It holds the program's shared state (the job, the run
// state of CRunControl, the start switches, the settings) and reaches the program around it only
// through its shell and power ports. Exactly one exists while the program runs.
#pragma once

#include <atomic>
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

class CMainFrame : public CRunControl {
public:
    // Registers the frame as the current one. The ports must outlive the frame; message boxes go
    // to the shell, the workers' window notifications to shell.Window().
    CMainFrame(IShellPort& shell, IPowerPort& power);
    // Stops a run still going and joins the worker threads before anything they use goes away.
    ~CMainFrame() override;

    IShellPort& shell;
    IPowerPort& power;
    // Where the core's message boxes go (CRunContext::messages points here): on to the shell.
    CCountingMessagePort reports{shell};
    // The window's task-list and job-file commands over the job (user-interface thread).
    CJobCommands jobs{
        {tasks, jobPath, lastRunMutex, jobReadIncomplete, running, stay, shutdown, sourceTotal}, shell, reports};

    // The main dialog has been made visible (user-interface thread only).
    bool dialogShown = false;
    // The job file named on the command line.
    std::string startJobFile;
    // Settings beside CRunControl's countAtStart and stayAwakeMethod and CRunContext's debug and
    // emptyGuard.
    bool compactView = false;
    int windowWidth = -1;
    int windowHeight = -1;
    bool useIniFile = false;
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
    // could be read, so that the first save creates it.
    void LoadStartJob();

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

    void LoadSettings();
    bool SaveSettings();

    // CRunControl's shell services, forwarded to the ports.
    void StartTimer(int id, int periodMs, std::function<void()> onTick) override;
    void StopTimer(int id) override;
    void PostToUi(std::function<void()> work) override;
    std::thread StartThread(std::function<void()> body) override;
    void OpenWithDesktop(const std::string& path) override;
    IPowerPort& Power() override;
    // Refuses while a run is active; otherwise saves a changed window size, hides and destroys
    // the dialog, deletes the tasks and ends the program.
    void CloseHandler() override;
    bool EndsWithRun() const override;
};

// The current controller; null before the first frame exists and after it is destroyed.
CMainFrame* CurrentFrame();

// The strftime format of last-run times from the locale's short date (the year as %y) and its
// 12- or 24-hour clock: "%m/%d/%y %H:%M" in the C locale.
std::string LocaleDateTimeFormat();
// The same from a locale's D_FMT and T_FMT texts.
std::string DateTimeFormatFrom(const std::string& dateFormat, const std::string& timeFormat);
