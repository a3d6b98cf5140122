// The guards against mass deletion on real trees: the empty source at a task's top level and
// the run's deletion limit, counted in files.
#include <gtest/gtest.h>

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"
#include "sync/exclusions.h"

namespace {

class DeletionGuardsTest : public MirrorTest {
protected:
    // Files left anywhere below root.
    int FilesBelow(const std::string& root) {
        int files = 0;
        const std::string snapshot = TreeSnapshot(root);
        for (std::size_t at = snapshot.find(" file size="); at != std::string::npos;
             at = snapshot.find(" file size=", at + 1)) {
            ++files;
        }
        return files;
    }
    std::string EmptyLine() const {
        return "Not deleting anything in " + dst + ": the source " + src + " is empty (is it mounted?)";
    }
};

} // namespace

TEST_F(DeletionGuardsTest, AnEmptySourceEmptiesNoDestination) {
    Put(dst + "/photo.jpg");
    Put(dst + "/album/inside.jpg");
    const std::string before = TreeSnapshot(dst);
    Run();
    EXPECT_EQ(rig.log.Texts(LogColour::Red), std::vector<std::string>{EmptyLine()}) << Dump(rig.log);
    EXPECT_EQ(stats.errors, 1);
    EXPECT_EQ(stats.deleted, 0);
    EXPECT_EQ(TreeSnapshot(dst), before);
    EXPECT_EQ(rig.fs.MutatingCalls(), 0);

    // A trailing separator on either path changes nothing.
    rig.log.Clear();
    stats = RunStats();
    Run(src + kPathSeparator, dst + kPathSeparator);
    EXPECT_EQ(rig.log.Texts(LogColour::Red), std::vector<std::string>{EmptyLine()});

    // Safe mode deletes nothing anyway: no refusal, the extras are kept as always.
    rig.log.Clear();
    stats = RunStats();
    task.safeMode = true;
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.saved, 1);
    task.safeMode = false;

    // Turned off, the source's emptiness is mirrored.
    rig.log.Clear();
    stats = RunStats();
    rig.ctx.emptyGuard = false;
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.deleted, 2);
    EXPECT_TRUE(ListDirectory(dst).empty());
}

TEST_F(DeletionGuardsTest, TheEmptySourceGuardLooksOnlyAtTheTopAndAtWhatWasListed) {
    // An empty destination: nothing to refuse.
    MakeDirectories(dst);
    Run();
    EXPECT_EQ(stats.errors, 0);

    // A source whose only entry is left out by a filter is not empty: it is mounted.
    MakeDirectories(src + "/.hidden");
    Put(dst + "/old");
    task.excludeHiddenDirs = true;
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_FALSE(FileExists(dst + "/old"));

    // Below the top, an empty source directory mirrors as it always has.
    MakeDirectories(src + "/empty");
    Put(src + "/keep");
    Put(dst + "/empty/stale");
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_TRUE(ListDirectory(dst + "/empty").empty());
}

TEST_F(DeletionGuardsTest, TheDeletionLimitCountsFilesAndThenHoldsEverythingBack) {
    Put(src + "/kept");
    Put(dst + "/kept");
    for (const char* name : {"x1", "x2", "x3"}) {
        Put(dst + "/" + name);
    }
    Put(dst + "/dir/a");
    Put(dst + "/dir/sub/b");
    rig.ctx.maxDelete = 2;
    Run();
    EXPECT_EQ(stats.deleted, 2) << Dump(rig.log);
    EXPECT_EQ(rig.log.Texts(LogColour::Red),
              std::vector<std::string>{"Deletion limit of 2 reached: nothing more is deleted in this run"});
    EXPECT_EQ(stats.errors, 1);
    // The third file and the directory are held back, one saved each.
    EXPECT_EQ(stats.saved, 2);
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Not deleting " + NativePath(dst + "/dir") + " (deletion limit)"))
        << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith("Not deleting "), 2);
    EXPECT_EQ(FilesBelow(dst), 1 + 1 + 2);

    // The limit holds for the rest of the run, over later tasks too.
    rig.log.Clear();
    Run();
    EXPECT_EQ(stats.deleted, 2);
    EXPECT_EQ(stats.errors, 1) << "the limit line comes once per run";
    EXPECT_EQ(rig.log.CountStartingWith("Deletion limit"), 0);
    EXPECT_EQ(stats.saved, 4);
}

TEST_F(DeletionGuardsTest, ADirectoryCountsAsItsFilesAndIsKeptWholeWhenItWouldPassTheLimit) {
    Put(src + "/kept");
    Put(dst + "/dir/a");
    Put(dst + "/dir/b");
    Put(dst + "/dir/sub/c");
    rig.ctx.maxDelete = 2;
    Run();
    EXPECT_EQ(stats.deleted, 0);
    EXPECT_EQ(FilesBelow(dst + "/dir"), 3) << "nothing of it deleted";
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Not deleting " + NativePath(dst + "/dir") + " (deletion limit)"));
    EXPECT_EQ(stats.errors, 1);

    // Exactly at the limit it goes.
    rig.ctx.deletionLimitReached = false;
    rig.ctx.maxDelete = 3;
    stats = RunStats();
    rig.log.Clear();
    Run();
    EXPECT_EQ(stats.deleted, 3) << Dump(rig.log);
    EXPECT_EQ(stats.errors, 0);
    EXPECT_FALSE(FileExists(dst + "/dir"));

    // An excluded directory's copy is an extra too.
    Put(src + "/skip/f");
    Put(dst + "/skip/f");
    Put(dst + "/skip/g");
    task.exclusions = NativePath(src + "/skip");
    rig.ctx.maxDelete = 1;
    stats = RunStats();
    rig.log.Clear();
    Run();
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Not deleting " + NativePath(dst + "/skip") + " (deletion limit)"))
        << Dump(rig.log);
    EXPECT_EQ(FilesBelow(dst + "/skip"), 2);
}

TEST_F(DeletionGuardsTest, ALimitOfNoneDeletesNothingAndNoLimitDeletesEverything) {
    Put(src + "/kept");
    Put(dst + "/x");
    Put(dst + "/y");
    rig.ctx.maxDelete = 0;
    Run();
    EXPECT_EQ(stats.deleted, 0);
    EXPECT_EQ(stats.saved, 2);
    EXPECT_EQ(stats.errors, 1);
    EXPECT_EQ(rig.log.CountStartingWith("Deletion limit of 0 reached"), 1);

    rig.ctx.deletionLimitReached = false;
    rig.ctx.maxDelete = -1;
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.deleted, 2);
    EXPECT_EQ(stats.errors, 0);
}

TEST_F(DeletionGuardsTest, ALinkInsideAnExtraDirectoryCountsAsOneFileNotAsWhatItPointsTo) {
    SKIP_WITHOUT_LINKS();
    Put(src + "/kept");
    for (const char* name : {"1", "2", "3", "4", "5"}) {
        Put(tmp / ("outside/" + std::string(name)));
    }
    const std::string outsideBefore = TreeSnapshot(tmp / "outside");
    Put(dst + "/dir/a");
    MakeLink(tmp / "outside", dst + "/dir/link");
    rig.ctx.maxDelete = 2;
    Run();
    EXPECT_EQ(stats.deleted, 2) << Dump(rig.log);
    EXPECT_EQ(stats.errors, 0);
    EXPECT_FALSE(FileExists(dst + "/dir"));
    EXPECT_EQ(TreeSnapshot(tmp / "outside"), outsideBefore);
}

TEST_F(DeletionGuardsTest, AFakeItRunCountsAndGuardsDeletionsAsTheRunThatFollows) {
    for (const std::string& path :
         {src + "/Renamed/a", dst + "/Old/a", dst + "/Old/sub/b", dst + "/Older/c", dst + "/x"}) {
        Put(path);
    }
    rig.ctx.maxDelete = 3;
    for (const bool fakeIt : {true, false}) {
        task.fakeIt = fakeIt;
        rig.ctx.deletionLimitReached = false;
        stats = RunStats();
        Run();
        EXPECT_EQ(stats.deleted, 3) << Dump(rig.log);
    }
    EXPECT_EQ(rig.log.CountStartingWith("Deletion limit of 3"), 2) << "in the preview as in the run";
}

TEST_F(DeletionGuardsTest, AReplacementWhoseOldVersionIsKeptCountsAsADeletion) {
    task.versionDays = 30;
    for (const char* name : {"a", "b", "c"}) {
        Put(src + "/" + name, "new", 1700000000);
        Put(dst + "/" + name, "old");
    }
    Put(dst + "/extra");
    rig.ctx.maxDelete = 2;
    Run();
    // The extra goes first, then one replacement reaches the limit.
    EXPECT_EQ(stats.deleted, 1) << Dump(rig.log);
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(stats.saved, 2);
    EXPECT_EQ(ReadFileBytes(dst + "/c"), "old");
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Not replacing " + NativePath(dst + "/c") + " (deletion limit)"))
        << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith("Deletion limit of 2 reached"), 1);
}
