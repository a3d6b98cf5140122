// The walk under attack and at its limits: a destination subdirectory swapped for a link while
// runs go, trees deeper than PATH_MAX and deeper than the descriptor limit allows to hold open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/count.h"
#include "sync/do_directory.h"

namespace {

class WalkIntegrityTest : public MirrorTest {
protected:
    void Run() { DoDirectory(rig.ctx, src, dst, "", task, stats); }
};

// Toggles path between what it is and the link partner with atomic exchanges until stopped.
class Swapper {
public:
    Swapper(std::string path, std::string partner) : path_(std::move(path)), partner_(std::move(partner)) {
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, partner_.c_str(), RENAME_EXCHANGE) == 0) {
                    swaps_.fetch_add(1);
                }
                for (int i = 0; i < 20; ++i) {
                    sched_yield();
                }
            }
        });
    }
    ~Swapper() { Stop(); }
    Swapper(const Swapper&) = delete;
    Swapper& operator=(const Swapper&) = delete;
    int Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return swaps_.load();
    }

private:
    std::string path_;
    std::string partner_;
    std::atomic<bool> stop_{false};
    std::atomic<int> swaps_{0};
    std::thread thread_;
};

// Lowers the soft limit of open descriptors for its lifetime.
class ScopedDescriptorLimit {
public:
    explicit ScopedDescriptorLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        struct rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~ScopedDescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    ScopedDescriptorLimit(const ScopedDescriptorLimit&) = delete;
    ScopedDescriptorLimit& operator=(const ScopedDescriptorLimit&) = delete;

private:
    struct rlimit saved_ {};
};

} // namespace

TEST_F(WalkIntegrityTest, ASubdirectorySwappedForALinkDuringRunsNeverRedirectsAnything) {
    const std::string outside = tmp / "outside";
    const std::string swap = tmp / "swap";
    constexpr int kFiles = 40;
    MakeDirectories(src + "/sub/deeper");
    for (int i = 0; i < kFiles; ++i) {
        WriteFileBytes(src + "/sub/f" + std::to_string(i), "new content " + std::to_string(i));
        WriteFileBytes(src + "/sub/deeper/g" + std::to_string(i), "deeper " + std::to_string(i));
    }
    // Outside holds a victim under every name the run would write or delete.
    MakeDirectories(outside + "/deeper");
    MakeDirectories(outside + "/gone");
    for (int i = 0; i < kFiles; ++i) {
        WriteFileBytes(outside + "/f" + std::to_string(i), "victim");
        WriteFileBytes(outside + "/x" + std::to_string(i), "victim");
        WriteFileBytes(outside + "/deeper/g" + std::to_string(i), "victim");
    }
    WriteFileBytes(outside + "/gone/inside", "victim");
    const std::string outsideBefore = TreeSnapshot(outside);

    int swaps = 0;
    // A loaded machine swaps less often per run: it runs on until the race has been met often enough.
    for (int iteration = 0; iteration < 30 || (swaps <= 50 && iteration < 150); ++iteration) {
        RemoveTreeAt(dst);
        RemoveTreeAt(swap);
        MakeDirectories(dst + "/sub/gone");
        MakeDirectories(swap);
        MakeLink(outside, swap + "/sub");
        for (int i = 0; i < kFiles; ++i) {
            WriteFileBytes(dst + "/sub/f" + std::to_string(i), "old");
            WriteFileBytes(dst + "/sub/x" + std::to_string(i), "extra");
        }
        WriteFileBytes(dst + "/sub/gone/inside", "extra");
        stats = RunStats();
        rig.log.Clear();
        {
            Swapper swapper(dst + "/sub", swap + "/sub");
            Run();
            swaps += swapper.Stop();
        }
        const std::string where = "iteration " + std::to_string(iteration) + "\n" + Dump(rig.log);
        ASSERT_TRUE(TreeSnapshot(outside) == outsideBefore) << "outside changed in " << where;
        ASSERT_TRUE(FindTemporaries(tmp.Path()).empty()) << where;
        ASSERT_EQ(ListDirectory(tmp.Path()), (std::vector<std::string>{"dst", "outside", "src", "swap"})) << where;
    }
    EXPECT_GT(swaps, 50) << "the race was not exercised";
    RemoveTreeAt(swap);
}

TEST_F(WalkIntegrityTest, TreesDeeperThanPathMaxAreMirroredCountedAndRemovedCompletely) {
    // 10-character levels: the paths pass 4096 characters near level 370.
    const std::string level = "level-9999";
    MakeDeepTree(src, level, 420);
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(DeepTreeDepth(dst, level), 420);
    std::string leaf = "/" + level;
    for (int i = 1; i < 420; ++i) {
        leaf += "/" + level;
    }
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + src + NativePath(leaf + "/leaf.txt")))
        << "full paths in the log";
    EXPECT_EQ(CountDirectory(rig.ctx, src, "", true).ToString(), "4");

    // A second run finds the leaf the same; removing the source tree removes the whole copy.
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.same, 1);
    EXPECT_EQ(stats.errors + stats.newFiles + stats.changed, 0) << Dump(rig.log);
    RemoveTreeAt(src);
    MakeDirectories(src);
    rig.ctx.emptyGuard = false; // emptied on purpose: the guard against that is tested on its own
    stats = RunStats();
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.deleted, 1);
    EXPECT_EQ(ListDirectory(dst).size(), 0u);
}

TEST_F(WalkIntegrityTest, ATreeDeeperThanTheDescriptorLimitIsMirroredAndRemoved) {
    MakeDeepTree(src, "d", 2000);
    {
        ScopedDescriptorLimit limit(256);
        Run();
        EXPECT_EQ(CountDirectory(rig.ctx, src, "", true).ToString(), "4");
    }
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(DeepTreeDepth(dst, "d"), 2000);
    RemoveTreeAt(src + "/d");
    rig.ctx.emptyGuard = false; // emptied on purpose: the guard against that is tested on its own
    stats = RunStats();
    {
        ScopedDescriptorLimit limit(256);
        Run();
    }
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.deleted, 1);
    EXPECT_EQ(DeepTreeDepth(dst, "d"), 0);
}

TEST_F(WalkIntegrityTest, ReadingAheadOfADeepWideWalkStaysWithinTheDescriptorLimit) {
    // Every level holds the way down and a sibling, so each level still has subdirectories to
    // read ahead while the walk is below it.
    std::string level = src;
    std::string mirrored = dst;
    for (int i = 0; i < 600; ++i) {
        MakeDirectories(level + "/a");
        MakeDirectories(level + "/z");
        WriteFileBytes(level + "/z/f", "z");
        MakeDirectories(mirrored + "/a");
        MakeDirectories(mirrored + "/z");
        level += "/a";
        mirrored += "/a";
    }
    rig.ctx.threads = 4;
    {
        ScopedDescriptorLimit limit(128);
        Run();
    }
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 600);
    EXPECT_EQ(DeepTreeDepth(dst, "a"), 600);
}
