// The task-list and job-file commands, their run guard, and the task sort.
#include "app/job_commands.h"

#include "app/window_title.h"
#include "model/stdio_file_ex.h"

namespace {

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

CJobCommands::CJobCommands(CJob& theJob, IJobRuns& jobRuns, IMessagePort& noticePort, IMessagePort& reportPort)
    : job(theJob), runs(jobRuns), notices(noticePort), reports(reportPort) {}

bool CJobCommands::RefuseWhileRunning() {
    if (!runs.RunActive()) {
        return false;
    }
    // Not a failure of anything, so not one of the counted reports.
    notices.MessageBox("A job is running. Wait until it has ended or stop it first.");
    return true;
}

bool CJobCommands::LoadJob(const std::string& path) {
    return job.Load(path, reports) == JobLoad::Read;
}

bool CJobCommands::SaveJob(const std::string& path) {
    return job.Save(path, reports);
}

bool CJobCommands::OpenJob(const std::string& path) {
    if (RefuseWhileRunning()) {
        return false;
    }
    const JobLoad loaded = job.Open(path, reports);
    if (loaded == JobLoad::Missing) {
        reports.MessageBox("Error reading " + path + "\n\n" + path + " was not found.");
    }
    if (loaded != JobLoad::Read) {
        return false;
    }
    runs.ForgetSourceTotal();
    return true;
}

bool CJobCommands::SaveCurrentJob() {
    return job.SaveInPlace(reports);
}

bool CJobCommands::AddTask(const Task& task) {
    if (RefuseWhileRunning()) {
        return false;
    }
    job.Tasks().push_back(std::make_unique<Task>(task));
    return true;
}

bool CJobCommands::ReplaceTask(std::size_t index, const Task& task) {
    if (RefuseWhileRunning() || index >= job.Tasks().size()) {
        return false;
    }
    Task& target = *job.Tasks()[index];
    const std::int32_t lastRun = target.lastRun;
    target = task;
    target.lastRun = lastRun;
    return true;
}

bool CJobCommands::DuplicateTask(std::size_t index) {
    if (RefuseWhileRunning() || index >= job.Tasks().size()) {
        return false;
    }
    job.Tasks().push_back(std::make_unique<Task>(*job.Tasks()[index]));
    return true;
}

bool CJobCommands::DeleteTask(std::size_t index) {
    if (RefuseWhileRunning() || index >= job.Tasks().size()) {
        return false;
    }
    job.Tasks().erase(job.Tasks().begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool CJobCommands::MoveTask(std::size_t index, bool up) {
    if (RefuseWhileRunning() || index >= job.Tasks().size() || (up && index == 0) ||
        (!up && index + 1 >= job.Tasks().size())) {
        return false;
    }
    std::swap(*job.Tasks()[index], *job.Tasks()[up ? index - 1 : index + 1]);
    return true;
}

bool CJobCommands::ToggleTaskEnabled(std::size_t index) {
    if (RefuseWhileRunning() || index >= job.Tasks().size()) {
        return false;
    }
    job.Tasks()[index]->enabled = !job.Tasks()[index]->enabled;
    return true;
}

bool CJobCommands::SetAllTasksEnabled(bool enabled) {
    if (RefuseWhileRunning()) {
        return false;
    }
    for (auto& task : job.Tasks()) {
        task->enabled = enabled;
    }
    return true;
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
    task.versionDays = kDefaultVersionDays;
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
    runs.ForgetSourceTotal();
    SaveCurrent();
}

void CJobCommands::EditTaskCommand(int index) {
    if (!Valid(index) || RefuseWhileRunning() || !view) {
        return;
    }
    Task task = *job.Tasks()[static_cast<std::size_t>(index)];
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
    runs.ForgetSourceTotal();
    SaveCurrent();
}

void CJobCommands::DuplicateTaskCommand(int index) {
    if (!Valid(index) || !DuplicateTask(static_cast<std::size_t>(index))) {
        return;
    }
    Show();
    runs.ForgetSourceTotal();
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
    const int count = static_cast<int>(job.Tasks().size());
    if (count > 0) {
        Select(index < count ? index : count - 1, false);
    }
    runs.ForgetSourceTotal();
    SaveCurrent();
}

void CJobCommands::MoveTaskCommand(int index, bool up) {
    KeepOpen();
    const int count = static_cast<int>(job.Tasks().size());
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
    runs.ForgetSourceTotal();
    SaveCurrent();
}

void CJobCommands::SetAllEnabledCommand(bool enabled) {
    if (!SetAllTasksEnabled(enabled)) {
        return;
    }
    Show();
    runs.ForgetSourceTotal();
    SaveCurrent();
}

void CJobCommands::SortCommand() {
    // The runner reads the tasks without a lock, so their order stays while a run is active.
    if (RefuseWhileRunning()) {
        return;
    }
    SortTasksByName(job.Tasks());
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
    job.Tasks().clear();
    Show();
    runs.ForgetSourceTotal();
    SaveCurrent();
}

void CJobCommands::OpenJobCommand() {
    if (RefuseWhileRunning() || !view) {
        return;
    }
    std::string chosen;
    // OpenJob refuses a run that started while the file dialog was open.
    if (!view->ChooseJobFile(false, job.Path(), chosen) || !OpenJob(chosen)) {
        return;
    }
    Show();
}

void CJobCommands::SaveJobAsCommand() {
    std::string chosen;
    if (!view || !view->ChooseJobFile(true, job.Path(), chosen)) {
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
