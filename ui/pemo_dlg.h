// CPemoDlg: the main window. It lays out the job's tasks, the log pane, the statistics and the
// progress bar, and binds its buttons, menu, context menu and keys to the controller's commands
// (the task-list and job-file commands of app/job_commands.h, the run commands of run control).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/job_commands.h"
#include "app/progress_view.h"
#include "app/window_title.h"
#include "ui/resizing_dialog.h"

class CMainFrame;
class CListBoxEBX;
class CHScrollListBox;
class CColoredListCtrl;
class CProgressBarPainter;
class wxButton;
class wxGauge;
class wxMenu;
class wxStaticText;
class wxStatusBar;
class YOptionsDlg;
class YScheduleDlg;
class ICommandRunner;
struct Task;

class CPemoDlg : public CResizingDialog, public IJobView {
public:
    enum ControlId : int {
        IdTaskList = 1000,
        IdStop = 1001,
        IdUp = 1003,
        IdDown = 1004,
        IdRunAll = 1005,
        IdLogPane = 1006,
        IdNew = 1007,
        IdRunSelected = 1008,
        IdDelete = 1017,
        IdEdit = 1018,
        IdExit = 1020,
        IdPercent = 1027,
        IdFileProgress = 1028,
        IdCurrentFile = 1029,
        IdPause = 1035,
        IdDuplicate = 1042,
        IdCurrentFileCaption = 1046,
        IdBar = 1051,
        IdProgressCaption = 1052,
        IdCountText = 1064,
        IdStatistics = 1069,
        IdPreviewAll = 1080,
        IdPreviewSelected = 1081,
        IdStatusBar = 32500,
        // Menu 131; the toolkit's menu ids end at 32767, so its commands are numbered 316xx/317xx.
        IdMenuNewJob = 31600,
        IdMenuOpen = 31601,
        IdMenuSaveAs = 31778,
        IdMenuExit = 31775,
        IdMenuEnableAll = 31785,
        IdMenuDisableAll = 31786,
        IdMenuClearLog = 31795,
        IdMenuSort = 31796,
        IdMenuDetailedLog = 31788,
        IdMenuConciseLog = 31792,
        IdMenuOptions = 31794,
        IdMenuSchedule = 31797,
        IdMenuRunAll = 31610,
        IdMenuRunSelected = 31611,
        IdMenuPreviewAll = 31612,
        IdMenuPreviewSelected = 31613,
        IdMenuUndo = 31614,
        IdMenuVersions = 31615,
        IdMenuAbout = 31787,
        // The task list's context menu.
        IdContextRun = 2001,
        IdContextRunAll = 2002,
        IdContextAdd = 2003,
        IdContextDuplicate = 2004,
        IdContextDelete = 2005,
        IdContextEnabled = 2006,
        IdContextProperties = 2007,
        IdContextUndo = 2008,
        IdContextVersions = 2009
    };

    explicit CPemoDlg(CMainFrame& frame);
    ~CPemoDlg() override;
    bool Destroy() override;

    // The window's initialisation: statistics, status bar, settings, stored size, task list.
    void InitDialog() override;

    // Window notifications, carried out on the user-interface thread.
    void AddPaneLine(const std::string& text);
    void SetRunningControls();
    void SetIdleControls();
    void RefreshTaskList();
    void SetProgressState(const RunStats& stats, DateTime startTime); // any thread
    void UpdateProgress();
    void SetCurrentFileText(const std::string& text);
    void SetPercentText(const std::string& text);
    void SetFileProgress(int percent);
    void SetProgressCaption(const std::string& text);
    void SetCountText(const std::string& text);

    // IJobView: what the task-list and job-file commands show.
    bool EditTaskValues(Task& task) override;
    bool ChooseJobFile(bool save, const std::string& initial, std::string& chosen) override;
    void ShowTasks() override { RefreshTaskList(); }
    void SelectTask(int index, bool focus) override;
    void ShowTitle(const std::string& title) override;

    // Commands as the buttons, menus and keys give them.
    void RunAll();
    void RunSelected();
    // As Run all and Run selected, but nothing on disk changes: every task in fake-it mode, the
    // job not saved, the run log in log-preview.html.
    void PreviewAll();
    void PreviewSelected();
    // Undo last run of every enabled task that keeps versions, or of the task at index.
    void UndoAll();
    void UndoTask(int index);
    // The versions browser of the task at index.
    void ShowVersions(int index);
    void Stop();
    void PauseResume();
    void NewTask();
    void EditTask(int index);
    void DuplicateTask(int index);
    void DeleteTask();
    void MoveTask(bool up);
    void ToggleEnabled(int index);
    void SetAllEnabled(bool enabled);
    void SortTasks();
    void NewJob();
    void OpenJob();
    void SaveJobAs();
    void OpenDetailedLog();
    void OpenConciseLog();
    void ClearLog();
    void Options();
    void Schedule();
    void About();
    void Exit();
    void CloseBox();
    void CopyLogLine();
    void DropJob(const std::vector<std::string>& files);
    // The context menu for the item (or -1) as it would be shown; null while a run is active.
    wxMenu* BuildTaskMenu(int index);
    void TaskMenuCommand(int id, int index);
    void ShowTaskMenu(int index, const wxPoint& screenPoint);
    // The keys the window handles itself; true when the key was consumed.
    bool HandleKey(int keyCode, bool control, bool focusInTaskList);

    // Controls, for the shell and tests.
    CListBoxEBX* TaskList() const { return taskList; }
    CHScrollListBox* LogPane() const { return logPane; }
    CColoredListCtrl* Statistics() const { return statistics; }
    CProgressBarPainter* Bar() const { return bar; }
    wxStatusBar* Status() const { return statusBar; }
    wxButton* Button(int id) const;
    std::string ControlText(int id) const;
    int FileProgress() const;
    bool Compact() const { return compact; }
    ProgressSnapshot Snapshot() const;

    // Modal steps, replaceable by tests. Each returns false when the user cancelled.
    std::function<bool(Task&)> runEditor;
    std::function<bool(bool save, const std::string& initial, std::string& chosen)> runFileDialog;
    std::function<bool(YOptionsDlg&)> runOptions;
    // Shows the schedule dialog; tests replace it, and the runner through which it reaches the
    // user's service manager.
    std::function<void(YScheduleDlg&)> runSchedule;
    ICommandRunner* scheduleRunner = nullptr;
    std::function<void()> runAbout;
    // Asks a question with Yes and No; true for Yes.
    std::function<bool(const std::string& question)> runQuestion;
    // Shows lines with a question under them (Yes/No, true for Yes) or, with none, OK alone.
    std::function<bool(const std::string& title, const std::vector<std::string>& lines, const std::string& question)>
        runLinesQuestion;
    // Shows the versions browser of a task.
    std::function<void(const Task&)> runVersions;

    CMainFrame& frame;

protected:
    void OnClientResized() override;

private:
    void BuildControls();
    void BuildMenu();
    void BindEvents();
    void ApplyItemHeight();
    void OnSize(wxSizeEvent& event);
    void OnCharHook(wxKeyEvent& event);
    Task* TaskAt(int index) const;

    CListBoxEBX* taskList = nullptr;
    CHScrollListBox* logPane = nullptr;
    CColoredListCtrl* statistics = nullptr;
    CProgressBarPainter* bar = nullptr;
    wxGauge* fileProgress = nullptr;
    wxStaticText* percentText = nullptr;
    wxStaticText* currentFileText = nullptr;
    wxStaticText* progressCaption = nullptr;
    wxStaticText* countText = nullptr;
    wxStatusBar* statusBar = nullptr;
    bool compact = false;
    bool exitConfirmed = false;
    CProgressModel progress;
};
