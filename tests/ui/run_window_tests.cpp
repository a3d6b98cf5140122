// Runs from the window: the controls during and after a run, Pause and Stop with their log lines,
// Exit during a run, the statistics after it, a screenshot of the window's colours, the shell's
// message boxes and timers, and the real program opening its window.
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/settings.h>

#include "main_window_support.h"
#include "model/job_file.h"
#include "ui/desktop_power.h"
#include "ui/hscroll_list_box.h"
#include "ui/list_box_ebx.h"
#include "ui/progress_display.h"
#include "ui/system_tray.h"

#include <X11/Xlib.h>

namespace {

void WriteBytes(const std::filesystem::path& path, std::size_t size, char fill = 'x') {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    const std::string block(64 * 1024, fill);
    for (std::size_t written = 0; written < size; written += block.size()) {
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - written)));
    }
}

bool HasLineStarting(const std::vector<std::string>& lines, const std::string& start) {
    for (const std::string& line : lines) {
        if (line.rfind(start, 0) == 0) {
            return true;
        }
    }
    return false;
}

bool Near(const wxColour& a, const wxColour& b, int tolerance = 8) {
    return std::abs(a.Red() - b.Red()) <= tolerance && std::abs(a.Green() - b.Green()) <= tolerance &&
           std::abs(a.Blue() - b.Blue()) <= tolerance;
}

std::string Text(const wxColour& c) {
    return std::to_string(c.Red()) + "," + std::to_string(c.Green()) + "," + std::to_string(c.Blue());
}

// Asks a top-level window to close, as a window manager's close box does.
bool SendDeleteRequest(unsigned long window) {
    Display* display = XOpenDisplay(TestDisplay().c_str());
    if (!display) {
        return false;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
    return sent != 0;
}

} // namespace

class RunWindowTest : public MainWindowTest {
protected:
    Task SourceTask(const std::string& name) {
        WriteBytes(dir.Path() / name / "src" / "a.txt", 1000);
        WriteBytes(dir.Path() / name / "src" / "sub" / "b.bin", 200000, 'b');
        WriteBytes(dir.Path() / name / "src" / "c.txt", 10, 'c');
        std::filesystem::create_directories(dir.Path() / name / "dst");
        return MakeTask(name, (dir.Path() / name / "src").string(), (dir.Path() / name / "dst").string());
    }
    // Starts Run all and pauses it at its first copy. The run's log cannot be created (its name
    // is taken by a directory), so the runner waits for its message box on the user-interface
    // thread after it has cleared the pause flag of the previous run: pausing there holds the
    // run before its first copy.
    void StartHeldRun() {
        std::filesystem::create_directory(dir.Path() / "log.html");
        shell->showMessage = [this](const std::string& text) {
            messages.push_back(text);
            if (!frame->Run().State().paused) {
                dlg->PauseResume();
            }
        };
        dlg->RunAll();
        ASSERT_TRUE(PumpUntil([this] { return frame->Run().State().paused && !Enabled(CPemoDlg::IdRunAll); }));
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.front().rfind("Error opening logfile:", 0), 0u) << messages.front();
        messages.clear();
    }
    std::string StatsCell(int row, int column) { return dlg->Statistics()->GetItemText(row, column).utf8_string(); }
};

// The buttons are disabled during a run, but a click queued before that, a key, the context
// menu or the tray still reached the commands, which changed `tasks` under the runner.
TEST_F(RunWindowTest, TaskListCommandsAreRefusedByTheControllerDuringARun) {
    Start({SourceTask("one"), SourceTask("two")});
    StartHeldRun();
    int editorRuns = 0;
    dlg->runEditor = [&](Task& task) {
        ++editorRuns;
        task.name = "changed";
        return true;
    };
    int fileDialogs = 0;
    dlg->runFileDialog = [&](bool, const std::string&, std::string& chosen) {
        ++fileDialogs;
        chosen = dir.File("other.job");
        return true;
    };
    dlg->TaskList()->SetSelection(0);
    dlg->NewTask();
    dlg->EditTask(0);
    dlg->DuplicateTask(0);
    dlg->DeleteTask();
    dlg->MoveTask(false);
    dlg->ToggleEnabled(0);
    dlg->SetAllEnabled(false);
    dlg->TaskMenuCommand(CPemoDlg::IdContextAdd, 0);
    dlg->TaskMenuCommand(CPemoDlg::IdContextDelete, 0);
    dlg->HandleKey(WXK_DELETE, false, true);
    dlg->NewJob();
    dlg->OpenJob();
    EXPECT_EQ(editorRuns, 0);
    EXPECT_EQ(fileDialogs, 0);
    EXPECT_EQ(messages.size(), 12u);
    for (const auto& message : messages) {
        EXPECT_EQ(message, "A job is running. Wait until it has ended or stop it first.");
    }
    ASSERT_EQ(frame->Job().Tasks().size(), 2u);
    EXPECT_EQ(frame->Job().Tasks()[0]->name, "one");
    EXPECT_EQ(frame->Job().Tasks()[1]->name, "two");
    EXPECT_TRUE(frame->Job().Tasks()[0]->enabled && frame->Job().Tasks()[1]->enabled);
    EXPECT_FALSE(std::filesystem::exists(dir.File("other.job")));
    messages.clear();
    dlg->PauseResume();
    ASSERT_TRUE(WaitForIdle());
}

// A run can start (from the tray) while a modal editor or file dialog is open: the command
// checks again when it closes.
TEST_F(RunWindowTest, ARunStartedDuringAModalDialogStillRefusesItsChange) {
    Start({SourceTask("one")});
    dlg->runEditor = [&](Task& task) {
        StartHeldRun();
        task.name = "added";
        return true;
    };
    dlg->NewTask();
    ASSERT_TRUE(frame->Run().State().running);
    EXPECT_EQ(frame->Job().Tasks().size(), 1u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "A job is running. Wait until it has ended or stop it first.");
    messages.clear();
    dlg->PauseResume();
    ASSERT_TRUE(WaitForIdle());

    TaskList other;
    other.push_back(std::make_unique<Task>(MakeTask("other")));
    std::string path;
    struct : IMessagePort {
        void MessageBox(const std::string&) override {}
    } quiet;
    ASSERT_TRUE(SaveJob(dir.File("other.job"), other, path, quiet, NativeFileSystem()));
    for (bool newJob : {false, true}) {
        dlg->runFileDialog = [&](bool, const std::string&, std::string& chosen) {
            // Something to copy, where the pause can hold the run.
            WriteBytes(dir.Path() / "one" / "src" / (newJob ? "new2.txt" : "new1.txt"), 1000);
            StartHeldRun();
            chosen = dir.File(newJob ? "fresh.job" : "other.job");
            return true;
        };
        messages.clear();
        newJob ? dlg->NewJob() : dlg->OpenJob();
        EXPECT_EQ(frame->Job().Path(), jobFile) << newJob;
        ASSERT_EQ(frame->Job().Tasks().size(), 1u);
        EXPECT_EQ(frame->Job().Tasks()[0]->name, "one");
        EXPECT_EQ(messages.size(), 1u);
        messages.clear();
        dlg->PauseResume();
        ASSERT_TRUE(WaitForIdle());
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("fresh.job")));
}

TEST_F(RunWindowTest, ControlsDuringAndAfterARunWithPause) {
    Start({SourceTask("job")});
    const int editing[] = {CPemoDlg::IdNew, CPemoDlg::IdEdit, CPemoDlg::IdDelete, CPemoDlg::IdDuplicate,
                           CPemoDlg::IdUp,  CPemoDlg::IdDown, CPemoDlg::IdRunAll, CPemoDlg::IdRunSelected};
    StartHeldRun();
    EXPECT_EQ(dlg->ControlText(CPemoDlg::IdPause), "Resume");
    for (int id : editing) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    EXPECT_TRUE(Enabled(CPemoDlg::IdPause));
    EXPECT_TRUE(frame->Run().State().running);
    EXPECT_EQ(dlg->ControlText(CPemoDlg::IdProgressCaption), "Files:");
    EXPECT_TRUE(HasLineStarting(PaneLines(), "Job paused"));
    // Refused while the runner reads the tasks.
    dlg->SortTasks();
    ASSERT_FALSE(messages.empty());
    messages.clear();
    dlg->DropJob({jobFile});
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(dlg->BuildTaskMenu(0), nullptr);

    dlg->PauseResume();
    EXPECT_FALSE(frame->Run().State().paused);
    EXPECT_EQ(dlg->ControlText(CPemoDlg::IdPause), "Pause");
    EXPECT_TRUE(HasLineStarting(PaneLines(), "Job restarted"));
    ASSERT_TRUE(WaitForIdle());
    for (int id : editing) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    EXPECT_FALSE(Enabled(CPemoDlg::IdPause));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "job" / "dst" / "sub" / "b.bin"));
    EXPECT_TRUE(HasLineStarting(PaneLines(), "Done at "));
    // The figures of the run, and the last-run time on the card and in the job file.
    EXPECT_EQ(StatsCell(RowNew, 1), "3");
    EXPECT_EQ(StatsCell(RowNew, 2), "196 KiB");
    EXPECT_EQ(StatsCell(RowErrors, 1), "0");
    EXPECT_EQ(dlg->Statistics()->HighlightedRow(), -1);
    EXPECT_NE(StatsCell(RowTime, 1), "0");
    const std::vector<Task> disk = JobOnDisk();
    ASSERT_EQ(disk.size(), 1u);
    EXPECT_NE(disk[0].lastRun, -1);
    const std::string card = dlg->TaskList()->ItemText(0);
    EXPECT_NE(card.substr(card.rfind('\n') + 1), "");
    EXPECT_FALSE(shell->TimerRunning(runTimerId));
}

TEST_F(RunWindowTest, StopEndsTheRunWithItsLine) {
    Task task = SourceTask("job");
    Start({task});
    StartHeldRun();
    dlg->Stop();
    EXPECT_TRUE(frame->Run().State().stopRequested);
    EXPECT_TRUE(frame->Run().State().stay);
    dlg->PauseResume();
    ASSERT_TRUE(WaitForIdle());
    EXPECT_TRUE(HasLineStarting(PaneLines(), "Job stopped at user request at "));
    EXPECT_FALSE(HasLineStarting(PaneLines(), "Done at "));
    // The run selected from the window starts again from a cleared stop.
    std::filesystem::remove(dir.Path() / "log.html");
    dlg->TaskList()->SetSelection(0);
    dlg->RunSelected();
    EXPECT_FALSE(frame->Run().State().stopRequested);
    ASSERT_TRUE(WaitForIdle());
    EXPECT_TRUE(HasLineStarting(PaneLines(), "Done at "));
}

TEST_F(RunWindowTest, ExitDuringARunKeepsTheProgramUntilTheSecondExit) {
    Start({SourceTask("job")});
    StartHeldRun();
    dlg->CloseBox(); // the close box during a run does nothing at all
    EXPECT_FALSE(frame->Run().State().stopRequested);
    EXPECT_EQ(programEnds, 0);
    answer = false;
    dlg->Exit(); // asks first: No carries on
    EXPECT_FALSE(frame->Run().State().stopRequested);
    answer = true;
    dlg->Exit(); // requests a stop, stays open
    EXPECT_TRUE(frame->Run().State().stopRequested);
    EXPECT_EQ(questions, std::vector<std::string>(2, "A run is in progress. Stop it and exit?"));
    EXPECT_EQ(programEnds, 0);
    dlg->PauseResume();
    ASSERT_TRUE(WaitForIdle());
    EXPECT_NE(shell->Dialog(), nullptr);
    shell->Dialog()->Exit();
    EXPECT_EQ(programEnds, 1);
    EXPECT_EQ(shell->Dialog(), nullptr);
    dlg = nullptr;
    EXPECT_TRUE(frame->Job().Tasks().empty());
}

TEST_F(RunWindowTest, ScreenshotShowsTheColours) {
    // First run: everything new. Second run: 3 MiB the same, 1 MiB changed, 1 MiB new.
    const std::filesystem::path big = dir.Path() / "big";
    WriteBytes(big / "src" / "same.bin", 3 * 1048576);
    WriteBytes(big / "src" / "changed.bin", 1048576);
    std::filesystem::create_directories(big / "dst");
    Task task = MakeTask("Photos", (big / "src").string(), (big / "dst").string());
    task.colour = 0x00C0FFFF; // light yellow card
    task.safeMode = true;
    Task second = SourceTask("docs");
    second.name = "Documents";
    second.colour = 0x00FFE0E0; // light blue card
    second.exclusions = "*.tmp;\\cache";
    Start({task, second});
    dlg->SetSize(1000, 720);
    dlg->RunAll();
    ASSERT_TRUE(WaitForIdle());
    WriteBytes(big / "src" / "changed.bin", 1048576, 'y');
    std::filesystem::last_write_time(big / "src" / "changed.bin",
                                     std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
    WriteBytes(big / "src" / "new.bin", 1048576, 'n');
    dlg->RunAll();
    ASSERT_TRUE(WaitForIdle());
    dlg->Raise();
    PumpEvents(std::chrono::milliseconds(300));
    EXPECT_EQ(StatsCell(RowSame, 1), "4");
    EXPECT_EQ(StatsCell(RowChanged, 1), "1");
    EXPECT_EQ(StatsCell(RowNew, 1), "1");
    EXPECT_EQ(StatsCell(RowNew, 2), "1 MiB");

    CProgressBarPainter* bar = dlg->Bar();
    EXPECT_EQ(bar->Values(), (std::array<int, 4>{3, 1, 1, 0}));
    const BarLayout layout = bar->CurrentLayout();
    const int middle = bar->GetClientSize().y / 2;
    auto segment = [&](int i) {
        return bar->ClientToScreen(wxPoint(2 + layout.left[i] + layout.width[i] / 2, middle));
    };
    const wxPoint card = dlg->TaskList()->ClientToScreen(
        wxPoint(dlg->TaskList()->GetClientSize().x / 2, 4 * dlg->TaskList()->LineHeight() + 2));
    auto rowPoint = [&](int row) {
        wxRect r;
        dlg->Statistics()->GetItemRect(row, r);
        return dlg->Statistics()->ClientToScreen(wxPoint(r.GetRight() - 4, r.GetTop() + r.GetHeight() / 2));
    };
    std::vector<wxColour> colours;
    const std::string shot = std::string(PEMO_SCREENSHOT_DIR) + "/main-window.png";
    ASSERT_TRUE(ScreenPixels({segment(SegSame), segment(SegChanged), segment(SegNew), card, rowPoint(RowSame),
                              rowPoint(RowChanged), rowPoint(RowNew)},
                             colours));
    EXPECT_TRUE(Near(colours[0], wxColour(153, 155, 255))) << Text(colours[0]);
    EXPECT_TRUE(Near(colours[1], wxColour(231, 162, 111))) << Text(colours[1]);
    EXPECT_TRUE(Near(colours[2], wxColour(128, 255, 128))) << Text(colours[2]);
    EXPECT_TRUE(Near(colours[3], wxColour(255, 255, 192))) << Text(colours[3]);
    EXPECT_TRUE(Near(colours[4], wxColour(153, 155, 255))) << Text(colours[4]);
    EXPECT_TRUE(Near(colours[5], wxColour(231, 162, 111))) << Text(colours[5]);
    EXPECT_TRUE(Near(colours[6], wxColour(128, 255, 128))) << Text(colours[6]);
    EXPECT_TRUE(SaveWindowPicture(dlg, shot));

    // Green switch words on the right of the first card's first line.
    std::vector<wxPoint> words;
    const wxPoint origin = dlg->TaskList()->ClientToScreen(wxPoint(0, 0));
    const int width = dlg->TaskList()->GetClientSize().x;
    for (int x = width * 2 / 3; x < width; ++x) {
        for (int y = 3; y < 3 + dlg->TaskList()->LineHeight(); ++y) {
            words.push_back(origin + wxPoint(x, y));
        }
    }
    ASSERT_TRUE(ScreenPixels(words, colours));
    int green = 0;
    for (const wxColour& c : colours) {
        green += Near(c, wxColour(0, 128, 0), 30) ? 1 : 0;
    }
    EXPECT_GT(green, 5);
}

// Run by the dark_theme test under GTK_THEME=Adwaita:dark: the paths on an uncoloured card and on a
// light one, and the light statistics rows, stand out from what they are drawn on.
TEST_F(RunWindowTest, DarkThemeKeepsTextLegible) {
    if (wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW).GetLuminance() >= 0.5) {
        GTEST_SKIP() << "the desktop theme is light (the dark_theme test sets GTK_THEME=Adwaita:dark)";
    }
    Task coloured = SourceTask("Photos");
    coloured.colour = 0x00C0FFFF;
    Start({SourceTask("Documents"), coloured});
    dlg->SetSize(1000, 720);
    dlg->RunAll();
    ASSERT_TRUE(WaitForIdle());
    dlg->Raise();
    PumpEvents(std::chrono::milliseconds(300));
    EXPECT_TRUE(SaveWindowPicture(dlg, std::string(PEMO_SCREENSHOT_DIR) + "/dark-theme.png"));
    // The spread of lightness in a strip: text legible on its background makes it large.
    auto contrast = [](wxWindow* in, const wxRect& strip) {
        std::vector<wxPoint> points;
        for (int x = strip.x; x < strip.GetRight(); x += 2) {
            for (int y = strip.y; y < strip.GetBottom(); ++y) {
                points.push_back(in->ClientToScreen(wxPoint(x, y)));
            }
        }
        std::vector<wxColour> colours;
        EXPECT_TRUE(ScreenPixels(points, colours));
        const auto [low, high] = std::minmax_element(
            colours.begin(), colours.end(), [](auto& a, auto& b) { return a.GetLuminance() < b.GetLuminance(); });
        return high->GetLuminance() - low->GetLuminance();
    };
    const int line = dlg->TaskList()->LineHeight();
    const int card = dlg->TaskList()->ItemHeightPx() + 6;
    for (const int top : {3 + 2 * line, card + 3 + 2 * line}) {
        EXPECT_GT(contrast(dlg->TaskList(), wxRect(3, top, dlg->TaskList()->GetClientSize().x / 2, line)), 0.45) << top;
    }
    for (const int row : {RowSame, RowNew}) {
        wxRect r;
        dlg->Statistics()->GetItemRect(row, r);
        EXPECT_GT(contrast(dlg->Statistics(), r), 0.45) << "row " << row;
    }
}

TEST_F(MainWindowTest, ErrorsRowTurnsRed) {
    Start({});
    RunStats stats;
    stats.errors = 1;
    shell->Window().SetProgressState(stats, NowLocal());
    dlg->UpdateProgress();
    EXPECT_EQ(dlg->Statistics()->HighlightedRow(), RowErrors);
    EXPECT_EQ(dlg->Statistics()->GetItemTextColour(RowErrors), wxColour(255, 0, 0));
    shell->Window().SetProgressState(RunStats{}, 0.0);
    dlg->UpdateProgress();
    EXPECT_EQ(dlg->Statistics()->HighlightedRow(), -1);
    EXPECT_NE(dlg->Statistics()->GetItemTextColour(RowErrors), wxColour(255, 0, 0));
}

TEST_F(MainWindowTest, WorkerMessageBoxWaitsForTheUserInterface) {
    Start({});
    std::vector<std::string> shownOn;
    shell->showMessage = [&](const std::string& text) {
        shownOn.push_back(wxIsMainThread() ? "ui:" + text : "worker:" + text);
    };
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        shell->MessageBox("Error saving logfile");
        returned = true;
    });
    // The worker waits until the user-interface thread has shown the box.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned);
    ASSERT_TRUE(PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(shownOn, (std::vector<std::string>{"ui:Error saving logfile"}));

    // After the event loop has ended nobody answers: a worker's box returns at once, unshown.
    shell->LoopEnded();
    std::thread late([&] { shell->MessageBox("Error closing logfile"); });
    late.join();
    shell->MessageBox("On the user-interface thread");
    PumpEvents(std::chrono::milliseconds(100));
    EXPECT_EQ(shownOn.size(), 1u);
}

TEST_F(MainWindowTest, TimersAndPostedWork) {
    Start({});
    int ticks = 0;
    std::vector<int> order;
    std::thread worker([&] {
        shell->StartTimer(77, 50, [&] { ++ticks; });
        for (int i = 0; i < 5; ++i) {
            shell->PostToUi([&order, i] { order.push_back(i); });
        }
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, std::chrono::seconds(5)));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(shell->TimerRunning(77));
    shell->StopTimer(77);
    EXPECT_FALSE(shell->TimerRunning(77));
    const int stoppedAt = ticks;
    PumpEvents(std::chrono::milliseconds(200));
    EXPECT_EQ(ticks, stoppedAt);
}

TEST_F(MainWindowTest, WithoutANotificationAreaTheWindowOffersTheCommands) {
    StartOptions options;
    options.runAll = true; // a hidden start-up run
    Start({}, options);
    // Xvfb has no notification area: the program carries on and shows its window instead.
    ASSERT_NE(shell->Tray(), nullptr);
    EXPECT_FALSE(shell->Tray()->Enabled());
    EXPECT_TRUE(dlg->IsShown());
    EXPECT_TRUE(frame->DialogShown());
    EXPECT_EQ(programEnds, 0);
    for (int id : {CPemoDlg::IdRunAll, CPemoDlg::IdExit}) {
        EXPECT_NE(dlg->Button(id), nullptr);
    }
    ASSERT_TRUE(WaitForIdle());
    // The icon operations still keep the icon's state for when a host appears.
    shell->Window().SetTrayIcon(143);
    EXPECT_EQ(shell->Tray()->IconId(), 143);
    // The tray menu's commands reach the frame.
    std::unique_ptr<wxMenu> menu(shell->Tray()->CreatePopupMenu());
    EXPECT_EQ(menu->GetLabelText(CSystemTray::IdShow), "Show Pemo");
    EXPECT_EQ(menu->GetLabelText(CSystemTray::IdRunAll), "Run all");
    shell->TrayCommand(CSystemTray::IdBalloonClick);
    EXPECT_EQ(opened.size(), 1u); // the run's log
    shell->TrayCommand(CSystemTray::IdExit);
    EXPECT_EQ(programEnds, 1);
}

TEST(DesktopPower, KeyReleaseReachesTheXServer) {
    EXPECT_TRUE(SendHarmlessKeyRelease());
}

TEST(RealProgram, OpensItsWindowOnAJobAndClosesFromIt) {
    CGuiTempDir dir;
    TaskList tasks;
    tasks.push_back(std::make_unique<Task>(MakeTask("Scripted", "/nonexistent-src", dir.File("dst"))));
    std::string path;
    struct : IMessagePort {
        void MessageBox(const std::string&) override {}
    } quiet;
    ASSERT_TRUE(SaveJob(dir.File("scripted.job"), tasks, path, quiet, NativeFileSystem()));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a test that crashed
        if (chdir(dir.Path().c_str()) != 0) {
            _exit(126);
        }
        setenv("DISPLAY", TestDisplay().c_str(), 1);
        // The program saves its window size on close: into the test's directory, not the home.
        setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
        execl(PEMO_BINARY, "pemo", "-file", "scripted.job", static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string search = "DISPLAY=" + TestDisplay() +
                               " timeout 20 xdotool search --sync --name 'scripted - Pemo v3.00' > " +
                               dir.File("window.txt");
    EXPECT_EQ(std::system(search.c_str()), 0);
    std::ifstream ids(dir.File("window.txt"));
    std::string window;
    std::getline(ids, window);
    ASSERT_FALSE(window.empty());
    // The title-bar close box: the window manager's delete request.
    ASSERT_TRUE(SendDeleteRequest(std::stoul(window)));
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (waitpid(pid, &status, WNOHANG) == 0 && !WIFEXITED(status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the program did not end when its window was closed";
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "Vexal" / "pemo.conf"));
}

TEST(RealProgram, WithoutADisplaySaysSoAndFails) {
    CGuiTempDir dir;
    const std::string command = "cd '" + dir.Path().string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY " + PEMO_BINARY +
                                " -file none.job 2> " + dir.File("err.txt");
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(ReadFileBytes(dir.File("err.txt")).find("no display"), std::string::npos)
        << ReadFileBytes(dir.File("err.txt"));
}

// Started as the desktop starts it, in the home folder with the job's path: the run's files land
// beside the job, and the window closes itself after a -runall run.
TEST(RealProgram, AnUnattendedWindowRunClosesItselfAfterTheRunAndLogsBesideItsJob) {
    CGuiTempDir dir;
    WriteBytes(dir.Path() / "src" / "a.txt", 5000);
    WriteBytes(dir.Path() / "src" / "sub" / "b.txt", 7000);
    TaskList tasks;
    tasks.push_back(std::make_unique<Task>(MakeTask("Nightly", dir.File("src"), dir.File("dst"))));
    std::filesystem::create_directories(dir.Path() / "dst");
    std::string path;
    struct : IMessagePort {
        void MessageBox(const std::string&) override {}
    } quiet;
    std::filesystem::create_directories(dir.Path() / "home");
    std::filesystem::create_directories(dir.Path() / "jobs");
    ASSERT_TRUE(SaveJob(dir.File("jobs/nightly.job"), tasks, path, quiet, NativeFileSystem()));
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a test that crashed
        if (chdir(dir.File("home").c_str()) != 0) {
            _exit(126);
        }
        setenv("DISPLAY", TestDisplay().c_str(), 1);
        setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
        execl(PEMO_BINARY, "pemo", "-runall", "-show", "-noballoon", "../jobs/nightly.job",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(40)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the program did not close itself after the run";
    }
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The close timer waits 10 s after the run before it closes the program.
    EXPECT_GE(took, std::chrono::seconds(9));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "dst" / "sub" / "b.txt"));
    EXPECT_NE(ReadFileBytes(dir.File("jobs/summary.log")).find("nightly.job"), std::string::npos)
        << ReadFileBytes(dir.File("jobs/summary.log"));
    EXPECT_TRUE(std::filesystem::exists(dir.File("jobs/log.html")));
    // The home folder the desktop started it in keeps nothing of the run.
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "home"));
    // The job was saved where it was read, with the run's time.
    TaskList saved;
    ASSERT_TRUE(LoadJob(dir.File("jobs/nightly.job"), saved, path, quiet, NativeFileSystem()));
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_NE(saved[0]->lastRun, -1);
}

// Preview from the Run menu, its buttons and the tray: nothing changes on disk, the log goes to
// log-preview.html, and the Deleted row turns red while deletions are still to come.
TEST_F(RunWindowTest, PreviewChangesNothingAndTheDeletedRowTurnsRed) {
    Task task = SourceTask("job");
    WriteBytes(dir.Path() / "job" / "dst" / "extra.txt", 10, 'e');
    Start({task});
    const std::filesystem::path dst = dir.Path() / "job" / "dst";
    wxMenuBar* menus = dlg->GetMenuBar();
    ASSERT_NE(menus->FindMenu("Run"), wxNOT_FOUND);
    for (int id : {CPemoDlg::IdMenuRunAll, CPemoDlg::IdMenuRunSelected, CPemoDlg::IdMenuPreviewAll,
                   CPemoDlg::IdMenuPreviewSelected}) {
        ASSERT_NE(menus->FindItem(id), nullptr) << id;
    }
    EXPECT_EQ(menus->GetLabel(CPemoDlg::IdMenuPreviewAll), "&Preview all");
    EXPECT_FALSE(dlg->Statistics()->DeletionWarning());
    // At the size of the screenshot the added buttons still fit beside the task list.
    dlg->SetSize(1000, 720);
    PumpEvents(std::chrono::milliseconds(100));
    for (int id : {CPemoDlg::IdRunAll, CPemoDlg::IdRunSelected, CPemoDlg::IdPreviewAll, CPemoDlg::IdPreviewSelected,
                   CPemoDlg::IdStop, CPemoDlg::IdPause, CPemoDlg::IdUp, CPemoDlg::IdDown}) {
        const wxRect button = dlg->Button(id)->GetRect();
        EXPECT_FALSE(button.Intersects(dlg->LogPane()->GetRect())) << id;
        EXPECT_FALSE(button.Intersects(dlg->Statistics()->GetRect())) << id;
        EXPECT_FALSE(button.Intersects(dlg->TaskList()->GetRect())) << id;
    }

    wxCommandEvent previewAll(wxEVT_MENU, CPemoDlg::IdMenuPreviewAll);
    dlg->ProcessWindowEvent(previewAll);
    ASSERT_TRUE(WaitForIdle());
    EXPECT_TRUE(frame->Run().State().previewing);
    EXPECT_FALSE(std::filesystem::exists(dst / "a.txt"));
    EXPECT_TRUE(std::filesystem::exists(dst / "extra.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "log-preview.html"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "log.html"));
    EXPECT_EQ(StatsCell(RowNew, 1), "3");
    EXPECT_EQ(StatsCell(RowDeleted, 1), "1");
    EXPECT_TRUE(dlg->Statistics()->DeletionWarning());
    EXPECT_EQ(dlg->Statistics()->GetItemBackgroundColour(RowDeleted), wxColour(255, 0, 0));
    EXPECT_EQ(JobOnDisk().front().lastRun, -1);

    // The buttons: disabled during a run with the other run buttons, and Preview selected runs.
    ASSERT_NE(dlg->Button(CPemoDlg::IdPreviewAll), nullptr);
    wxButton* previewSelected = dlg->Button(CPemoDlg::IdPreviewSelected);
    ASSERT_NE(previewSelected, nullptr);
    EXPECT_TRUE(previewSelected->IsEnabled());
    dlg->TaskList()->SetSelection(0);
    const int finished = frame->Run().State().runThreadsFinished;
    wxCommandEvent click(wxEVT_BUTTON, CPemoDlg::IdPreviewSelected);
    click.SetEventObject(previewSelected);
    previewSelected->ProcessWindowEvent(click);
    ASSERT_TRUE(PumpUntil([&] { return frame->Run().State().runThreadsFinished > finished; }));
    ASSERT_TRUE(WaitForIdle());
    EXPECT_TRUE(HasLineStarting(PaneLines(), "Starting the task \"job\" ***in 'fake it' mode***"));
    EXPECT_FALSE(std::filesystem::exists(dst / "a.txt"));

    // The tray offers it too.
    std::unique_ptr<wxMenu> trayMenu(shell->Tray()->CreatePopupMenu());
    EXPECT_EQ(trayMenu->GetLabelText(CSystemTray::IdPreviewAll), "Preview all");
    const int before = frame->Run().State().runThreadsFinished;
    shell->TrayCommand(CSystemTray::IdPreviewAll);
    ASSERT_TRUE(PumpUntil([&] { return frame->Run().State().runThreadsFinished > before; }));
    ASSERT_TRUE(WaitForIdle());
    EXPECT_FALSE(std::filesystem::exists(dst / "a.txt"));
    EXPECT_TRUE(dlg->Statistics()->DeletionWarning());

    // A real run does the deletions and takes the warning away.
    wxCommandEvent runAll(wxEVT_MENU, CPemoDlg::IdMenuRunAll);
    dlg->ProcessWindowEvent(runAll);
    ASSERT_TRUE(WaitForIdle());
    EXPECT_FALSE(frame->Run().State().previewing);
    EXPECT_TRUE(std::filesystem::exists(dst / "a.txt"));
    EXPECT_FALSE(std::filesystem::exists(dst / "extra.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "log.html"));
    EXPECT_EQ(StatsCell(RowDeleted, 1), "1");
    EXPECT_FALSE(dlg->Statistics()->DeletionWarning());
    EXPECT_NE(dlg->Statistics()->GetItemBackgroundColour(RowDeleted), wxColour(255, 0, 0));
}
