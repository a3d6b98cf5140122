// Mirroring on real trees: every phase, log line, colour and counter of a directory, safe mode,
// fake-it, renames on a case change, letter-case variants, links, stop and recursion.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"
#include "sync/exclusions.h"

namespace {

class DoDirectoryTest : public MirrorTest {};

// The system's text for the code an injected POSIX errno becomes, and the "error <code>: <text>"
// the engine writes with it.
std::string SystemText(int posixError) {
    return ErrorText(static_cast<std::uint32_t>(FakeFileSystem::SystemCode(posixError)));
}
std::string SystemError(int posixError) {
    return "error " + std::to_string(FakeFileSystem::SystemCode(posixError)) + ": " + SystemText(posixError);
}

} // namespace

TEST(SameFile, SizeTimeToleranceOneHourAndNames) {
    FileEntry d;
    FileEntry s;
    d.name = "Report.doc";
    s.name = "report.DOC";
    d.size = s.size = 10;
    d.modified = 1000;
    s.modified = 1004;
    EXPECT_TRUE(SameFile(d, s, false, false, kCoarseTimes));
    s.modified = 1005;
    EXPECT_FALSE(SameFile(d, s, false, false, kCoarseTimes));
    s.modified = 996;
    EXPECT_TRUE(SameFile(d, s, false, false, kCoarseTimes));
    s.modified = 1000 + 3600;
    EXPECT_FALSE(SameFile(d, s, false, false, kCoarseTimes));
    EXPECT_TRUE(SameFile(d, s, false, true, kCoarseTimes));
    s.modified = 1000 - 3600;
    EXPECT_TRUE(SameFile(d, s, false, true, kCoarseTimes));
    s.modified = 1000 + 3601;
    EXPECT_FALSE(SameFile(d, s, false, true, kCoarseTimes));
    s.modified = 1000 + 3599;
    EXPECT_FALSE(SameFile(d, s, false, true, kCoarseTimes));
    // onlyIfNewer: a newer destination is the same; names are not compared.
    s.modified = 990;
    s.name = "other";
    EXPECT_TRUE(SameFile(d, s, true, false, kCoarseTimes));
    s.modified = 1010;
    EXPECT_FALSE(SameFile(d, s, true, false, kCoarseTimes));
    s.modified = 1000;
    EXPECT_FALSE(SameFile(d, s, false, false, kCoarseTimes)) << "different names";
    s.size = 11;
    s.modified = 990;
    EXPECT_FALSE(SameFile(d, s, true, false, kCoarseTimes)) << "a size change is copied even onto a newer file";
}

TEST_F(DoDirectoryTest, FirstMirrorCopiesEverythingAndCountsIt) {
    Put(src + "/a.txt", "aaaa");
    Put(src + "/b.txt", "bb");
    MakeDirectories(src + "/sub/deeper");
    Put(src + "/sub/c.txt", "c");
    Put(src + "/sub/deeper/d.txt", "dddddd");
    Run();
    EXPECT_EQ(stats.newFiles, 4) << Dump(rig.log);
    EXPECT_EQ(stats.bytesNew.ToString(), "13");
    EXPECT_EQ(stats.sourceCount, 4);
    EXPECT_EQ(stats.sourceSize.ToString(), "13");
    EXPECT_EQ(stats.errors, 0);
    EXPECT_EQ(ReadFileBytes(dst + "/sub/deeper/d.txt"), "dddddd");
    EXPECT_EQ(ModifiedOf(dst + "/a.txt"), 1600000000);
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Created directory " + dst));
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Created directory " + NativePath(dst + "/sub/deeper")));
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + NativePath(src + "/sub/c.txt")));
    EXPECT_TRUE(rig.log.Texts(LogColour::Red).empty()) << Dump(rig.log);
    EXPECT_EQ(rig.window.LastStats().newFiles, 4);
    EXPECT_GE(rig.window.ProgressStates(), 4 + 3) << "after each copy and at the end of each directory";

    // The second run finds everything the same and logs nothing.
    rig.log.Clear();
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.same, 4);
    EXPECT_EQ(stats.newFiles + stats.changed + stats.deleted + stats.errors, 0);
    EXPECT_EQ(stats.sourceCount, 4);
    EXPECT_TRUE(rig.log.Lines().empty()) << Dump(rig.log);
}

// Sizes past 32 bits travel through the listings, the comparison, the counters and the
// progress text unchanged. Sparse files: nothing of their size is written.
#ifndef _WIN32
TEST_F(DoDirectoryTest, SizesBeyondFourGigabytesAreComparedAndCountedExactly) {
    const std::uint64_t big = 4294967297; // 2^32 + 1: a 32-bit size would read 1
    auto sparse = [](const std::string& path, std::uint64_t size) {
        MakeDirectories(path.substr(0, path.rfind('/')));
        WriteFileBytes(path, "");
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
        SetModified(path, 1600000000);
    };
    sparse(src + "/same.img", big);
    sparse(dst + "/same.img", big);
    sparse(src + "/grown.img", big);
    sparse(dst + "/grown.img", 1); // equal to the source's size cut to 32 bits
    sparse(src + "/new.img", big);
    task.fakeIt = true; // the copies are only reported, not made
    Run();
    EXPECT_EQ(stats.same, 1) << Dump(rig.log);
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(stats.bytesChanged.ToString(), "4294967297");
    EXPECT_EQ(stats.bytesNew.ToString(), "4294967297");
    EXPECT_EQ(stats.sourceCount, 3);
    EXPECT_EQ(stats.sourceSize.ToString(), "12884901891");
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Updating file " + NativePath(dst + "/grown.img"))) << Dump(rig.log);
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + NativePath(src + "/new.img"))) << Dump(rig.log);
    std::vector<std::string> shown;
    for (const std::string& text : rig.window.CurrentFileTexts()) {
        if (!text.empty()) {
            shown.push_back(text);
        }
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"grown.img (4.0 GiB)", "new.img (4.0 GiB)"}));
    EXPECT_EQ(rig.window.LastStats().sourceSize.ToString(), "12884901891");
}
#endif

TEST_F(DoDirectoryTest, ChangedDeletedAndSameFiles) {
    MakeDirectories(dst + "/gone/inner");
    Put(src + "/same", "same");
    Put(dst + "/same", "same");
    Put(src + "/changed", "new content");
    Put(dst + "/changed", "old");
    Put(src + "/touched", "abc", 1600000100);
    Put(dst + "/touched", "abc", 1600000000);
    Put(dst + "/extra.tmp", "x");
    Put(dst + "/gone/inner/f1", "1");
    Put(dst + "/gone/f2", "2");
    task.exclusions = "*.tmp"; // exclusions protect nothing in the destination
    Run();
    EXPECT_EQ(stats.same, 1) << Dump(rig.log);
    EXPECT_EQ(stats.changed, 2);
    EXPECT_EQ(stats.bytesChanged.ToString(), "14");
    EXPECT_EQ(stats.deleted, 3) << "one file and the two inside the removed directory";
    EXPECT_EQ(stats.newFiles, 0);
    EXPECT_EQ(stats.sourceCount, 3);
    EXPECT_EQ(stats.sourceSize.ToString(), "18");
    EXPECT_EQ(ReadFileBytes(dst + "/changed"), "new content");
    EXPECT_FALSE(FileExists(dst + "/extra.tmp"));
    EXPECT_FALSE(FileExists(dst + "/gone"));
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Deleted extra.tmp"));
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Deleting directory " + NativePath(dst + "/gone")));
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Updating file " + NativePath(dst + "/changed")));
    // Deletions come before copies.
    auto lines = rig.log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().second, "Deleted extra.tmp");
}

TEST_F(DoDirectoryTest, SafeModeKeepsAndCountsDestinationExtras) {
    MakeDirectories(dst + "/olddir");
    Put(dst + "/old1", "1");
    Put(dst + "/old2", "2");
    Put(dst + "/olddir/x", "x");
    task.safeMode = true;
    Run();
    EXPECT_EQ(stats.saved, 2);
    EXPECT_EQ(stats.deleted, 0);
    EXPECT_EQ(stats.sourceCount, 0) << "an empty source adds nothing";
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Not deleting " + NativePath(dst + "/old1") + " (safe mode)"));
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Not deleting DIR " + NativePath(dst + "/olddir") + " (safe mode)"));
    EXPECT_TRUE(FileExists(dst + "/olddir/x"));
}

TEST_F(DoDirectoryTest, ExcludedDirectoriesExactlyAndByPrefix) {
    MakeDirectories(src + "/cache");
    MakeDirectories(src + "/2012-old");
    Put(src + "/cache/c", "c");
    Put(src + "/2012-old/o", "o");
    MakeDirectories(dst + "/cache");
    Put(dst + "/cache/stale", "s");
    MakeDirectories(dst + "/2012-old");
    Put(dst + "/2012-old/kept", "k");
    task.exclusions = "\\cache;" + NativePath(src + "/2012*");

    task.safeMode = true;
    Run();
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Not deleting " + NativePath(dst + "/cache") + " (safe mode)"))
        << Dump(rig.log);
    EXPECT_TRUE(FileExists(dst + "/cache/stale"));
    EXPECT_EQ(stats.saved, 0) << "no counter for a kept excluded directory";

    task.safeMode = false;
    rig.log.Clear();
    stats = RunStats();
    Run();
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Deleting directory " + NativePath(dst + "/cache"))) << Dump(rig.log);
    EXPECT_FALSE(FileExists(dst + "/cache"));
    EXPECT_EQ(stats.deleted, 1);
    // The prefix-excluded directory is left exactly as it was; only -logexclusions mentions it.
    EXPECT_TRUE(FileExists(dst + "/2012-old/kept"));
    EXPECT_FALSE(FileExists(dst + "/2012-old/o"));
    for (const auto& [colour, text] : rig.log.Lines()) {
        EXPECT_TRUE(text.find("2012") == std::string::npos || colour == LogColour::Teal) << text;
    }
}

TEST_F(DoDirectoryTest, ExcludedFilesAreTealAndSkippedButCounted) {
    Put(src + "/keep.txt", "k");
    Put(src + "/junk.tmp", "junk");
    Put(src + "/.hidden", "h");
    MakeHidden(src + "/.hidden");
    task.exclusions = "*.tmp";
    task.excludeHidden = true;
    Run();
    EXPECT_EQ(stats.skipped, 2);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(stats.sourceCount, 3);
    EXPECT_EQ(stats.sourceSize.ToString(), "6");
    EXPECT_TRUE(rig.log.Has(LogColour::Teal, "Excluded: " + NativePath(src + "/junk.tmp")));
    EXPECT_TRUE(rig.log.Has(LogColour::Teal, "Excluded: " + NativePath(src + "/.hidden")));
    EXPECT_FALSE(FileExists(dst + "/junk.tmp"));
}

TEST_F(DoDirectoryTest, HiddenDirectoriesWithTheirSwitch) {
    MakeDirectories(src + "/.cfg");
    MakeHidden(src + "/.cfg");
    Put(src + "/.cfg/a", "a");
    MakeDirectories(dst + "/.cfg");
    Put(dst + "/.cfg/a", "a");
    task.excludeHiddenDirs = true;
    Run();
    EXPECT_FALSE(FileExists(dst + "/.cfg")) << "a filtered source directory counts as absent";
    EXPECT_EQ(stats.deleted, 1);
    task.excludeHiddenDirs = false;
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_TRUE(FileExists(dst + "/.cfg/a"));
}

TEST_F(DoDirectoryTest, EmptyPathsAreErrors) {
    Run("", dst);
    Run(src, "");
    EXPECT_EQ(stats.errors, 2);
    EXPECT_EQ(rig.log.Texts(LogColour::Red),
              (std::vector<std::string>{"Source path is empty, exiting", "Destination path is empty, exiting"}));
}

TEST_F(DoDirectoryTest, TrailingSeparatorsAreDropped) {
    Put(src + "/a", "a");
    Run(src + kPathSeparator, dst + kPathSeparator);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + NativePath(src + "/a"))) << Dump(rig.log);
}

TEST_F(DoDirectoryTest, DestinationThatCannotBeCreated) {
    Put(src + "/a", "a");
    Put(tmp / "blocker", "file");
    Run(src, tmp / "blocker/dst");
    EXPECT_EQ(stats.errors, 1);
#ifdef _WIN32
    const std::string fileInTheWay = ErrorText(3); // ERROR_PATH_NOT_FOUND: no path leads through a file
#else
    const std::string fileInTheWay = ErrorText(ENOTDIR);
#endif
    EXPECT_EQ(rig.log.Texts(LogColour::Red), std::vector<std::string>{"Unable to create \"" + (tmp / "blocker/dst") +
                                                                      "\" - aborting (" + fileInTheWay + ")"});
    // A file at the destination's own name is no directory either.
    rig.log.Clear();
    Run(src, tmp / "blocker");
    EXPECT_EQ(stats.errors, 2);
    EXPECT_EQ(rig.log.Texts(LogColour::Red),
              std::vector<std::string>{
                  "Unable to create \"" + (tmp / "blocker") + "\" - aborting (" +
                  ErrorText(static_cast<std::uint32_t>(SystemCodeOfKind(ErrorKind::NotADirectory))) + ")"});
    EXPECT_EQ(ReadFileBytes(tmp / "blocker"), "file");
}

TEST_F(DoDirectoryTest, ListingFailuresOfBothSides) {
    Put(src + "/a", "a");
    MakeDirectories(dst);
    rig.fs.FailPath(FsCall::OpenDirectory, dst, EACCES);
    Run();
    EXPECT_EQ(rig.log.Texts(LogColour::Red), std::vector<std::string>{"Error reading destination directory \"" + dst +
                                                                      "\" (" + SystemText(EACCES) + ")"});
    EXPECT_EQ(stats.errors, 1);

    rig.fs.Reset();
    rig.log.Clear();
    rig.fs.FailPath(FsCall::OpenDirectory, dst, FakeFileSystem::kThrow);
    Run();
    EXPECT_EQ(rig.log.Texts(LogColour::Red), std::vector<std::string>{"Error opening destination: '" + dst + "'"});

    rig.fs.Reset();
    rig.log.Clear();
    rig.fs.FailPath(FsCall::OpenDirectory, src, EACCES);
    Run();
    EXPECT_EQ(rig.log.Texts(LogColour::Red),
              std::vector<std::string>{"Can't open source directory " + src + " with " + SystemError(EACCES) + "\n"});

    rig.fs.Reset();
    rig.log.Clear();
    rig.fs.FailPath(FsCall::OpenDirectory, src, FakeFileSystem::kThrow);
    Run();
    ASSERT_EQ(rig.log.Texts(LogColour::Red).size(), 1u);
    EXPECT_EQ(rig.log.Texts(LogColour::Red)[0].rfind("Error reading source directory: \"" + src + "\" (", 0), 0u);
    EXPECT_EQ(stats.errors, 4);
    EXPECT_EQ(stats.newFiles, 0);

    // A destination listing that breaks off is a counted failure, and the work goes on.
    rig.fs.Reset();
    rig.log.Clear();
    rig.fs.FailPath(FsCall::ReadDirectory, dst, EIO);
    Run();
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Error getting destination file list: " + SystemText(EIO)));
    EXPECT_EQ(stats.errors, 5);
    EXPECT_EQ(stats.newFiles, 1);
}

TEST_F(DoDirectoryTest, UnreadableStatusIsReportedAndTheFileCopiedAgain) {
    Put(src + "/a", "aaa");
    Put(dst + "/a", "aaa");
    rig.fs.FailPath(FsCall::Status, dst + "/a", EIO);
    Run();
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Unable to stat " + NativePath(dst + "/a"))) << Dump(rig.log);
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(stats.errors, 0) << "not counted";

    rig.fs.Reset();
    rig.log.Clear();
    stats = RunStats();
    rig.fs.FailPath(FsCall::Status, src + "/a", EIO);
    Run();
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Unable to stat " + NativePath(src + "/a"))) << Dump(rig.log);
    EXPECT_EQ(stats.sourceCount, 1);
    EXPECT_EQ(stats.sourceSize.ToString(), "0");
}

TEST_F(DoDirectoryTest, FailedDeletionsAndCopiesAreCountedAndTheLoopGoesOn) {
    Put(src + "/new1", "n");
    Put(src + "/new2", "n");
    Put(src + "/upd", "new");
    Put(dst + "/upd", "old!");
    Put(dst + "/stuck", "s");
    Put(dst + "/loose", "l");
    rig.fs.FailPath(FsCall::RemoveFile, dst + "/stuck", EBUSY);
    rig.fs.FailPath(FsCall::CopyFileContent, src + "/new1", ENOSPC);
    rig.fs.FailPath(FsCall::CopyFileContent, src + "/upd", EIO);
    Run();
    EXPECT_EQ(stats.errors, 3) << Dump(rig.log);
    EXPECT_EQ(stats.deleted, 1);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(stats.changed, 0);
    EXPECT_EQ(stats.sourceCount, 3);
    // One line per failed deletion and copy, the one that says why.
    EXPECT_EQ(rig.log.CountStartingWith("Failed to delete file " + NativePath(dst + "/stuck") + " with error "), 1)
        << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith("Failed to delete "), 1) << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith("Failed to copy "), 2) << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith("Failed to update "), 0) << Dump(rig.log);
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Failed to copy file " + NativePath(src + "/upd") + " to " +
                                                NativePath(dst + "/upd") + " with " + SystemError(EIO) + "\n"));
    EXPECT_TRUE(rig.log.Has(LogColour::Red, "Failed to copy file " + NativePath(src + "/new1") + " to " +
                                                NativePath(dst + "/new1") + " with " + SystemError(ENOSPC) + "\n"));
    EXPECT_EQ(ReadFileBytes(dst + "/upd"), "old!");
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
}

TEST_F(DoDirectoryTest, FakeItChangesNothingButCountsAsDone) {
    Put(src + "/a", "aa");
    MakeDirectories(src + "/sub");
    Put(src + "/sub/b", "b");
    Run();
    ASSERT_TRUE(FileExists(dst + "/a"));
    Put(src + "/a", "changed", 1700000000);
    Put(dst + "/extra", "x");
    const std::string before = TreeSnapshot(dst);
    task.fakeIt = true;
    stats = RunStats();
    rig.log.Clear();
    Run(src, dst);
    Run(src, tmp / "missing");
    EXPECT_EQ(TreeSnapshot(dst), before);
    EXPECT_FALSE(FileExists(tmp / "missing"));
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(stats.deleted, 1);
    EXPECT_EQ(stats.newFiles, 2) << "every file of the missing destination is new";
    EXPECT_EQ(stats.same, 1);
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Deleted extra"));
    EXPECT_EQ(rig.log.CountStartingWith("Created directory"), 0);
}

TEST_F(DoDirectoryTest, CaseOnlyRenameAndCaseInsensitiveDirectories) {
    Put(src + "/Report.DOC", "r");
    MakeDirectories(src + "/Photos");
    Put(src + "/Photos/p", "p");
    Put(dst + "/report.doc", "r");
    MakeDirectories(dst + "/photos");
    Put(dst + "/photos/p", "p");
    Run();
    EXPECT_EQ(stats.same, 2) << Dump(rig.log);
    // Listed, as a file system that ignores case finds either form by name.
    EXPECT_EQ(ListDirectory(dst), (std::vector<std::string>{"photos", "report.doc"})) << "no rename without the switch";
    EXPECT_TRUE(rig.log.Lines().empty()) << Dump(rig.log);

    task.rename = true;
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.same, 2);
    EXPECT_TRUE(IsDirectoryPath(dst + "/photos")) << "directory names never change";
    EXPECT_TRUE(rig.log.Lines().empty()) << Dump(rig.log);
    if (!SystemRenamesCase()) { // Wine: such a rename reports success and keeps the old name
        GTEST_SKIP() << "this system keeps the old name through a rename that changes only letter case";
    }
    EXPECT_EQ(ListDirectory(dst), (std::vector<std::string>{"Report.DOC", "photos"}));
}

TEST_F(DoDirectoryTest, CaseVariantsOnACaseSensitiveFileSystem) {
    if (IgnoresCase(tmp.Path())) {
        GTEST_SKIP() << "this file system cannot hold names differing only in letter case side by side";
    }
    Put(src + "/Note", "new text");
    Put(dst + "/note", "old");
    Put(dst + "/NOTE", "other variant");
    Put(dst + "/Other", "o");
    Run();
    // The first variant in listing order is updated in place; the other one is an extra.
    EXPECT_EQ(stats.changed, 1) << Dump(rig.log);
    EXPECT_EQ(stats.deleted, 2);
    EXPECT_EQ(ListDirectory(dst).size(), 1u);
    EXPECT_EQ(ReadFileBytes(dst + "/" + ListDirectory(dst)[0]), "new text");

    // An exact name wins over an earlier variant.
    Put(src + "/x", "1");
    Put(src + "/X", "22");
    Put(dst + "/X", "22", 1600000000);
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.same, 2) << "Note and X" << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(ReadFileBytes(dst + "/x"), "1");
    EXPECT_EQ(ReadFileBytes(dst + "/X"), "22");
}

TEST_F(DoDirectoryTest, AFileAndADirectoryDifferingInCaseEachKeepTheirExactName) {
    if (IgnoresCase(tmp.Path())) {
        GTEST_SKIP() << "this file system cannot hold names differing only in letter case side by side";
    }
    for (const std::string& path :
         {src + "/FOO/in", src + "/Foo", dst + "/Foo/in", src + "/BAR", src + "/Bar/in", dst + "/Bar"}) {
        Put(path);
    }
    Run();
    EXPECT_EQ(TreeSnapshot(dst), TreeSnapshot(src)) << Dump(rig.log);
}

TEST_F(DoDirectoryTest, StopSkipsTheRestAndEntersNoSubdirectory) {
    Put(src + "/a", "a");
    Put(src + "/b", "b");
    MakeDirectories(src + "/sub");
    Put(src + "/sub/c", "c");
    rig.ctx.stopRequested = 1;
    rig.ctx.logExclusions = true;
    Run();
    EXPECT_EQ(stats.skipped, 0) << "a stop before entry does nothing";
    EXPECT_FALSE(FileExists(dst));

    rig.ctx.stopRequested = 0;
    MakeDirectories(dst);
    // Stop once the first file is announced.
    struct StopOnCopy : RecordingLogSink {
        CRunContext* ctx = nullptr;
        void AddLogLine(const std::string& text, LogColour colour) override {
            RecordingLogSink::AddLogLine(text, colour);
            if (text.rfind("Adding file", 0) == 0) {
                ctx->stopRequested = 1;
            }
        }
    } stopper;
    stopper.ctx = &rig.ctx;
    rig.ctx.log = &stopper;
    int statesBefore = rig.window.ProgressStates();
    Run();
    EXPECT_EQ(stats.newFiles, 0) << "the stopped copy made nothing";
    EXPECT_EQ(stats.skipped, 1);
    EXPECT_EQ(stats.sourceCount, 1) << "only the file passed over after the stop";
    EXPECT_EQ(stopper.CountStartingWith("Excluded: "), 1);
    EXPECT_FALSE(FileExists(dst + "/sub"));
    EXPECT_EQ(rig.window.ProgressStates(), statesBefore + 2) << "after the copy and once more at the end";
}

TEST_F(DoDirectoryTest, WithoutRecursionSubdirectoriesAreNotCreated) {
    Put(src + "/a", "a");
    MakeDirectories(src + "/sub");
    Put(src + "/sub/b", "b");
    MakeDirectories(dst + "/orphan");
    task.recurse = false;
    Run();
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_FALSE(FileExists(dst + "/sub"));
    EXPECT_FALSE(FileExists(dst + "/orphan")) << "extras still go";
}

TEST_F(DoDirectoryTest, OneHourAndOnlyIfNewer) {
    Put(src + "/dst-newer", "same size", 1600000000);
    Put(dst + "/dst-newer", "same size", 1600000010);
    Put(src + "/hour", "h", 1600003600);
    Put(dst + "/hour", "h", 1600000000);
    Run();
    EXPECT_EQ(stats.changed, 2);
    Put(dst + "/dst-newer", "same size", 1600000010);
    Put(dst + "/hour", "h", 1600000000);
    task.onlyIfNewer = true;
    task.oneHour = true;
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.same, 2) << Dump(rig.log);
    EXPECT_EQ(stats.changed, 0);
}

TEST_F(DoDirectoryTest, SourceLinksAndDestinationLinks) {
    SKIP_WITHOUT_LINKS();
    MakeDirectories(tmp / "outside/inner");
    Put(tmp / "outside/file", "outside content");
    Put(tmp / "outside/inner/victim", "must survive");
    const std::string outsideBefore = TreeSnapshot(tmp / "outside");

    // Source: links to a directory and to a file are mirrored as links, never followed.
    MakeLink(tmp / "outside", src + "/dirlink");
    MakeLink(tmp / "outside/file", src + "/filelink");
    // Destination: links where the source has a directory, a file, nothing and another link.
    MakeDirectories(src + "/inner");
    Put(src + "/inner/new", "n");
    Put(src + "/victim", "mine");
    MakeDirectories(dst);
    MakeLink(tmp / "outside/inner", dst + "/inner");
    MakeLink(tmp / "outside/inner/victim", dst + "/victim");
    MakeLink(tmp / "outside", dst + "/stray");
    MakeLink(tmp / "outside", dst + "/dirlink");
    Run();
    EXPECT_EQ(TreeSnapshot(tmp / "outside"), outsideBefore) << Dump(rig.log);
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_TRUE(IsLink(dst + "/filelink"));
    EXPECT_EQ(ReadFileBytes(dst + "/filelink"), "outside content") << "through the copied link";
    EXPECT_TRUE(IsLink(dst + "/dirlink")) << "the same target: kept as it was";
    EXPECT_EQ(stats.same, 1);
    EXPECT_FALSE(IsLink(dst + "/stray"));
    EXPECT_FALSE(FileExists(dst + "/stray"));
    EXPECT_TRUE(IsDirectoryPath(dst + "/inner")) << "the link is replaced by a real directory";
    EXPECT_EQ(ReadFileBytes(dst + "/inner/new"), "n");
    EXPECT_FALSE(IsLink(dst + "/victim"));
    EXPECT_EQ(ReadFileBytes(dst + "/victim"), "mine");
}

TEST_F(DoDirectoryTest, KeptDestinationLinksAreNeverEntered) {
    SKIP_WITHOUT_LINKS();
    MakeDirectories(tmp / "outside");
    Put(tmp / "outside/victim", "must survive");
    const std::string outsideBefore = TreeSnapshot(tmp / "outside");
    MakeDirectories(src + "/inner");
    Put(src + "/inner/victim", "replacement");
    Put(src + "/inner/new", "n");
    MakeDirectories(dst);
    MakeLink(tmp / "outside", dst + "/inner");
    task.safeMode = true;
    Run();
    EXPECT_EQ(TreeSnapshot(tmp / "outside"), outsideBefore) << Dump(rig.log);
    EXPECT_TRUE(IsLink(dst + "/inner"));
    EXPECT_EQ(stats.saved, 1);
    EXPECT_EQ(stats.errors, 1);
    EXPECT_EQ(rig.log.Texts(LogColour::Red),
              std::vector<std::string>{"Unable to create \"" + NativePath(dst + "/inner") +
                                       "\" - aborting (Not a directory)"})
        << Dump(rig.log);
}

TEST_F(DoDirectoryTest, TheTasksOwnPathsMayBeLinks) {
    SKIP_WITHOUT_LINKS();
    Put(src + "/a", "a");
    MakeDirectories(tmp / "real-dst");
    MakeLink(tmp / "real-dst", tmp / "dst-link");
    MakeLink(src, tmp / "src-link");
    Run(tmp / "src-link", tmp / "dst-link");
    EXPECT_EQ(stats.newFiles, 1) << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(tmp / "real-dst/a"), "a");
}

TEST_F(DoDirectoryTest, ANoChangeRescanStatsEachEntryOnceAndListsEachDirectoryOnce) {
    for (int d = 0; d < 3; ++d) {
        for (int f = 0; f < 50; ++f) {
            Put(src + "/d" + std::to_string(d) + "/f" + std::to_string(f), "x");
        }
    }
    Put(src + "/top", "t");
    Run();
    ASSERT_EQ(stats.newFiles, 151);
    rig.fs.Reset();
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.same, 151);
    // A directory's own status is read once on each side, for its owner, bits and time.
    EXPECT_EQ(rig.fs.Calls(FsCall::Status), 2 * 151 + 2 * 4 + 1) << "one per entry on each side, one more of the top";
    EXPECT_EQ(rig.fs.Calls(FsCall::OpenDirectory), 2 * 4);
    EXPECT_EQ(rig.fs.MutatingCalls(), 0);
}

TEST_F(DoDirectoryTest, ADestinationInsideTheSourceIsNotCopiedIntoItself) {
    Put(src + "/a", "a");
    Put(src + "/sub/b", "b");
    const std::string inside = src + "/backup";
    Run(src, inside);
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 2);
    EXPECT_EQ(ReadFileBytes(inside + "/sub/b"), "b");
    EXPECT_FALSE(FileExists(inside + "/backup"));
    stats = RunStats();
    Run(src + "/", inside);
    EXPECT_EQ(stats.same, 2);
    EXPECT_EQ(stats.newFiles + stats.errors, 0) << Dump(rig.log);
}

#ifndef _WIN32
TEST_F(DoDirectoryTest, AWholeSystemSourceLeavesOutItsDestinationUnderAnySpelling) {
    // A small tree is a child's whole system, its destination bound inside /etc, then /etc inside another.
    const std::string root = tmp / "root";
    for (const char* path : {"/etc/conf", "/tmp/dst/x", "/etc/mirror/x", "/srv/old/x"}) {
        Put(root + path);
    }
    EXPECT_EXIT(
        {
            ::alarm(60); // a walk into its own destination never ends
            bool ok =
                ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                ::mount((root + "/tmp/dst").c_str(), (root + "/etc/mirror").c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                ::chroot(root.c_str()) == 0;
            Run("/", "/tmp/dst");
            ok = ok && stats.errors == 0 && FileExists("/tmp/dst/etc/conf") && ListDirectory("/tmp/dst/tmp").empty() &&
                 !FileExists("/tmp/dst/etc/mirror") && Dump(rig.log).find("//") == std::string::npos &&
                 ::mount("/etc", "/srv/old", nullptr, MS_BIND, nullptr) == 0;
            Run("/etc", "/srv");
            ::_exit(!(ok && FileExists("/etc/conf") &&
                      rig.log.Has(LogColour::Red, "Not deleting /srv/old: it is the source")));
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(DoDirectoryTest, ADestinationHoldingTheSourceIsRefusedBeforeAnythingIsDeleted) {
    SKIP_WITHOUT_LINKS();
    Put(dst + "/docs/report", "precious");
    Put(dst + "/other", "also precious");
    const std::string before = TreeSnapshot(dst);
    Run(NativePath(dst + "/docs"), dst);
    MakeLink(dst + "/docs", tmp / "same-via-link");
    Run(NativePath(dst + "/docs"), tmp / "same-via-link");
    EXPECT_EQ(TreeSnapshot(dst), before);
    EXPECT_EQ(stats.errors, 2);
    EXPECT_EQ(rig.log.Texts(LogColour::Red),
              (std::vector<std::string>{"Destination \"" + dst + "\" contains the source \"" +
                                            NativePath(dst + "/docs") + "\", exiting",
                                        "Destination \"" + (tmp / "same-via-link") + "\" contains the source \"" +
                                            NativePath(dst + "/docs") + "\", exiting"}));
}

#ifndef _WIN32
TEST_F(DoDirectoryTest, APermissionChangeAloneIsMirroredWithoutACopy) {
    Put(src + "/private", "mine", 1600000000);
    Put(dst + "/private", "MINE", 1600000000);
    ASSERT_EQ(::chmod((src + "/private").c_str(), 0600), 0);
    ASSERT_EQ(::chmod((dst + "/private").c_str(), 0644), 0);
    auto modeOf = [](const std::string& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        return st.st_mode & 07777;
    };
    task.fakeIt = true;
    Run();
    EXPECT_EQ(modeOf(dst + "/private"), 0644u) << "fake-it changes nothing";
    task.fakeIt = false;
    stats = RunStats();
    rig.fs.Reset();
    Run();
    EXPECT_EQ(modeOf(dst + "/private"), 0600u);
    EXPECT_EQ(ReadFileBytes(dst + "/private"), "MINE") << "the content is not copied";
    EXPECT_EQ(stats.same, 1);
    EXPECT_EQ(stats.changed + stats.newFiles + stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(rig.fs.Calls(FsCall::CopyFileContent), 0);
    EXPECT_EQ(rig.fs.Calls(FsCall::SetMode), 1);
    EXPECT_TRUE(rig.log.Lines().empty()) << Dump(rig.log);

    // Equal modes are left alone; a refusal is an error.
    rig.fs.Reset();
    Run();
    EXPECT_EQ(rig.fs.Calls(FsCall::SetMode), 0);
    ASSERT_EQ(::chmod((src + "/private").c_str(), 0640), 0);
    rig.fs.FailNth(FsCall::SetMode, 1, EPERM);
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.errors, 1);
    EXPECT_EQ(rig.log.Texts(LogColour::Red),
              std::vector<std::string>{"Failed to set the permissions of " + NativePath(dst + "/private") +
                                       " with error 1: Operation not permitted\n"});
}
#endif

TEST_F(DoDirectoryTest, LeftoverCopyTemporariesAreRemovedInEveryModeAndNeverCounted) {
    const std::string stale = std::string(kTemporaryCopyPrefix) + "0123456789abcdef";
    const std::string userLookalike = std::string(kTemporaryCopyPrefix) + "AbC123";
    Put(src + "/keep", "k");
    Put(src + "/sub/keep", "k");
    // A source file of a temporary's name is the user's: mirrored, never removed.
    const std::string mirrored = std::string(kTemporaryCopyPrefix) + "vvvvvvvvvvvvvvvv";
    Put(src + "/" + mirrored, "user data");
    auto build = [&] {
        Put(dst + "/keep", "k");
        Put(dst + "/" + stale, "torn");
        Put(dst + "/sub/" + stale, "torn");
        Put(dst + "/" + userLookalike, "user file");
        Put(dst + "/gone/" + stale, "torn");
        Put(dst + "/gone/user", "u");
    };
    build();
    task.fakeIt = true;
    Run();
    EXPECT_TRUE(FileExists(dst + "/" + stale)) << "fake-it changes nothing";
    EXPECT_EQ(stats.deleted, 2) << "the look-alike and gone/user, as the real run" << Dump(rig.log);
    for (const auto& [colour, line] : rig.log.Lines()) {
        EXPECT_EQ(line.find(stale), std::string::npos) << line;
    }

    task.fakeIt = false;
    task.safeMode = true;
    stats = RunStats();
    rig.log.Clear();
    Run();
    EXPECT_FALSE(FileExists(dst + "/" + stale));
    EXPECT_FALSE(FileExists(dst + "/sub/" + stale));
    EXPECT_TRUE(FileExists(dst + "/" + userLookalike));
    EXPECT_EQ(stats.saved, 1) << Dump(rig.log);
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(dst + "/" + mirrored), "user data");

    task.safeMode = false;
    build();
    stats = RunStats();
    rig.log.Clear();
    Run();
    EXPECT_FALSE(FileExists(dst + "/" + stale));
    EXPECT_FALSE(FileExists(dst + "/" + userLookalike));
    EXPECT_FALSE(FileExists(dst + "/gone"));
    EXPECT_EQ(stats.deleted, 2) << "the look-alike and gone/user" << Dump(rig.log);
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(dst + "/" + mirrored), "user data");
    for (const auto& [colour, line] : rig.log.Lines()) {
        EXPECT_TRUE(line.find(stale) == std::string::npos) << line;
    }
}

TEST_F(DoDirectoryTest, TheDestinationIsFlushedOncePerTaskThatChangedIt) {
    for (int i = 0; i < 5; ++i) {
        Put(src + "/d" + std::to_string(i) + "/f", "x");
    }
    Run();
    EXPECT_EQ(stats.newFiles, 5);
    EXPECT_EQ(rig.fs.Calls(FsCall::FlushFileSystem), 1) << "once, not per file";

    rig.fs.Reset();
    Run();
    EXPECT_EQ(rig.fs.Calls(FsCall::FlushFileSystem), 0) << "nothing changed";
    Put(src + "/new", "n");
    task.fakeIt = true;
    Run();
    EXPECT_EQ(rig.fs.Calls(FsCall::FlushFileSystem), 0) << "fake-it writes nothing";

    // A failed flush means the run cannot vouch for what it wrote.
    task.fakeIt = false;
    stats = RunStats();
    rig.log.Clear();
    rig.fs.FailNth(FsCall::FlushFileSystem, 1, EIO);
    Run();
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(stats.errors, 1);
    EXPECT_EQ(rig.log.Texts(LogColour::Red), std::vector<std::string>{"Failed to flush the destination " + dst +
                                                                      " to disk with " + SystemError(EIO) + "\n"});
}

#ifndef _WIN32
TEST_F(DoDirectoryTest, FifosSocketsAndDevicesAreLeftOutAsExclusionsNotErrors) {
    Put(src + "/plain.txt", "p");
    ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0644), 0);
    // A link to a fifo is only a link: mirrored, never opened.
    MakeLink("pipe", src + "/to-pipe");
    int special = 1;
    // Where the container allows device nodes and the path fits a socket address.
    if (::mknod((src + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        ++special;
    }
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = src + "/sock";
    if (socketPath.size() < sizeof address.sun_path) {
        socketPath.copy(address.sun_path, socketPath.size());
        ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ++special;
    }
    for (int run = 1; run <= 2; ++run) {
        rig.log.Clear();
        stats = RunStats();
        Run();
        EXPECT_EQ(stats.errors, 0) << run << Dump(rig.log);
        EXPECT_EQ(stats.skipped, special) << run;
        EXPECT_EQ(stats.newFiles + stats.same, 2) << run;
        EXPECT_EQ(stats.sourceCount, special + 2) << run;
        EXPECT_TRUE(rig.log.Has(LogColour::Teal, "Excluded: " + NativePath(src + "/pipe"))) << Dump(rig.log);
        EXPECT_FALSE(rig.log.Has(LogColour::Teal, "Excluded: " + NativePath(src + "/to-pipe")));
        EXPECT_TRUE(rig.log.Texts(LogColour::Red).empty()) << Dump(rig.log);
        EXPECT_EQ(ListDirectory(dst), (std::vector<std::string>{"plain.txt", "to-pipe"}));
        EXPECT_TRUE(IsLink(dst + "/to-pipe"));
    }
    ::close(sock);
}
#endif

TEST_F(DoDirectoryTest, ADirectoryNameItemExcludesItAtEveryDepthAndLogsIt) {
    Put(src + "/cache/a");
    Put(src + "/sub/deep/cache/b");
    Put(dst + "/cache/old");
    task.recurse = true;
    task.exclusions = "cache/";
    Run();
    EXPECT_FALSE(FileExists(dst + "/cache")) << "an excluded directory's copy goes";
    EXPECT_FALSE(FileExists(dst + "/sub/deep/cache"));
    EXPECT_TRUE(rig.log.Has(LogColour::Teal, "Excluded: " + NativePath(src + "/cache"))) << Dump(rig.log);
    EXPECT_TRUE(rig.log.Has(LogColour::Teal, "Excluded: " + NativePath(src + "/sub/deep/cache")));
}
