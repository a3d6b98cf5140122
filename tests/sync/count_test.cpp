// The counting pre-pass: totals with and without recursion, exclusions, stop and links.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/count.h"
#include "sync/exclusions.h"

TEST(CountDirectory, AddsEveryReadableFile) {
    TempDir tmp;
    EngineRig rig;
    MakeDirectories(tmp / "s/sub");
    WriteFileBytes(tmp / "s/a", std::string(10, 'a'));
    WriteFileBytes(tmp / "s/sub/b", std::string(20, 'b'));
    WriteFileBytes(tmp / "s/sub/c.tmp", std::string(30, 'c'));
    WriteFileBytes(tmp / "s/.hidden", std::string(5, 'h'));
    EXPECT_EQ(CountDirectory(rig.ctx, tmp / "s", "*.tmp", true).ToString(), "65");
    EXPECT_EQ(CountDirectory(rig.ctx, tmp / "s", "", false).ToString(), "15");
    EXPECT_EQ(CountDirectory(rig.ctx, tmp / "s", NormaliseExclusions("\\sub", tmp / "s", ""), true).ToString(), "15");
    EXPECT_EQ(CountDirectory(rig.ctx, tmp / "s", tmp / "s/su*", true).ToString(), "15");
    EXPECT_EQ(CountDirectory(rig.ctx, tmp / "absent", "", true).ToString(), "0");
    EXPECT_TRUE(rig.log.Lines().empty());
}

TEST(CountDirectory, LinksCountTheirTargetTextNeverWhatTheyPointTo) {
    SKIP_WITHOUT_LINKS();
    TempDir tmp;
    EngineRig rig;
    MakeDirectories(tmp / "s");
    MakeDirectories(tmp / "elsewhere");
    WriteFileBytes(tmp / "elsewhere/big", std::string(100, 'x'));
    WriteFileBytes(tmp / "s/a", std::string(7, 'a'));
    MakeLink("../elsewhere", tmp / "s/dirlink");
    MakeLink(".", tmp / "s/loop");
    MakeLink("../elsewhere/big", tmp / "s/filelink");
    MakeLink("gone", tmp / "s/dangling");
    EXPECT_EQ(CountDirectory(rig.ctx, tmp / "s", "", true).ToString(), std::to_string(7 + 12 + 1 + 16 + 4));
}

TEST(CountDirectory, AStopMakesTheWholeCountZero) {
    TempDir tmp;
    EngineRig rig;
    MakeDirectories(tmp / "s/sub");
    WriteFileBytes(tmp / "s/a", "aaaa");
    WriteFileBytes(tmp / "s/sub/b", "bbbb");
    struct StopAfterFirst : FakeFileSystem {
        CRunContext* ctx = nullptr;
        FsError StatusAt(const DirectoryHandle& dir, const std::string& name, bool follow, FileStatus& st) override {
            ctx->stopRequested = 1;
            return FakeFileSystem::StatusAt(dir, name, follow, st);
        }
    } stopping;
    stopping.ctx = &rig.ctx;
    rig.ctx.fs = &stopping;
    EXPECT_EQ(CountDirectory(rig.ctx, tmp / "s", "", true).ToString(), "0");
}

#ifndef _WIN32
TEST(FileSizeOf, FullSizesAndMissingFiles) {
    TempDir tmp;
    EngineRig rig;
    int fd = ::open((tmp / "huge").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5000000000LL), 0);
    ::close(fd);
    EXPECT_EQ(FileSizeOf(rig.ctx, tmp / "huge").ToString(), "5000000000");
    EXPECT_EQ(FileSizeOf(rig.ctx, tmp / "absent").ToString(), "0");
}
#endif
