// What a restore needs besides content, on real trees: owners and groups as the superuser,
// directory permission bits and times set after their contents, owner- and mode-only changes
// fixed in place, fake-it changing nothing, and an unprivileged user's runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <utility>

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"
#include "sync/do_file.h"
#include "sync/fs_layer.h"

namespace {

using Ids = std::pair<unsigned, unsigned>;

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

Ids OwnerOf(const std::string& path) {
    const struct stat st = StatOf(path);
    return {st.st_uid, st.st_gid};
}

unsigned ModeOf(const std::string& path) {
    return StatOf(path).st_mode & 07777;
}

void SetTimes(const std::string& path, std::int64_t seconds, long nanoseconds) {
    struct timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = nanoseconds;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// The modification time to the nanosecond.
std::string TimeOf(const std::string& path) {
    const struct stat st = StatOf(path);
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

std::string StatsText(const RunStats& s) {
    return "new=" + std::to_string(s.newFiles) + " changed=" + std::to_string(s.changed) +
           " same=" + std::to_string(s.same) + " deleted=" + std::to_string(s.deleted) +
           " errors=" + std::to_string(s.errors);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class MetadataTest : public MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        ASSERT_EQ(::chmod(tmp.Path().c_str(), 0755), 0);
    }
    void Run() {
        rig.log.Clear();
        stats = RunStats();
        DoDirectory(rig.ctx, src, dst, "", task, stats);
    }
    static void RequireRoot() {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs the superuser";
        }
    }
    // Mirrors as user 65534: statistics and log as text.
    std::string RunAsNobodyText() {
        return RunAsNobody([&] {
            EngineRig nobodyRig;
            RunStats nobodyStats;
            DoDirectory(nobodyRig.ctx, src, dst, "", task, nobodyStats);
            return StatsText(nobodyStats) + "\n" + Dump(nobodyRig.log);
        });
    }
};

} // namespace

TEST_F(MetadataTest, OwnersAreCarriedOnCopiesNewDirectoriesAndLinksAndFixedInPlaceAsRoot) {
    RequireRoot();
    const std::string outside = tmp / "outside";
    Put(outside, "outside");
    ASSERT_EQ(::chown(outside.c_str(), 0, 0), 0);
    Put(src + "/a", "aaaa");
    Put(src + "/b", "bb");
    Put(src + "/d/c", "c");
    Put(src + "/setid", "s");
    MakeLink(outside, src + "/l");
    ASSERT_EQ(::lchown((src + "/a").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::lchown((src + "/b").c_str(), 1, 1), 0);
    ASSERT_EQ(::lchown((src + "/d").c_str(), 1, 65534), 0);
    ASSERT_EQ(::lchown((src + "/d/c").c_str(), 65534, 1), 0);
    ASSERT_EQ(::lchown((src + "/setid").c_str(), 1, 1), 0);
    ASSERT_EQ(::chmod((src + "/setid").c_str(), 06755), 0);
    ASSERT_EQ(::lchown((src + "/l").c_str(), 1, 65534), 0);

    Run();
    ASSERT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 5);
    EXPECT_EQ(OwnerOf(dst + "/a"), Ids(65534, 65534));
    EXPECT_EQ(OwnerOf(dst + "/b"), Ids(1, 1));
    EXPECT_EQ(OwnerOf(dst + "/d"), Ids(1, 65534));
    EXPECT_EQ(OwnerOf(dst + "/d/c"), Ids(65534, 1));
    EXPECT_EQ(OwnerOf(dst + "/l"), Ids(1, 65534));
    // The set-id bits survive the change of owner.
    EXPECT_EQ(OwnerOf(dst + "/setid"), Ids(1, 1));
    EXPECT_EQ(ModeOf(dst + "/setid"), 06755u);
    EXPECT_EQ(OwnerOf(outside), Ids(0, 0)) << "a link's target is never given away";

    // Owner-only changes: fixed where they are, nothing copied or counted but "same".
    const ino_t inode = StatOf(dst + "/a").st_ino;
    ASSERT_EQ(::lchown((dst + "/a").c_str(), 0, 0), 0);
    ASSERT_EQ(::lchown((dst + "/d/c").c_str(), 1, 65534), 0);
    ASSERT_EQ(::lchown((dst + "/d").c_str(), 0, 0), 0);
    ASSERT_EQ(::lchown((dst + "/l").c_str(), 0, 0), 0);
    ASSERT_EQ(::lchown((dst + "/setid").c_str(), 0, 0), 0); // clears the set-id bits
    Run();
    EXPECT_EQ(StatsText(stats), "new=0 changed=0 same=5 deleted=0 errors=0") << Dump(rig.log);
    EXPECT_TRUE(rig.log.Texts(LogColour::Green).empty()) << Dump(rig.log);
    EXPECT_EQ(StatOf(dst + "/a").st_ino, inode);
    EXPECT_EQ(OwnerOf(dst + "/a"), Ids(65534, 65534));
    EXPECT_EQ(OwnerOf(dst + "/d/c"), Ids(65534, 1));
    EXPECT_EQ(OwnerOf(dst + "/d"), Ids(1, 65534));
    EXPECT_EQ(OwnerOf(dst + "/l"), Ids(1, 65534));
    EXPECT_EQ(ModeOf(dst + "/setid"), 06755u);
    EXPECT_EQ(OwnerOf(outside), Ids(0, 0));
}

TEST_F(MetadataTest, DirectoryModesAndTimesEqualTheSourceAfterEachRun) {
    Put(src + "/x/f", "f");
    Put(src + "/x/y/g", "g");
    Put(src + "/x/y/z/h", "h");
    MakeDirectories(src + "/x/empty");
    ASSERT_EQ(::chmod((src + "/x").c_str(), 0750), 0);
    ASSERT_EQ(::chmod((src + "/x/y").c_str(), 0705), 0);
    ASSERT_EQ(::chmod((src + "/x/y/z").c_str(), 0555), 0);
    ASSERT_EQ(::chmod((src + "/x/empty").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(src.c_str(), 0711), 0);
    SetTimes(src + "/x/y/z", 1400000000, 111);
    SetTimes(src + "/x/y", 1400000100, 222);
    SetTimes(src + "/x/empty", 1400000200, 333);
    SetTimes(src + "/x", 1400000300, 444);
    SetTimes(src, 1400000400, 555);
    YMakeDirectory(rig.ctx, dst); // as the runner makes it: private until mirrored
    EXPECT_EQ(ModeOf(dst), 0700u);
    const char* const dirs[] = {"", "/x", "/x/y", "/x/y/z", "/x/empty"};

    Run();
    ASSERT_EQ(stats.errors, 0) << Dump(rig.log);
    for (const char* dir : dirs) {
        EXPECT_EQ(ModeOf(dst + dir), ModeOf(src + dir)) << dir;
        EXPECT_EQ(TimeOf(dst + dir), TimeOf(src + dir)) << dir;
    }
    EXPECT_EQ(ReadFileBytes(dst + "/x/y/z/h"), "h");

    // Contents that change in a later run: a new file, a deleted one, a new subdirectory.
    Put(src + "/x/y/new", "n");
    ASSERT_EQ(::chmod((src + "/x/y/z").c_str(), 0755), 0);
    ASSERT_EQ(::unlink((src + "/x/y/z/h").c_str()), 0);
    ASSERT_EQ(::chmod((src + "/x/y/z").c_str(), 0555), 0);
    MakeDirectories(src + "/x/sub/deeper");
    SetTimes(src + "/x/y/z", 1400001000, 5);
    SetTimes(src + "/x/y", 1400001100, 6);
    SetTimes(src + "/x", 1400001200, 7);
    ASSERT_EQ(::chmod((src + "/x/empty").c_str(), 0751), 0);
    Run();
    ASSERT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(stats.deleted, 1);
    EXPECT_FALSE(FileExists(dst + "/x/y/z/h"));
    for (const char* dir : {"", "/x", "/x/y", "/x/y/z", "/x/empty", "/x/sub", "/x/sub/deeper"}) {
        EXPECT_EQ(ModeOf(dst + dir), ModeOf(src + dir)) << dir;
        EXPECT_EQ(TimeOf(dst + dir), TimeOf(src + dir)) << dir;
    }

    // Nothing left to do: the same figures and no change on disk.
    const std::string before = TreeSnapshot(dst);
    rig.fs.Reset();
    Run();
    EXPECT_EQ(stats.errors, 0);
    EXPECT_EQ(rig.fs.MutatingCalls(), 0);
    EXPECT_EQ(TreeSnapshot(dst), before);
}

TEST_F(MetadataTest, AModeOnlyChangeIsFixedInPlaceWithTheSameCountersAndLog) {
    Put(src + "/f", "content", 1500000000);
    ASSERT_EQ(::chmod((src + "/f").c_str(), 0640), 0);
    Run();
    ASSERT_EQ(stats.errors, 0) << Dump(rig.log);
    // A run with nothing to fix, for comparison.
    Run();
    const std::string quietStats = StatsText(stats);
    const std::string quietLog = Dump(rig.log);

    ASSERT_EQ(::chmod((dst + "/f").c_str(), 0604), 0);
    const ino_t inode = StatOf(dst + "/f").st_ino;
    Run();
    EXPECT_EQ(StatsText(stats), quietStats);
    EXPECT_EQ(Dump(rig.log), quietLog);
    EXPECT_EQ(ModeOf(dst + "/f"), 0640u);
    EXPECT_EQ(StatOf(dst + "/f").st_ino, inode);
    EXPECT_EQ(ReadFileBytes(dst + "/f"), "content");
}

TEST_F(MetadataTest, FakeItChangesNoOwnerModeOrTime) {
    Put(src + "/f", "same", 1500000000);
    Put(src + "/d/g", "g", 1500000000);
    Run();
    ASSERT_EQ(stats.errors, 0) << Dump(rig.log);
    ASSERT_EQ(::chmod((src + "/f").c_str(), 0600), 0);
    ASSERT_EQ(::chmod((src + "/d").c_str(), 0700), 0);
    SetTimes(src + "/d", 1300000000, 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown((src + "/f").c_str(), 1, 1), 0);
        ASSERT_EQ(::lchown((src + "/d").c_str(), 1, 1), 0);
    }
    const std::string before = TreeSnapshot(dst);
    const Ids fileOwner = OwnerOf(dst + "/f");
    const Ids dirOwner = OwnerOf(dst + "/d");

    task.fakeIt = true;
    rig.fs.Reset();
    Run();
    EXPECT_EQ(stats.errors, 0);
    EXPECT_EQ(rig.fs.MutatingCalls(), 0);
    EXPECT_EQ(TreeSnapshot(dst), before);
    EXPECT_EQ(OwnerOf(dst + "/f"), fileOwner);
    EXPECT_EQ(OwnerOf(dst + "/d"), dirOwner);
}

TEST_F(MetadataTest, AttributeFailuresAreErrorsUnlessTheSystemRefusesByPolicy) {
    Put(src + "/d/f", "f");
    SetTimes(src + "/d", 1400000000, 0);
    rig.fs.FailPath(FsCall::SetLinkTime, dst + "/d", EIO);
    Run();
    EXPECT_EQ(stats.errors, 1) << Dump(rig.log);
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Failed to set the time of " + NativePath(dst + "/d") +
                                                " with error 5: " + std::string(std::strerror(EIO)) + "\n"))
        << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(dst + "/d/f"), "f");

    // Not the owner, or ids the file system cannot hold: kept as they are, silently.
    rig.fs.Reset();
    rig.fs.FailPath(FsCall::SetLinkTime, dst + "/d", EPERM);
    rig.fs.FailPath(FsCall::SetOwner, dst, EPERM);
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown((src + "/d/f").c_str(), 1, 1), 0);
    }
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_TRUE(rig.log.Texts(LogColour::Red).empty()) << Dump(rig.log);
    if (::geteuid() == 0) {
        EXPECT_GT(rig.fs.Calls(FsCall::SetOwner), 0);
        rig.fs.Reset();
        rig.fs.FailPath(FsCall::SetOwner, dst + "/d/f", EIO);
        Run();
        EXPECT_EQ(stats.errors, 1) << Dump(rig.log);
        EXPECT_EQ(stats.same, 1);
    }
}

TEST_F(MetadataTest, AnUnprivilegedRunOverOthersFilesKeepsItsOwnOwnership) {
    RequireRoot();
    Put(src + "/mine-not", "root's");
    Put(src + "/daemons", "daemon's");
    Put(src + "/d/inner", "inner");
    ASSERT_EQ(::lchown((src + "/daemons").c_str(), 1, 1), 0);
    ASSERT_EQ(::lchown((src + "/d").c_str(), 1, 1), 0);
    ASSERT_EQ(::chmod((src + "/daemons").c_str(), 06755), 0); // its owner's rights, not the mirror's
    ASSERT_EQ(::chmod((src + "/d").c_str(), 0755), 0);
    MakeDirectories(dst);
    ChownTree(dst);

    std::string out = RunAsNobodyText();
    EXPECT_TRUE(Contains(out, "new=3 changed=0 same=0 deleted=0 errors=0")) << out;
    for (const char* path : {"", "/mine-not", "/daemons", "/d", "/d/inner"}) {
        EXPECT_EQ(OwnerOf(dst + path), Ids(65534, 65534)) << path;
    }
    EXPECT_EQ(ModeOf(dst + "/d"), 0755u);
    EXPECT_EQ(TimeOf(dst + "/d"), TimeOf(src + "/d"));
    EXPECT_EQ(ModeOf(dst + "/daemons"), 0755u);

    // Nothing to fix on the next run: owners it cannot give are not differences.
    out = RunAsNobodyText();
    EXPECT_TRUE(Contains(out, "new=0 changed=0 same=3 deleted=0 errors=0")) << out;
}

TEST_F(MetadataTest, AReadOnlySourceDirectoryIsMirroredByAnUnprivilegedUserAndEndsReadOnly) {
    RequireRoot();
    Put(src + "/ro/f", "one");
    Put(src + "/ro/sub/g", "g");
    MakeDirectories(dst);
    ChownTree(src);
    ChownTree(dst);
    ASSERT_EQ(::chmod((src + "/ro/sub").c_str(), 0555), 0);
    ASSERT_EQ(::chmod((src + "/ro").c_str(), 0555), 0);

    std::string out = RunAsNobodyText();
    EXPECT_TRUE(Contains(out, "new=2 changed=0 same=0 deleted=0 errors=0")) << out;
    EXPECT_EQ(ReadFileBytes(dst + "/ro/f"), "one");
    EXPECT_EQ(ReadFileBytes(dst + "/ro/sub/g"), "g");
    EXPECT_EQ(ModeOf(dst + "/ro"), 0555u);
    EXPECT_EQ(ModeOf(dst + "/ro/sub"), 0555u);

    // A later run still updates, adds and deletes inside, and leaves it read-only again.
    Put(src + "/ro/f", "two", 1700000000);
    Put(src + "/ro/added", "added");
    ASSERT_EQ(::unlink((src + "/ro/sub/g").c_str()), 0);
    ChownTree(src);
    out = RunAsNobodyText();
    EXPECT_TRUE(Contains(out, "new=1 changed=1 same=0 deleted=1 errors=0")) << out;
    EXPECT_EQ(ReadFileBytes(dst + "/ro/f"), "two");
    EXPECT_EQ(ReadFileBytes(dst + "/ro/added"), "added");
    EXPECT_FALSE(FileExists(dst + "/ro/sub/g"));
    EXPECT_EQ(ModeOf(dst + "/ro"), 0555u);
    EXPECT_EQ(ModeOf(dst + "/ro/sub"), 0555u);
    EXPECT_EQ(TimeOf(dst + "/ro"), TimeOf(src + "/ro"));
    EXPECT_EQ(TimeOf(dst + "/ro/sub"), TimeOf(src + "/ro/sub"));
}

TEST_F(MetadataTest, ASingleFileTaskCarriesItsOwnerAndFixesItInPlace) {
    RequireRoot();
    Put(src + "/one", "1");
    ASSERT_EQ(::lchown((src + "/one").c_str(), 1, 65534), 0);
    DoFile(rig.ctx, src + "/one", dst, task, stats);
    ASSERT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(OwnerOf(dst + "/one"), Ids(1, 65534));

    ASSERT_EQ(::lchown((dst + "/one").c_str(), 0, 0), 0);
    const ino_t inode = StatOf(dst + "/one").st_ino;
    stats = RunStats();
    DoFile(rig.ctx, src + "/one", dst, task, stats);
    EXPECT_EQ(StatsText(stats), "new=0 changed=0 same=1 deleted=0 errors=0") << Dump(rig.log);
    EXPECT_EQ(OwnerOf(dst + "/one"), Ids(1, 65534));
    EXPECT_EQ(StatOf(dst + "/one").st_ino, inode);
}

// Another user's swaps between the listing and the act: a hard link to a file of root's put in
// place of a mirrored file, and a source file turned into a link or into another file; once at
// chosen moments, then by another process in a loop.
TEST_F(MetadataTest, SwappedNamesAreActedOnAsListedOrNotAtAll) {
    RequireRoot();
    const std::string victim = tmp / "victim";
    const std::string secret = tmp / "secret";
    Put(victim, "root's");
    ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
    Put(secret, "private");
    MakeLink(secret, secret + "-link");
    Put(src + "/f", "same");
    ASSERT_EQ(::lchown((src + "/f").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod((src + "/f").c_str(), 04755), 0);
    Put(src + "/g", "listed");
    // Puts another name of file (a link itself, never its target) over name in one step.
    auto swap = [](const std::string& file, const std::string& name) {
        ::link(file.c_str(), (name + "~").c_str()), ::rename((name + "~").c_str(), name.c_str());
    };
    auto expect = [&](const std::string& where) {
        EXPECT_EQ(OwnerOf(victim), Ids(0, 0)) << where;
        EXPECT_EQ(ModeOf(victim), 0644u) << where;
        EXPECT_FALSE(FileExists(dst + "/g") && !IsLink(dst + "/g") && ReadFileBytes(dst + "/g") != "listed") << where;
    };
    task.checkOpen = true;
    Put(dst + "/f", "same");
    Put(src + "/h", "root's"); // the same as the hard link in its place before the run
    ASSERT_EQ(::lchown((src + "/h").c_str(), 65534, 65534), 0);
    swap(victim, dst + "/h");
    Put(src + "/k", "listed");
    rig.fs.BeforeNext(FsCall::SetOwner, [&] { swap(victim, dst + "/f"); });
    rig.fs.BeforeNext(FsCall::OpenSource, [&] { swap(secret, src + "/g"), swap(secret + "-link", src + "/k"); });
    Run();
    expect(Dump(rig.log));
    EXPECT_EQ(stats.errors, 3) << Dump(rig.log);
    EXPECT_TRUE(IsLink(dst + "/k")) << "mirrored as the link it now is";
    EXPECT_TRUE(
        rig.log.Has(LogColour::Red, "Left " + NativePath(dst + "/f") + " as it is: replaced since it was listed"));
    EXPECT_TRUE(
        rig.log.Has(LogColour::Red, "Not copying " + NativePath(src + "/g") + ": replaced since it was listed"));

    task.checkOpen = false;
    Put(tmp / "user", "same");
    ::unlink((src + "/g").c_str());
    Put(src + "/g", "listed");
    ASSERT_EQ(::link((src + "/g").c_str(), (tmp / "g").c_str()), 0);
    const pid_t child = ::fork();
    for (; child == 0; ::lchown((tmp / "user").c_str(), 0, 0)) {
        swap(victim, dst + "/f"), swap(tmp / "user", dst + "/f");
        swap(secret + "-link", src + "/g"), swap(tmp / "g", src + "/g");
    }
    for (int run = 0; run < 100; ++run) {
        ::unlink((dst + "/g").c_str());
        Run();
        expect("run " + std::to_string(run) + "\n" + Dump(rig.log));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}
