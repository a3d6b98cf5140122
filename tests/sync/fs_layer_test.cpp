// The engine's single-path routines on real trees: long paths, status, directory creation with
// its log and debug lines, deletion with the attribute retry, and tree removal.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/fs_layer.h"
#include "util/path_rules.h"

TEST(PathTests, ExistsAndRegularFile) {
    TempDir tmp;
    EngineRig rig;
    WriteFileBytes(tmp / "f", "x");
    EXPECT_TRUE(PathExists(rig.ctx, tmp / "f"));
    EXPECT_TRUE(IsRegularFile(rig.ctx, tmp / "f"));
    EXPECT_TRUE(PathExists(rig.ctx, tmp.Path()));
    EXPECT_FALSE(IsRegularFile(rig.ctx, tmp.Path()));
    EXPECT_FALSE(PathExists(rig.ctx, tmp / "absent"));
    EXPECT_TRUE(rig.log.Lines().empty());
}

TEST(YStat, FillsSizeTimeAndHiddenAndLeavesTheEntryOnFailure) {
    TempDir tmp;
    EngineRig rig;
    ScopedCurrentDirectory cwd(tmp.Path());
    rig.ctx.debug = true;
    WriteFileBytes(tmp / ".hidden", "12345");
    MakeHidden(tmp / ".hidden");
    SetModified(tmp / ".hidden", 1234567890);

    FileEntry e;
    e.name = "keep";
    ASSERT_TRUE(e.YStat(rig.ctx, tmp / ".hidden"));
    EXPECT_EQ(e.name, "keep") << "the name is the caller's";
    EXPECT_EQ(e.size, 5u);
    EXPECT_EQ(e.modified, 1234567890);
    EXPECT_TRUE(e.hidden);
    EXPECT_FALSE(e.system);

    FileEntry missing;
    EXPECT_FALSE(missing.YStat(rig.ctx, tmp / "absent"));
    EXPECT_EQ(missing.size, 0u);
    EXPECT_EQ(missing.modified, 0);

    auto lines = DebugLogLines();
    ASSERT_EQ(lines.size(), 1u) << "a failed query writes no debug line";
    EXPECT_EQ(lines[0], "YStat: " + LongPath(tmp / ".hidden") + " OK: size=5 mod=1234567890");
    EXPECT_TRUE(rig.log.Lines().empty());
}

#ifndef _WIN32
TEST(YStat, SizesBeyondThirtyTwoBitsAndEmptyFiles) {
    TempDir tmp;
    EngineRig rig;
    int fd = ::open((tmp / "sparse").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4294967296LL), 0);
    ::close(fd);
    WriteFileBytes(tmp / "empty", "");
    FileEntry big;
    ASSERT_TRUE(big.YStat(rig.ctx, tmp / "sparse"));
    EXPECT_EQ(big.size, 4294967296u);
    FileEntry empty;
    ASSERT_TRUE(empty.YStat(rig.ctx, tmp / "empty"));
    EXPECT_EQ(empty.size, 0u);
}
#endif

TEST(YMakeDirectory, CreatesEveryMissingLevelFromTheTop) {
    TempDir tmp;
    EngineRig rig;
    ScopedCurrentDirectory cwd(tmp.Path());
    rig.ctx.debug = true;
    const std::string target = tmp / "a/b";
    ASSERT_TRUE(YMakeDirectory(rig.ctx, target));
    EXPECT_TRUE(IsDirectoryPath(target));
    EXPECT_EQ(rig.log.Texts(LogColour::Green),
              (std::vector<std::string>{"Created directory " + (tmp / "a"), "Created directory " + target}));
    auto lines = DebugLogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "YMakeDirectory: " + target);
    EXPECT_EQ(lines.back(), "End of YMakeDirectory: " + target + kPathSeparator);
    // Every existing ancestor is attempted and fails quietly: /tmp and the test directory.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Failure in CreateDirectory: " + tmp.Path()), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "CreateDirectory: " + target), 1);
}

TEST(YMakeDirectory, AnExistingTreeIsSuccessWithoutRunLogLines) {
    TempDir tmp;
    EngineRig rig;
    ScopedCurrentDirectory cwd(tmp.Path());
    MakeDirectories(tmp / "x/y");
    rig.ctx.debug = true;
    EXPECT_TRUE(YMakeDirectory(rig.ctx, tmp / "x/y/"));
    EXPECT_TRUE(rig.log.Lines().empty());
    auto lines = DebugLogLines();
    int failures = 0;
    for (const auto& line : lines) {
        failures += line.rfind("Failure in CreateDirectory: ", 0) == 0 ? 1 : 0;
    }
    // One per level of the path: each of its ancestors and itself.
    const std::string target = tmp / "x/y";
    int levels = static_cast<int>(std::count(target.begin(), target.end(), kPathSeparator));
    EXPECT_EQ(failures, levels);
}

TEST(YMakeDirectory, AFileInTheWayFailsTheDeeperLevels) {
    TempDir tmp;
    EngineRig rig;
    WriteFileBytes(tmp / "file", "x");
    FsError lastError;
    EXPECT_FALSE(YMakeDirectory(rig.ctx, tmp / "file/sub/deeper", lastError));
#ifdef _WIN32
    // Windows finds no path through a file, where POSIX finds a file that is no directory.
    EXPECT_EQ(lastError.kind, ErrorKind::NotFound);
#else
    EXPECT_EQ(lastError.code, ENOTDIR);
#endif
    EXPECT_TRUE(rig.log.Lines().empty());
    EXPECT_EQ(ReadFileBytes(tmp / "file"), "x");
}

TEST(YDeleteFile, RetriesAfterClearingAttributesAndReportsTheFailure) {
    TempDir tmp;
    EngineRig rig;
    WriteFileBytes(tmp / "ro", "x");
    ASSERT_EQ(::chmod((tmp / "ro").c_str(), 0444), 0);
    rig.fs.FailNth(FsCall::RemoveFile, 1, EACCES);
    EXPECT_TRUE(YDeleteFile(rig.ctx, tmp / "ro", false));
    EXPECT_FALSE(FileExists(tmp / "ro"));
    EXPECT_EQ(rig.fs.Calls(FsCall::SetNormalAttributes), 1);
    EXPECT_TRUE(rig.log.Lines().empty());

    WriteFileBytes(tmp / "fake", "x");
    EXPECT_TRUE(YDeleteFile(rig.ctx, tmp / "fake", true));
    EXPECT_TRUE(FileExists(tmp / "fake"));

    rig.fs.FailPath(FsCall::RemoveFile, "busy", EBUSY);
    WriteFileBytes(tmp / "busy", "x");
    EXPECT_FALSE(YDeleteFile(rig.ctx, tmp / "busy", false));
    EXPECT_TRUE(FileExists(tmp / "busy"));
    EXPECT_EQ(rig.log.Texts(LogColour::Red),
              std::vector<std::string>{"Failed to delete file " + (tmp / "busy") + FailureTail(EBUSY)});
}

TEST(DeleteDirectory, CountsFilesAndLogsFirst) {
    TempDir tmp;
    EngineRig rig;
    MakeDirectories(tmp / "d/e/f");
    WriteFileBytes(tmp / "d/1", "1");
    WriteFileBytes(tmp / "d/e/2", "2");
    WriteFileBytes(tmp / "d/e/f/3", "3");
    std::int32_t deleted = 0;
    std::int32_t errors = 0;
    EXPECT_TRUE(DeleteDirectory(rig.ctx, tmp / "d", deleted, errors, true));
    EXPECT_EQ(deleted, 3) << "fake-it counts what the removal will";
    EXPECT_TRUE(FileExists(tmp / "d/e/f/3"));
    EXPECT_TRUE(DeleteDirectory(rig.ctx, tmp / "d", deleted, errors, false));
    EXPECT_EQ(deleted, 6);
    EXPECT_EQ(errors, 0);
    EXPECT_FALSE(FileExists(tmp / "d"));
    EXPECT_EQ(rig.log.Texts(LogColour::Purple), std::vector<std::string>(2, "Deleting directory " + (tmp / "d")));
}

TEST(DeleteDirectory, StopsAtTheFirstFileItCannotDelete) {
    TempDir tmp;
    EngineRig rig;
    MakeDirectories(tmp / "d");
    for (int i = 0; i < 5; ++i) {
        WriteFileBytes(tmp / ("d/f" + std::to_string(i)), "x");
    }
    rig.fs.FailNth(FsCall::RemoveFile, 3, EIO);
    rig.fs.FailNth(FsCall::RemoveFile, 3, EIO);
    std::int32_t deleted = 0;
    std::int32_t errors = 0;
    EXPECT_FALSE(DeleteDirectory(rig.ctx, tmp / "d", deleted, errors, false));
    EXPECT_EQ(deleted, 2);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(ListDirectory(tmp / "d").size(), 3u);
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Failed to delete directory " + (tmp / "d") + FailureTail(EIO)));
}

TEST(ZapDir, RemovesLinksAsLinksAndNeverReachesOutside) {
    SKIP_WITHOUT_LINKS();
    TempDir tmp;
    EngineRig rig;
    ScopedCurrentDirectory cwd(tmp.Path());
    rig.ctx.debug = true;
    MakeDirectories(tmp / "outside/sub");
    WriteFileBytes(tmp / "outside/keep", "keep");
    WriteFileBytes(tmp / "outside/sub/keep2", "keep");
    const std::string before = TreeSnapshot(tmp / "outside");
    MakeDirectories(tmp / "tree/inner");
    MakeLink(tmp / "outside", tmp / "tree/dirlink");
    MakeLink(tmp / "outside/keep", tmp / "tree/inner/filelink");
    MakeLink(tmp / "nowhere", tmp / "tree/dangling");
    std::int32_t deleted = 0;
    ASSERT_FALSE(ZapDir(rig.ctx, tmp / "tree", deleted));
    EXPECT_EQ(deleted, 3);
    EXPECT_FALSE(FileExists(tmp / "tree"));
    EXPECT_EQ(TreeSnapshot(tmp / "outside"), before);
    auto lines = DebugLogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ZapDir: " + LongPath(tmp / "tree")), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ZapDir: " + LongPath(tmp / "tree/inner")), 1);
    EXPECT_EQ(lines.size(), 2u) << "a linked directory is not visited";
}
