// Undoing a run from its kept versions, on real trees: the destination comes back byte for byte,
// an undo undoes itself, and a destination that moved on is refused untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/undo.h"

namespace {

class UndoTest : public MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        task.versionDays = 30;
        task.destination = dst;
        Put(src + "/changed.txt", "new", 1700000000);
        Put(src + "/kind/inside", "in");
        Put(src + "/newdir/sub/a", "a");
        Put(src + "/new.txt", "added");
        Put(dst + "/changed.txt", "old");
        Put(dst + "/gone.txt", "gone");
        Put(dst + "/olddir/deeper/f", "f");
        Put(dst + "/kind", "was a file");
        Put(dst + "/dirkind/x", "x");
        Put(src + "/dirkind", "now a file");
        if (SystemMakesLinks()) {
            MakeLink("gone.txt", dst + "/olddir/link");
        }
    }
    // The destination without its versions, directory times left out (a move into a directory
    // changes its time).
    std::string Mirror() const {
        const std::string versions = dst + "/.pemo-versions";
        const std::string aside = tmp / "aside";
        std::error_code none;
        std::filesystem::rename(FsPath(versions), FsPath(aside), none);
        std::istringstream lines(TreeSnapshot(dst));
        if (!none) {
            std::filesystem::rename(FsPath(aside), FsPath(versions));
        }
        std::string line;
        std::string kept;
        while (std::getline(lines, line)) {
            if (line.size() > 4 && line.compare(line.size() - 4, 4, " dir") == 0) {
                line = line.substr(0, line.find(" mtime="));
            }
            kept += line + "\n";
        }
        return kept;
    }
    bool Undo() { return UndoLastRun(rig.ctx, task, stats); }
};

} // namespace

TEST_F(UndoTest, UndoGivesTheTreeBeforeTheRunAndUndoingItGivesTheRunBack) {
    const std::string before = Mirror();
    Run();
    ASSERT_EQ(stats.errors, 0) << Dump(rig.log);
    const std::string after = Mirror();
    ASSERT_NE(before, after);
    EXPECT_TRUE(Undo()) << Dump(rig.log);
    EXPECT_EQ(Mirror(), before) << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith("Restored " + NativePath(dst + "/olddir") + " from "), 1);
    EXPECT_TRUE(Undo()) << Dump(rig.log);
    EXPECT_EQ(Mirror(), after) << Dump(rig.log);
    EXPECT_TRUE(Undo()) << Dump(rig.log);
    EXPECT_EQ(Mirror(), before) << Dump(rig.log);
    EXPECT_EQ(stats.errors, 0);
}

TEST_F(UndoTest, ChangesNothingWhenRefusedOrFaked) {
    Run();
    ASSERT_EQ(stats.errors, 0) << Dump(rig.log);
    task.fakeIt = true;
    const std::string whole = TreeSnapshot(dst);
    EXPECT_TRUE(Undo()) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(dst), whole);
    EXPECT_EQ(rig.log.CountStartingWith("Removed " + NativePath(dst + "/new.txt") + " (kept in "), 1);

    task.fakeIt = false;
    Put(dst + "/new.txt", "edited since", 1700000000);
    WriteFileBytes(dst + "/gone.txt", "back again");
    WriteFileBytes(dst + "/newdir/sub/a", "below a directory that would move whole");
    const std::string moved = TreeSnapshot(dst);
    EXPECT_FALSE(Undo());
    EXPECT_EQ(TreeSnapshot(dst), moved);
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "  " + NativePath(dst + "/new.txt") + " changed")) << Dump(rig.log);
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "  " + NativePath(dst + "/gone.txt") + " is taken")) << Dump(rig.log);
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "  " + NativePath(dst + "/newdir/sub/a") + " changed")) << Dump(rig.log);

    task.versionDays = 0;
    EXPECT_TRUE(Undo());
    EXPECT_EQ(TreeSnapshot(dst), moved);
}

TEST_F(UndoTest, WhereNoRenameReachesTheEntriesAreCopiedAcross) {
    const std::string before = Mirror();
    Run();
    ASSERT_EQ(stats.errors, 0) << Dump(rig.log);
    rig.fs.FailPath(FsCall::Move, "olddir", EXDEV);
    rig.fs.FailPath(FsCall::Move, "changed.txt", EXDEV);
    EXPECT_TRUE(Undo()) << Dump(rig.log);
    EXPECT_EQ(Mirror(), before) << Dump(rig.log);
}
