// The window's task-list and job-file commands without a window: what they change, what they
// save to a real job file, what they ask the window to show, and the run guard they share.
#include "app/job_commands.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "app/window_title.h"
#include "support/temp_dir.h"
#include "util/large_number.h"

namespace {

class RecordingPort : public IMessagePort {
public:
    void MessageBox(const std::string& text) override {
        texts.push_back(text);
        if (onBox) {
            onBox();
        }
    }
    std::vector<std::string> texts;
    std::function<void()> onBox;
};

// Scripted modal steps and a log of what the commands asked the window to show.
class ScriptedView : public IJobView {
public:
    bool EditTaskValues(Task& task) override {
        ++editorsShown;
        seen = task;
        if (edits.empty()) {
            return false;
        }
        auto edit = std::move(edits.front());
        edits.pop_front();
        return edit(task);
    }
    bool ChooseJobFile(bool save, const std::string& initial, std::string& chosen) override {
        chooserSaves.push_back(save);
        chooserInitial.push_back(initial);
        if (duringChooser) {
            duringChooser();
        }
        if (files.empty()) {
            return false;
        }
        chosen = files.front();
        files.pop_front();
        return true;
    }
    void ShowTasks() override { ++redraws; }
    void SelectTask(int index, bool focus) override {
        selected = index;
        focused = focus;
    }
    void ShowTitle(const std::string& text) override { title = text; }

    std::deque<std::function<bool(Task&)>> edits;
    std::deque<std::string> files;
    std::function<void()> duringChooser;
    int editorsShown = 0;
    Task seen;
    std::vector<bool> chooserSaves;
    std::vector<std::string> chooserInitial;
    int redraws = 0;
    int selected = -2;
    bool focused = false;
    std::string title;
};

Task Named(const std::string& name, const std::string& source = "/src") {
    Task task;
    task.name = name;
    task.source = source;
    task.destination = "/dst";
    return task;
}

std::vector<std::string> Names(const TaskList& tasks) {
    std::vector<std::string> names;
    for (const auto& task : tasks) {
        names.push_back(task->name);
    }
    return names;
}

struct JobCommandsTest : ::testing::Test {
    TempDir dir;
    // The runs as the commands see them.
    struct Runs : IJobRuns {
        bool RunActive() const override { return running; }
        void KeepOpen() override {
            stay = true;
            shutdown = false;
        }
        void ForgetSourceTotal() override { sourceTotal = CLargeNumber(); }
        bool running = false;
        bool stay = false;
        bool shutdown = true;
        CLargeNumber sourceTotal{5u};
    } runs;
    CJob job{NativeFileSystem()};
    TaskList& tasks = job.Tasks();
    bool& running = runs.running;
    const bool& stay = runs.stay;
    const bool& shutdown = runs.shutdown;
    CLargeNumber& sourceTotal = runs.sourceTotal;
    RecordingPort notices;
    RecordingPort reports;
    ScriptedView view;
    CJobCommands jobs{job, runs, notices, reports};

    JobCommandsTest() {
        job.SetPath(dir / "nightly.job");
        jobs.AttachView(&view);
    }
    void Give(std::initializer_list<Task> list) {
        for (const Task& task : list) {
            tasks.push_back(std::make_unique<Task>(task));
        }
        ASSERT_TRUE(jobs.SaveJob(job.Path()));
        sourceTotal = CLargeNumber(5u);
    }
    // The job as the file on disk holds it now.
    std::vector<std::string> SavedNames(const std::string& path) {
        TaskList loaded;
        std::string loadedPath;
        RecordingPort quiet;
        EXPECT_TRUE(LoadJob(path, loaded, loadedPath, quiet, NativeFileSystem())) << path;
        return Names(loaded);
    }
    TaskList Saved() {
        TaskList loaded;
        std::string loadedPath;
        RecordingPort quiet;
        EXPECT_TRUE(LoadJob(job.Path(), loaded, loadedPath, quiet, NativeFileSystem()));
        return loaded;
    }
};

TEST_F(JobCommandsTest, NewAndEditTakeTheEditorsValuesTrimmedAndSaveAtOnce) {
    Give({Named("kept")});
    tasks[0]->lastRun = 1000;
    ASSERT_TRUE(jobs.SaveJob(job.Path()));
    view.edits.push_back([](Task& task) {
        task.name = "new";
        task.source = "  /home/me/src \t";
        task.destination = "\n/backup/dst  ";
        task.lastRun = 77; // ignored: a new task has never run
        return true;
    });
    jobs.NewTaskCommand();
    EXPECT_TRUE(view.seen.enabled && view.seen.recurse);
    EXPECT_EQ(view.seen.colour, 0xFFFFFFu);
    EXPECT_EQ(view.seen.versionDays, kDefaultVersionDays);
    EXPECT_TRUE(stay);
    EXPECT_FALSE(shutdown);
    EXPECT_TRUE(sourceTotal.IsZero());
    TaskList saved = Saved();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1]->name, "new");
    EXPECT_EQ(saved[1]->source, "/home/me/src");
    EXPECT_EQ(saved[1]->destination, "/backup/dst");
    EXPECT_EQ(saved[1]->lastRun, -1);
    EXPECT_EQ(saved[1]->versionDays, kDefaultVersionDays);
    EXPECT_EQ(view.redraws, 1);

    // Editing keeps the last run, trims, selects the edited card.
    view.edits.push_back([](Task& task) {
        task.name = "renamed";
        task.source = " /other ";
        task.lastRun = 5;
        return true;
    });
    jobs.EditTaskCommand(0);
    saved = Saved();
    EXPECT_EQ(saved[0]->name, "renamed");
    EXPECT_EQ(saved[0]->source, "/other");
    EXPECT_EQ(saved[0]->lastRun, 1000);
    EXPECT_EQ(view.selected, 0);

    // Cancelled editors and a bad index change and save nothing.
    const std::string before = ReadFileBytes(job.Path());
    sourceTotal = CLargeNumber(5u);
    jobs.NewTaskCommand();
    jobs.EditTaskCommand(0);
    const int shown = view.editorsShown;
    jobs.EditTaskCommand(2);
    jobs.EditTaskCommand(-1);
    EXPECT_EQ(view.editorsShown, shown);
    EXPECT_EQ(ReadFileBytes(job.Path()), before);
    EXPECT_FALSE(sourceTotal.IsZero());
    EXPECT_TRUE(notices.texts.empty() && reports.texts.empty());
}

TEST_F(JobCommandsTest, ListCommandsChangeSelectAndSave) {
    Give({Named("a"), Named("b"), Named("c")});
    jobs.DuplicateTaskCommand(1);
    EXPECT_EQ(SavedNames(job.Path()), (std::vector<std::string>{"a", "b", "c", "b"}));
    EXPECT_TRUE(sourceTotal.IsZero());

    jobs.DeleteTaskCommand(3); // the last: the one before it is selected
    EXPECT_EQ(view.selected, 2);
    jobs.DeleteTaskCommand(0); // the first: the next one takes its place
    EXPECT_EQ(view.selected, 0);
    EXPECT_EQ(SavedNames(job.Path()), (std::vector<std::string>{"b", "c"}));

    jobs.MoveTaskCommand(0, true);   // the first cannot go up
    jobs.MoveTaskCommand(1, false);  // the last cannot go down
    jobs.MoveTaskCommand(-1, false); // nothing selected
    EXPECT_EQ(SavedNames(job.Path()), (std::vector<std::string>{"b", "c"}));
    sourceTotal = CLargeNumber(5u);
    jobs.MoveTaskCommand(0, false);
    EXPECT_EQ(SavedNames(job.Path()), (std::vector<std::string>{"c", "b"}));
    EXPECT_EQ(view.selected, 1);
    EXPECT_TRUE(view.focused);
    EXPECT_FALSE(sourceTotal.IsZero()) << "the same sources in another order count the same";

    jobs.ToggleEnabledCommand(1);
    EXPECT_FALSE(Saved()[1]->enabled);
    EXPECT_TRUE(Saved()[0]->enabled);
    jobs.SetAllEnabledCommand(false);
    for (const auto& task : Saved()) {
        EXPECT_FALSE(task->enabled);
    }
    jobs.SetAllEnabledCommand(true);
    for (const auto& task : Saved()) {
        EXPECT_TRUE(task->enabled);
    }

    jobs.DeleteTaskCommand(0);
    jobs.DeleteTaskCommand(0);
    EXPECT_TRUE(Saved().empty());
    const int selected = view.selected;
    jobs.DeleteTaskCommand(0); // nothing left to delete
    EXPECT_EQ(view.selected, selected);
    EXPECT_TRUE(notices.texts.empty() && reports.texts.empty());
}

// The runner walks the tasks without a lock: while it runs, no command may change them or the
// job file, and each says why once.
TEST_F(JobCommandsTest, EveryCommandIsRefusedDuringARun) {
    Give({Named("b"), Named("a")});
    const std::string before = ReadFileBytes(job.Path());
    running = true;
    view.edits.push_back([](Task&) { return true; });
    view.files = {dir / "other.job"};
    const std::vector<std::function<void()>> commands = {
        [&] { jobs.NewTaskCommand(); },
        [&] { jobs.EditTaskCommand(0); },
        [&] { jobs.DuplicateTaskCommand(0); },
        [&] { jobs.DeleteTaskCommand(0); },
        [&] { jobs.MoveTaskCommand(0, false); },
        [&] { jobs.ToggleEnabledCommand(0); },
        [&] { jobs.SetAllEnabledCommand(false); },
        [&] { jobs.SortCommand(); },
        [&] { jobs.NewJobCommand(); },
        [&] { jobs.OpenJobCommand(); },
        [&] { jobs.DropCommand({job.Path()}); },
    };
    for (std::size_t i = 0; i < commands.size(); ++i) {
        commands[i]();
        EXPECT_EQ(notices.texts.size(), i + 1) << "command " << i;
    }
    EXPECT_EQ(notices.texts.back(), "A job is running. Wait until it has ended or stop it first.");
    EXPECT_EQ(view.editorsShown, 0);
    EXPECT_TRUE(view.chooserSaves.empty());
    EXPECT_EQ(Names(tasks), (std::vector<std::string>{"b", "a"}));
    EXPECT_TRUE(tasks[0]->enabled);
    EXPECT_EQ(ReadFileBytes(job.Path()), before);
    EXPECT_FALSE(FileExists(dir / "other.job"));
    EXPECT_TRUE(reports.texts.empty()) << "a refusal is no failure";
    EXPECT_EQ(view.redraws, 0);
}

// The editor and the file chooser are modal, and the tray can start a run while they are open.
TEST_F(JobCommandsTest, ARunStartedDuringAModalStepIsStillRefused) {
    Give({Named("only")});
    const std::string before = ReadFileBytes(job.Path());
    auto startRunAndRename = [&](Task& task) {
        running = true;
        task.name = "late";
        return true;
    };
    view.edits.push_back(startRunAndRename);
    jobs.NewTaskCommand();
    running = false;
    view.edits.push_back(startRunAndRename);
    jobs.EditTaskCommand(0);
    running = false;
    view.duringChooser = [&] { running = true; };
    view.files = {dir / "fresh", dir / "other.job"};
    jobs.NewJobCommand();
    running = false;
    jobs.OpenJobCommand();
    EXPECT_EQ(notices.texts.size(), 4u);
    EXPECT_EQ(Names(tasks), std::vector<std::string>{"only"});
    EXPECT_EQ(ReadFileBytes(job.Path()), before);
    EXPECT_FALSE(FileExists(dir / "fresh.job"));
    EXPECT_EQ(job.Path(), dir / "nightly.job");
}

TEST_F(JobCommandsTest, JobFilesChosenInTheWindow) {
    Give({Named("one"), Named("two")});
    // Save as: ".job" appended, the copy written, the title follows the new name.
    view.files = {dir / "Copy"};
    jobs.SaveJobAsCommand();
    EXPECT_EQ(SavedNames(dir / "Copy.job"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(view.title, "Copy - Pemo v3.00");
    EXPECT_EQ(job.Path(), dir / "Copy.job");
    EXPECT_EQ(view.chooserInitial.back(), dir / "nightly.job");

    // New job: an empty job under the chosen name, which becomes the job.
    view.files = {dir / "Fresh.JOB"};
    jobs.NewJobCommand();
    EXPECT_EQ(view.chooserInitial.back(), "new");
    EXPECT_EQ(job.Path(), dir / "Fresh.JOB");
    EXPECT_TRUE(tasks.empty());
    EXPECT_TRUE(SavedNames(dir / "Fresh.JOB").empty());
    EXPECT_FALSE(FileExists(dir / "Fresh.JOB.job"));
    EXPECT_EQ(SavedNames(dir / "nightly.job"), (std::vector<std::string>{"one", "two"}));

    // Open: the chosen job replaces the open one; a cancelled chooser changes nothing.
    view.files = {dir / "nightly.job"};
    jobs.OpenJobCommand();
    EXPECT_EQ(Names(tasks), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(job.Path(), dir / "nightly.job");
    jobs.OpenJobCommand();
    EXPECT_EQ(job.Path(), dir / "nightly.job");

    // Drops: only a single job file opens; a missing one is reported and the job stays.
    jobs.DropCommand({dir / "Copy.job", dir / "Fresh.JOB"});
    WriteFileBytes(dir / "notes.txt", "x");
    jobs.DropCommand({dir / "notes.txt"});
    EXPECT_EQ(job.Path(), dir / "nightly.job");
    jobs.DropCommand({dir / "Fresh.JOB"});
    EXPECT_EQ(job.Path(), dir / "Fresh.JOB");
    EXPECT_TRUE(tasks.empty());
    jobs.DropCommand({dir / "gone.job"});
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_EQ(reports.texts[0], "Error reading " + dir / "gone.job" + "\n\n" + dir / "gone.job" + " was not found.");
    EXPECT_EQ(job.Path(), dir / "Fresh.JOB");
    EXPECT_TRUE(notices.texts.empty());
}

// A failed save shows its box inside the command; a redraw the box's event loop delivers (the
// runner's, a paint) must wait until the save has returned, then happen once.
TEST_F(JobCommandsTest, ARedrawDuringAFailedSaveFollowsTheSave) {
    Give({Named("a")});
    job.SetPath(dir / "missing/dir/x.job");
    std::vector<bool> deferredInBox;
    reports.onBox = [&] { deferredInBox.push_back(jobs.DeferRedraw()); };
    const int before = view.redraws;
    jobs.DuplicateTaskCommand(0);
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_EQ(deferredInBox, std::vector<bool>{true});
    EXPECT_EQ(view.redraws, before + 2) << "the command's own redraw and the deferred one";
    EXPECT_FALSE(jobs.DeferRedraw()) << "outside a save a redraw happens at once";
}

TEST(WindowTitle, TitleRuleAndJobNames) {
    EXPECT_EQ(TitleForJobPath(""), "Pemo v3.00");
    EXPECT_EQ(TitleForJobPath("C:\\Jobs\\Nightly.JOB"), "Nightly - Pemo v3.00");
    EXPECT_EQ(TitleForJobPath("/home/me/jobs/Nightly.JOB"), "Nightly - Pemo v3.00");
    EXPECT_EQ(TitleForJobPath("plain"), "plain - Pemo v3.00");
    EXPECT_EQ(TitleForJobPath("a.job.bak"), "a.job.bak - Pemo v3.00");
    EXPECT_EQ(TitleForJobPath(".job"), " - Pemo v3.00");
    EXPECT_EQ(WithJobExtension("a"), "a.job");
    EXPECT_EQ(WithJobExtension("a.Job"), "a.Job");
    EXPECT_EQ(WithJobExtension("job"), "job.job");
}

TEST(TaskSort, ByUtf16CodeUnitsStableForEqualNames) {
    TaskList tasks;
    // U+1F600 is a surrogate pair (D83D DE00) and so comes before U+FF5A, unlike in code-point
    // or UTF-8 byte order.
    for (const char* name :
         {"beta", "Beta", "alpha", "beta", "Zed", "\xC3\xA9t\xC3\xA9", "\xEF\xBD\x9A", "\xF0\x9F\x98\x80"}) {
        tasks.push_back(std::make_unique<Task>(Named(name)));
    }
    tasks[0]->source = "first beta";
    tasks[3]->source = "second beta";
    SortTasksByName(tasks);
    EXPECT_EQ(Names(tasks), (std::vector<std::string>{"Beta", "Zed", "alpha", "beta", "beta", "\xC3\xA9t\xC3\xA9",
                                                      "\xF0\x9F\x98\x80", "\xEF\xBD\x9A"}));
    EXPECT_EQ(tasks[3]->source, "first beta");
    EXPECT_EQ(tasks[4]->source, "second beta");
}

TEST_F(JobCommandsTest, SortSavesTheNewOrder) {
    Give({Named("b"), Named("a")});
    jobs.SortCommand();
    EXPECT_EQ(SavedNames(job.Path()), (std::vector<std::string>{"a", "b"}));
}

} // namespace
