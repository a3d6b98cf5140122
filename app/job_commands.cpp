// The task-list and job-file commands, their run guard, and the task sort.
#include "app/job_commands.h"

#include "app/window_title.h"
#include "model/stdio_file_ex.h"
#include "platform/file_system.h"

namespace {

// Keeps message boxes back until the caller has released its locks.
class CDeferredMessages : public IMessagePort {
public:
    void MessageBox(const std::string& text) override { texts.push_back(text); }
    void ShowOn(IMessagePort& port) const {
        for (const auto& text : texts) {
            port.MessageBox(text);
        }
    }

private:
    std::vector<std::string> texts;
};

std::u16string SortKey(const std::string& name) {
    const std::string bytes = Utf8ToUtf16Le(name);
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return units;
}

} // namespace

bool JobFileMissing(const std::string& path, IFileSystem& fs) {
    FileStatus st;
    const FsError error = fs.Status(path, true, st);
    return error.Is(ErrorKind::NotFound) || error.Is(ErrorKind::NotADirectory);
}

void SortTasksByName(TaskList& tasks) {
    std::vector<std::u16string> keys;
    for (const auto& task : tasks) {
        keys.push_back(SortKey(task->name));
    }
    bool swapped = true;
    while (swapped) {
        swapped = false;
        for (std::size_t i = 0; i + 1 < tasks.size(); ++i) {
            if (keys[i + 1] < keys[i]) {
                std::swap(tasks[i], tasks[i + 1]);
                std::swap(keys[i], keys[i + 1]);
                swapped = true;
            }
        }
    }
}

std::string TrimPath(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

CJobCommands::CJobCommands(JobCommandState jobState, IMessagePort& noticePort, IMessagePort& reportPort,
                           IFileSystem& fileSystem)
    : state(jobState), notices(noticePort), reports(reportPort), fs(fileSystem) {}

bool CJobCommands::RefuseWhileRunning() {
    if (!state.running) {
        return false;
    }
    // Not a failure of anything, so not one of the counted reports.
    notices.MessageBox("A job is running. Wait until it has ended or stop it first.");
    return true;
}

bool CJobCommands::LoadJob(const std::string& path) {
    const bool loaded = ::LoadJob(path, state.tasks, state.jobPath, reports, fs);
    state.jobReadIncomplete = !loaded && !JobFileMissing(path, fs);
    return loaded;
}

bool CJobCommands::SaveJob(const std::string& path) {
    // The last-run stamps are read under their lock, but a failure is shown only after it is
    // released: a box waits for the user-interface thread, which may want the lock to paint.
    CDeferredMessages deferred;
    bool saved = false;
    {
        std::lock_guard lock(state.lastRunMutex);
        saved = ::SaveJob(path, state.tasks, state.jobPath, deferred, fs);
    }
    deferred.ShowOn(reports);
    if (saved) {
        state.jobReadIncomplete = false;
    }
    return saved;
}

bool CJobCommands::OpenJob(const std::string& path) {
    if (RefuseWhileRunning()) {
        return false;
    }
    TaskList loaded;
    std::string loadedPath = state.jobPath;
    if (!::LoadJob(path, loaded, loadedPath, reports, fs)) {
        if (JobFileMissing(path, fs)) {
            reports.MessageBox("Error reading " + path + "\n\n" + path + " was not found.");
        }
        return false;
    }
    {
        std::lock_guard lock(state.lastRunMutex);
        state.tasks = std::move(loaded);
    }
    state.jobPath = loadedPath;
    state.jobReadIncomplete = false;
    ForgetCounts();
    return true;
}

bool CJobCommands::SaveCurrentJob() {
    if (state.jobReadIncomplete) {
        reports.MessageBox("Not saving " + state.jobPath +
                           "\n\nThe job file could not be read completely; saving it now would lose the tasks "
                           "that were not read.");
        return false;
    }
    return SaveJob(state.jobPath);
}

bool CJobCommands::AddTask(const Task& task) {
    if (RefuseWhileRunning()) {
        return false;
    }
    state.tasks.push_back(std::make_unique<Task>(task));
    return true;
}

bool CJobCommands::ReplaceTask(std::size_t index, const Task& task) {
    if (RefuseWhileRunning() || index >= state.tasks.size()) {
        return false;
    }
    Task& target = *state.tasks[index];
    const std::int32_t lastRun = target.lastRun;
    target = task;
    target.lastRun = lastRun;
    return true;
}

bool CJobCommands::DuplicateTask(std::size_t index) {
    if (RefuseWhileRunning() || index >= state.tasks.size()) {
        return false;
    }
    state.tasks.push_back(std::make_unique<Task>(*state.tasks[index]));
    return true;
}

bool CJobCommands::DeleteTask(std::size_t index) {
    if (RefuseWhileRunning() || index >= state.tasks.size()) {
        return false;
    }
    state.tasks.erase(state.tasks.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool CJobCommands::MoveTask(std::size_t index, bool up) {
    if (RefuseWhileRunning() || index >= state.tasks.size() || (up && index == 0) ||
        (!up && index + 1 >= state.tasks.size())) {
        return false;
    }
    std::swap(*state.tasks[index], *state.tasks[up ? index - 1 : index + 1]);
    return true;
}

bool CJobCommands::ToggleTaskEnabled(std::size_t index) {
    if (RefuseWhileRunning() || index >= state.tasks.size()) {
        return false;
    }
    state.tasks[index]->enabled = !state.tasks[index]->enabled;
    return true;
}

bool CJobCommands::SetAllTasksEnabled(bool enabled) {
    if (RefuseWhileRunning()) {
        return false;
    }
    for (auto& task : state.tasks) {
        task->enabled = enabled;
    }
    return true;
}

void CJobCommands::KeepOpen() {
    state.stay = true;
    state.shutdown = false;
}

bool CJobCommands::DeferRedraw() {
    if (saving) {
        redrawAfterSave = true;
    }
    return saving;
}

void CJobCommands::Show() {
    if (view) {
        view->ShowTasks();
    }
}

void CJobCommands::Select(int index, bool focus) {
    if (view) {
        view->SelectTask(index, focus);
    }
}

void CJobCommands::ForgetCounts() {
    state.sourceTotal.Set(CLargeNumber());
}

bool CJobCommands::SaveTo(const std::string& path) {
    saving = true;
    const bool saved = SaveJob(path);
    saving = false;
    if (redrawAfterSave) {
        redrawAfterSave = false;
        Show();
    }
    return saved;
}

void CJobCommands::SaveCurrent() {
    saving = true;
    SaveCurrentJob();
    saving = false;
    if (redrawAfterSave) {
        redrawAfterSave = false;
        Show();
    }
}

void CJobCommands::NewTaskCommand() {
    KeepOpen();
    if (RefuseWhileRunning() || !view) {
        return;
    }
    Task task;
    task.enabled = true;
    task.recurse = true;
    task.colour = 0xFFFFFF;
    // The editor is modal, but the tray can start a run meanwhile: AddTask checks again.
    if (!view->EditTaskValues(task)) {
        return;
    }
    task.lastRun = -1;
    task.source = TrimPath(task.source);
    task.destination = TrimPath(task.destination);
    if (!AddTask(task)) {
        return;
    }
    Show();
    ForgetCounts();
    SaveCurrent();
}

void CJobCommands::EditTaskCommand(int index) {
    if (!Valid(index) || RefuseWhileRunning() || !view) {
        return;
    }
    Task task = *state.tasks[static_cast<std::size_t>(index)];
    if (!view->EditTaskValues(task)) {
        return;
    }
    task.source = TrimPath(task.source);
    task.destination = TrimPath(task.destination);
    if (!ReplaceTask(static_cast<std::size_t>(index), task)) {
        return;
    }
    Show();
    Select(index, false);
    ForgetCounts();
    SaveCurrent();
}

void CJobCommands::DuplicateTaskCommand(int index) {
    if (!Valid(index) || !DuplicateTask(static_cast<std::size_t>(index))) {
        return;
    }
    Show();
    ForgetCounts();
    SaveCurrent();
}

void CJobCommands::DeleteTaskCommand(int index) {
    if (!Valid(index)) {
        return;
    }
    KeepOpen();
    if (!DeleteTask(static_cast<std::size_t>(index))) {
        return;
    }
    Show();
    const int count = static_cast<int>(state.tasks.size());
    if (count > 0) {
        Select(index < count ? index : count - 1, false);
    }
    ForgetCounts();
    SaveCurrent();
}

void CJobCommands::MoveTaskCommand(int index, bool up) {
    KeepOpen();
    const int count = static_cast<int>(state.tasks.size());
    if (index < 0 || count < 2 || (up && index == 0) || (!up && index >= count - 1)) {
        return;
    }
    if (!MoveTask(static_cast<std::size_t>(index), up)) {
        return;
    }
    Show();
    Select(up ? index - 1 : index + 1, true);
    SaveCurrent();
}

void CJobCommands::ToggleEnabledCommand(int index) {
    if (!Valid(index) || !ToggleTaskEnabled(static_cast<std::size_t>(index))) {
        return;
    }
    Show();
    Select(index, false);
    ForgetCounts();
    SaveCurrent();
}

void CJobCommands::SetAllEnabledCommand(bool enabled) {
    if (!SetAllTasksEnabled(enabled)) {
        return;
    }
    Show();
    ForgetCounts();
    SaveCurrent();
}

void CJobCommands::SortCommand() {
    // The runner reads the tasks without a lock, so their order stays while a run is active.
    if (RefuseWhileRunning()) {
        return;
    }
    SortTasksByName(state.tasks);
    Show();
    SaveCurrent();
}

void CJobCommands::NewJobCommand() {
    if (RefuseWhileRunning() || !view) {
        return;
    }
    std::string chosen;
    // A run may have started while the file dialog was open.
    if (!view->ChooseJobFile(true, "new", chosen) || RefuseWhileRunning()) {
        return;
    }
    if (!SaveTo(WithJobExtension(chosen))) {
        return;
    }
    state.tasks.clear();
    Show();
    ForgetCounts();
    SaveCurrent();
}

void CJobCommands::OpenJobCommand() {
    if (RefuseWhileRunning() || !view) {
        return;
    }
    std::string chosen;
    // OpenJob refuses a run that started while the file dialog was open.
    if (!view->ChooseJobFile(false, state.jobPath, chosen) || !OpenJob(chosen)) {
        return;
    }
    Show();
}

void CJobCommands::SaveJobAsCommand() {
    std::string chosen;
    if (!view || !view->ChooseJobFile(true, state.jobPath, chosen)) {
        return;
    }
    chosen = WithJobExtension(chosen);
    if (SaveTo(chosen) && view) {
        view->ShowTitle(TitleForJobPath(chosen));
    }
}

void CJobCommands::DropCommand(const std::vector<std::string>& files) {
    if (files.size() != 1 || !HasJobExtension(files.front()) || !OpenJob(files.front())) {
        return;
    }
    Show();
}
