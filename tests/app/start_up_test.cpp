// The controller's start-up over a headless shell: the unattended -auto program with the fake
// power port (the shutdown decision through the real start-up path), and the window program's
// paths (-runall closing after the 10 s close timer on a fake clock, a plain start showing the
// dialog and running nothing).
#include <gtest/gtest.h>

#include <unistd.h>

#include "app/main_frame.h"
#include "app/unattended.h"
#include "model/job_file.h"
#include "run/job_lock.h"
#include "support/engine_tree.h"
#include "support/fake_clock.h"
#include "support/fake_power_port.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

// A headless shell standing in for the window program: it keeps the close timer, records the
// window parts of start-up and hands out a recording window.
class WindowlessShell : public CHeadlessShell {
public:
    explicit WindowlessShell(IClock& source) : CHeadlessShell(source, false, false) {}
    IRunWindow& Window() override { return recording; }
    void MessageBox(const std::string& text) override { messages.push_back(text); }
    void CreateDialog() override { ++dialogsCreated; }
    bool CreateTrayIcon() override {
        ++traysCreated;
        return trayWorks;
    }
    void ShowDialog() override { ++dialogsShown; }

    RecordingWindow recording;
    std::vector<std::string> messages; // user-interface thread only in these tests
    int dialogsCreated = 0;
    int traysCreated = 0;
    int dialogsShown = 0;
    bool trayWorks = true;
};

class StartUpTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDirectory cwd{dir.Path()};
    FakePowerPort power;

    void SetUp() override {
        MakeDirectories(dir / "src");
        WriteFileBytes(dir / "src/a", "a");
    }
    void WriteJob(const std::string& source) {
        Task task;
        task.name = "T";
        task.source = source;
        task.destination = dir / "dst";
        WriteFileBytes(dir / "job.job", JobLine(task));
    }
    StartOptions Options() {
        StartOptions options;
        options.startJobFile = dir / "job.job";
        return options;
    }
};

struct ShutdownCase {
    bool withError;
    bool ignoreErrors;
    int shutdowns;
    int status;
};

class UnattendedShutdownTest : public StartUpTest, public ::testing::WithParamInterface<ShutdownCase> {};

TEST_P(UnattendedShutdownTest, TheRunsErrorsDecideTheShutdownAndTheExitStatus) {
    const ShutdownCase c = GetParam();
    WriteJob(c.withError ? dir / "unplugged" : dir / "src");
    StartOptions options = Options();
    options.autoRun = true;
    options.shutdown = true;
    options.ignoreErrors = c.ignoreErrors;
    CSteadyClock clock;
    EXPECT_EQ(RunUnattended(options, clock, power, NativeFileSystem(), false), c.status);
    EXPECT_EQ(power.shutdowns, c.shutdowns);
    EXPECT_EQ(FileExists(dir / "dst/a"), !c.withError);
    EXPECT_FALSE(power.Inhibited());
}

INSTANTIATE_TEST_SUITE_P(Cases, UnattendedShutdownTest,
                         ::testing::Values(ShutdownCase{false, false, 1, 0}, ShutdownCase{true, false, 0, 1},
                                           ShutdownCase{true, true, 1, 1}),
                         [](const ::testing::TestParamInfo<ShutdownCase>& param) {
                             return std::string(param.param.withError ? "WithError" : "Clean") +
                                    (param.param.ignoreErrors ? "IgnoringErrors" : "");
                         });

TEST_F(StartUpTest, AutoRunsAtOnceWithoutTrayIconOrDialogAndEndsWithTheRun) {
    WriteJob(dir / "src");
    FakeClock clock;
    CHeadlessShell shell(clock, false, true);
    CMainFrame frame(shell, power, NativeFileSystem());
    StartOptions options = Options();
    options.autoRun = true;
    options.stay = true; // -auto overrides it
    frame.ApplyStartOptions(options);
    ASSERT_TRUE(frame.StartUp());
    EXPECT_TRUE(frame.GetStartOptions().runAll);
    EXPECT_FALSE(frame.Run().State().stay);
    // The fake clock never moves: the program ends with the run, not by the close timer.
    ASSERT_TRUE(shell.RunUntil([&] { return shell.Ended(); }, 10s));
    EXPECT_EQ(frame.ExitStatus(), 0);
    EXPECT_TRUE(frame.Job().Tasks().empty()) << "the close handler deleted the tasks";
    EXPECT_EQ(ReadFileBytes(dir / "dst/a"), "a");
}

TEST_F(StartUpTest, RunAllClosesTheWindowProgramAfterTheCloseTimer) {
    WriteJob(dir / "src");
    FakeClock clock;
    WindowlessShell shell(clock);
    CMainFrame frame(shell, power, NativeFileSystem());
    frame.SetSettingsPlace(dir.Path(), dir / "user.conf");
    StartOptions options = Options();
    options.runAll = true;
    frame.ApplyStartOptions(options);
    ASSERT_TRUE(frame.StartUp());
    EXPECT_EQ(shell.dialogsCreated, 1);
    EXPECT_EQ(shell.traysCreated, 1);
    EXPECT_EQ(shell.dialogsShown, 0) << "-runall without -show starts hidden";
    ASSERT_TRUE(shell.RunUntil([&] { return frame.Run().State().runThreadsFinished == 1; }, 10s));
    EXPECT_FALSE(shell.Ended());
    EXPECT_EQ(shell.recording.Icons().front(), iconIdle);
    clock.Advance(10000ms);
    ASSERT_TRUE(shell.RunUntil([&] { return shell.Ended(); }, 10s));
    EXPECT_EQ(ReadFileBytes(dir / "dst/a"), "a");
    EXPECT_TRUE(shell.recording.Captions().empty()) << "a hidden start-up run keeps the caption";
}

TEST_F(StartUpTest, ARunAllThatAnotherRunOfTheJobHoldsOffSaysSoAndStillCloses) {
    WriteJob(dir / "src");
    CJobLock other(NativeFileSystem());
    ASSERT_TRUE(other.TryLock(dir / "job.job"));
    FakeClock clock;
    WindowlessShell shell(clock);
    CMainFrame frame(shell, power, NativeFileSystem());
    frame.SetSettingsPlace(dir.Path(), dir / "user.conf");
    StartOptions options = Options();
    options.runAll = true;
    frame.ApplyStartOptions(options);
    ASSERT_TRUE(frame.StartUp());
    EXPECT_EQ(shell.messages, (std::vector<std::string>{dir / "job.job" + " is already being run"}));
    EXPECT_FALSE(frame.Run().State().running);
    clock.Advance(10000ms);
    ASSERT_TRUE(shell.RunUntil([&] { return shell.Ended(); }, 10s));
    EXPECT_FALSE(FileExists(dir / "dst")) << "nothing ran";
    EXPECT_FALSE(FileExists(dir / "log.html"));
}

TEST_F(StartUpTest, APlainStartShowsTheDialogOnceAndRunsNothing) {
    WriteJob(dir / "src");
    FakeClock clock;
    WindowlessShell shell(clock);
    CMainFrame frame(shell, power, NativeFileSystem());
    frame.SetSettingsPlace(dir.Path(), dir / "user.conf");
    frame.ApplyStartOptions(Options());
    ASSERT_TRUE(frame.StartUp());
    frame.Show();
    EXPECT_EQ(shell.dialogsShown, 1);
    EXPECT_TRUE(frame.DialogShown());
    EXPECT_EQ(frame.Job().Tasks().size(), 1u);
    EXPECT_EQ(frame.Job().Path(), dir / "job.job");
    shell.RunUntil([] { return false; }, 30ms);
    EXPECT_FALSE(frame.Run().State().running);
    EXPECT_FALSE(FileExists(dir / "dst"));
    EXPECT_EQ(frame.ExitStatus(), 0);
    // Exit with no run closes at once.
    frame.ExitCommand();
    EXPECT_TRUE(shell.Ended());
}

TEST_F(StartUpTest, WithoutATrayIconTheWindowProgramCannotStart) {
    FakeClock clock;
    WindowlessShell shell(clock);
    shell.trayWorks = false;
    CMainFrame frame(shell, power, NativeFileSystem());
    frame.SetSettingsPlace(dir.Path(), dir / "user.conf");
    frame.ApplyStartOptions(Options());
    EXPECT_FALSE(frame.StartUp());
}

TEST_F(StartUpTest, TheSettingsAreLoadedBeforeTheRun) {
    WriteJob(dir / "src");
    WriteFileBytes(dir / "pemo.ini", "stayawakemethod=2\ndebug=1\n");
    FakeClock clock;
    CHeadlessShell shell(clock, false, true);
    CMainFrame frame(shell, power, NativeFileSystem());
    frame.SetSettingsPlace(dir.Path(), DefaultUserSettingsPath());
    StartOptions options = Options();
    options.autoRun = true;
    frame.ApplyStartOptions(options);
    ASSERT_TRUE(frame.StartUp());
    ASSERT_TRUE(shell.RunUntil([&] { return shell.Ended(); }, 10s));
    EXPECT_EQ(frame.GetSettings().stayAwakeMethod, 2);
    EXPECT_TRUE(FileExists(dir / "debug.log")) << "the debug setting reaches the unattended run";
}

} // namespace
