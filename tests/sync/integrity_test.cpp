// The engine under faults and odd input: a root source, a listing that breaks off, a stopped
// copy, an unopenable source with the lock check, the time tolerance of the destination, and
// foreign file systems as destinations.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/engine_tree.h"
#include "support/foreign_mount.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"
#include "sync/do_file.h"
#include "sync/exclusions.h"
#include "sync/time_rule.h"

namespace {

class IntegrityTest : public MirrorTest {};

class ForeignDestinationTest : public MirrorTest, public ::testing::WithParamInterface<ForeignKind> {
protected:
    void TearDown() override { EXPECT_TRUE(!mounted || mount.Unmount()); }
    ForeignMount mount;
    bool mounted = false;
};

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
        TimeRule tolerance;
        bool same;
    };
    const Case cases[] = {
        {0, false, false, kWholeSecondTimes, true},    {1, false, false, kWholeSecondTimes, false},
        {-1, false, false, kWholeSecondTimes, false},  {4, false, false, kWholeSecondTimes, false},
        {3600, false, true, kWholeSecondTimes, true},  {-3600, false, true, kWholeSecondTimes, true},
        {3601, false, true, kWholeSecondTimes, false}, {3599, false, true, kWholeSecondTimes, false},
        {-10, true, false, kWholeSecondTimes, true}, // a newer destination stays with onlyIfNewer
        {1, true, false, kWholeSecondTimes, false},    {4, false, false, kCoarseTimes, true},
        {-4, false, false, kCoarseTimes, true},        {5, false, false, kCoarseTimes, false},
        {4, true, false, kCoarseTimes, true},          {5, true, false, kCoarseTimes, false},
        {3604, false, true, kCoarseTimes, false}, // the hour folds exactly, not with the window
    };
    for (const Case& c : cases) {
        s.modified = d.modified + c.diff;
        EXPECT_EQ(SameFile(d, s, c.onlyIfNewer, c.oneHour, c.tolerance), c.same)
            << "diff " << c.diff << " onlyIfNewer " << c.onlyIfNewer << " oneHour " << c.oneHour << " slack "
            << c.tolerance.slack;
    }
}

TEST(TimeRule, WhatTheProbeReadBackGivesTheUnitAndWhetherItWasRounded) {
    using Rule = std::optional<std::pair<std::int64_t, std::int64_t>>; // unit, slack
    const std::int64_t s = kProbeTime.seconds;
    const std::pair<FileTime, Rule> cases[] = {
        {kProbeTime, Rule({1, 0})},      {{s, 876876800}, Rule({100, 0})},    {{s, 880000000}, Rule({10000000, 1})},
        {{s, 0}, Rule({1000000000, 0})}, {{s - 1, 0}, Rule({1000000000, 4})}, // two-second steps
        {{s, 123456789}, std::nullopt},  {{1700000000, 0}, std::nullopt}};    // not the time set
    for (const auto& [kept, expected] : cases) {
        const std::optional<TimeRule> rule = RuleFromProbe(kept);
        EXPECT_EQ(rule ? Rule({rule->unitNanoseconds, rule->slack}) : std::nullopt, expected) << kept.nanoseconds;
    }
}

TEST_F(IntegrityTest, ASameSizeChangeIsComparedAtTheTimeTheDestinationKeeps) {
    const auto put = [&](const std::string& name) {
        Put(src + name, "v2", 1600000002);
        Put(dst + name, "v1", 1600000002);
        SetModified(src + name, 1600000002, 700);
        SetModified(dst + name, 1600000002, 100);
        rig.fs.Reset();
        stats = RunStats();
    };
    // Kept to the nanosecond here: a change within one second is copied, with all of its time.
    put("/doc");
    Run();
    EXPECT_EQ(ReadFileBytes(dst + "/doc"), "v2");
    Run();
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(stats.same, 1);
    EXPECT_EQ(rig.fs.Calls(FsCall::ProbeTimes), 1);
    put("/doc");
    DoFile(rig.ctx, src + "/doc", dst, task, stats);
    EXPECT_EQ(stats.changed, 1) << "single file";

    // Fake-it writes no probe and goes by the type; a failed probe likewise, failing nothing.
    for (const bool fakeIt : {true, false}) {
        put("/doc");
        task.fakeIt = fakeIt;
        rig.fs.SetKeepsFineTimes(false);
        rig.fs.FailNth(FsCall::ProbeTimes, 1, EIO);
        Run();
        EXPECT_EQ(std::pair(stats.same, stats.errors), std::pair(1, 0)) << fakeIt;
        EXPECT_EQ(rig.fs.Calls(FsCall::ProbeTimes), fakeIt ? 0 : 1);
    }
}

// As the FUSE drivers show them: exFAT and FAT fold case, NTFS keeps names differing in case
// apart and alone holds links; FAT keeps times in two-second steps, exFAT drops a time call that
// leaves the access time out. A link's own lines are the link policy's, not counted here.
TEST_P(ForeignDestinationTest, ARescanIsAllSameAndANameTheDestinationCannotHoldIsOneRedLine) {
    const ForeignKind kind = GetParam();
    const std::string at = tmp / "mnt";
    MakeDirectories(at);
    if (const std::string why = mount.Mount(kind, tmp / "image", at); !why.empty()) {
        GTEST_SKIP() << NameOf(kind) << ": " << why;
    }
    mounted = true;
    dst = at + "/mirror"; // the FUSE FAT driver fails when the time of its root is set
    for (int i = 0; i < 4; ++i) {
        const std::string path = src + "/d" + std::to_string(i % 2) + "/f" + std::to_string(i);
        Put(path, "content");
        SetModified(path, 1600000001 + i, 876543210);
    }
    // FAT's driver takes ASCII names only; exFAT's folds the other scripts too.
    const std::string upper = kind == ForeignKind::Exfat ? "\u00c4rger" : "Case";
    const std::string lower = kind == ForeignKind::Exfat ? "\u00e4rger" : "case";
    Put(src + "/" + upper, "upper");
    Put(src + "/" + lower, "lower");
    Put(src + "/what?", "q");
    Put(src + "/odd|dir/in");
    MakeLink("f0", src + "/d0/link");
    const bool folds = kind != ForeignKind::Ntfs;
    std::vector<std::string> refused{"Not copying " + src + "/what?: the destination does not allow the name \"what?\"",
                                     "Not copying " + src +
                                         "/odd|dir: the destination does not allow the name \"odd|dir\""};
    if (folds) {
        refused.insert(refused.begin(), "Not copying " + src + "/" + lower +
                                            ": the destination does not tell its name from " + src + "/" + upper +
                                            " (it ignores case); only the first is copied");
    }
    for (int run = 0; run < 2; ++run) {
        rig.log.Clear();
        stats = RunStats();
        Run();
        std::vector<std::string> red = rig.log.Texts(LogColour::Red);
        std::erase_if(red, [](const std::string& line) { return line.find("/link") != std::string::npos; });
        EXPECT_EQ(red, refused) << NameOf(kind) << " run " << run << Dump(rig.log);
    }
    EXPECT_EQ(stats.same, 4 + (folds ? 1 : 2) + (kind == ForeignKind::Ntfs ? 1 : 0)) << Dump(rig.log);
    EXPECT_EQ(stats.changed + stats.newFiles + stats.deleted, 0) << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(dst + "/" + upper), "upper");
}

INSTANTIATE_TEST_SUITE_P(ThroughFuse, ForeignDestinationTest,
                         ::testing::Values(ForeignKind::Exfat, ForeignKind::Ntfs, ForeignKind::Fat),
                         [](const auto& param) { return std::string(NameOf(param.param)); });

TEST(NativeFileSystem, KeepsFineTimesByTheFileSystemsType) {
    EXPECT_FALSE(NativeFileSystem().KeepsFineTimes("/proc")) << "a type not known to keep times";
    EXPECT_FALSE(NativeFileSystem().KeepsFineTimes("/no/such/path"));
    struct statfs st {};
    if (::statfs("/dev/shm", &st) == 0 && static_cast<std::uint64_t>(st.f_type) == 0x01021994) {
        EXPECT_TRUE(NativeFileSystem().KeepsFineTimes("/dev/shm")) << "tmpfs";
    }
}
