// The controller's state: construction defaults, the start options, the start-up reset, the job
// and settings wrappers and the close handler, over a headless shell and a fake power port.
#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "app/headless_shell.h"
#include "model/job_file.h"
#include "platform/locale_text.h"
#include "platform/user_store.h"
#include "support/fake_power_port.h"
#include "support/temp_dir.h"
#include "support/test_user_store.h"

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
    CMainFrame frame{shell, power, NativeFileSystem()};
    const TestUserStore user{dir / "user/pemo.conf"};
    const std::string userStore = user.Path();
    FrameTest() { frame.SetSettingsPlace(dir.Path(), userStore); }
};

TEST_F(FrameTest, ConstructionDefaults) {
    EXPECT_EQ(frame.Run().Window(), &shell.Window());
    EXPECT_TRUE(frame.Job().Tasks().empty());
    EXPECT_EQ(frame.Run().DriveLetter(), "");
    EXPECT_EQ(frame.GetSettings().stayAwakeMethod, 1);
    EXPECT_FALSE(frame.GetSettings().debug);
    EXPECT_FALSE(frame.Run().State().running);
    EXPECT_EQ(frame.GetSettings().windowWidth, -1);
    EXPECT_EQ(frame.GetSettings().windowHeight, -1);
    EXPECT_TRUE(frame.Run().State().sourceTotal.IsZero());
    EXPECT_FALSE(frame.GetStartOptions().show || frame.GetStartOptions().runAll || frame.Run().State().stay ||
                 frame.Run().State().shutdown || frame.GetStartOptions().autoRun);
}

TEST_F(FrameTest, StartOptionsReachTheFrame) {
    frame.ApplyStartOptions(
        ParseCommandLine("-runall -stay -shutdown -ignoreerrors -datelog -logexclusions -noballoon -auto "
                         "-showdetlog -letter:K -file \"My Jobs/a.job\"",
                         "/usr/bin/pemo"));
    EXPECT_TRUE(frame.GetStartOptions().show && frame.GetStartOptions().runAll && frame.Run().State().stay &&
                frame.Run().State().shutdown && frame.GetStartOptions().ignoreErrors);
    EXPECT_TRUE(frame.GetStartOptions().dateLog && frame.GetStartOptions().logExclusions &&
                frame.GetStartOptions().noBalloon && frame.GetStartOptions().autoRun &&
                frame.GetStartOptions().showDetLog);
    EXPECT_EQ(frame.Run().DriveLetter(), "K");
    EXPECT_EQ(frame.GetStartOptions().startJobFile, "My Jobs/a.job");
}

TEST_F(FrameTest, ResetForStart) {
    frame.Show();
    frame.Job().SetPath("x.job");
    Settings changed;
    changed.compactView = true;
    changed.countAtStart = true;
    frame.ChangeSettings(changed);
    frame.SetWindowSize(5, 6);
    frame.ResetForStart();
    EXPECT_FALSE(frame.DialogShown());
    EXPECT_EQ(frame.Job().Path(), "");
    EXPECT_FALSE(frame.GetSettings().compactView || frame.GetSettings().countAtStart);
    EXPECT_EQ(frame.GetSettings().windowWidth, -1);
    EXPECT_EQ(frame.GetSettings().windowHeight, -1);
#ifndef _WIN32
    EXPECT_EQ(frame.DateTimeFormat(), "%m/%d/%Y %H:%M"); // the C locale of the tests; Windows has none
#endif
}

// A job opened at start that could not be read: the window's next edit must not save the partial
// (here empty) list over it.
#ifndef _WIN32
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
        CMainFrame nobodyFrame(quiet, noPower, NativeFileSystem());
        StartOptions options;
        options.startJobFile = job;
        nobodyFrame.ApplyStartOptions(options);
        nobodyFrame.LoadStartJob();
        if (!nobodyFrame.Job().ReadInPart() || nobodyFrame.Job().Path() != job) {
            return 2;
        }
        Task added;
        added.name = "added";
        if (!nobodyFrame.Jobs().AddTask(added) || nobodyFrame.Jobs().SaveCurrentJob()) {
            return 3;
        }
        return quiet.messages.size() == 2 && quiet.messages[1].rfind("Not saving " + job, 0) == 0 ? 0 : 4;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFileBytes(job), content);
}
#endif

TEST_F(FrameTest, OpeningAnUnreadableJobKeepsTheJobThatWasOpen) {
    frame.Job().Tasks().push_back(std::make_unique<Task>());
    frame.Job().Tasks().back()->name = "kept";
    ASSERT_TRUE(frame.Jobs().SaveJob(dir / "kept.job"));
    MakeDirectories(dir / "broken.job"); // reading it fails
    EXPECT_FALSE(frame.Jobs().OpenJob(dir / "broken.job"));
    EXPECT_FALSE(frame.Jobs().OpenJob(dir / "missing.job"));
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(shell.messages[1],
              "Error reading " + dir / "missing.job" + "\n\n" + dir / "missing.job" + " was not found.");
    EXPECT_EQ(frame.Job().Path(), dir / "kept.job");
    ASSERT_EQ(frame.Job().Tasks().size(), 1u);
    EXPECT_EQ(frame.Job().Tasks()[0]->name, "kept");
    EXPECT_FALSE(frame.Job().ReadInPart());

    // A readable job replaces the open one.
    ASSERT_TRUE(frame.Jobs().AddTask(Task{}));
    ASSERT_TRUE(frame.Jobs().SaveJob(dir / "two.job"));
    ASSERT_TRUE(frame.Jobs().OpenJob(dir / "kept.job"));
    EXPECT_EQ(frame.Job().Tasks().size(), 1u);
    EXPECT_EQ(frame.Job().Path(), dir / "kept.job");
}

TEST_F(FrameTest, StartJobAndJobWrappers) {
    StartOptions options;
    options.startJobFile = dir / "new.job";
    frame.ApplyStartOptions(options);
    frame.LoadStartJob();
    EXPECT_TRUE(frame.Job().Tasks().empty());
    EXPECT_EQ(frame.Job().Path(), dir / "new.job"); // a missing job is where the first save goes
    EXPECT_FALSE(frame.Job().ReadInPart());
    EXPECT_TRUE(shell.messages.empty());

    frame.Job().Tasks().push_back(std::make_unique<Task>());
    frame.Job().Tasks().back()->name = "one";
    ASSERT_TRUE(frame.Jobs().SaveJob(frame.Job().Path()));
    frame.Job().Tasks().clear();
    ASSERT_TRUE(frame.Jobs().LoadJob(dir / "new.job"));
    ASSERT_EQ(frame.Job().Tasks().size(), 1u);
    EXPECT_EQ(frame.Job().Tasks()[0]->name, "one");

    // A job that exists but cannot be read is reported, and flagged so no run saves over it.
    EXPECT_FALSE(frame.Jobs().LoadJob(dir.Path()));
    EXPECT_TRUE(frame.Job().ReadInPart());
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].rfind("Error reading " + dir.Path() + "\n\n", 0), 0u);
    EXPECT_EQ(frame.Job().Path(), dir / "new.job");

    EXPECT_FALSE(frame.Jobs().SaveJob(dir / "missing/x.job"));
    EXPECT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(frame.Job().Path(), dir / "new.job");
}

TEST_F(FrameTest, SettingsWrappers) {
    WriteFileBytes(dir / "pemo.ini", "compactview=1\nwidth=640\nheight=480\nstayawakemethod=2\ndebug=1\n");
    frame.LoadSettings();
    EXPECT_TRUE(frame.GetSettings().useIniFile);
    EXPECT_TRUE(frame.GetSettings().compactView);
    EXPECT_FALSE(frame.GetSettings().countAtStart);
    EXPECT_EQ(frame.GetSettings().windowWidth, 640);
    EXPECT_EQ(frame.GetSettings().windowHeight, 480);
    EXPECT_EQ(frame.GetSettings().stayAwakeMethod, 2);
    EXPECT_TRUE(frame.GetSettings().debug);
    Settings changed = frame.GetSettings();
    changed.countAtStart = true;
    frame.ChangeSettings(changed);
    ASSERT_TRUE(frame.SaveSettings());
    changed.countAtStart = false;
    frame.ChangeSettings(changed);
    frame.LoadSettings();
    EXPECT_TRUE(frame.GetSettings().countAtStart);
    EXPECT_FALSE(user.Exists());
}

TEST_F(FrameTest, CloseHandlerSavesAChangedSizeAndEnds) {
    frame.Job().Tasks().push_back(std::make_unique<Task>());
    frame.SetWindowSize(800, 600);
    frame.KeepWindowSizeAsSaved();
    frame.CloseHandler();
    EXPECT_TRUE(shell.Ended());
    EXPECT_TRUE(frame.Job().Tasks().empty());
    EXPECT_FALSE(user.Exists()); // size unchanged: nothing saved

    RecordingShell shell2;
    CMainFrame frame2(shell2, power, NativeFileSystem());
    const TestUserStore user2(dir / "user2/pemo.conf");
    frame2.SetSettingsPlace(dir / "nowhere", user2.Path());
    frame2.SetWindowSize(800, -1);
    frame2.KeepWindowSizeAsSaved();
    frame2.SetWindowSize(1024, -1);
    frame2.CloseHandler();
    EXPECT_TRUE(shell2.Ended());
    if (SystemUserStoreAvailable()) {
        EXPECT_EQ(user2.Value("width"), "1024");
    } else {
        EXPECT_EQ(ReadFileBytes(user2.Path()).find("width=1024\n"), 14u + 15u);
    }
}

TEST(DateTimeFormat, FromTheLocalesDateAndClock) {
    struct Case {
        const char* date;
        const char* time;
        const char* expected;
    };
    // The hour without a leading zero is spelt as this system's C library takes it.
    const auto twelve = [](std::string format) { return format.replace(format.find("%-I"), 3, kHourOf12WithoutZero); };
    for (const Case& c : {
             Case{"%m/%d/%y", "%H:%M:%S", "%m/%d/%Y %H:%M"},  // C
             Case{"%m/%d/%Y", "%r", "%m/%d/%Y %-I:%M %p"},    // en_US: four-digit year, 12-hour clock
             Case{"%d.%m.%Y", "%T", "%d.%m.%Y %H:%M"},        // de_DE: "." separators unchanged
             Case{"%Y-%m-%d", "%H:%M:%S", "%Y-%m-%d %H:%M"},  // sv_SE
             Case{"%F", "%l:%M:%S %p", "%Y-%m-%d %-I:%M %p"}, // composite conversions spelt out
             Case{"%d:%m:%y", "%H:%M:%S", "%d.%m.%Y %H:%M"},  // ":" in a date becomes "."
             Case{"", "", "%m/%d/%Y %H:%M"},
         }) {
        const std::string expected = c.expected;
        EXPECT_EQ(DateTimeFormatFrom(c.date, c.time),
                  expected.find("%-I") == std::string::npos ? expected : twelve(expected))
            << c.date << " " << c.time;
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
    CMainFrame probed(probeShell, power, NativeFileSystem());
    probeShell.lock = &probed.Job().LastRunLock();
    EXPECT_FALSE(probed.Jobs().SaveJob(dir / "missing/x.job"));
    EXPECT_EQ(probeShell.boxes, 1);
    EXPECT_EQ(probeShell.lockFree, 1);
}

} // namespace
