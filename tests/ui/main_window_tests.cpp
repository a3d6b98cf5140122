// The main window over the real controller: the task commands and the job file they save, the
// title and status bar, the log pane, options, runs with their controls, Stop and Pause, drops,
// keys and the window size.
#include <filesystem>
#include <fstream>
#include <map>

#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/menu.h>
#include <wx/uiaction.h>

#include "main_window_support.h"
#include "ui/hscroll_list_box.h"
#include "ui/list_box_ebx.h"
#include "ui/options_dlg.h"
#include "ui/progress_display.h"

namespace {

std::vector<std::string> Names(const std::vector<Task>& tasks) {
    std::vector<std::string> names;
    for (const Task& t : tasks) {
        names.push_back(t.name);
    }
    return names;
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

} // namespace

TEST_F(MainWindowTest, TitleStatusBarAndCards) {
    Task off = MakeTask("Music", "/m", "/b/m");
    off.enabled = false;
    Task done = MakeTask("Photos", "/p", "/b/p");
    done.lastRun = 86400 * 365;
    StartOptions options;
    options.driveLetter = "E";
    Start({done, off}, options);
    EXPECT_EQ(dlg->GetTitle(), "nightly - Pemo v3.00");
    EXPECT_EQ(Status(0), "Tasks: 2, disabled: 1");
    EXPECT_EQ(Status(1), "Drive for ? in paths: E");
    EXPECT_EQ(Status(2), "");
    ASSERT_EQ(dlg->TaskList()->Count(), 2);
    EXPECT_EQ(dlg->TaskList()->ItemText(0), "Photos\n/p\n/b/p\n\n01/01/1971 00:00");
    EXPECT_EQ(dlg->TaskList()->ItemText(1), "Music\n/m\n/b/m\n\n"); // never run: empty last line
    EXPECT_TRUE(dlg->TaskList()->ItemRecord(1)->disabled);
    EXPECT_EQ(dlg->TaskList()->ItemRecord(0)->background, 0x00FFFFFFu);
    EXPECT_TRUE(frame->DialogShown());
    EXPECT_TRUE(dlg->IsShown());
    EXPECT_EQ(dlg->ControlText(CPemoDlg::IdProgressCaption), "Progress:");
    EXPECT_FALSE(Enabled(CPemoDlg::IdPause));
}

TEST_F(MainWindowTest, NoVariableDriveAndAnEmptyJob) {
    std::filesystem::remove(dir.File("missing.job"));
    StartOptions options;
    options.startJobFile = dir.File("missing.job");
    Start({}, options);
    EXPECT_EQ(Status(1), "No drive for ? in paths");
    EXPECT_EQ(Status(0), "Tasks: 0, disabled: 0");
    EXPECT_EQ(dlg->GetTitle(), "missing - Pemo v3.00");
}

TEST_F(MainWindowTest, NewEditDuplicateDeleteSaveTheJob) {
    Start({MakeTask("One", "/a", "/b")});
    dlg->runEditor = [](Task& task) {
        EXPECT_TRUE(task.enabled);
        EXPECT_TRUE(task.recurse);
        EXPECT_FALSE(task.safeMode);
        EXPECT_EQ(task.colour, 0xFFFFFFu);
        task.name = "Two";
        task.source = "  /src/two  ";
        task.destination = "\t/dst/two ";
        return true;
    };
    StartOptions leaving = frame->GetStartOptions();
    leaving.shutdown = true;
    frame->ApplyStartOptions(leaving);
    dlg->NewTask();
    EXPECT_TRUE(frame->Run().State().stay); // touching the window keeps the program open
    EXPECT_FALSE(frame->Run().State().shutdown);
    std::vector<Task> disk = JobOnDisk();
    ASSERT_EQ(disk.size(), 2u);
    EXPECT_EQ(disk[1].name, "Two");
    EXPECT_EQ(disk[1].source, "/src/two");
    EXPECT_EQ(disk[1].destination, "/dst/two");
    EXPECT_EQ(disk[1].lastRun, -1);
    EXPECT_EQ(Status(0), "Tasks: 2, disabled: 0");

    // Cancel changes nothing.
    dlg->runEditor = [](Task& task) {
        task.name = "changed";
        return false;
    };
    dlg->EditTask(0);
    EXPECT_EQ(JobOnDisk()[0].name, "One");

    frame->Job().Tasks()[0]->lastRun = 12345;
    dlg->runEditor = [](Task& task) {
        EXPECT_EQ(task.name, "One");
        task.name = "One edited";
        task.onlyIfNewer = true;
        task.lastRun = 999; // the editor cannot change the last run
        return true;
    };
    dlg->EditTask(0);
    disk = JobOnDisk();
    EXPECT_EQ(disk[0].name, "One edited");
    EXPECT_TRUE(disk[0].onlyIfNewer);
    EXPECT_EQ(disk[0].lastRun, 12345);

    dlg->DuplicateTask(0);
    disk = JobOnDisk();
    ASSERT_EQ(disk.size(), 3u);
    EXPECT_EQ(disk[2], disk[0]);

    // Deleting asks first; No keeps the task. Deleting the last task selects the new last one.
    dlg->TaskList()->SetSelection(2);
    answer = false;
    dlg->DeleteTask();
    EXPECT_EQ(JobOnDisk().size(), 3u);
    answer = true;
    dlg->DeleteTask();
    EXPECT_EQ(questions, std::vector<std::string>(2, "Delete the task \"One edited\"?"));
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"One edited", "Two"}));
    EXPECT_EQ(dlg->TaskList()->GetSelection(), 1);
    dlg->TaskList()->SetSelection(0);
    dlg->DeleteTask();
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"Two"}));
    EXPECT_EQ(dlg->TaskList()->GetSelection(), 0);
    dlg->DeleteTask();
    EXPECT_TRUE(JobOnDisk().empty());
    EXPECT_EQ(dlg->TaskList()->GetSelection(), wxNOT_FOUND);
    dlg->DeleteTask(); // nothing selected: nothing happens
    EXPECT_EQ(Status(0), "Tasks: 0, disabled: 0");
}

TEST_F(MainWindowTest, UpDownSortAndEnableAll) {
    Start({MakeTask("b"), MakeTask("C"), MakeTask("a")});
    dlg->TaskList()->SetSelection(0);
    const std::string before = ReadFileBytes(jobFile);
    dlg->MoveTask(true); // the first cannot go up: nothing saved
    EXPECT_EQ(ReadFileBytes(jobFile), before);
    dlg->MoveTask(false);
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"C", "b", "a"}));
    EXPECT_EQ(dlg->TaskList()->GetSelection(), 1);
    dlg->TaskList()->SetSelection(2);
    const std::string moved = ReadFileBytes(jobFile);
    dlg->MoveTask(false); // the last cannot go down
    EXPECT_EQ(ReadFileBytes(jobFile), moved);
    dlg->MoveTask(true);
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"C", "a", "b"}));

    dlg->SortTasks();
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"C", "a", "b"}));
    frame->Job().Tasks()[0]->name = "c";
    dlg->SortTasks();
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"a", "b", "c"}));

    dlg->SetAllEnabled(false);
    for (const Task& t : JobOnDisk()) {
        EXPECT_FALSE(t.enabled);
    }
    EXPECT_EQ(Status(0), "Tasks: 3, disabled: 3");
    dlg->SetAllEnabled(true);
    for (const Task& t : JobOnDisk()) {
        EXPECT_TRUE(t.enabled);
    }
    EXPECT_EQ(Status(0), "Tasks: 3, disabled: 0");
}

TEST_F(MainWindowTest, ContextMenu) {
    Task off = MakeTask("Off");
    off.enabled = false;
    Start({MakeTask("On"), off});
    std::unique_ptr<wxMenu> empty(dlg->BuildTaskMenu(-1));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->GetLabelText(CPemoDlg::IdContextRun), "Run");
    for (int id : {CPemoDlg::IdContextRun, CPemoDlg::IdContextDuplicate, CPemoDlg::IdContextDelete,
                   CPemoDlg::IdContextEnabled, CPemoDlg::IdContextProperties}) {
        EXPECT_FALSE(empty->IsEnabled(id)) << id;
    }
    EXPECT_TRUE(empty->IsEnabled(CPemoDlg::IdContextRunAll));
    EXPECT_TRUE(empty->IsEnabled(CPemoDlg::IdContextAdd));

    std::unique_ptr<wxMenu> menu(dlg->BuildTaskMenu(1));
    EXPECT_EQ(menu->GetLabelText(CPemoDlg::IdContextRun), "Run 'Off'");
    EXPECT_EQ(menu->GetLabelText(CPemoDlg::IdContextDuplicate), "Duplicate 'Off'");
    EXPECT_EQ(menu->GetLabelText(CPemoDlg::IdContextDelete), "Delete 'Off'");
    EXPECT_FALSE(menu->IsChecked(CPemoDlg::IdContextEnabled));
    EXPECT_EQ(dlg->TaskList()->GetSelection(), 1);
    dlg->TaskMenuCommand(CPemoDlg::IdContextEnabled, 1);
    EXPECT_TRUE(JobOnDisk()[1].enabled);
    EXPECT_EQ(Status(0), "Tasks: 2, disabled: 0");
    dlg->TaskMenuCommand(CPemoDlg::IdContextDuplicate, 0);
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"On", "Off", "On"}));
    dlg->TaskMenuCommand(CPemoDlg::IdContextDelete, 1);
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"On", "On"}));
}

TEST_F(MainWindowTest, LogPaneKeepsTheLast101Lines) {
    Start({});
    for (int i = 0; i < 101; ++i) {
        dlg->AddPaneLine("line " + std::to_string(i));
    }
    EXPECT_EQ(dlg->LogPane()->GetCount(), 101u);
    dlg->AddPaneLine("line 101");
    std::vector<std::string> lines = PaneLines();
    ASSERT_EQ(lines.size(), 101u);
    EXPECT_EQ(lines.front(), "line 1");
    EXPECT_EQ(lines.back(), "line 101");
    // Lines from a worker thread arrive in their order.
    std::thread worker([this] {
        for (int i = 0; i < 20; ++i) {
            shell->Window().AddPaneLine("worker " + std::to_string(i));
        }
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([this] { return PaneLines().back() == "worker 19"; }));
    lines = PaneLines();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(lines[81 + i], "worker " + std::to_string(i));
    }
    dlg->HandleKey('X', true, false); // Ctrl+X clears the pane
    EXPECT_EQ(dlg->LogPane()->GetCount(), 0u);
    EXPECT_EQ(dlg->LogPane()->HorizontalExtent(), 0);
}

TEST_F(MainWindowTest, KeysAndClipboard) {
    Start({MakeTask("Only")});
    dlg->AddPaneLine("Copied line");
    dlg->LogPane()->SetSelection(0);
    dlg->CopyLogLine();
    ASSERT_TRUE(wxTheClipboard->Open());
    wxTextDataObject data;
    EXPECT_TRUE(wxTheClipboard->GetData(data));
    wxTheClipboard->Close();
    EXPECT_EQ(data.GetText(), "Copied line");

    // Ctrl+C opens the summary log and copies nothing.
    EXPECT_TRUE(dlg->HandleKey('C', true, false));
    ASSERT_EQ(opened, (std::vector<std::string>{"summary.log"}));
    // Ctrl+L opens nothing before a run has written a log.
    EXPECT_TRUE(dlg->HandleKey('L', true, false));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_TRUE(dlg->HandleKey(WXK_F1, false, false));
    EXPECT_TRUE(dlg->HandleKey(WXK_RETURN, false, false));
    EXPECT_TRUE(dlg->HandleKey(WXK_ESCAPE, false, false));
    EXPECT_FALSE(dlg->HandleKey('A', false, false));
    // Delete outside the task list deletes nothing; inside it deletes the selection.
    dlg->TaskList()->SetSelection(0);
    EXPECT_FALSE(dlg->HandleKey(WXK_DELETE, false, false));
    EXPECT_EQ(frame->Job().Tasks().size(), 1u);
    EXPECT_TRUE(dlg->HandleKey(WXK_DELETE, false, true));
    EXPECT_TRUE(frame->Job().Tasks().empty());
    EXPECT_TRUE(JobOnDisk().empty());
}

TEST_F(MainWindowTest, DroppedJobsAndJobFileCommands) {
    Start({MakeTask("Here")});
    TaskList other;
    other.push_back(std::make_unique<Task>(MakeTask("Dropped")));
    std::string path;
    struct : IMessagePort {
        void MessageBox(const std::string&) override {}
    } quiet;
    ASSERT_TRUE(SaveJob(dir.File("Other.JOB"), other, path, quiet, NativeFileSystem()));
    dlg->DropJob({dir.File("Other.JOB"), jobFile}); // two files: ignored
    EXPECT_EQ(frame->Job().Tasks()[0]->name, "Here");
    dlg->DropJob({dir.File("notes.txt")});
    EXPECT_EQ(frame->Job().Tasks()[0]->name, "Here");
    dlg->DropJob({dir.File("Other.JOB")});
    EXPECT_EQ(frame->Job().Tasks()[0]->name, "Dropped");
    EXPECT_EQ(dlg->GetTitle(), "Other - Pemo v3.00");

    // Save As adds the extension; the title follows.
    dlg->runFileDialog = [this](bool save, const std::string&, std::string& chosen) {
        EXPECT_TRUE(save);
        chosen = dir.File("copy");
        return true;
    };
    dlg->SaveJobAs();
    EXPECT_TRUE(std::filesystem::exists(dir.File("copy.job")));
    EXPECT_EQ(dlg->GetTitle(), "copy - Pemo v3.00");

    // New job: an empty job under the new name.
    dlg->runFileDialog = [this](bool save, const std::string& initial, std::string& chosen) {
        EXPECT_TRUE(save);
        EXPECT_EQ(initial, "new");
        chosen = dir.File("fresh.job");
        return true;
    };
    dlg->NewJob();
    EXPECT_TRUE(frame->Job().Tasks().empty());
    EXPECT_EQ(frame->Job().Path(), dir.File("fresh.job"));
    EXPECT_NE(ReadUtf16File(dir.File("copy.job")).find("Dropped"), std::string::npos);
    EXPECT_EQ(ReadUtf16File(dir.File("fresh.job")).find("Dropped"), std::string::npos);

    // Open, and a cancelled dialog that changes nothing.
    dlg->runFileDialog = [](bool, const std::string&, std::string&) { return false; };
    dlg->OpenJob();
    EXPECT_EQ(frame->Job().Path(), dir.File("fresh.job"));
    dlg->runFileDialog = [this](bool save, const std::string& initial, std::string& chosen) {
        EXPECT_FALSE(save);
        EXPECT_EQ(initial, dir.File("fresh.job"));
        chosen = jobFile;
        return true;
    };
    dlg->OpenJob();
    EXPECT_EQ(Names(std::vector<Task>{*frame->Job().Tasks()[0]}), (std::vector<std::string>{"Here"}));
    EXPECT_EQ(Status(0), "Tasks: 1, disabled: 0");
}

// A job that fails to open must not leave its partial (here: empty) list under the previous
// job's path, where the next edit would save it.
TEST_F(MainWindowTest, AJobThatFailedToOpenLeavesTheOpenJobAndBothFilesAlone) {
    Start({MakeTask("First"), MakeTask("Second")});
    const std::string unreadable = dir.File("broken.job");
    std::filesystem::create_directory(unreadable); // exists, but reading it fails
    dlg->runFileDialog = [&](bool, const std::string&, std::string& chosen) {
        chosen = unreadable;
        return true;
    };
    dlg->OpenJob();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Error reading " + unreadable, 0), 0u) << messages[0];
    dlg->DropJob({unreadable});
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(frame->Job().Path(), jobFile);
    ASSERT_EQ(frame->Job().Tasks().size(), 2u);

    dlg->runEditor = [](Task& task) {
        task.name = "Third";
        return true;
    };
    dlg->NewTask();
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"First", "Second", "Third"}));
    EXPECT_TRUE(std::filesystem::is_directory(unreadable));
}

TEST_F(MainWindowTest, OptionsAreSavedToPemoIni) {
    WriteFile(dir.Path() / "pemo.ini", ""); // settings kept beside the program's files
    Start({MakeTask("A"), MakeTask("B")});
    EXPECT_TRUE(frame->GetSettings().useIniFile);
    const int fullHeight = dlg->TaskList()->ItemHeightPx();
    const std::string untouched = ReadFileBytes(dir.File("pemo.ini"));
    dlg->runOptions = [](YOptionsDlg& options) {
        options.compactView = true;
        options.countAtStart = true;
        options.stayAwakeMethod = 2;
        options.debug = true;
        return false; // Cancel
    };
    dlg->Options();
    EXPECT_EQ(ReadFileBytes(dir.File("pemo.ini")), untouched);
    EXPECT_FALSE(frame->GetSettings().compactView);

    dlg->runOptions = [](YOptionsDlg& options) {
        EXPECT_FALSE(options.compactView);
        EXPECT_EQ(options.stayAwakeMethod, 1);
        EXPECT_TRUE(options.emptyGuard) << "on by default";
        options.compactView = true;
        options.countAtStart = true;
        options.stayAwakeMethod = 2;
        options.debug = true;
        options.emptyGuard = false;
        return true;
    };
    dlg->Options();
    EXPECT_TRUE(frame->GetSettings().compactView);
    EXPECT_TRUE(frame->GetSettings().countAtStart);
    EXPECT_EQ(frame->GetSettings().stayAwakeMethod, 2);
    EXPECT_TRUE(frame->GetSettings().debug);
    EXPECT_FALSE(frame->GetSettings().emptyGuard);
    EXPECT_EQ(dlg->TaskList()->ItemHeightPx() * 2, fullHeight); // compact cards at once
    EXPECT_EQ(dlg->TaskList()->Count(), 2);
    const std::string ini = ReadUtf16File(dir.File("pemo.ini")) + ReadFileBytes(dir.File("pemo.ini"));
    for (const char* line : {"compactview=1", "countatstart=1", "stayawakemethod=2", "debug=1", "emptyguard=0"}) {
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in " << ini;
    }
}

TEST_F(MainWindowTest, StoredWindowSize) {
    WriteFile(dir.Path() / "pemo.ini", "");
    Start({});
    const wxSize initial = dlg->GetSize();
    shell->DestroyDialog();
    PumpEvents();
    // 480 x 600 is not above 500 wide: ignored.
    frame->SetWindowSize(480, 600);
    frame->SaveSettings();
    frame->LoadSettings();
    shell->CreateDialog();
    EXPECT_EQ(shell->Dialog()->GetSize(), initial);
    shell->DestroyDialog();
    PumpEvents();
    frame->SetWindowSize(initial.GetWidth() + 100, initial.GetHeight() + 80);
    frame->SaveSettings();
    frame->LoadSettings();
    shell->CreateDialog();
    dlg = shell->Dialog();
    dlg->Show();
    PumpEvents(std::chrono::milliseconds(200));
    EXPECT_EQ(dlg->GetSize(), initial + wxSize(100, 80));
    EXPECT_EQ(frame->GetSettings().windowWidth, initial.GetWidth() + 100);
    EXPECT_EQ(dlg->GetMinSize(), initial);

    // The controls follow their anchors: compare with a window of the initial size.
    auto rectOf = [](CPemoDlg* d, int id) { return d->Client()->FindWindow(id)->GetRect(); };
    const int ids[] = {CPemoDlg::IdTaskList, CPemoDlg::IdLogPane, CPemoDlg::IdStatistics, CPemoDlg::IdExit,
                       CPemoDlg::IdRunAll,   CPemoDlg::IdNew,     CPemoDlg::IdBar};
    std::map<int, wxRect> grown;
    for (int id : ids) {
        grown[id] = rectOf(dlg, id);
    }
    dlg->SetSize(initial);
    ASSERT_TRUE(
        PumpUntil([&] { return rectOf(dlg, CPemoDlg::IdExit) != grown[CPemoDlg::IdExit]; }, std::chrono::seconds(5)));
    std::map<int, wxRect> small;
    for (int id : ids) {
        small[id] = rectOf(dlg, id);
    }
    const wxSize d(100, 80);
    EXPECT_EQ(grown[CPemoDlg::IdTaskList].GetSize(), small[CPemoDlg::IdTaskList].GetSize() + d);   // (1, 1)
    EXPECT_EQ(grown[CPemoDlg::IdLogPane].GetWidth(), small[CPemoDlg::IdLogPane].GetWidth() + d.x); // (1, 2)
    EXPECT_EQ(grown[CPemoDlg::IdLogPane].GetTop(), small[CPemoDlg::IdLogPane].GetTop() + d.y);
    EXPECT_EQ(grown[CPemoDlg::IdLogPane].GetHeight(), small[CPemoDlg::IdLogPane].GetHeight());
    EXPECT_EQ(grown[CPemoDlg::IdStatistics].GetPosition(), small[CPemoDlg::IdStatistics].GetPosition() + d); // (2, 2)
    EXPECT_EQ(grown[CPemoDlg::IdExit].GetPosition(), small[CPemoDlg::IdExit].GetPosition() + d);
    EXPECT_EQ(grown[CPemoDlg::IdRunAll].GetPosition(), small[CPemoDlg::IdRunAll].GetPosition() + wxSize(d.x, 0));
    EXPECT_EQ(grown[CPemoDlg::IdNew].GetPosition(), small[CPemoDlg::IdNew].GetPosition() + wxSize(0, d.y)); // (0, 2)
    EXPECT_EQ(grown[CPemoDlg::IdBar].GetWidth(), small[CPemoDlg::IdBar].GetWidth() + d.x);
}

TEST_F(MainWindowTest, SyntheticInputReachesTheCommands) {
    Start({MakeTask("First"), MakeTask("Second")});
    dlg->Raise();
    PumpEvents(std::chrono::milliseconds(200));
    wxUIActionSimulator input;

    // A click on "New ..." opens the editor.
    int editorRuns = 0;
    dlg->runEditor = [&](Task&) {
        ++editorRuns;
        return false;
    };
    wxButton* add = dlg->Button(CPemoDlg::IdNew);
    input.MouseMove(add->ClientToScreen(wxPoint(add->GetSize().x / 2, add->GetSize().y / 2)));
    PumpEvents(std::chrono::milliseconds(100));
    input.MouseClick();
    ASSERT_TRUE(PumpUntil([&] { return editorRuns == 1; }, std::chrono::seconds(5)));

    // The Delete key in the task list deletes the selected task and saves.
    dlg->TaskList()->SetFocus();
    dlg->TaskList()->SetSelection(0);
    PumpEvents(std::chrono::milliseconds(100));
    input.Char(WXK_DELETE);
    ASSERT_TRUE(PumpUntil([&] { return frame->Job().Tasks().size() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"Second"}));

    // Ctrl+C opens the summary log.
    input.Char('c', wxMOD_CONTROL);
    ASSERT_TRUE(PumpUntil([&] { return !opened.empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(opened.front(), "summary.log");

    // A double click on a log line copies it to the clipboard.
    dlg->AddPaneLine("Line to copy");
    PumpEvents(std::chrono::milliseconds(100));
    const wxPoint line = dlg->LogPane()->ClientToScreen(wxPoint(30, 8));
    input.MouseMove(line);
    PumpEvents(std::chrono::milliseconds(100));
    input.MouseDblClick();
    wxTextDataObject data;
    ASSERT_TRUE(PumpUntil(
        [&] {
            bool got = false;
            if (wxTheClipboard->Open()) {
                got = wxTheClipboard->GetData(data) && data.GetText() == "Line to copy";
                wxTheClipboard->Close();
            }
            return got;
        },
        std::chrono::seconds(5)));
}

TEST_F(MainWindowTest, AFailedSaveIsReportedAndARefreshDuringItsBoxWaits) {
    Start({MakeTask("Kept")});
    frame->Job().SetPath(dir.File("no-such-directory/nightly.job"));
    dlg->runEditor = [](Task& task) {
        task.name = "Added";
        return true;
    };
    // The box's event loop runs a refresh that a worker posted meanwhile.
    shell->showMessage = [this](const std::string& text) {
        messages.push_back(text);
        std::thread([this] { shell->Window().RefreshTaskList(); }).join();
        PumpEvents(std::chrono::milliseconds(100));
    };
    dlg->NewTask();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("no-such-directory"), std::string::npos) << messages[0];
    PumpEvents(std::chrono::milliseconds(100));
    EXPECT_EQ(dlg->TaskList()->Count(), 2); // nothing lost in the window
    EXPECT_EQ(Status(0), "Tasks: 2, disabled: 0");
    EXPECT_EQ(Names(JobOnDisk()), (std::vector<std::string>{"Kept"})); // the old file untouched
}
