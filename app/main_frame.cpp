// The controller's construction, start-up state, job and settings wrappers and shell hooks.
#include "app/main_frame.h"

#include <chrono>

#include "platform/file_system.h"
#include "platform/locale_text.h"
#include "run/job_runner.h"
#include "util/texts.h"

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The lines of a command, to be shown in a box.
class CCollectedLines : public ILogSink {
public:
    void AddLogLine(const std::string& text, LogColour colour) override {
        lines.push_back(text);
        refused = refused || colour == LogColour::Red;
    }
    void FlushLog() override {}
    std::vector<std::string> lines;
    bool refused = false;
};

} // namespace

std::string DateTimeFormatFrom(const std::string& dateFormat, const std::string& timeFormat) {
    std::string format = dateFormat.empty() ? "%m/%d/%Y" : dateFormat;
    ReplaceAll(format, "%F", "%Y-%m-%d");
    ReplaceAll(format, "%D", "%m/%d/%Y");
    ReplaceAll(format, "%EY", "%Y");
    ReplaceAll(format, "%C%y", "%Y");
    ReplaceAll(format, "%y", "%Y");
    ReplaceAll(format, ":", ".");
    // Only the locale's choice of clock is used, never its own time pattern.
    const bool twelveHour = timeFormat.find("%I") != std::string::npos || timeFormat.find("%l") != std::string::npos ||
                            timeFormat.find("%r") != std::string::npos;
    return format + (twelveHour ? std::string(" ") + kHourOf12WithoutZero + ":%M %p" : " %H:%M");
}

std::string LocaleDateTimeFormat() {
    return DateTimeFormatFrom(LocaleDatePattern(), LocaleTimePattern());
}

CMainFrame::CMainFrame(IShellPort& shellPort, IPowerPort& powerPort, IFileSystem& fileSystem)
    : shell(shellPort), fs(fileSystem), job(fileSystem),
      run(shellPort, powerPort, &shellPort.Window(), job, fileSystem, reports),
      userSettingsPath(DefaultUserSettingsPath()) {
    run.ApplySettings(settings);
    run.SetNoticePort(&shell);
    run.SetCloseHandler([this] { CloseHandler(); });
}

CMainFrame::~CMainFrame() {
    // The workers use this object (the job, the close handler, the message port); they must be
    // gone before it is. A run abandoned ends within one file-system call, provided the shell
    // answers message boxes at once after its event loop has ended.
    run.Abandon();
    while (!run.EndWorkerThreads()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void CMainFrame::ApplyStartOptions(const StartOptions& startOptions) {
    options = startOptions;
    run.ApplyStartOptions(options);
}

void CMainFrame::ChangeSettings(const Settings& changed) {
    settings = changed;
    run.ApplySettings(settings);
}

void CMainFrame::SetWindowSize(int width, int height) {
    settings.windowWidth = width;
    settings.windowHeight = height;
}

void CMainFrame::KeepWindowSizeAsSaved() {
    savedWidth = settings.windowWidth;
    savedHeight = settings.windowHeight;
}

void CMainFrame::SetSettingsPlace(const std::string& iniDirectory, const std::string& userStorePath) {
    settingsDirectory = iniDirectory;
    userSettingsPath = userStorePath;
}

void CMainFrame::ResetForStart() {
    dialogShown = false;
    job.SetPath("");
    ChangeSettings(Settings{});
    run.SetDateTimeFormat(LocaleDateTimeFormat());
}

JobLoad CMainFrame::LoadStartJob() {
    if (options.startJobFile.empty()) {
        options.startJobFile = "default.job";
    }
    const JobLoad loaded = job.Load(options.startJobFile, reports);
    job.SetPath(options.startJobFile);
    return loaded;
}

bool CMainFrame::LoadSettings() {
    const bool usable = ::LoadSettings(settings, settingsDirectory, userSettingsPath, reports, fs);
    run.ApplySettings(settings);
    // The size as stored: a program that never resizes a window (-auto) then has nothing to save
    // at close, and leaves the store, its comments and its encoding as they are.
    KeepWindowSizeAsSaved();
    return usable;
}

bool CMainFrame::SaveSettings() {
    return ::SaveSettings(settings, settingsDirectory, userSettingsPath, reports, fs);
}

bool CMainFrame::StartUp() {
    ResetForStart();
    const JobLoad jobLoad = LoadStartJob();
    const std::string& jobPath = job.Path();
    if (options.autoRun && jobLoad == JobLoad::Missing) {
        // The loader passes over a missing file in silence, which suits a first start of the
        // window; an unattended run that finds no job has failed, and cron should say so.
        reports.MessageBox("Error reading " + jobPath + "\n\n" + jobPath + " was not found.");
    }
    const bool settingsRead = LoadSettings();
    if (options.autoRun && ((jobLoad != JobLoad::Read && jobLoad != JobLoad::Missing) || !settingsRead)) {
        // A job or settings file that is there but cannot be used (a fifo, a link where none is
        // followed): the run would go ahead with values nobody chose.
        return false;
    }
    shell.CreateDialog();
    if (options.autoRun) {
        options.runAll = true;
        options.stay = false;
        run.ApplyStartOptions(options);
        // Nobody sees the run log of an unattended run unless something went wrong: its Red lines
        // go where cron and the journal look.
        run.EchoRedLines([this](const std::string& text) { shell.RunErrorLine(text); });
        return run.StartUpRun(false);
    }
    if (!shell.CreateTrayIcon()) {
        return false;
    }
    IRunWindow& window = shell.Window();
    window.SetTrayIcon(iconIdle);
    window.SetProgressState(RunStats{}, 0.0);
    window.UpdateProgress();
    if (!options.runAll) {
        Show();
        return true;
    }
    if (options.show) {
        Show();
    }
    if (!run.StartUpRun(options.show) && !run.State().stay) {
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
    shell.OpenWithDesktop(run.RunLogPath());
}

int CMainFrame::ExitStatus() const {
    const RunState state = run.State();
    return state.lastRunErrors != 0 || state.lastRunStopped || reports.Shown() != 0 ? 1 : 0;
}

void CMainFrame::CloseHandler() {
    if (!run.EndWorkerThreads()) {
        return; // no closing during a run
    }
    if (settings.windowWidth != savedWidth || settings.windowHeight != savedHeight) {
        SaveSettings();
    }
    if (dialogShown) {
        dialogShown = false;
        shell.HideDialog();
    }
    job.Clear();
    shell.DestroyDialog();
    shell.EndProgram();
}

bool CMainFrame::UndoLastRunCommand(Task* task) {
    if (jobs.RefuseWhileRunning()) {
        return false;
    }
    CCollectedLines collected;
    CRunContext faked;
    faked.fs = &fs;
    faked.log = &collected;
    faked.messages = &reports;
    faked.driveLetter = options.driveLetter;
    RunStats stats;
    bool any = false;
    for (const auto& each : job.Tasks()) {
        if (task == nullptr ? UndoCovers(*each) : each.get() == task) {
            Task copy = *each;
            copy.fakeIt = true;
            UndoTaskRun(faked, copy, stats);
            any = true;
        }
    }
    const std::string title = "Undo last run";
    if (!any) {
        shell.AskAboutLines(title, {"No enabled task keeps versions: there is no run to undo."}, "");
        return false;
    }
    const int changes = stats.deleted + stats.newFiles;
    if (collected.refused || stats.errors != 0 || changes == 0) {
        shell.AskAboutLines(title, collected.lines, "");
        return false;
    }
    const std::string question = "Undo the last run: " + std::to_string(stats.deleted) +
                                 (stats.deleted == 1 ? " entry" : " entries") +
                                 " removed into a new versions folder, " + std::to_string(stats.newFiles) +
                                 (stats.newFiles == 1 ? " entry" : " entries") + " put back. Go ahead?";
    if (!shell.AskAboutLines(title, collected.lines, question)) {
        return false;
    }
    return run.UndoCommand(task);
}

bool CMainFrame::RestoreCommand(const Task& task, const std::string& relative, std::int64_t at, int sequence,
                                const std::string& into) {
    if (jobs.RefuseWhileRunning()) {
        return false;
    }
    // On the run thread, as a run: a large folder does not hold the window, and Stop ends it.
    for (const auto& each : job.Tasks()) {
        if (each.get() == &task) {
            return run.RestoreCommand(each.get(), RestoreOrder{relative, at, sequence, into});
        }
    }
    return false;
}
