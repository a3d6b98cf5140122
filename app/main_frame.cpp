// The controller's construction, start-up state, job and settings wrappers and shell hooks.
#include "app/main_frame.h"

#include <atomic>
#include <chrono>

#include "platform/file_system.h"
#include "platform/locale_text.h"
#include "sync/worker_pool.h"

namespace {

std::atomic<CMainFrame*> currentFrame{nullptr};

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

} // namespace

CMainFrame* CurrentFrame() {
    return currentFrame.load();
}

std::string DateTimeFormatFrom(const std::string& dateFormat, const std::string& timeFormat) {
    std::string format = dateFormat.empty() ? "%m/%d/%y" : dateFormat;
    ReplaceAll(format, "%F", "%Y-%m-%d");
    ReplaceAll(format, "%D", "%m/%d/%y");
    ReplaceAll(format, "%EY", "%Y");
    ReplaceAll(format, "%C%y", "%y");
    ReplaceAll(format, "%Y", "%y");
    ReplaceAll(format, ":", ".");
    // Only the locale's choice of clock is used, never its own time pattern.
    const bool twelveHour = timeFormat.find("%I") != std::string::npos || timeFormat.find("%l") != std::string::npos ||
                            timeFormat.find("%r") != std::string::npos;
    return format + (twelveHour ? " %-I:%M %p" : " %H:%M");
}

std::string LocaleDateTimeFormat() {
    return DateTimeFormatFrom(LocaleDatePattern(), LocaleTimePattern());
}

CMainFrame::CMainFrame(IShellPort& shellPort, IPowerPort& powerPort, IFileSystem& fileSystem)
    : shell(shellPort), power(powerPort), fs(fileSystem),
      run(shellPort, powerPort, fileSystem, &shellPort.Window(),
          JobRef{tasks, jobPath, lastRunMutex, jobReadIncomplete, dateTimeFormat}),
      userSettingsPath(DefaultUserSettingsPath()) {
    run.ctx.messages = &reports;
    run.ctx.driveLetter.clear();
    run.stayAwakeMethod = 1;
    run.ctx.debug = false;
    run.onClose = [this] { CloseHandler(); };
    currentFrame = this;
}

CMainFrame::~CMainFrame() {
    // The workers use this object (the job, the close handler, the message port); they must be
    // gone before it is. With the stop requested and the pause lifted, a run ends within one
    // file-system call (a copy under way is cancelled), provided the shell answers message boxes
    // at once after its event loop has ended.
    run.ctx.stopRequested = 1;
    run.ctx.paused = false;
    while (!run.EndWorkerThreads()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CMainFrame* self = this;
    currentFrame.compare_exchange_strong(self, nullptr);
}

void CMainFrame::ApplyStartOptions(const StartOptions& o) {
    show = o.show;
    run.runAll = o.runAll;
    run.stay = o.stay;
    run.shutdown = o.shutdown;
    run.ignoreErrors = o.ignoreErrors;
    run.dateLog = o.dateLog;
    run.ctx.logExclusions = o.logExclusions;
    run.noBalloon = o.noBalloon;
    autoRun = o.autoRun;
    run.showDetLog = o.showDetLog;
    run.fakeIt = o.fakeIt;
    run.ctx.driveLetter = o.driveLetter;
    run.ctx.maxDelete = o.maxDelete;
    startJobFile = o.startJobFile;
}

void CMainFrame::ResetForStart() {
    dialogShown = false;
    jobPath.clear();
    run.running = false;
    run.ctx.stopRequested = 0;
    run.animationPhase = 0;
    run.keyPressCounter = 0;
    run.ctx.paused = false;
    run.ctx.lastPercent = 0;
    compactView = false;
    run.countAtStart = false;
    windowWidth = -1;
    windowHeight = -1;
    run.ctx.emptyGuard = true;
    threads = 0;
    run.ctx.threads = ThreadCountOf(threads);
    run.sourceTotal.Set(CLargeNumber());
    run.countingDone = false;
    dateTimeFormat = LocaleDateTimeFormat();
}

bool CMainFrame::LoadStartJob() {
    if (startJobFile.empty()) {
        startJobFile = "default.job";
    }
    const bool loaded = jobs.LoadJob(startJobFile);
    jobPath = startJobFile;
    return loaded;
}

bool CMainFrame::LoadSettings() {
    Settings s{compactView,   run.countAtStart,   windowWidth, windowHeight, run.stayAwakeMethod,
               run.ctx.debug, run.ctx.emptyGuard, useIniFile,  threads};
    const bool usable = ::LoadSettings(s, settingsDirectory, userSettingsPath, reports, fs);
    compactView = s.compactView;
    run.countAtStart = s.countAtStart;
    windowWidth = s.windowWidth;
    windowHeight = s.windowHeight;
    run.stayAwakeMethod = s.stayAwakeMethod;
    run.ctx.debug = s.debug;
    run.ctx.emptyGuard = s.emptyGuard;
    useIniFile = s.useIniFile;
    threads = s.threads;
    run.ctx.threads = ThreadCountOf(threads);
    // The size as stored: a program that never resizes a window (-auto) then has nothing to save
    // at close, and leaves the store, its comments and its encoding as they are.
    savedWidth = windowWidth;
    savedHeight = windowHeight;
    return usable;
}

bool CMainFrame::SaveSettings() {
    const Settings s{compactView,   run.countAtStart,   windowWidth, windowHeight, run.stayAwakeMethod,
                     run.ctx.debug, run.ctx.emptyGuard, useIniFile,  threads};
    return ::SaveSettings(s, settingsDirectory, userSettingsPath, reports, fs);
}

bool CMainFrame::StartUp() {
    ResetForStart();
    const bool jobRead = LoadStartJob();
    const bool jobMissing = JobFileMissing(jobPath, fs);
    if (autoRun && jobMissing) {
        // The loader passes over a missing file in silence, which suits a first start of the
        // window; an unattended run that finds no job has failed, and cron should say so.
        reports.MessageBox("Error reading " + jobPath + "\n\n" + jobPath + " was not found.");
    }
    const bool settingsRead = LoadSettings();
    if (autoRun && ((!jobRead && !jobMissing) || !settingsRead)) {
        // A job or settings file that is there but cannot be used (a fifo, a link where none is
        // followed): the run would go ahead with values nobody chose.
        return false;
    }
    shell.CreateDialog();
    if (autoRun) {
        run.runAll = true;
        run.stay = false;
        // Nobody sees the run log of an unattended run unless something went wrong: its Red lines
        // go where cron and the journal look.
        run.runLog.EchoRedLines([this](const std::string& text) { shell.RunErrorLine(text); });
        return run.StartUpRun(false);
    }
    if (!shell.CreateTrayIcon()) {
        return false;
    }
    IRunWindow& window = shell.Window();
    window.SetTrayIcon(iconIdle);
    window.SetProgressState(RunStats{}, 0.0);
    window.UpdateProgress();
    if (!run.runAll) {
        Show();
        return true;
    }
    if (show) {
        Show();
    }
    if (!run.StartUpRun(show) && !run.stay) {
        // The run was refused (another run of the job holds it): a hidden program that would have
        // closed after it must not linger in the tray for ever.
        run.StartCloseTimer();
    }
    return true;
}

void CMainFrame::Show() {
    if (!dialogShown) {
        dialogShown = true;
        shell.ShowDialog();
    }
}

void CMainFrame::ExitCommand() {
    run.StopCommand();
    CloseHandler();
}

void CMainFrame::OpenRunLog() {
    shell.OpenWithDesktop(run.runLog.RunLogPath());
}

int CMainFrame::ExitStatus() const {
    return run.lastRunErrors != 0 || run.lastRunStopped || reports.Shown() != 0 ? 1 : 0;
}

void CMainFrame::CloseHandler() {
    if (!run.EndWorkerThreads()) {
        return; // no closing during a run
    }
    if (windowWidth != savedWidth || windowHeight != savedHeight) {
        SaveSettings();
    }
    if (dialogShown) {
        dialogShown = false;
        shell.HideDialog();
    }
    {
        std::lock_guard lock(lastRunMutex);
        tasks.clear();
    }
    shell.DestroyDialog();
    shell.EndProgram();
}
