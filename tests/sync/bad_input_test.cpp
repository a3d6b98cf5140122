// Bad input and faults on real trees: refusals seen by an unprivileged user, things in the way,
// files that vanish or change under the engine, awkward names, and a
// loop that fails the Nth file-system call of one scenario and checks what is left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <utility>

#include "support/engine_tree.h"
#include "support/fault_loop.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"
#include "sync/fs_layer.h"

namespace {

[[maybe_unused]] std::string StatsText(const RunStats& s) {
    return "new=" + std::to_string(s.newFiles) + " changed=" + std::to_string(s.changed) +
           " same=" + std::to_string(s.same) + " deleted=" + std::to_string(s.deleted) +
           " saved=" + std::to_string(s.saved) + " errors=" + std::to_string(s.errors);
}

// Runs one mirror as user 65534 and returns its statistics and log as text.
#ifndef _WIN32
std::string MirrorAsNobody(const std::string& src, const std::string& dst, const Task& task) {
    return RunAsNobody([&] {
        EngineRig rig;
        RunStats stats;
        DoDirectory(rig.ctx, src, dst, "", task, stats);
        return StatsText(stats) + "\n" + Dump(rig.log);
    });
}
#endif

#ifdef _WIN32
constexpr bool kOwnerIds = false;
#else
constexpr bool kOwnerIds = true;
#endif

[[maybe_unused]] bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class BadInputTest : public MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        ASSERT_EQ(::chmod(tmp.Path().c_str(), 0755), 0);
    }
    void Run() { DoDirectory(rig.ctx, src, dst, "", task, stats); }
};

} // namespace

#ifndef _WIN32
TEST_F(BadInputTest, UnreadableSourceDirectoriesAndFilesAsAnUnprivilegedUser) {
    WriteFileBytes(src + "/open", "o");
    WriteFileBytes(src + "/secret", "s");
    MakeDirectories(src + "/locked");
    WriteFileBytes(src + "/locked/inside", "i");
    MakeDirectories(dst);
    ChownTree(src);
    ChownTree(dst);
    ASSERT_EQ(::chmod((src + "/secret").c_str(), 0), 0);
    ASSERT_EQ(::chmod((src + "/locked").c_str(), 0), 0);

    const std::string out = MirrorAsNobody(src, dst, task);
    EXPECT_TRUE(Contains(out, "new=1 ")) << out;
    EXPECT_TRUE(Contains(out, "errors=2")) << out;
    EXPECT_TRUE(Contains(out, "Red: Failed to copy file " + NativePath(src + "/secret") + " to " +
                                  NativePath(dst + "/secret") + " with error 13: Permission denied\n"))
        << out;
    EXPECT_TRUE(Contains(out, "Red: Can't open source directory " + NativePath(src + "/locked") +
                                  " with error 13: Permission denied\n"))
        << out;
    EXPECT_EQ(ReadFileBytes(dst + "/open"), "o");
    EXPECT_FALSE(FileExists(dst + "/secret"));
    EXPECT_TRUE(IsDirectoryPath(dst + "/locked")) << "created before the source was found unreadable";
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
}
#endif

#ifndef _WIN32
TEST_F(BadInputTest, ReadOnlyDestinationsAsAnUnprivilegedUser) {
    WriteFileBytes(src + "/ro-file", "new");
    MakeDirectories(src + "/in-ro-dir");
    WriteFileBytes(src + "/in-ro-dir/f", "new");
    MakeDirectories(dst + "/in-ro-dir");
    MakeDirectories(dst + "/ro-extra");
    WriteFileBytes(dst + "/ro-file", "old");
    WriteFileBytes(dst + "/in-ro-dir/f", "old");
    WriteFileBytes(dst + "/in-ro-dir/extra", "x");
    WriteFileBytes(dst + "/ro-extra/stuck", "x");
    ChownTree(src);
    ChownTree(dst);
    // A read-only file in a writable directory is replaced; nothing can change in a read-only
    // directory.
    SetModified(src + "/ro-file", 1700000000);
    SetModified(src + "/in-ro-dir/f", 1700000000);
    ASSERT_EQ(::chmod((dst + "/ro-file").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((dst + "/in-ro-dir").c_str(), 0555), 0);
    ASSERT_EQ(::chmod((dst + "/ro-extra").c_str(), 0555), 0);

    const std::string out = MirrorAsNobody(src, dst, task);
    EXPECT_EQ(ReadFileBytes(dst + "/ro-file"), "new") << out;
    EXPECT_EQ(ReadFileBytes(dst + "/in-ro-dir/f"), "old") << out;
    EXPECT_TRUE(FileExists(dst + "/in-ro-dir/extra"));
    EXPECT_TRUE(FileExists(dst + "/ro-extra/stuck"));
    EXPECT_TRUE(Contains(out, "changed=1 ")) << out;
    EXPECT_TRUE(Contains(out, "errors=3")) << out;
    EXPECT_TRUE(Contains(out, "Red: Failed to copy file " + NativePath(src + "/in-ro-dir/f") + " to " +
                                  NativePath(dst + "/in-ro-dir/f") + " with error 13"))
        << out;
    EXPECT_TRUE(Contains(out, "Red: Failed to delete file " + NativePath(dst + "/in-ro-dir/extra") +
                                  " with error 13: Permission denied\n"))
        << out;
    EXPECT_FALSE(Contains(out, "Red: Failed to delete file " + NativePath(dst + "/in-ro-dir/extra") + "\n"))
        << "one line per failure";
    EXPECT_TRUE(Contains(out, "Red: Failed to delete directory " + NativePath(dst + "/ro-extra") +
                                  " with error 13: Permission denied\n"))
        << out;
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
}
#endif

#ifndef _WIN32
TEST_F(BadInputTest, ADestinationWhoseParentRefusesCreation) {
    WriteFileBytes(src + "/a", "a");
    MakeDirectories(tmp / "closed");
    ChownTree(src);
    ASSERT_EQ(::chmod((tmp / "closed").c_str(), 0555), 0);
    const std::string out = MirrorAsNobody(src, tmp / "closed/dst", task);
    EXPECT_TRUE(Contains(out, "errors=1")) << out;
    EXPECT_TRUE(
        Contains(out, "Red: Unable to create \"" + (tmp / "closed/dst") + "\" - aborting (Permission denied)\n"))
        << out;
}
#endif

TEST_F(BadInputTest, AFileWhereADirectoryShouldBeAndTheOtherWayRound) {
    MakeDirectories(src + "/x");
    WriteFileBytes(src + "/x/inside", "i");
    WriteFileBytes(src + "/y", "file y");
    MakeDirectories(dst);
    WriteFileBytes(dst + "/x", "file in the way");
    MakeDirectories(dst + "/y");
    WriteFileBytes(dst + "/y/old", "o");
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(dst + "/x/inside"), "i");
    EXPECT_EQ(ReadFileBytes(dst + "/y"), "file y");

    // In safe mode the file stays, and its directory cannot be mirrored into.
    RemoveTreeAt(dst);
    MakeDirectories(dst);
    WriteFileBytes(dst + "/x", "file in the way");
    task.safeMode = true;
    stats = RunStats();
    rig.log.Clear();
    Run();
    EXPECT_EQ(ReadFileBytes(dst + "/x"), "file in the way");
    EXPECT_EQ(stats.errors, 1) << Dump(rig.log);
    const std::string why = ErrorText(static_cast<std::uint32_t>(SystemCodeOfKind(ErrorKind::NotADirectory)));
    EXPECT_TRUE(
        rig.log.Has(LogColour::Red, "Unable to create \"" + NativePath(dst + "/x") + "\" - aborting (" + why + ")"));
}

TEST_F(BadInputTest, FilesThatVanishOrChangeBetweenListingAndCopy) {
    WriteFileBytes(src + "/vanishes", "v");
    WriteFileBytes(src + "/grows", "short");
    SetModified(src + "/grows", 1600000000);
    struct Meddler : FakeFileSystem {
        std::string vanish;
        std::string grow;
        FsError OpenCopySourceAt(const DirectoryHandle& fromDir, const std::string& fromName,
                                 const FileIdentity& identity, bool followLink, FileHandle& source) override {
            const std::string from = PathIn(fromDir, fromName);
            if (from == vanish) {
                ::unlink(from.c_str());
            }
            if (from == grow) {
                WriteFileBytes(from, "much longer content");
                SetModified(from, 1600000000);
            }
            return FakeFileSystem::OpenCopySourceAt(fromDir, fromName, identity, followLink, source);
        }
    } meddler;
    meddler.vanish = NativePath(src + "/vanishes");
    meddler.grow = NativePath(src + "/grows");
    rig.ctx.fs = &meddler;
    Run();
    EXPECT_EQ(stats.errors, 1) << Dump(rig.log);
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Failed to copy file " + NativePath(src + "/vanishes") + " to " +
                                                NativePath(dst + "/vanishes") + FailureTail(ENOENT)));
    EXPECT_FALSE(FileExists(dst + "/vanishes"));
    EXPECT_EQ(ReadFileBytes(dst + "/grows"), "much longer content") << "the file as it is when copied";
    EXPECT_EQ(stats.bytesNew.ToString(), "5") << "counted as listed";
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());

    // The next run sees the new size and copies nothing more.
    rig.ctx.fs = &rig.fs;
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.same, 1);
    EXPECT_EQ(stats.errors, 0);
}

TEST_F(BadInputTest, AwkwardNamesAreCopiedAndDeletedByteForByte) {
#ifdef _WIN32
    // Windows names are UTF-16 without control characters or <>:"|?*; a trailing dot or space
    // survives only the \\?\ form, the one the test's own files are written through.
    const std::string encoding = "n\xc3\xa4me \xf0\x9f\x98\x80";
    const std::string special = "trailing dot.";
    const std::string punctuation = "100% & 'q' ;,=[]{} ";
    const std::string extra = "extra.";
    const std::string root = "\\\\?\\";
#else
    const std::string encoding = "bad\xff\xfe name";
    const std::string special = "line\nbreak";
    const std::string punctuation = "<script>alert(1)<&>";
    const std::string extra = "extra\xff";
    const std::string root;
#endif
    const std::string longName = std::string(251, 'n') + ".txt";
    ASSERT_EQ(longName.size(), 255u);
    const std::string from = root + NativePath(src + "/");
    const std::string to = root + NativePath(dst + "/");
    for (const std::string& name : {encoding, special, punctuation, longName}) {
        WriteFileBytes(from + name, name);
    }
    MakeDirectories(from + encoding + " dir");
    MakeDirectories(from + std::string(255, 'd'));
    WriteFileBytes(from + std::string(255, 'd') + kPathSeparator + longName, "deep");
    MakeDirectories(dst);
    WriteFileBytes(to + extra, "x");
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 5);
    EXPECT_EQ(stats.deleted, 1);
    for (const std::string& name : {encoding, special, punctuation, longName}) {
        EXPECT_EQ(ReadFileBytes(to + name), name);
    }
    EXPECT_FALSE(FileExists(to + extra));
    EXPECT_TRUE(IsDirectoryPath(dst + "/" + encoding + " dir"));
    EXPECT_EQ(ReadFileBytes(to + std::string(255, 'd') + kPathSeparator + longName), "deep");
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + NativePath(src + "/") + encoding));
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.same, 5);
    EXPECT_EQ(stats.newFiles + stats.changed + stats.deleted + stats.errors, 0);
}

TEST_F(BadInputTest, ADanglingSourceLinkIsMirroredNotAFailure) {
    SKIP_WITHOUT_LINKS();
    MakeLink(tmp / "nowhere", src + "/dangling");
    Run();
    EXPECT_TRUE(rig.log.Texts(LogColour::Red).empty()) << Dump(rig.log);
    EXPECT_EQ(stats.errors, 0);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_TRUE(IsLink(dst + "/dangling"));
}

// Every call the walk makes fails in turn, once: nothing outside the destination is touched, no
// partial file or temporary stays, at most one error is counted, and a clean run afterwards
// completes the mirror. With threads, the failure may fall on a worker's copy or read-ahead.
class FailingEachCall : public BadInputTest, public ::testing::WithParamInterface<int> {};

TEST_P(FailingEachCall, LeavesNoDebris) {
    rig.ctx.threads = GetParam();
    const std::string outside = tmp / "outside";
    auto build = [&] {
        RemoveTreeAt(src);
        RemoveTreeAt(dst);
        RemoveTreeAt(outside);
        MakeDirectories(src + "/sub");
        MakeDirectories(dst + "/gone");
        MakeDirectories(outside);
        WriteFileBytes(outside + "/keep", "outside");
        WriteFileBytes(src + "/new", std::string((1 << 20) + 1, 'N'));
        WriteFileBytes(src + "/changed", "changed source");
        WriteFileBytes(src + "/Same", "same");
        WriteFileBytes(src + "/sub/deep", "deep");
        WriteFileBytes(dst + "/changed", "old");
        WriteFileBytes(dst + "/same", "same");
        SetModified(src + "/Same", 1600000000);
        SetModified(dst + "/same", 1600000000);
        // Within one second: the destination's times are probed to compare these.
        WriteFileBytes(src + "/stamp", "t");
        WriteFileBytes(dst + "/stamp", "t");
        SetModified(src + "/stamp", 1600000000, 700);
        SetModified(dst + "/stamp", 1600000000, 100);
        ::chmod((dst + "/same").c_str(), 0600);
        WriteFileBytes(dst + "/extra", "x");
        WriteFileBytes(dst + "/gone/f", "f");
        MakeLink(outside, dst + "/link-out");
        MakeLink(outside + "/keep", src + "/link-in");
        MakeLink("old", dst + "/link-in");
    };
    task.rename = true;
    task.checkOpen = true;
    const std::map<std::string, std::string> sourceContent = {{"new", std::string((1 << 20) + 1, 'N')},
                                                              {"changed", "changed source"},
                                                              {"Same", "same"},
                                                              {"stamp", "t"},
                                                              {"sub/deep", "deep"}};
    const std::map<std::string, std::string> oldContent = {
        {"changed", "old"}, {"same", "same"}, {"extra", "x"}, {"gone/f", "f"}};

    std::string outsideBefore;
    std::string sourceBefore;
    auto failingRun = [&](const std::function<void()>& arm) {
        build();
        outsideBefore = TreeSnapshot(outside);
        sourceBefore = TreeSnapshot(src);
        rig.log.Clear();
        stats = RunStats();
        arm();
        Run();
        const std::string log = Dump(rig.log);
        EXPECT_TRUE(FindTemporaries(tmp.Path()).empty()) << log;
        EXPECT_EQ(TreeSnapshot(outside), outsideBefore) << log;
        EXPECT_EQ(TreeSnapshot(src), sourceBefore) << log;
        // Only the destination is changed; its existing ancestors are merely attempted by the
        // directory walk, which the snapshots above show changed nothing.
        for (const std::string& path : rig.fs.ChangedPaths()) {
            const bool inside = path == dst || path.rfind(dst + kPathSeparator, 0) == 0;
            const bool ancestor = dst.rfind(path + kPathSeparator, 0) == 0;
            EXPECT_TRUE(inside || ancestor) << path << "\n" << log;
        }
        // Every file under a final name is whole: the source's content or the old one.
        for (const auto& [name, content] : sourceContent) {
            const std::string path = dst + "/" + name;
            if (FileExists(path) && !IsLink(path)) {
                const std::string now = ReadFileBytes(path);
                auto old = oldContent.find(name);
                EXPECT_TRUE(now == content || (old != oldContent.end() && now == old->second)) << path << "\n" << log;
            }
        }
        EXPECT_LE(stats.errors, 1) << log;
        EXPECT_LE(rig.log.Texts(LogColour::Red).size(), 2u) << log;
    };
    // A clean run afterwards completes the mirror.
    auto cleanRun = [&](const InjectedFailure&) {
        stats = RunStats();
        Run();
        EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
        for (const auto& [name, content] : sourceContent) {
            EXPECT_EQ(ReadFileBytes(dst + "/" + name), content);
        }
        EXPECT_FALSE(FileExists(dst + "/extra"));
        EXPECT_FALSE(FileExists(dst + "/gone"));
        EXPECT_FALSE(IsLink(dst + "/link-out"));
        EXPECT_TRUE(IsLink(dst + "/link-in") || !SystemMakesLinks());
    };
    for (FsCall kind :
         {FsCall::OpenSource, FsCall::CopyFileContent, FsCall::CopyMidway, FsCall::RemoveFile, FsCall::MakeDirectory,
          FsCall::OpenDirectory, FsCall::ReadDirectory, FsCall::Status, FsCall::RenamePath,
          FsCall::RemoveEmptyDirectory, FsCall::ListDirectory, FsCall::FlushFileSystem, FsCall::ReadLink,
          FsCall::MakeLink, FsCall::SetMode, FsCall::SetLinkTime, FsCall::SetOwner, FsCall::ProbeTimes}) {
        const int met = FailEachCallInTurn(rig.fs, {kind}, EIO, failingRun, cleanRun);
        // Links are read and made only where the system makes them; Windows has no owner ids to set.
        const bool linkCall = kind == FsCall::ReadLink || kind == FsCall::MakeLink;
        const bool ownerCall = kind == FsCall::SetOwner && !kOwnerIds;
        if ((!linkCall || SystemMakesLinks()) && !ownerCall) {
            EXPECT_GT(met, 0) << static_cast<int>(kind);
        }
    }
    RemoveTreeAt(outside);
}

INSTANTIATE_TEST_SUITE_P(Threads, FailingEachCall, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return param.param == 1 ? std::string("OneThread") : std::string("TwoThreads");
                         });

TEST_F(BadInputTest, HugePathsEndInAClearErrorAtOnce) {
    WriteFileBytes(src + "/a", "a");
    const std::string slashes(1 << 20, kPathSeparator);
    std::string components = tmp / "missing";
    while (components.size() < (1u << 20)) {
        components += kPathSeparator + std::string("a");
    }
    const int tooLongCode = SystemCodeOfKind(ErrorKind::NameTooLong);
    const std::string tooLong = ErrorText(static_cast<std::uint32_t>(tooLongCode));
    // What the runner does with a task: create the destination, then mirror into it.
    for (const auto& [source, destination] :
         {std::pair{src, slashes}, std::pair{src, components}, std::pair{slashes, dst}, std::pair{components, dst}}) {
        stats = RunStats();
        rig.log.Clear();
        const auto start = std::chrono::steady_clock::now();
        YMakeDirectory(rig.ctx, destination);
        DoDirectory(rig.ctx, source, destination, "", task, stats);
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Tens of milliseconds here; the quadratic forms took tens of seconds. The margin is for
        // sanitizer builds on a busy machine.
        EXPECT_LT(seconds, 5.0) << source.size() << " -> " << destination.size();
        EXPECT_EQ(stats.errors, 1) << Dump(rig.log).substr(0, 2000);
        EXPECT_EQ(stats.newFiles + stats.deleted, 0);
        const auto red = rig.log.Texts(LogColour::Red);
        ASSERT_EQ(red.size(), 1u);
        // Any number of "/" is the root, which holds every source.
        EXPECT_TRUE(red[0].find("(" + tooLong + ")") != std::string::npos ||
                    red[0].find("with error " + std::to_string(tooLongCode) + ": " + tooLong) != std::string::npos ||
                    red[0].find("contains the source") != std::string::npos)
            << red[0].substr(0, 100);
    }
    EXPECT_EQ(ListDirectory(tmp.Path()), (std::vector<std::string>{"dst", "src"})) << "no debris of the long paths";
    EXPECT_EQ(ListDirectory(dst).size(), 0u);
}
