// CJobCommands: the task-list and job-file commands of the window without its widgets (New,
// Edit, Duplicate, Delete, Move, Sort, Enable all, New/Open/Save job, a dropped job), and the one
// "not during a run" guard they share. The window binds its buttons, menus and keys to these and
// shows what they change through IJobView.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/job.h"
#include "model/message_port.h"
#include "model/task.h"
#include "run/job_runs.h"

// What the commands need from the window, on the user-interface thread.
class IJobView {
public:
    virtual ~IJobView() = default;
    // The modal task editor over task; false when the user cancelled.
    virtual bool EditTaskValues(Task& task) = 0;
    // The modal job-file chooser (save or open), starting at initial; false when cancelled.
    virtual bool ChooseJobFile(bool save, const std::string& initial, std::string& chosen) = 0;
    // Redraws the task list, its counts and the title from the job.
    virtual void ShowTasks() = 0;
    virtual void SelectTask(int index, bool focus) = 0;
    virtual void ShowTitle(const std::string& title) = 0;
};

// Tasks in name order as the sort command leaves them: repeated passes of adjacent swaps by
// UTF-16 code units (upper case before lower case), equal names keeping their order.
void SortTasksByName(TaskList& tasks);
// Leading and trailing blanks, tabs and line breaks cut from a path typed in the editor.
std::string TrimPath(const std::string& text);

class CJobCommands {
public:
    // notices: boxes that report no failure (the run guard); reports: counted failure boxes.
    // Each outlives the commands.
    CJobCommands(CJob& job, IJobRuns& runs, IMessagePort& notices, IMessagePort& reports);

    // The window that shows the job; null (the headless program, tests) shows nothing.
    void AttachView(IJobView* jobView) { view = jobView; }

    // While a run is active every command is refused with a box: the runner walks `tasks`
    // without a lock, and a click queued before the buttons were disabled can still arrive.
    bool RefuseWhileRunning();

    // The job file. LoadJob also records in the job whether an existing file could not be read
    // to its end. OpenJob replaces the job only when the file was read to its end;
    // otherwise (missing or unreadable, reported) the job stays as it was, so that no later save
    // can write a partial list over either file. SaveCurrentJob writes nothing while the job on
    // disk was read incompletely, since the tasks not read would be lost.
    bool LoadJob(const std::string& path);
    bool SaveJob(const std::string& path);
    bool OpenJob(const std::string& path);
    bool SaveCurrentJob();

    // Changes of `tasks` alone; refused during a run (with a box) and for a bad index (silently).
    bool AddTask(const Task& task);
    // Replaces the task's fields, keeping its lastRun.
    bool ReplaceTask(std::size_t index, const Task& task);
    bool DuplicateTask(std::size_t index);
    bool DeleteTask(std::size_t index);
    bool MoveTask(std::size_t index, bool up);
    bool ToggleTaskEnabled(std::size_t index);
    bool SetAllTasksEnabled(bool enabled);

    // The window's commands: change, show, forget the counted total where the sources changed,
    // and save the job at once. index is the list's selection (-1: none).
    void NewTaskCommand();
    void EditTaskCommand(int index);
    void DuplicateTaskCommand(int index);
    void DeleteTaskCommand(int index);
    void MoveTaskCommand(int index, bool up);
    void ToggleEnabledCommand(int index);
    void SetAllEnabledCommand(bool enabled);
    void SortCommand();
    void NewJobCommand();
    void OpenJobCommand();
    void SaveJobAsCommand();
    // Files dropped on the window: one job file opens; anything else is ignored.
    void DropCommand(const std::vector<std::string>& files);

    // The user is at the window: the program stays open after the run and does not shut down.
    void KeepOpen() { runs.KeepOpen(); }
    // True while a save is under way: a failed save shows its box with the job lock held, and a
    // redraw arriving in that box's event loop must wait until the save has returned. The
    // redraw then follows the save.
    bool DeferRedraw();

private:
    bool Valid(int index) const { return index >= 0 && static_cast<std::size_t>(index) < job.Tasks().size(); }
    void Show();
    void Select(int index, bool focus);
    bool SaveTo(const std::string& path);
    void SaveCurrent();

    CJob& job;
    IJobRuns& runs;
    IMessagePort& notices;
    IMessagePort& reports;
    IJobView* view = nullptr;
    bool saving = false;
    bool redrawAfterSave = false;
};
