// Restoring from kept versions on real trees: the entry as it was at a time, byte and time equal
// to the version kept, and what the destination held before kept so that an undo takes it back.
#include <gtest/gtest.h>

#include "model/version_manifest.h"
#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/restore.h"
#include "sync/undo.h"

namespace {

class RestoreTest : public MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        task.versionDays = 30;
        task.source = src;
        task.destination = dst;
        first = dst + "/.pemo-versions/2026-01-01_10-00-00";
        second = dst + "/.pemo-versions/2026-01-02_10-00-00";
        Put(dst + "/a.txt", "now", 1700000300);
        Put(dst + "/dir/f", "now f", 1700000300);
        Put(first + "/a.txt", "first", 1700000000);
        Put(second + "/a.txt", "second", 1700000100);
        Put(second + "/dir/f", "old f", 1700000050);
        Put(second + "/dir/sub/g", "old g", 1700000060);
        SetModified(second + "/dir/sub", 1700000070);
        SetModified(second + "/dir", 1700000080);
    }
    bool Restore(const std::string& relative, std::int64_t at, const std::string& into = {}) {
        return RestoreVersion(rig.ctx, task, NativePath(relative), at, into, stats);
    }
    std::string first;
    std::string second;
    const std::int64_t beforeBoth = CalendarSeconds(2026, 1, 1, 9, 0, 0);
    const std::int64_t between = CalendarSeconds(2026, 1, 1, 11, 0, 0);
};

} // namespace

TEST_F(RestoreTest, AFileOrADirectoryComesBackAsItWasAtATimeAndTheRestoreCanBeUndone) {
    ASSERT_TRUE(Restore("a.txt", beforeBoth)) << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(dst + "/a.txt"), "first");
    EXPECT_EQ(ModifiedOf(dst + "/a.txt"), 1700000000);
    EXPECT_EQ(ReadFileBytes(first + "/a.txt"), "first");
    EXPECT_TRUE(UndoLastRun(rig.ctx, task, stats)) << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(dst + "/a.txt"), "now");

    ASSERT_TRUE(Restore("dir", between)) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(dst + "/dir"), TreeSnapshot(second + "/dir"));
    EXPECT_EQ(ModifiedOf(dst + "/dir"), 1700000080);
    EXPECT_TRUE(FindTemporaries(dst).empty());

    const std::string whole = TreeSnapshot(dst);
    EXPECT_TRUE(Restore("a.txt", CalendarSeconds(2026, 1, 3, 0, 0, 0))) << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith(NativePath(dst + "/a.txt") + " is as it was at 2026-01-03 00:00:00"), 1);
    task.fakeIt = true;
    EXPECT_TRUE(Restore("a.txt", between)) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(dst), whole);
    EXPECT_EQ(stats.errors, 0);
}

TEST_F(RestoreTest, IntoAFolderRefusesATakenNameAndTheVersionsAreListedOldestFirst) {
    const std::string out = tmp / "out";
    MakeDirectories(out);
    ASSERT_TRUE(Restore("dir", between, out)) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(out + "/dir"), TreeSnapshot(second + "/dir"));
    EXPECT_EQ(ReadFileBytes(dst + "/dir/f"), "now f");

    const std::string whole = TreeSnapshot(tmp.Path());
    EXPECT_FALSE(Restore("dir", between, out));
    EXPECT_FALSE(Restore("a.txt", between, src));
    EXPECT_EQ(TreeSnapshot(tmp.Path()), whole);
    EXPECT_EQ(stats.errors, 2);

    FsError error;
    const std::vector<KeptVersion> versions = ListKeptVersions(rig.fs, dst, "a.txt", error);
    ASSERT_EQ(versions.size(), 2U);
    EXPECT_FALSE(error);
    EXPECT_EQ(versions[0].run.name, "2026-01-01_10-00-00");
    EXPECT_EQ(versions[1].status.size, 6U);
    EXPECT_TRUE(ListKeptVersions(rig.fs, dst, "dir", error).size() == 1 && !error);
}

TEST_F(RestoreTest, AFolderWhoseEntriesRunsChangedComesBackAsItWasAndOneUndoTakesItBack) {
    for (const std::string& root : {src, dst}) {
        Put(root + "/tree/kept", "kept", 1700000000);
        Put(root + "/tree/sub/replaced", "old", 1700000010);
        Put(root + "/tree/sub/deleted", "gone", 1700000020);
    }
    const auto settle = [this] {
        for (const std::string& root : {src, dst}) {
            SetModified(root + "/tree/sub", 1700000030);
            SetModified(root + "/tree", 1700000040);
        }
    };
    settle();
    const std::string atThen = TreeSnapshot(dst + "/tree");
    Put(src + "/tree/sub/replaced", "new!", 1700000500);
    RemoveTreeAt(src + "/tree/sub/deleted");
    settle();
    Run();
    Put(src + "/tree/sub/added", "added", 1700000600);
    settle();
    Run();
    const std::string later = TreeSnapshot(dst + "/tree");
    ASSERT_NE(later, atThen);
    const std::int64_t before = CalendarSeconds(2026, 1, 3, 0, 0, 0);

    task.fakeIt = true;
    EXPECT_TRUE(Restore("tree", before)) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(dst + "/tree"), later);
    task.fakeIt = false;
    MakeDirectories(tmp / "out");
    ASSERT_TRUE(Restore("tree", before, tmp / "out")) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(tmp / "out/tree"), atThen);
    EXPECT_EQ(TreeSnapshot(dst + "/tree"), later);
    ASSERT_TRUE(Restore("tree", before)) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(dst + "/tree"), atThen);
    EXPECT_TRUE(UndoLastRun(rig.ctx, task, stats)) << Dump(rig.log);
    SetModified(dst + "/tree/sub", 1700000030); // an undo leaves directory times as its moves made them
    EXPECT_EQ(TreeSnapshot(dst + "/tree"), later);
}
