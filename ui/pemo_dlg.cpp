// The main window: its controls and layout, and the binding of its buttons, menus and keys to
// the controller's commands; the log pane and the progress display.
#include "ui/pemo_dlg.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>

#include "app/job_schedule.h"
#include "app/main_frame.h"
#include "app/task_cards.h"
#include "model/settings.h"
#include "platform/command_runner.h"
#include "platform/process.h"
#include "ui/about_dlg.h"
#include "ui/edit_job_dlg.h"
#include "ui/hscroll_list_box.h"
#include "ui/icons.h"
#include "ui/list_box_ebx.h"
#include "ui/options_dlg.h"
#include "ui/progress_display.h"
#include "ui/schedule_dlg.h"
#include "ui/versions_dlg.h"

namespace {

// Accepts files dropped on the window and hands them to the dialog.
class CJobDropTarget : public wxFileDropTarget {
public:
    explicit CJobDropTarget(CPemoDlg& owner) : dialog(owner) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& names) override {
        std::vector<std::string> files;
        for (const wxString& name : names) {
            files.push_back(name.utf8_string());
        }
        dialog.DropJob(files);
        return true;
    }

private:
    CPemoDlg& dialog;
};

// An undo moves entries in destinations a run would be writing to: not while one goes.
void EnableRunMenuUndo(wxMenuBar* menuBar, bool enable) {
    if (menuBar != nullptr) {
        menuBar->Enable(CPemoDlg::IdMenuUndo, enable);
    }
}

} // namespace

CPemoDlg::CPemoDlg(CMainFrame& owner) : CResizingDialog(nullptr, wxID_ANY, "pemo"), frame(owner) {
    runEditor = [this](Task& task) {
        YEditJobDlg editor(this, task, frame.FileSystem());
        if (editor.ShowModal() != wxID_OK) {
            return false;
        }
        task = editor.Values();
        return true;
    };
    runFileDialog = [this](bool save, const std::string& initial, std::string& chosen) {
        const wxString wildcard = "Job Files (*.job)|*.job|All Files (*)|*";
        const wxString initialPath = wxString::FromUTF8(initial);
        wxString directory, name, extension;
        wxFileName::SplitPath(initialPath, &directory, &name, &extension);
        if (!extension.empty()) {
            name += "." + extension;
        }
        wxFileDialog dialog(this, save ? "Save job" : "Open job", directory, name, wildcard,
                            save ? (wxFD_SAVE | wxFD_OVERWRITE_PROMPT) : (wxFD_OPEN | wxFD_FILE_MUST_EXIST));
        if (dialog.ShowModal() != wxID_OK) {
            return false;
        }
        chosen = dialog.GetPath().utf8_string();
        return true;
    };
    runOptions = [](YOptionsDlg& dialog) { return dialog.ShowModal() == wxID_OK; };
    runSchedule = [](YScheduleDlg& dialog) { dialog.ShowModal(); };
    scheduleRunner = &NativeCommandRunner();
    runAbout = [this] {
        YAboutDlg about(this);
        about.ShowModal();
    };
    runQuestion = [this](const std::string& question) {
        return wxMessageBox(wxString::FromUTF8(question), "Pemo", wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION, this) ==
               wxYES;
    };
    runLinesQuestion = [this](const std::string& title, const std::vector<std::string>& lines,
                              const std::string& question) { return ShowLinesDialog(this, title, lines, question); };
    runVersions = [this](const Task& task) {
        YVersionsDlg versions(this, frame, task);
        versions.ShowModal();
    };
    // The menu bar first: on Windows it takes its height from the client area, which the controls'
    // layout then sizes around.
    BuildMenu();
    BuildControls();
    BindEvents();
    frame.Jobs().AttachView(this);
    // Each native widget takes drops for itself, so the lists and the panel get a target each.
    for (wxWindow* target :
         {static_cast<wxWindow*>(Client()), static_cast<wxWindow*>(taskList), static_cast<wxWindow*>(logPane)}) {
        target->SetDropTarget(new CJobDropTarget(*this));
    }
}

CPemoDlg::~CPemoDlg() = default;

bool CPemoDlg::Destroy() {
    // The deletion itself comes later, possibly after the controller is gone: detach now.
    frame.Jobs().AttachView(nullptr);
    return CResizingDialog::Destroy();
}

void CPemoDlg::BuildControls() {
    wxPanel* panel = Client();
    const int gap = FromDIP(5);
    auto button = [panel](int id, const char* text) { return new wxButton(panel, id, text); };

    taskList = new CListBoxEBX(panel, IdTaskList);
    auto* runAll = button(IdRunAll, "Run all");
    auto* runSelected = button(IdRunSelected, "Run selected");
    auto* previewAll = button(IdPreviewAll, "Preview all");
    auto* previewSelected = button(IdPreviewSelected, "Preview selected");
    auto* stop = button(IdStop, "Stop");
    auto* pause = button(IdPause, "Pause");
    pause->Disable();
    auto* up = button(IdUp, "Up");
    auto* down = button(IdDown, "Down");
    auto* add = button(IdNew, "New ...");
    auto* edit = button(IdEdit, "Edit...");
    auto* duplicate = button(IdDuplicate, "Duplicate");
    auto* remove = button(IdDelete, "Delete");
    logPane = new CHScrollListBox(panel, IdLogPane, wxLB_ALWAYS_SB);
    statistics = new CColoredListCtrl(panel, IdStatistics);
    bar = new CProgressBarPainter(panel, IdBar);
    progressCaption = new wxStaticText(panel, IdProgressCaption, "Progress:", wxDefaultPosition, wxDefaultSize,
                                       wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    countText = new wxStaticText(panel, IdCountText, "", wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE);
    auto* fileCaption = new wxStaticText(panel, IdCurrentFileCaption, "Current File:", wxDefaultPosition, wxDefaultSize,
                                         wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    fileProgress = new wxGauge(panel, IdFileProgress, 100);
    percentText = new wxStaticText(panel, IdPercent, "", wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE);
    currentFileText = new wxStaticText(panel, IdCurrentFile, "", wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE);
    auto* exit = button(IdExit, "Exit");
    // A legend beside the bar that is never shown: the statistics rows serve as the legend.
    for (const auto& [id, text] : {std::pair{1055, "Same:"}, std::pair{1057, "Change:"}, std::pair{1056, "New:"},
                                   std::pair{1054, ""}, std::pair{1059, ""}, std::pair{1058, ""}}) {
        (new wxStaticText(panel, id, text))->Hide();
    }

    const int captionWidth = std::max(progressCaption->GetBestSize().x, fileCaption->GetBestSize().x) + gap;
    progressCaption->SetMinSize(wxSize(std::max(captionWidth, FromDIP(90)), -1));
    fileCaption->SetMinSize(wxSize(std::max(captionWidth, FromDIP(90)), -1));
    countText->SetMinSize(wxSize(FromDIP(120), -1));
    percentText->SetMinSize(wxSize(FromDIP(120), -1));
    bar->SetMinSize(wxSize(-1, FromDIP(20)));
    statistics->Build();
    statistics->SetMinSize(statistics->FullSize());
    logPane->SetMinSize(wxSize(FromDIP(420), statistics->FullSize().GetHeight()));
    taskList->SetMinSize(wxSize(FromDIP(600), FromDIP(220)));

    // The first layout comes from sizers; the anchors then keep it as the window is resized.
    auto* top = new wxBoxSizer(wxHORIZONTAL);
    auto* left = new wxBoxSizer(wxVERTICAL);
    left->Add(taskList, 1, wxEXPAND);
    auto* editRow = new wxBoxSizer(wxHORIZONTAL);
    for (wxButton* b : {add, edit, duplicate, remove}) {
        editRow->Add(b, 0, wxRIGHT, 2 * gap);
    }
    left->Add(editRow, 0, wxTOP, gap);
    top->Add(left, 1, wxEXPAND | wxRIGHT, 2 * gap);
    auto* right = new wxBoxSizer(wxVERTICAL);
    // Each run command beside its preview, so the column stays as short as the task list.
    auto* runGrid = new wxFlexGridSizer(2, gap, gap);
    for (wxButton* b : {runAll, previewAll, runSelected, previewSelected, stop, pause}) {
        runGrid->Add(b, 0, wxEXPAND);
    }
    right->Add(runGrid, 0, wxEXPAND | wxBOTTOM, gap);
    right->AddSpacer(2 * gap);
    right->Add(up, 0, wxBOTTOM, gap);
    right->Add(down, 0);
    top->Add(right, 0);

    auto* middle = new wxBoxSizer(wxHORIZONTAL);
    middle->Add(logPane, 1, wxEXPAND | wxRIGHT, gap);
    middle->Add(statistics, 0, wxEXPAND);

    auto* progressRow = new wxBoxSizer(wxHORIZONTAL);
    progressRow->Add(progressCaption, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    progressRow->Add(bar, 1, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    progressRow->Add(countText, 0, wxALIGN_CENTRE_VERTICAL);
    auto* fileRow = new wxBoxSizer(wxHORIZONTAL);
    fileRow->Add(fileCaption, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    fileRow->Add(fileProgress, 1, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    fileRow->Add(percentText, 0, wxALIGN_CENTRE_VERTICAL);
    auto* lastRow = new wxBoxSizer(wxHORIZONTAL);
    lastRow->AddSpacer(captionWidth + gap);
    lastRow->Add(currentFileText, 1, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    lastRow->Add(exit, 0, wxALIGN_CENTRE_VERTICAL);

    auto* all = new wxBoxSizer(wxVERTICAL);
    all->Add(top, 1, wxEXPAND | wxALL, 2 * gap);
    all->Add(middle, 0, wxEXPAND | wxLEFT | wxRIGHT, 2 * gap);
    all->Add(progressRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 2 * gap);
    all->Add(fileRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, gap);
    all->Add(lastRow, 0, wxEXPAND | wxALL, gap);
    panel->SetSizer(all);

    statusBar = CreateStatusBar(3, wxSTB_DEFAULT_STYLE, IdStatusBar);
    const int widths[3] = {-1, -1, -1};
    statusBar->SetStatusWidths(3, widths);
    SetClientSize(panel->GetBestSize());
    panel->Layout();

    struct AnchorSpec {
        wxWindow* control;
        AnchorMode horizontal;
        AnchorMode vertical;
        bool clip;
    };
    const AnchorSpec specs[] = {
        {taskList, AnchorMode::Stretch, AnchorMode::Stretch, true},
        {add, AnchorMode::Fixed, AnchorMode::Move, false},
        {edit, AnchorMode::Fixed, AnchorMode::Move, false},
        {duplicate, AnchorMode::Fixed, AnchorMode::Move, false},
        {remove, AnchorMode::Fixed, AnchorMode::Move, false},
        {runAll, AnchorMode::Move, AnchorMode::Fixed, false},
        {runSelected, AnchorMode::Move, AnchorMode::Fixed, false},
        {previewAll, AnchorMode::Move, AnchorMode::Fixed, false},
        {previewSelected, AnchorMode::Move, AnchorMode::Fixed, false},
        {stop, AnchorMode::Move, AnchorMode::Fixed, false},
        {pause, AnchorMode::Move, AnchorMode::Fixed, false},
        {up, AnchorMode::Move, AnchorMode::Fixed, false},
        {down, AnchorMode::Move, AnchorMode::Fixed, false},
        {logPane, AnchorMode::Stretch, AnchorMode::Move, true},
        {statistics, AnchorMode::Move, AnchorMode::Move, true},
        {bar, AnchorMode::Stretch, AnchorMode::Move, false},
        {progressCaption, AnchorMode::Fixed, AnchorMode::Move, true},
        {countText, AnchorMode::Move, AnchorMode::Move, true},
        {fileCaption, AnchorMode::Fixed, AnchorMode::Move, true},
        {fileProgress, AnchorMode::Stretch, AnchorMode::Move, true},
        {percentText, AnchorMode::Move, AnchorMode::Move, true},
        {currentFileText, AnchorMode::Stretch, AnchorMode::Move, true},
        {exit, AnchorMode::Move, AnchorMode::Move, false},
    };
    for (const AnchorSpec& spec : specs) {
        AddAnchor(spec.control, spec.horizontal, spec.vertical, spec.clip);
    }
    panel->SetSizer(nullptr);
}

void CPemoDlg::BuildMenu() {
    auto* menuBar = new wxMenuBar;
    auto* file = new wxMenu;
    file->Append(IdMenuNewJob, "New...");
    file->Append(IdMenuOpen, "Open...\tCtrl+O");
    file->AppendSeparator();
    file->Append(IdMenuSaveAs, "Save &As...\tCtrl+S");
    file->AppendSeparator();
    file->Append(IdMenuExit, "E&xit");
    menuBar->Append(file, "&File");
    auto* edit = new wxMenu;
    edit->Append(IdMenuEnableAll, "&Enable all tasks");
    edit->Append(IdMenuDisableAll, "&Disable all tasks");
    edit->AppendSeparator();
    edit->Append(IdMenuClearLog, "&Clear log window\tCtrl+X");
    edit->Append(IdMenuSort, "&Sort task list A-Z");
    menuBar->Append(edit, "&Edit");
    auto* run = new wxMenu;
    run->Append(IdMenuRunAll, "Run &all");
    run->Append(IdMenuRunSelected, "Run &selected");
    run->AppendSeparator();
    run->Append(IdMenuPreviewAll, "&Preview all");
    run->Append(IdMenuPreviewSelected, "P&review selected");
    run->AppendSeparator();
    run->Append(IdMenuUndo, "&Undo last run...");
    run->Append(IdMenuVersions, "&Versions of selected...");
    menuBar->Append(run, "&Run");
    auto* view = new wxMenu;
    view->Append(IdMenuDetailedLog, "&Detailed Log\tCtrl+L");
    view->Append(IdMenuConciseLog, "&Concise Log\tCtrl+C");
    menuBar->Append(view, "&View");
    auto* tools = new wxMenu;
    tools->Append(IdMenuOptions, "&Options...");
    tools->Append(IdMenuSchedule, "S&chedule...");
    menuBar->Append(tools, "&Tools");
    auto* help = new wxMenu;
    help->Append(IdMenuAbout, "&About");
    menuBar->Append(help, "&Help");
    SetMenuBar(menuBar);
}

void CPemoDlg::BindEvents() {
    auto on = [this](int id, void (CPemoDlg::*command)()) {
        Bind(
            wxEVT_BUTTON, [this, command](wxCommandEvent&) { (this->*command)(); }, id);
        Bind(
            wxEVT_MENU, [this, command](wxCommandEvent&) { (this->*command)(); }, id);
    };
    on(IdRunAll, &CPemoDlg::RunAll);
    on(IdRunSelected, &CPemoDlg::RunSelected);
    on(IdPreviewAll, &CPemoDlg::PreviewAll);
    on(IdPreviewSelected, &CPemoDlg::PreviewSelected);
    on(IdMenuRunAll, &CPemoDlg::RunAll);
    on(IdMenuRunSelected, &CPemoDlg::RunSelected);
    on(IdMenuPreviewAll, &CPemoDlg::PreviewAll);
    on(IdMenuPreviewSelected, &CPemoDlg::PreviewSelected);
    on(IdMenuUndo, &CPemoDlg::UndoAll);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ShowVersions(taskList->GetSelection()); }, IdMenuVersions);
    on(IdStop, &CPemoDlg::Stop);
    on(IdPause, &CPemoDlg::PauseResume);
    on(IdNew, &CPemoDlg::NewTask);
    on(IdDelete, &CPemoDlg::DeleteTask);
    on(IdExit, &CPemoDlg::Exit);
    on(IdMenuExit, &CPemoDlg::Exit);
    on(IdMenuSort, &CPemoDlg::SortTasks);
    on(IdMenuNewJob, &CPemoDlg::NewJob);
    on(IdMenuOpen, &CPemoDlg::OpenJob);
    on(IdMenuSaveAs, &CPemoDlg::SaveJobAs);
    on(IdMenuDetailedLog, &CPemoDlg::OpenDetailedLog);
    on(IdMenuConciseLog, &CPemoDlg::OpenConciseLog);
    on(IdMenuClearLog, &CPemoDlg::ClearLog);
    on(IdMenuOptions, &CPemoDlg::Options);
    on(IdMenuSchedule, &CPemoDlg::Schedule);
    on(IdMenuAbout, &CPemoDlg::About);
    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) {
            frame.Jobs().KeepOpen();
            EditTask(taskList->GetSelection());
        },
        IdEdit);
    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) {
            frame.Jobs().KeepOpen();
            DuplicateTask(taskList->GetSelection());
        },
        IdDuplicate);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { MoveTask(true); }, IdUp);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { MoveTask(false); }, IdDown);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { SetAllEnabled(true); }, IdMenuEnableAll);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { SetAllEnabled(false); }, IdMenuDisableAll);
    taskList->Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) {
        if (!frame.Run().RunActive()) {
            EditTask(taskList->GetSelection());
        }
    });
    taskList->Bind(wxEVT_RIGHT_UP, [this](wxMouseEvent& event) {
        const wxPoint screen = taskList->ClientToScreen(event.GetPosition());
        ShowTaskMenu(taskList->ItemFromPoint(screen), screen);
    });
    logPane->Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { CopyLogLine(); });
    Bind(wxEVT_CHAR_HOOK, &CPemoDlg::OnCharHook, this);
    Bind(wxEVT_SIZE, &CPemoDlg::OnSize, this);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        // The controller decides whether the program may close; the window never closes itself.
        if (event.CanVeto()) {
            event.Veto();
        }
        CloseBox();
    });
}

void CPemoDlg::InitDialog() {
    SetIcons(PemoIconBundle(iconWindow));
    statistics->Build();
    statusBar->SetStatusText(wxString::FromUTF8(DriveLetterText(frame.Run().DriveLetter())), 1);
    fileProgress->SetRange(100);
    compact = frame.GetSettings().compactView;
    InitResizing();
    ShowSizeGrip(false);
    SetMinSize(GetSize());
    const Settings& stored = frame.GetSettings();
    if (stored.windowWidth != -1 && stored.windowHeight != -1 && stored.windowWidth > 500 &&
        stored.windowHeight > 400) {
        SetSize(wxSize(stored.windowWidth, stored.windowHeight));
        Centre();
    }
    frame.KeepWindowSizeAsSaved();
    ApplyItemHeight();
    RefreshTaskList();
}

void CPemoDlg::ApplyItemHeight() {
    const int line = taskList->LineHeight();
    taskList->SetItemHeightPx((compact ? 2 : 4) * line);
}

void CPemoDlg::OnSize(wxSizeEvent& event) {
    event.Skip();
    const wxSize size = GetSize();
    frame.SetWindowSize(size.GetWidth(), size.GetHeight());
}

void CPemoDlg::OnClientResized() {
    Refresh(false);
}

Task* CPemoDlg::TaskAt(int index) const {
    const auto& tasks = frame.Job().Tasks();
    if (index < 0 || index >= static_cast<int>(tasks.size())) {
        return nullptr;
    }
    return tasks[static_cast<std::size_t>(index)].get();
}

wxButton* CPemoDlg::Button(int id) const {
    return dynamic_cast<wxButton*>(Client()->FindWindow(id));
}

std::string CPemoDlg::ControlText(int id) const {
    wxWindow* control = Client()->FindWindow(id);
    return control ? control->GetLabel().utf8_string() : std::string();
}

int CPemoDlg::FileProgress() const {
    return fileProgress->GetValue();
}

bool CPemoDlg::EditTaskValues(Task& task) {
    return runEditor(task);
}

bool CPemoDlg::ChooseJobFile(bool save, const std::string& initial, std::string& chosen) {
    return runFileDialog(save, initial, chosen);
}

void CPemoDlg::SelectTask(int index, bool focus) {
    if (focus) {
        taskList->SetFocus();
    }
    taskList->SetSelection(index);
}

void CPemoDlg::ShowTitle(const std::string& title) {
    SetTitle(wxString::FromUTF8(title));
}

// ---- Window notifications ----

void CPemoDlg::AddPaneLine(const std::string& text) {
    if (logPane->GetCount() > 100) {
        logPane->DeleteString(0);
    }
    logPane->AddString(text);
    logPane->SetFirstItem(static_cast<int>(logPane->GetCount()) - 1);
}

void CPemoDlg::SetRunningControls() {
    for (int id : {IdNew, IdEdit, IdDelete, IdDuplicate, IdUp, IdDown, IdRunAll, IdRunSelected, IdPreviewAll,
                   IdPreviewSelected}) {
        Button(id)->Disable();
    }
    Button(IdPause)->Enable();
    EnableRunMenuUndo(GetMenuBar(), false);
}

void CPemoDlg::SetIdleControls() {
    for (int id : {IdNew, IdEdit, IdDelete, IdDuplicate, IdUp, IdDown, IdRunAll, IdRunSelected, IdPreviewAll,
                   IdPreviewSelected}) {
        Button(id)->Enable();
    }
    Button(IdPause)->Disable();
    EnableRunMenuUndo(GetMenuBar(), true);
}

void CPemoDlg::RefreshTaskList() {
    if (frame.Jobs().DeferRedraw()) {
        return;
    }
    taskList->Freeze();
    taskList->RemoveAll();
    int disabled = 0;
    const CJob& job = frame.Job();
    std::lock_guard lock(job.LastRunLock());
    for (const auto& task : job.Tasks()) {
        const int index = taskList->AddItem(TaskCardText(*task, frame.DateTimeFormat()));
        ListItemRecord* record = taskList->ItemRecord(index);
        record->background = task->colour;
        record->disabled = !task->enabled;
        record->task = task.get();
        disabled += task->enabled ? 0 : 1;
    }
    ShowTitle(TitleForJobPath(job.Path()));
    statusBar->SetStatusText(TaskCountText(static_cast<int>(job.Tasks().size()), disabled), 0);
    taskList->Thaw();
    taskList->Refresh();
}

void CPemoDlg::SetProgressState(const RunStats& stats, DateTime startTime) {
    progress.SetState(stats, startTime, frame.Run().Previewing());
}

ProgressSnapshot CPemoDlg::Snapshot() const {
    return progress.Snapshot();
}

void CPemoDlg::UpdateProgress() {
    const ProgressView view = progress.View(frame.Run().State().sourceTotal, NowLocal());
    statistics->ShowView(view);
    bar->SetValues(view.barValues);
}

void CPemoDlg::SetCurrentFileText(const std::string& text) {
    currentFileText->SetLabel(wxString::FromUTF8(text));
}

void CPemoDlg::SetPercentText(const std::string& text) {
    percentText->SetLabel(wxString::FromUTF8(text));
}

void CPemoDlg::SetFileProgress(int percent) {
    fileProgress->SetValue(std::clamp(percent, 0, 100));
}

void CPemoDlg::SetProgressCaption(const std::string& text) {
    progressCaption->SetLabel(wxString::FromUTF8(text));
}

void CPemoDlg::SetCountText(const std::string& text) {
    countText->SetLabel(wxString::FromUTF8(text));
}

// ---- Run commands ----

void CPemoDlg::RunAll() {
    Button(IdPause)->SetLabel("Pause");
    frame.Run().RunAllCommand(); // keeps the program open and clears a stop as well
}

void CPemoDlg::RunSelected() {
    Task* task = TaskAt(taskList->GetSelection());
    if (task) {
        frame.Run().RunSelectedCommand(task);
    }
}

void CPemoDlg::PreviewAll() {
    Button(IdPause)->SetLabel("Pause");
    frame.Run().RunAllCommand(true);
}

void CPemoDlg::PreviewSelected() {
    Task* task = TaskAt(taskList->GetSelection());
    if (task) {
        frame.Run().RunSelectedCommand(task, true);
    }
}

void CPemoDlg::UndoAll() {
    Button(IdPause)->SetLabel("Pause");
    frame.UndoLastRunCommand(nullptr);
}

void CPemoDlg::UndoTask(int index) {
    if (Task* task = TaskAt(index)) {
        Button(IdPause)->SetLabel("Pause");
        frame.UndoLastRunCommand(task);
    }
}

void CPemoDlg::ShowVersions(int index) {
    if (const Task* task = TaskAt(index)) {
        runVersions(*task);
    }
}

void CPemoDlg::Stop() {
    frame.Run().StopCommand();
}

void CPemoDlg::PauseResume() {
    Button(IdPause)->SetLabel(frame.Run().PauseCommand() ? "Resume" : "Pause");
}

// ---- Task commands ----

void CPemoDlg::NewTask() {
    frame.Jobs().NewTaskCommand();
}

void CPemoDlg::EditTask(int index) {
    frame.Jobs().EditTaskCommand(index);
}

void CPemoDlg::DuplicateTask(int index) {
    frame.Jobs().DuplicateTaskCommand(index);
}

void CPemoDlg::DeleteTask() {
    const int index = taskList->GetSelection();
    const Task* task = TaskAt(index);
    // During a run the command refuses with its own message; there is nothing to ask.
    if (task != nullptr && !frame.Run().RunActive() && !runQuestion("Delete the task \"" + task->name + "\"?")) {
        return;
    }
    frame.Jobs().DeleteTaskCommand(index);
}

void CPemoDlg::MoveTask(bool up) {
    frame.Jobs().MoveTaskCommand(taskList->GetSelection(), up);
}

void CPemoDlg::ToggleEnabled(int index) {
    frame.Jobs().ToggleEnabledCommand(index);
}

void CPemoDlg::SetAllEnabled(bool enabled) {
    frame.Jobs().SetAllEnabledCommand(enabled);
}

void CPemoDlg::SortTasks() {
    frame.Jobs().SortCommand();
}

// ---- Job file commands ----

void CPemoDlg::NewJob() {
    frame.Jobs().NewJobCommand();
}

void CPemoDlg::OpenJob() {
    frame.Jobs().OpenJobCommand();
}

void CPemoDlg::SaveJobAs() {
    frame.Jobs().SaveJobAsCommand();
}

void CPemoDlg::DropJob(const std::vector<std::string>& files) {
    frame.Jobs().DropCommand(files);
}

// ---- Logs, options, About, exit ----

void CPemoDlg::OpenDetailedLog() {
    frame.Jobs().KeepOpen();
    const std::string path = frame.Run().RunLogPath();
    if (!path.empty()) {
        frame.Shell().OpenWithDesktop(path);
    }
}

void CPemoDlg::OpenConciseLog() {
    frame.Jobs().KeepOpen();
    frame.Shell().OpenWithDesktop("summary.log");
}

void CPemoDlg::ClearLog() {
    logPane->ResetContent();
}

void CPemoDlg::Options() {
    YOptionsDlg dialog(this);
    Settings chosen = frame.GetSettings();
    dialog.compactView = chosen.compactView;
    dialog.countAtStart = chosen.countAtStart;
    dialog.stayAwakeMethod = chosen.stayAwakeMethod;
    dialog.debug = chosen.debug;
    dialog.emptyGuard = chosen.emptyGuard;
    if (!runOptions(dialog)) {
        return;
    }
    const bool compactChanged = dialog.compactView != chosen.compactView;
    chosen.compactView = dialog.compactView;
    chosen.countAtStart = dialog.countAtStart;
    chosen.stayAwakeMethod = dialog.stayAwakeMethod;
    chosen.debug = dialog.debug;
    chosen.emptyGuard = dialog.emptyGuard;
    frame.ChangeSettings(chosen);
    if (compactChanged) {
        compact = chosen.compactView;
        ApplyItemHeight();
        RefreshTaskList();
    }
    frame.SaveSettings();
}

void CPemoDlg::Schedule() {
    std::string error;
    std::shared_ptr<IJobScheduler> scheduler =
        NativeJobScheduler(*scheduleRunner, frame.FileSystem(), OwnProgramPath(), error);
    if (!scheduler) {
        frame.Shell().MessageBox(error);
        return;
    }
    wxFileName job(wxString::FromUTF8(frame.Job().Path()));
    job.MakeAbsolute();
    YScheduleDlg dialog(this, std::move(scheduler), job.GetFullPath().utf8_string());
    runSchedule(dialog);
}

void CPemoDlg::About() {
    if (runAbout) {
        runAbout();
    }
}

void CPemoDlg::Exit() {
    if (frame.Run().RunActive() && !exitConfirmed) {
        if (!runQuestion("A run is in progress. Stop it and exit?")) {
            return;
        }
        exitConfirmed = true;
    }
    frame.ExitCommand();
}

void CPemoDlg::CloseBox() {
    frame.CloseHandler();
}

void CPemoDlg::CopyLogLine() {
    const int selected = logPane->GetSelection();
    if (selected == wxNOT_FOUND) {
        return;
    }
    if (wxTheClipboard->Open()) {
        wxTheClipboard->SetData(new wxTextDataObject(logPane->GetString(static_cast<unsigned>(selected))));
        wxTheClipboard->Close();
    }
}

// ---- Context menu and keys ----

wxMenu* CPemoDlg::BuildTaskMenu(int index) {
    if (frame.Run().RunActive()) {
        return nullptr;
    }
    Task* task = TaskAt(index);
    if (task) {
        taskList->SetSelection(index);
    }
    const wxString suffix = task ? " '" + wxString::FromUTF8(task->name) + "'" : wxString();
    auto* menu = new wxMenu;
    menu->Append(IdContextRun, "Run" + suffix);
    menu->Append(IdContextRunAll, "Run all");
    menu->AppendSeparator();
    menu->Append(IdContextAdd, "Add");
    menu->Append(IdContextDuplicate, "Duplicate" + suffix);
    menu->Append(IdContextDelete, "Delete" + suffix);
    menu->AppendSeparator();
    menu->AppendCheckItem(IdContextEnabled, "Enabled");
    menu->Append(IdContextProperties, "Properties");
    menu->AppendSeparator();
    menu->Append(IdContextUndo, "Undo last run" + suffix + "...");
    menu->Append(IdContextVersions, "Versions" + suffix + "...");
    for (int id : {IdContextRun, IdContextDuplicate, IdContextDelete, IdContextEnabled, IdContextProperties,
                   IdContextUndo, IdContextVersions}) {
        menu->Enable(id, task != nullptr);
    }
    menu->Check(IdContextEnabled, task && task->enabled);
    return menu;
}

void CPemoDlg::TaskMenuCommand(int id, int index) {
    switch (id) {
    case IdContextRun:
        if (TaskAt(index)) {
            frame.Run().RunSelectedCommand(TaskAt(index));
        }
        break;
    case IdContextRunAll:
        RunAll();
        break;
    case IdContextAdd:
        NewTask();
        break;
    case IdContextDuplicate:
        DuplicateTask(index);
        break;
    case IdContextDelete:
        frame.Jobs().KeepOpen();
        if (TaskAt(index)) {
            taskList->SetSelection(index);
            DeleteTask();
        }
        break;
    case IdContextEnabled:
        ToggleEnabled(index);
        break;
    case IdContextProperties:
        EditTask(index);
        break;
    case IdContextUndo:
        UndoTask(index);
        break;
    case IdContextVersions:
        ShowVersions(index);
        break;
    default:
        break;
    }
}

void CPemoDlg::ShowTaskMenu(int index, const wxPoint& screenPoint) {
    std::unique_ptr<wxMenu> menu(BuildTaskMenu(index));
    if (!menu) {
        return;
    }
    const int chosen = GetPopupMenuSelectionFromUser(*menu, ScreenToClient(screenPoint));
    if (chosen != wxID_NONE) {
        TaskMenuCommand(chosen, index);
    }
}

bool CPemoDlg::HandleKey(int keyCode, bool control, bool focusInTaskList) {
    if ((keyCode == WXK_DELETE || keyCode == WXK_NUMPAD_DELETE) && focusInTaskList) {
        DeleteTask();
        return true;
    }
    if (keyCode == WXK_F1) {
        return true;
    }
    if (control) {
        switch (keyCode) {
        case 'C':
            OpenConciseLog();
            return true;
        case 'L':
            OpenDetailedLog();
            return true;
        case 'O':
            OpenJob();
            return true;
        case 'S':
            SaveJobAs();
            return true;
        case 'X':
            ClearLog();
            return true;
        default:
            break;
        }
    }
    return keyCode == WXK_RETURN || keyCode == WXK_NUMPAD_ENTER || keyCode == WXK_ESCAPE;
}

void CPemoDlg::OnCharHook(wxKeyEvent& event) {
    const bool focusInTaskList = wxWindow::FindFocus() == taskList;
    int keyCode = event.GetKeyCode();
    if (keyCode >= 'a' && keyCode <= 'z') {
        keyCode -= 'a' - 'A';
    }
    if (!HandleKey(keyCode, event.ControlDown(), focusInTaskList)) {
        event.Skip();
    }
}
