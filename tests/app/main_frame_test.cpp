// The controller's state: construction defaults, the start options, the start-up reset, the job
// and settings wrappers and the close handler, over a headless shell and a fake power port.
#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "app/headless_shell.h"
#include "model/job_file.h"
#include "support/fake_power_port.h"
#include "support/temp_dir.h"

namespace {

class RecordingShell : public CHeadlessShell {
public:
    RecordingShell() : CHeadlessShell(clock, false, true) {}
    void MessageBox(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;

private:
    CSteadyClock clock;
};

struct FrameTest : ::testing::Test {
    TempDir dir;
    RecordingShell shell;
    FakePowerPort power;
    CMainFrame frame{shell, power};
    FrameTest() {
        frame.settingsDirectory = dir.Path();
        frame.userSettingsPath = dir / "user/pemo.conf";
    }
};

TEST_F(FrameTest, ConstructionDefaultsAndCurrentFrame) {
    EXPECT_EQ(CurrentFrame(), &frame);
    EXPECT_EQ(frame.run.ctx.messages, &frame.reports);
    EXPECT_EQ(frame.run.Window(), &shell.Window());
    EXPECT_NE(frame.run.ctx.fs, nullptr);
    EXPECT_NE(frame.run.ctx.log, nullptr);
    EXPECT_TRUE(frame.tasks.empty());
    EXPECT_EQ(frame.run.ctx.driveLetter, "");
    EXPECT_EQ(frame.run.stayAwakeMethod, 1);
    EXPECT_FALSE(frame.run.ctx.debug);
    EXPECT_FALSE(frame.run.running);
    EXPECT_EQ(frame.windowWidth, -1);
    EXPECT_EQ(frame.windowHeight, -1);
    EXPECT_TRUE(frame.run.sourceTotal.Get().IsZero());
    EXPECT_FALSE(frame.show || frame.run.runAll || frame.run.stay || frame.run.shutdown || frame.autoRun);
}

TEST(MainFrame, CurrentFrameIsClearedWithItsFrame) {
    RecordingShell shell;
    FakePowerPort power;
    {
        CMainFrame frame(shell, power);
        EXPECT_EQ(CurrentFrame(), &frame);
    }
    EXPECT_EQ(CurrentFrame(), nullptr);
}

TEST_F(FrameTest, StartOptionsReachTheFrame) {
    frame.ApplyStartOptions(
        ParseCommandLine("-runall -stay -shutdown -ignoreerrors -datelog -logexclusions -noballoon -auto "
                         "-showdetlog -letter:K -file \"My Jobs/a.job\"",
                         "/usr/bin/pemo"));
    EXPECT_TRUE(frame.show && frame.run.runAll && frame.run.stay && frame.run.shutdown && frame.run.ignoreErrors);
    EXPECT_TRUE(frame.run.dateLog && frame.run.ctx.logExclusions && frame.run.noBalloon && frame.autoRun &&
                frame.run.showDetLog);
    EXPECT_EQ(frame.run.ctx.driveLetter, "K");
    EXPECT_EQ(frame.startJobFile, "My Jobs/a.job");
}

TEST_F(FrameTest, ResetForStart) {
    frame.dialogShown = true;
    frame.jobPath = "x.job";
    frame.run.ctx.stopRequested = 1;
    frame.run.ctx.paused = true;
    frame.run.ctx.lastPercent = 40;
    frame.compactView = true;
    frame.run.countAtStart = true;
    frame.windowWidth = 5;
    frame.windowHeight = 6;
    frame.run.sourceTotal.Set(CLargeNumber(99u));
    frame.run.countingDone = true;
    frame.run.animationPhase = 1;
    frame.ResetForStart();
    EXPECT_FALSE(frame.dialogShown);
    EXPECT_EQ(frame.jobPath, "");
    EXPECT_EQ(frame.run.ctx.stopRequested, 0);
    EXPECT_FALSE(frame.run.ctx.paused);
    EXPECT_EQ(frame.run.ctx.lastPercent, 0);
    EXPECT_FALSE(frame.compactView || frame.run.countAtStart || frame.run.countingDone);
    EXPECT_EQ(frame.windowWidth, -1);
    EXPECT_EQ(frame.windowHeight, -1);
    EXPECT_TRUE(frame.run.sourceTotal.Get().IsZero());
    EXPECT_EQ(frame.run.animationPhase, 0);
    EXPECT_EQ(frame.dateTimeFormat, "%m/%d/%y %H:%M"); // the C locale of the tests
}

// A job opened at start that could not be read: the window's next edit must not save the partial
// (here empty) list over it.
TEST_F(FrameTest, AJobThatCouldNotBeReadIsNeverSavedOver) {
    const std::string job = dir / "locked.job";
    Task one;
    one.name = "one";
    const std::string content = JobLine(one);
    WriteFileBytes(job, content);
    OpenToEveryone(dir.Path());
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(job.c_str(), 0), 0); // the unprivileged run cannot read it, but could replace it
    const int status = RunAsNobody([&] {
        RecordingShell quiet;
        FakePowerPort noPower;
        CMainFrame nobodyFrame(quiet, noPower);
        nobodyFrame.startJobFile = job;
        nobodyFrame.LoadStartJob();
        if (!nobodyFrame.jobReadIncomplete || nobodyFrame.jobPath != job) {
            return 2;
        }
        Task added;
        added.name = "added";
        if (!nobodyFrame.jobs.AddTask(added) || nobodyFrame.jobs.SaveCurrentJob()) {
            return 3;
        }
        return quiet.messages.size() == 2 && quiet.messages[1].rfind("Not saving " + job, 0) == 0 ? 0 : 4;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFileBytes(job), content);
}

TEST_F(FrameTest, OpeningAnUnreadableJobKeepsTheJobThatWasOpen) {
    frame.tasks.push_back(std::make_unique<Task>());
    frame.tasks.back()->name = "kept";
    ASSERT_TRUE(frame.jobs.SaveJob(dir / "kept.job"));
    MakeDirectories(dir / "broken.job"); // reading it fails
    EXPECT_FALSE(frame.jobs.OpenJob(dir / "broken.job"));
    EXPECT_FALSE(frame.jobs.OpenJob(dir / "missing.job"));
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(shell.messages[1],
              "Error reading " + dir / "missing.job" + "\n\n" + dir / "missing.job" + " was not found.");
    EXPECT_EQ(frame.jobPath, dir / "kept.job");
    ASSERT_EQ(frame.tasks.size(), 1u);
    EXPECT_EQ(frame.tasks[0]->name, "kept");
    EXPECT_FALSE(frame.jobReadIncomplete);

    // Refused during a run; a readable job replaces the open one.
    frame.run.running = true;
    EXPECT_FALSE(frame.jobs.OpenJob(dir / "kept.job"));
    EXPECT_FALSE(frame.jobs.AddTask(Task{}));
    EXPECT_FALSE(frame.jobs.DeleteTask(0));
    EXPECT_EQ(frame.tasks.size(), 1u);
    frame.run.running = false;
    ASSERT_TRUE(frame.jobs.AddTask(Task{}));
    ASSERT_TRUE(frame.jobs.SaveJob(dir / "two.job"));
    ASSERT_TRUE(frame.jobs.OpenJob(dir / "kept.job"));
    EXPECT_EQ(frame.tasks.size(), 1u);
    EXPECT_EQ(frame.jobPath, dir / "kept.job");
}

TEST_F(FrameTest, StartJobAndJobWrappers) {
    frame.startJobFile = dir / "new.job";
    frame.LoadStartJob();
    EXPECT_TRUE(frame.tasks.empty());
    EXPECT_EQ(frame.jobPath, dir / "new.job"); // a missing job is where the first save goes
    EXPECT_FALSE(frame.jobReadIncomplete);
    EXPECT_TRUE(shell.messages.empty());

    frame.tasks.push_back(std::make_unique<Task>());
    frame.tasks.back()->name = "one";
    ASSERT_TRUE(frame.jobs.SaveJob(frame.jobPath));
    frame.tasks.clear();
    ASSERT_TRUE(frame.jobs.LoadJob(dir / "new.job"));
    ASSERT_EQ(frame.tasks.size(), 1u);
    EXPECT_EQ(frame.tasks[0]->name, "one");

    // A job that exists but cannot be read is reported, and flagged so no run saves over it.
    EXPECT_FALSE(frame.jobs.LoadJob(dir.Path()));
    EXPECT_TRUE(frame.jobReadIncomplete);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].rfind("Error reading " + dir.Path() + "\n\n", 0), 0u);
    EXPECT_EQ(frame.jobPath, dir / "new.job");

    EXPECT_FALSE(frame.jobs.SaveJob(dir / "missing/x.job"));
    EXPECT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(frame.jobPath, dir / "new.job");
}

TEST_F(FrameTest, SettingsWrappers) {
    WriteFileBytes(dir / "pemo.ini", "compactview=1\nwidth=640\nheight=480\nstayawakemethod=2\ndebug=1\n");
    frame.LoadSettings();
    EXPECT_TRUE(frame.useIniFile);
    EXPECT_TRUE(frame.compactView);
    EXPECT_FALSE(frame.run.countAtStart);
    EXPECT_EQ(frame.windowWidth, 640);
    EXPECT_EQ(frame.windowHeight, 480);
    EXPECT_EQ(frame.run.stayAwakeMethod, 2);
    EXPECT_TRUE(frame.run.ctx.debug);
    frame.run.countAtStart = true;
    ASSERT_TRUE(frame.SaveSettings());
    frame.run.countAtStart = false;
    frame.LoadSettings();
    EXPECT_TRUE(frame.run.countAtStart);
    EXPECT_FALSE(FileExists(frame.userSettingsPath));
}

TEST_F(FrameTest, CloseHandlerSavesAChangedSizeAndEnds) {
    frame.tasks.push_back(std::make_unique<Task>());
    frame.savedWidth = 800;
    frame.savedHeight = 600;
    frame.windowWidth = 800;
    frame.windowHeight = 600;
    frame.run.running = true;
    frame.CloseHandler(); // refused during a run
    EXPECT_FALSE(shell.Ended());
    EXPECT_EQ(frame.tasks.size(), 1u);
    frame.run.running = false;
    frame.CloseHandler();
    EXPECT_TRUE(shell.Ended());
    EXPECT_TRUE(frame.tasks.empty());
    EXPECT_FALSE(FileExists(frame.userSettingsPath)); // size unchanged: nothing saved

    RecordingShell shell2;
    CMainFrame frame2(shell2, power);
    frame2.userSettingsPath = dir / "user2/pemo.conf";
    frame2.settingsDirectory = dir / "nowhere";
    frame2.savedWidth = 800;
    frame2.windowWidth = 1024;
    frame2.CloseHandler();
    EXPECT_TRUE(shell2.Ended());
    EXPECT_EQ(ReadFileBytes(frame2.userSettingsPath).find("width=1024\n"), 14u + 15u);
}

TEST(DateTimeFormat, FromTheLocalesDateAndClock) {
    struct Case {
        const char* date;
        const char* time;
        const char* expected;
    };
    for (const Case& c : {
             Case{"%m/%d/%y", "%H:%M:%S", "%m/%d/%y %H:%M"},  // C
             Case{"%m/%d/%Y", "%r", "%m/%d/%y %-I:%M %p"},    // en_US: four-digit year, 12-hour clock
             Case{"%d.%m.%Y", "%T", "%d.%m.%y %H:%M"},        // de_DE: "." separators unchanged
             Case{"%Y-%m-%d", "%H:%M:%S", "%y-%m-%d %H:%M"},  // sv_SE
             Case{"%F", "%l:%M:%S %p", "%y-%m-%d %-I:%M %p"}, // composite conversions spelt out
             Case{"%d:%m:%y", "%H:%M:%S", "%d.%m.%y %H:%M"},  // ":" in a date becomes "."
             Case{"", "", "%m/%d/%y %H:%M"},
         }) {
        EXPECT_EQ(DateTimeFormatFrom(c.date, c.time), c.expected) << c.date << " " << c.time;
    }
}

// A save that fails shows its box only after the last-run lock is released: a box waits for the
// user-interface thread, which may itself be waiting for that lock to paint the task list.
TEST_F(FrameTest, AFailedSaveReportsWithoutHoldingTheLastRunLock) {
    struct ProbeShell : RecordingShell {
        std::mutex* lock = nullptr;
        int boxes = 0;
        int lockFree = 0;
        void MessageBox(const std::string& /*text*/) override {
            ++boxes;
            // Asked from another thread: try_lock by the holder itself would be undefined.
            bool free = false;
            std::thread([&] {
                if (lock->try_lock()) {
                    free = true;
                    lock->unlock();
                }
            }).join();
            lockFree += free;
        }
    } probeShell;
    CMainFrame probed(probeShell, power);
    probeShell.lock = &probed.lastRunMutex;
    EXPECT_FALSE(probed.jobs.SaveJob(dir / "missing/x.job"));
    EXPECT_EQ(probeShell.boxes, 1);
    EXPECT_EQ(probeShell.lockFree, 1);
}

} // namespace
