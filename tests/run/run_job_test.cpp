// The runner on its own: RunJob over a bare context, with no run control, threads or window,
// and the outcome it hands back for the end-of-run decisions.
#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "run/job_runner.h"
#include "support/recording_message_port.h"
#include "support/temp_dir.h"
#include "support/test_frame.h"

namespace {

class RunJobAlone : public ::testing::Test {
protected:
    RunJobAlone() {
        job.SetPath("alone.job");
        ctx.fs = &NativeFileSystem();
        ctx.log = &runLog;
        ctx.messages = &messages;
    }

    Task& AddTask(const std::string& name, const std::string& source, const std::string& destination) {
        return AppendTask(tasks, name, source, destination);
    }

    RunOutcome Run() {
        runLog.BeginRun();
        ctx.runStart = NowLocal();
        return RunJob(RunRequest{job, "NOW"}, RunTarget{ctx, runLog, nullptr});
    }

    TempDir dir;
    ScopedCurrentDirectory cwd{dir.Path()};
    CRunContext ctx;
    CRunLog runLog{ctx};
    RecordingMessagePort messages;
    CJob job{NativeFileSystem()};
    TaskList& tasks = job.Tasks();
};

TEST_F(RunJobAlone, TheOutcomeCarriesTheFiguresAndWhetherTheDeletionLimitHeld) {
    MakeDirectories(dir / "src");
    MakeDirectories(dir / "dst");
    for (const char* name : {"a", "b", "c"}) {
        WriteFileBytes(dir / (std::string("src/") + name), "1");
    }
    WriteFileBytes(dir / "dst/x", "old");
    WriteFileBytes(dir / "dst/y", "old");
    AddTask("T", dir / "src", dir / "dst");
    ctx.maxDelete = 1;

    RunOutcome first = Run();
    EXPECT_TRUE(first.taskRan);
    EXPECT_FALSE(first.stopped);
    EXPECT_TRUE(first.deletionLimitReached);
    EXPECT_EQ(first.stats.newFiles, 3);
    EXPECT_EQ(first.stats.deleted, 1);
    EXPECT_EQ(first.stats.saved, 1) << "the extra held back";
    EXPECT_EQ(first.stats.errors, 1) << "the limit line";
    EXPECT_EQ(first.runLogPath, "log.html");
    EXPECT_EQ(ListDirectory(dir / "dst").size(), 4u);
    EXPECT_GT(tasks[0]->lastRun, 0);
    EXPECT_TRUE(FileExists(dir / "alone.job")) << "the stamped job is saved";
    EXPECT_TRUE(messages.Messages().empty());

    // The next run on the same context starts with the limit untouched: the one extra left fits.
    RunOutcome second = Run();
    EXPECT_FALSE(second.deletionLimitReached);
    EXPECT_EQ(second.stats.deleted, 1);
    EXPECT_EQ(second.stats.errors, 0);
    EXPECT_EQ(second.stats.same, 3);
    EXPECT_EQ(ListDirectory(dir / "dst"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(RunJobAlone, AStopBeforeTheFirstTaskRunsNothingAndSavesNothing) {
    MakeDirectories(dir / "src");
    WriteFileBytes(dir / "src/a", "1");
    AddTask("T", dir / "src", dir / "dst");
    ctx.stopRequested = 1;

    RunOutcome outcome = Run();
    EXPECT_TRUE(outcome.stopped);
    EXPECT_FALSE(outcome.taskRan);
    EXPECT_FALSE(outcome.deletionLimitReached);
    EXPECT_EQ(outcome.stats.newFiles, 0);
    EXPECT_FALSE(FileExists(dir / "dst"));
    EXPECT_FALSE(FileExists(dir / "alone.job")) << "no task ran, so no stamp to save";
    EXPECT_EQ(tasks[0]->lastRun, -1);
    EXPECT_NE(ReadFileBytes(dir / "log.html").find(Utf8ToUtf16Le("Job stopped at user request at NOW")),
              std::string::npos);
    EXPECT_TRUE(FileExists(dir / "summary.log")) << "a stopped run still writes its summary";
}

TEST_F(RunJobAlone, AFailedLogFileIsSaidAndTheRunStillHappens) {
    MakeDirectories(dir / "src");
    WriteFileBytes(dir / "src/a", "1");
    MakeDirectories(dir / "log.html"); // a directory where the log file belongs
    AddTask("T", dir / "src", dir / "dst");

    RunOutcome outcome = Run();
    EXPECT_TRUE(outcome.taskRan);
    EXPECT_EQ(outcome.stats.newFiles, 1);
    EXPECT_EQ(ReadFileBytes(dir / "dst/a"), "1");
    const auto shown = messages.Messages();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0].rfind("Error opening logfile:\n\n", 0), 0u) << shown[0];
}

} // namespace
