// Copying one file: lock check, announcement, labels, percentage, fake-it, the read-only retry,
// failures, and pause and stop from another thread during a large copy.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/copy.h"
#include "sync/do_directory.h"

namespace {

// Waits up to 10 s for done(); false on time-out.
template <class F>
bool WaitFor(F done) {
    for (int i = 0; i < 1000; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>((i * 31) ^ (i >> 11));
    }
    return s;
}

} // namespace

TEST(YCopyFile, NewFileAnnouncesLabelsAndClearsThem) {
    TempDir tmp;
    EngineRig rig;
    WriteFileBytes(tmp / "report.doc", std::string(12 * 1024, 'r'));
    ASSERT_TRUE(
        YCopyFile(rig.ctx, tmp / "report.doc", tmp / "copy.doc", true, false, CLargeNumber(12u * 1024u), false));
    EXPECT_EQ(ReadFileBytes(tmp / "copy.doc"), std::string(12 * 1024, 'r'));
    EXPECT_EQ(rig.log.Lines().size(), 1u);
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + (tmp / "report.doc")));
    EXPECT_EQ(rig.window.CurrentFileTexts(), (std::vector<std::string>{"report.doc (12 KiB)", ""}));
    EXPECT_EQ(rig.window.PercentTexts(), (std::vector<std::string>{"100%", ""}));
    EXPECT_EQ(rig.window.FileProgress(), (std::vector<int>{100, 0}));
    EXPECT_EQ(rig.ctx.activity.load(), Working);
    EXPECT_EQ(rig.ctx.lastPercent.load(), 100);
}

TEST(YCopyFile, UpdateNamesTheDestinationAndEmptyFilesShowNoPercent) {
    TempDir tmp;
    EngineRig rig;
    WriteFileBytes(tmp / "empty", "");
    WriteFileBytes(tmp / "dest", "old");
    ASSERT_TRUE(YCopyFile(rig.ctx, tmp / "empty", tmp / "dest", false, false, CLargeNumber(0u), false));
    EXPECT_EQ(ReadFileBytes(tmp / "dest"), "");
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Updating file " + (tmp / "dest")));
    EXPECT_EQ(rig.window.CurrentFileTexts().front(), "empty (0 B)");
    EXPECT_EQ(rig.window.PercentTexts(), std::vector<std::string>{""});
}

TEST(YCopyFile, FakeItAnnouncesAndWritesNothing) {
    TempDir tmp;
    EngineRig rig;
    WriteFileBytes(tmp / "src", "x");
    EXPECT_TRUE(YCopyFile(rig.ctx, tmp / "src", tmp / "dst", true, false, CLargeNumber(1u), true));
    EXPECT_FALSE(FileExists(tmp / "dst"));
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + (tmp / "src")));
    EXPECT_EQ(rig.window.CurrentFileTexts(), std::vector<std::string>{"src (1 B)"});
    EXPECT_EQ(rig.ctx.activity.load(), Copying) << "left as announced";
    EXPECT_EQ(rig.fs.MutatingCalls(), 0);
}

TEST(YCopyFile, LockCheck) {
    TempDir tmp;
    EngineRig rig;
    WriteFileBytes(tmp / "src", "x");
    int holder = ::open((tmp / "src").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    EXPECT_FALSE(YCopyFile(rig.ctx, tmp / "src", tmp / "dst", true, true, CLargeNumber(1u), false));
    EXPECT_EQ(rig.log.Texts(LogColour::Red), std::vector<std::string>{"Not copying locked file " + (tmp / "src")});
    EXPECT_FALSE(FileExists(tmp / "dst"));
    // Without the switch an open file is copied.
    EXPECT_TRUE(YCopyFile(rig.ctx, tmp / "src", tmp / "dst", true, false, CLargeNumber(1u), false));
    ::close(holder);

    rig.log.Clear();
    rig.fs.FailNth(FsCall::CheckLocked, 1, EIO);
    EXPECT_FALSE(YCopyFile(rig.ctx, tmp / "src", tmp / "dst2", true, true, CLargeNumber(1u), false));
    EXPECT_EQ(rig.log.Texts(LogColour::Red), std::vector<std::string>{"Failed to check lock on file " + (tmp / "src")});
    EXPECT_TRUE(YCopyFile(rig.ctx, tmp / "src", tmp / "dst2", true, true, CLargeNumber(1u), false));
    EXPECT_EQ(ReadFileBytes(tmp / "dst2"), "x");
}

#ifndef _WIN32
TEST(YCopyFile, WithTheLockCheckASourceThatCannotBeOpenedIsNotCopiedAsLocked) {
    TempDir tmp;
    ASSERT_EQ(::chmod(tmp.Path().c_str(), 0755), 0);
    WriteFileBytes(tmp / "secret", "s");
    ASSERT_EQ(::chmod((tmp / "secret").c_str(), 0), 0);
    MakeDirectories(tmp / "dst");
    ChownTree(tmp / "dst");
    const std::string out = RunAsNobody([&] {
        EngineRig rig;
        bool copied = YCopyFile(rig.ctx, tmp / "secret", tmp / "dst/secret", true, true, CLargeNumber(1u), false);
        return std::string(copied ? "copied\n" : "refused\n") + Dump(rig.log);
    });
    EXPECT_EQ(out, "refused\nRed: Not copying locked file " + (tmp / "secret") + "\n");
    EXPECT_FALSE(FileExists(tmp / "dst/secret"));
}
#endif

TEST(YCopyFile, AccessDeniedIsRetriedOnceAfterClearingAttributes) {
    TempDir tmp;
    EngineRig rig;
    WriteFileBytes(tmp / "src", "new");
    WriteFileBytes(tmp / "dst", "old");
    rig.fs.FailNth(FsCall::CopyFileContent, 1, EACCES);
    EXPECT_TRUE(YCopyFile(rig.ctx, tmp / "src", tmp / "dst", false, false, CLargeNumber(3u), false));
    EXPECT_EQ(rig.fs.Calls(FsCall::SetNormalAttributes), 1);
    EXPECT_EQ(ReadFileBytes(tmp / "dst"), "new");
    EXPECT_TRUE(rig.log.Texts(LogColour::Red).empty());

    rig.fs.FailPath(FsCall::CopyFileContent, tmp / "src", EACCES);
    EXPECT_FALSE(YCopyFile(rig.ctx, tmp / "src", tmp / "dst", false, false, CLargeNumber(3u), false));
    EXPECT_EQ(rig.fs.Calls(FsCall::CopyFileContent), 4) << "one retry each time, not more";
    EXPECT_EQ(rig.log.Texts(LogColour::Red), std::vector<std::string>{"Failed to copy file " + (tmp / "src") + " to " +
                                                                      (tmp / "dst") + FailureTail(EACCES)});
}

TEST(YCopyFile, AFailureHalfWayLeavesTheOldDestination) {
    TempDir tmp;
    EngineRig rig;
    WriteFileBytes(tmp / "src", Pattern(3 << 20));
    WriteFileBytes(tmp / "dst", "old");
    rig.fs.FailNth(FsCall::CopyMidway, 1, EIO);
    EXPECT_FALSE(YCopyFile(rig.ctx, tmp / "src", tmp / "dst", false, false, CLargeNumber(3u << 20), false));
    EXPECT_EQ(ReadFileBytes(tmp / "dst"), "old");
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
    EXPECT_EQ(rig.log.Texts(LogColour::Red).size(), 1u);
    EXPECT_EQ(rig.window.CurrentFileTexts().back(), "");
    EXPECT_EQ(rig.window.FileProgress().back(), 0);
}

TEST(CopyProgress, ShowsWholePercentagesOnlyWhenTheyChange) {
    EngineRig rig;
    CopyProgress(rig.ctx, 0, 0);
    CopyProgress(rig.ctx, 1000, 5);
    CopyProgress(rig.ctx, 1000, 70);
    CopyProgress(rig.ctx, 1000, 79);
    CopyProgress(rig.ctx, 1000, 1000);
    CopyProgress(rig.ctx, 1000, 1500); // a source that grew
    EXPECT_EQ(rig.window.PercentTexts(), (std::vector<std::string>{"07%", "100%"}));
    EXPECT_EQ(rig.window.FileProgress(), (std::vector<int>{7, 100}));
    // 64-bit arithmetic: no overflow for large files.
    CopyProgress(rig.ctx, 50'000'000'000ull, 25'000'000'000ull);
    EXPECT_EQ(rig.window.PercentTexts().back(), "50%");
}

TEST(YCopyFile, PauseHoldsTheCopyAndResumeFinishesIt) {
    TempDir tmp;
    EngineRig rig;
    const std::string content = Pattern(48 << 20);
    WriteFileBytes(tmp / "big", content);
    rig.ctx.paused = true;
    bool result = false;
    std::thread worker([&] {
        result =
            YCopyFile(rig.ctx, tmp / "big", tmp / "copy", true, false, CLargeNumber::FromUint64(content.size()), false);
    });
    ASSERT_TRUE(WaitFor([&] { return rig.ctx.lastPercent.load() > 0; }));
    const int held = rig.ctx.lastPercent.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(rig.ctx.lastPercent.load(), held) << "no progress while paused";
    EXPECT_EQ(rig.ctx.activity.load(), Copying);
    EXPECT_FALSE(FileExists(tmp / "copy"));
    rig.ctx.paused = false;
    worker.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(ReadFileBytes(tmp / "copy"), content);
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
}

TEST(YCopyFile, StopDuringAPausedCopyIsASilentSuccessThatKeepsTheOldFile) {
    TempDir tmp;
    EngineRig rig;
    const std::string content = Pattern(48 << 20);
    WriteFileBytes(tmp / "big", content);
    WriteFileBytes(tmp / "copy", "previous version");
    rig.ctx.paused = true;
    bool result = false;
    std::thread worker([&] {
        result = YCopyFile(rig.ctx, tmp / "big", tmp / "copy", false, false, CLargeNumber::FromUint64(content.size()),
                           false);
    });
    ASSERT_TRUE(WaitFor([&] { return rig.ctx.lastPercent.load() > 0; }));
    auto stopAt = std::chrono::steady_clock::now();
    rig.ctx.RequestStop();
    worker.join();
    auto took = std::chrono::steady_clock::now() - stopAt;
    EXPECT_LT(took, std::chrono::milliseconds(1000)) << "the paused copy wakes and sees the flag";
    EXPECT_TRUE(result);
    EXPECT_TRUE(rig.log.Texts(LogColour::Red).empty());
    EXPECT_EQ(ReadFileBytes(tmp / "copy"), "previous version");
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
    EXPECT_EQ(rig.window.CurrentFileTexts().back(), "");
    EXPECT_EQ(rig.window.PercentTexts().back(), "");
    EXPECT_EQ(rig.window.FileProgress().back(), 0);
    EXPECT_EQ(rig.ctx.activity.load(), Working);
}

namespace {

// Appends to the source after the first chunk of each of its first `times` copies, as a program
// still writing it would.
struct WriterDuringCopy : FakeFileSystem {
    int times = 0;
    int copies = 0;
    CopyResult CopyOpenFileAt(const FileHandle& source, const DirectoryHandle& toDir, const std::string& toName,
                              const CopyProgressFn& progress, const std::atomic<int>* cancel) override {
        const std::string from = PathOf(source);
        bool meddle = copies++ < times;
        CopyProgressFn wrapped = [&](std::uint64_t total, std::uint64_t transferred) {
            if (meddle) {
                meddle = false;
                int fd = ::open(from.c_str(), O_WRONLY | O_APPEND);
                (void)!::write(fd, "more", 4);
                ::close(fd);
            }
            if (progress) {
                progress(total, transferred);
            }
        };
        return FakeFileSystem::CopyOpenFileAt(source, toDir, toName, wrapped, cancel);
    }
};

} // namespace

TEST(YCopyFile, ASourceChangedDuringTheCopyIsCopiedOnceMore) {
    TempDir tmp;
    EngineRig rig;
    WriterDuringCopy writer;
    writer.times = 1;
    rig.ctx.fs = &writer;
    const std::string content = Pattern(3 << 20);
    WriteFileBytes(tmp / "src", content);
    WriteFileBytes(tmp / "dst", "old");
    EXPECT_TRUE(YCopyFile(rig.ctx, tmp / "src", tmp / "dst", false, false, CLargeNumber(3u << 20), false));
    EXPECT_EQ(writer.copies, 2);
    EXPECT_EQ(ReadFileBytes(tmp / "dst"), content + "more") << "the second copy, whole";
    EXPECT_TRUE(rig.log.Texts(LogColour::Red).empty());
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
}

TEST(YCopyFile, ASourceThatKeepsChangingKeepsTheOldDestination) {
    TempDir tmp;
    EngineRig rig;
    WriterDuringCopy writer;
    writer.times = 2;
    rig.ctx.fs = &writer;
    MakeDirectories(tmp / "s");
    WriteFileBytes(tmp / "s/f", Pattern(3 << 20));
    MakeDirectories(tmp / "d");
    WriteFileBytes(tmp / "d/f", "old");
    Task task;
    RunStats stats;
    DoDirectory(rig.ctx, tmp / "s", tmp / "d", "", task, stats);
    EXPECT_EQ(writer.copies, 2);
    EXPECT_EQ(ReadFileBytes(tmp / "d/f"), "old");
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
    EXPECT_EQ(stats.errors, 1);
    EXPECT_EQ(stats.changed, 0);
    EXPECT_EQ(rig.log.Texts(LogColour::Red),
              (std::vector<std::string>{"File changed while being copied: " + (tmp / "s/f")}));

    // Once the writer is done, the next run copies it.
    stats = RunStats();
    DoDirectory(rig.ctx, tmp / "s", tmp / "d", "", task, stats);
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(ReadFileBytes(tmp / "d/f"), ReadFileBytes(tmp / "s/f"));
}
