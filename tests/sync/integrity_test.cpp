// The engine under faults and odd input: a root source, a listing that breaks off, a stopped
// copy, an unopenable source with the lock check, and the time tolerance of the destination.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <cerrno>

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"
#include "sync/do_file.h"
#include "sync/exclusions.h"

namespace {

class IntegrityTest : public MirrorTest {};

} // namespace

// The root is only ever listed here: fake-it and no recursion, so nothing is written anywhere.
TEST_F(IntegrityTest, ARootSourceMirrorsTheRootInsteadOfDeletingTheDestination) {
    MakeDirectories(dst + "/tmp");
    Put(dst + "/tmp/kept", "k");
    Put(dst + "/pemo-not-in-the-root", "x");
    task.fakeIt = true;
    task.recurse = false;
    for (const std::string root : {"/", "//"}) {
        rig.log.Clear();
        stats = RunStats();
        Run(root, dst);
        EXPECT_EQ(rig.log.CountStartingWith("Deleting directory " + dst), 0) << Dump(rig.log);
        EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Deleted pemo-not-in-the-root")) << Dump(rig.log);
        EXPECT_EQ(stats.deleted, 1);
        EXPECT_EQ(rig.fs.MutatingCalls(), 0);
    }
    EXPECT_EQ(ReadFileBytes(dst + "/tmp/kept"), "k");
}

TEST_F(IntegrityTest, ASourceListingThatBreaksOffDeletesNothingThereButCopiesWhatItListed) {
    for (const char* name : {"a", "b", "c", "d"}) {
        Put(src + "/" + name, name);
        Put(dst + "/" + name, "old");
    }
    MakeDirectories(dst + "/extra-dir");
    Put(dst + "/extra-file", "e");
    // The destination is listed first: six entries and the read that ends it. The source's second
    // read then fails, so exactly one source entry was listed.
    rig.fs.FailNth(FsCall::ReadDirectory, 7 + 2, EIO);
    Run();
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Error getting source file list: Input/output error")) << Dump(rig.log);
    EXPECT_EQ(stats.errors, 1) << Dump(rig.log);
    EXPECT_EQ(stats.deleted, 0);
    EXPECT_TRUE(FileExists(dst + "/extra-file"));
    EXPECT_TRUE(IsDirectoryPath(dst + "/extra-dir"));
    int untouched = 0;
    for (const char* name : {"a", "b", "c", "d"}) {
        untouched += ReadFileBytes(dst + "/" + name) == "old" ? 1 : 0;
    }
    EXPECT_EQ(untouched, 3) << "the entry listed before the error is still updated";
    EXPECT_EQ(stats.changed, 1) << Dump(rig.log);

    // The next run, with a whole listing, deletes the extras as usual.
    rig.fs.Reset();
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.deleted, 1);
    EXPECT_FALSE(FileExists(dst + "/extra-file"));
    EXPECT_FALSE(FileExists(dst + "/extra-dir"));
}

namespace {

// Requests the stop as soon as a copy is announced, so the copy itself is cancelled.
struct StopOnAnnouncement : RecordingLogSink {
    CRunContext* ctx = nullptr;
    void AddLogLine(const std::string& text, LogColour colour) override {
        RecordingLogSink::AddLogLine(text, colour);
        if (text.rfind("Adding file", 0) == 0 || text.rfind("Updating file", 0) == 0) {
            ctx->stopRequested = 1;
        }
    }
};

} // namespace

TEST_F(IntegrityTest, AStoppedCopyCountsNowhereAndKeepsTheOldFile) {
    StopOnAnnouncement stopper;
    stopper.ctx = &rig.ctx;
    rig.ctx.log = &stopper;

    Put(src + "/changed", "new content");
    Put(dst + "/changed", "old", 1500000000);
    Run();
    EXPECT_EQ(ReadFileBytes(dst + "/changed"), "old");
    EXPECT_EQ(stats.changed, 0);
    EXPECT_EQ(stats.bytesChanged.ToString(), "0");
    EXPECT_EQ(stats.errors, 0);
    EXPECT_EQ(stats.sourceCount, 0);
    EXPECT_EQ(stats.sourceSize.ToString(), "0");
    EXPECT_TRUE(FindTemporaries(dst).empty());

    rig.ctx.stopRequested = 0;
    stats = RunStats();
    RemoveTreeAt(dst);
    Run();
    EXPECT_FALSE(FileExists(dst + "/changed"));
    EXPECT_EQ(stats.newFiles, 0);
    EXPECT_EQ(stats.bytesNew.ToString(), "0");
    EXPECT_EQ(stats.errors, 0);

    // A single-file task likewise.
    rig.ctx.stopRequested = 0;
    stats = RunStats();
    Put(dst + "/changed", "old", 1500000000);
    DoFile(rig.ctx, src + "/changed", dst, task, stats);
    EXPECT_EQ(ReadFileBytes(dst + "/changed"), "old");
    EXPECT_EQ(stats.changed, 0);
    EXPECT_EQ(stats.bytesChanged.ToString(), "0");
    EXPECT_EQ(stats.sourceCount, 0);
    EXPECT_EQ(stats.errors, 0);
    EXPECT_EQ(stopper.CountStartingWith("Failed"), 0) << Dump(stopper);
}

TEST(SameFile, ToleranceOfTheDestinationsFileSystem) {
    FileEntry d;
    FileEntry s;
    d.name = s.name = "f";
    d.size = s.size = 10;
    d.modified = 1000;
    struct Case {
        std::int64_t diff;
        bool onlyIfNewer;
        bool oneHour;
        std::int64_t tolerance;
        bool same;
    };
    const Case cases[] = {
        {0, false, false, kFineTimeTolerance, true},      {1, false, false, kFineTimeTolerance, false},
        {-1, false, false, kFineTimeTolerance, false},    {4, false, false, kFineTimeTolerance, false},
        {3600, false, true, kFineTimeTolerance, true},    {-3600, false, true, kFineTimeTolerance, true},
        {3601, false, true, kFineTimeTolerance, false},   {3599, false, true, kFineTimeTolerance, false},
        {-10, true, false, kFineTimeTolerance, true}, // a newer destination stays with onlyIfNewer
        {1, true, false, kFineTimeTolerance, false},      {4, false, false, kCoarseTimeTolerance, true},
        {-4, false, false, kCoarseTimeTolerance, true},   {5, false, false, kCoarseTimeTolerance, false},
        {4, true, false, kCoarseTimeTolerance, true},     {5, true, false, kCoarseTimeTolerance, false},
        {3604, false, true, kCoarseTimeTolerance, false}, // the hour folds exactly, not with the window
    };
    for (const Case& c : cases) {
        s.modified = d.modified + c.diff;
        EXPECT_EQ(SameFile(d, s, c.onlyIfNewer, c.oneHour, c.tolerance), c.same)
            << "diff " << c.diff << " onlyIfNewer " << c.onlyIfNewer << " oneHour " << c.oneHour << " tolerance "
            << c.tolerance;
    }
}

TEST_F(IntegrityTest, ASameSizeChangeOfASecondIsCopiedWhereTheDestinationKeepsFineTimes) {
    for (const bool fine : {true, false}) {
        Put(src + "/doc", "v2", 1600000002);
        Put(dst + "/doc", "v1", 1600000000);
        rig.fs.SetKeepsFineTimes(fine);
        stats = RunStats();
        Run();
        EXPECT_EQ(stats.changed, fine ? 1 : 0) << "fine " << fine;
        EXPECT_EQ(stats.same, fine ? 0 : 1) << "fine " << fine;
        EXPECT_EQ(ReadFileBytes(dst + "/doc"), fine ? "v2" : "v1");

        Put(dst + "/doc", "v1", 1600000000);
        stats = RunStats();
        DoFile(rig.ctx, src + "/doc", dst, task, stats);
        EXPECT_EQ(stats.changed, fine ? 1 : 0) << "single file, fine " << fine;
        EXPECT_EQ(stats.same, fine ? 0 : 1) << "single file, fine " << fine;
    }
}

TEST(NativeFileSystem, KeepsFineTimesByTheFileSystemsType) {
    EXPECT_FALSE(NativeFileSystem().KeepsFineTimes("/proc")) << "a type not known to keep times";
    EXPECT_FALSE(NativeFileSystem().KeepsFineTimes("/no/such/path"));
    struct statfs st {};
    if (::statfs("/dev/shm", &st) == 0 && static_cast<std::uint64_t>(st.f_type) == 0x01021994) {
        EXPECT_TRUE(NativeFileSystem().KeepsFineTimes("/dev/shm")) << "tmpfs";
    }
}
