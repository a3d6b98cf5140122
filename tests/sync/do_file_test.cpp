// Single-file tasks: where the target lands, its counters, fake-it and the same-file rules.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/do_file.h"

namespace {

class DoFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(tmp / "report.doc", "12345");
        SetModified(tmp / "report.doc", 1600000000);
    }
    void Run(const std::string& destination) { DoFile(rig.ctx, tmp / "report.doc", destination, task, stats); }

    TempDir tmp;
    EngineRig rig;
    Task task;
    RunStats stats;
};

} // namespace

TEST_F(DoFileTest, EveryFormOfTheDestinationReachesTheSameTarget) {
    for (const std::string& form :
         {tmp / "backup", tmp / "backup/", tmp / "backup/report.doc", tmp / "backup/REPORT.DOC"}) {
        RemoveTreeAt(tmp / "backup");
        stats = RunStats();
        Run(form);
        EXPECT_EQ(ReadFileBytes(tmp / "backup/report.doc"), "12345") << form;
        EXPECT_EQ(ListDirectory(tmp / "backup").size(), 1u) << form;
        EXPECT_EQ(stats.newFiles, 1) << form;
        EXPECT_EQ(stats.bytesNew.ToString(), "5");
        EXPECT_EQ(stats.sourceCount, 1);
        EXPECT_EQ(stats.sourceSize.ToString(), "5");
    }
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Created directory " + (tmp / "backup")));
}

TEST_F(DoFileTest, ANameWithoutSeparatorBeforeItIsADirectory) {
    Run(tmp / "old_report.doc");
    EXPECT_EQ(ReadFileBytes(tmp / "old_report.doc/report.doc"), "12345");
}

TEST_F(DoFileTest, SameChangedAndTheSourceTotals) {
    Run(tmp / "b");
    stats = RunStats();
    Run(tmp / "b");
    EXPECT_EQ(stats.same, 1);
    EXPECT_EQ(stats.sourceCount, 0) << "a same file adds nothing to the source totals";
    EXPECT_TRUE(rig.log.Texts(LogColour::Red).empty());

    WriteFileBytes(tmp / "report.doc", "1234567");
    SetModified(tmp / "report.doc", 1600000100);
    stats = RunStats();
    Run(tmp / "b");
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(stats.bytesChanged.ToString(), "7");
    EXPECT_EQ(ReadFileBytes(tmp / "b/report.doc"), "1234567");
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Updating file " + (tmp / "b/report.doc")));
}

TEST_F(DoFileTest, OnlyIfNewerLeavesANewerTargetOfTheSameSize) {
    MakeDirectories(tmp / "b");
    WriteFileBytes(tmp / "b/report.doc", "abcde");
    SetModified(tmp / "b/report.doc", 1600000500);
    task.onlyIfNewer = true;
    Run(tmp / "b");
    EXPECT_EQ(stats.same, 1);
    EXPECT_EQ(ReadFileBytes(tmp / "b/report.doc"), "abcde");
    WriteFileBytes(tmp / "b/report.doc", "abcdef");
    SetModified(tmp / "b/report.doc", 1600000500);
    Run(tmp / "b");
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(ReadFileBytes(tmp / "b/report.doc"), "12345");
}

TEST_F(DoFileTest, FakeItCreatesNothingButCounts) {
    task.fakeIt = true;
    Run(tmp / "nowhere");
    EXPECT_FALSE(FileExists(tmp / "nowhere"));
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(stats.sourceCount, 1);
}

TEST_F(DoFileTest, FailuresAreOneLineAndOneError) {
    WriteFileBytes(tmp / "blocker", "x");
    Run(tmp / "blocker/sub");
    EXPECT_EQ(stats.errors, 1);
    EXPECT_EQ(rig.log.Texts(LogColour::Red).size(), 1u) << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith("Failed to copy file " + (tmp / "report.doc") + " to "), 1);
    EXPECT_EQ(stats.sourceCount, 0);

    stats = RunStats();
    rig.log.Clear();
    DoFile(rig.ctx, tmp / "missing.doc", tmp / "b", task, stats);
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Unable to stat " + (tmp / "missing.doc")));
    EXPECT_EQ(rig.log.CountStartingWith("Failed to copy file " + (tmp / "missing.doc") + " to "), 1) << Dump(rig.log);
    EXPECT_EQ(stats.errors, 1);
}

TEST_F(DoFileTest, ATargetLinkIsReplacedNotWrittenThrough) {
    SKIP_WITHOUT_LINKS();
    MakeDirectories(tmp / "b");
    WriteFileBytes(tmp / "outside", "12345");
    SetModified(tmp / "outside", 1600000000);
    MakeLink(tmp / "outside", tmp / "b/report.doc");
    Run(tmp / "b");
    EXPECT_EQ(stats.changed, 1) << "a link is never the same as the file";
    EXPECT_FALSE(IsLink(tmp / "b/report.doc"));
    EXPECT_EQ(ReadFileBytes(tmp / "outside"), "12345");
}

#ifndef _WIN32
TEST_F(DoFileTest, APermissionChangeAloneIsMirroredWithoutACopy) {
    Run(tmp / "backup");
    ASSERT_EQ(::chmod((tmp / "report.doc").c_str(), 0600), 0);
    WriteFileBytes(tmp / "backup/report.doc", "54321");
    SetModified(tmp / "backup/report.doc", 1600000000);
    stats = RunStats();
    Run(tmp / "backup");
    struct stat st {};
    ASSERT_EQ(::lstat((tmp / "backup/report.doc").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadFileBytes(tmp / "backup/report.doc"), "54321");
    EXPECT_EQ(stats.same, 1);
    EXPECT_EQ(stats.errors + stats.changed, 0);
}
#endif

TEST_F(DoFileTest, ACopyIsFlushedToDiskAndAFailedFlushIsAnError) {
    Run(tmp / "backup");
    EXPECT_EQ(rig.fs.Calls(FsCall::FlushFileSystem), 1);
    rig.fs.Reset();
    Run(tmp / "backup");
    EXPECT_EQ(rig.fs.Calls(FsCall::FlushFileSystem), 0);
    WriteFileBytes(tmp / "report.doc", "changed");
    rig.fs.FailNth(FsCall::FlushFileSystem, 1, EIO);
    stats = RunStats();
    Run(tmp / "backup");
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(stats.errors, 1);
    const int code = FakeFileSystem::SystemCode(EIO);
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Failed to flush the destination " + (tmp / "backup") +
                                                " to disk with error " + std::to_string(code) + ": " +
                                                ErrorText(static_cast<std::uint32_t>(code)) + "\n"));
}

#ifndef _WIN32
TEST_F(DoFileTest, ADestinationDirectoryThatCannotBeReadIsOneFailureNotACrash) {
    // Write and search permission without read: the directory cannot be opened to copy into.
    ASSERT_EQ(::chmod(tmp.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((tmp / "report.doc").c_str(), 0644), 0);
    MakeDirectories(tmp / "backup");
    ChownTree(tmp / "backup");
    ASSERT_EQ(::chmod((tmp / "backup").c_str(), 0333), 0);
    const std::string out = RunAsNobody([&] {
        EngineRig child;
        RunStats childStats;
        DoFile(child.ctx, tmp / "report.doc", tmp / "backup", task, childStats);
        return "errors=" + std::to_string(childStats.errors) + " new=" + std::to_string(childStats.newFiles) +
               " normalised=" + std::to_string(child.fs.Calls(FsCall::SetNormalAttributes)) + "\n" + Dump(child.log);
    });
    EXPECT_EQ(out, "errors=1 new=0 normalised=0\nGreen: Adding file " + (tmp / "report.doc") +
                       "\nRed: Failed to copy file " + (tmp / "report.doc") + " to " + (tmp / "backup/report.doc") +
                       " with error 13: Permission denied\n\n");
    ASSERT_EQ(::chmod((tmp / "backup").c_str(), 0755), 0);
    EXPECT_TRUE(ListDirectory(tmp / "backup").empty());
}
#endif
