// Copies on worker threads: a run with several threads writes the same run log, summary line,
// counters, debug log and destination as a one-thread run; stop and pause reach copies under way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "run/html_log.h"
#include "run/job_runner.h"
#include "support/engine_tree.h"
#include "support/fake_file_system.h"
#include "support/recording_message_port.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"

namespace {

void PutFile(const std::string& path, const std::string& content, std::int64_t modified) {
    WriteFileBytes(path, content);
    SetModified(path, modified);
}

// A source and two destinations holding every kind of case a level can meet.
void MakeScenario(const std::string& root) {
    const std::string src = root + "/src";
    const std::string dst = root + "/dst";
    const std::string kept = root + "/kept";
    for (const std::string& d :
         {src + "/sub/deep", src + "/flat", src + "/skipdir", dst + "/sub/gone", dst + "/flat", kept + "/old"}) {
        MakeDirectories(d);
    }
    for (int i = 0; i < 5; ++i) {
        PutFile(src + "/new" + std::to_string(i) + ".txt", std::string(100 + i * 70000, 'a' + i), 1600000000 + i);
    }
    PutFile(src + "/same.txt", "same", 1600000100);
    PutFile(dst + "/same.txt", "same", 1600000100);
    PutFile(src + "/changed.txt", "new content", 1600000200);
    PutFile(dst + "/changed.txt", "old", 1500000000);
    PutFile(src + "/Case.txt", "case", 1600000300);
    PutFile(dst + "/case.txt", "CASE", 1500000000);
    PutFile(src + "/skip.tmp", "excluded", 1600000400);
    PutFile(src + "/bad.bin", std::string(5000, 'b'), 1600000500);
    PutFile(src + "/skipdir/x.txt", "x", 1600000600);
#ifndef _WIN32
    MakeLink("target-text", src + "/link");
    const struct timespec linkTimes[2] = {{1600000650, 0}, {1600000650, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (src + "/link").c_str(), linkTimes, AT_SYMLINK_NOFOLLOW), 0);
#endif
    PutFile(dst + "/extra.txt", "extra", 1500000000);
    PutFile(dst + "/sub/gone/file", "gone", 1500000000);
    PutFile(src + "/sub/a.txt", std::string(300000, 's'), 1600000700);
    PutFile(src + "/sub/deep/b.txt", "deep", 1600000800);
    PutFile(src + "/sub/deep/bad.bin", "fails too", 1600000900);
    for (int i = 0; i < 150; ++i) {
        const std::string name = "/flat/f" + std::to_string(i);
        PutFile(src + name, std::string(static_cast<std::size_t>(i * 997 % 20000), 'f'), 1600001000 + i);
        if (i % 3 == 0) {
            PutFile(dst + name, std::string(static_cast<std::size_t>(i * 997 % 20000), 'f'), 1600001000 + i);
        } else if (i % 3 == 1) {
            PutFile(dst + name, "stale", 1500000000);
        }
    }
    // Enough subdirectories for the walk to read several ahead, with failures to meet there.
    for (int d = 0; d < 12; ++d) {
        const std::string sub = "/many/d" + std::to_string(d);
        MakeDirectories(src + sub + "/inner");
        MakeDirectories(dst + sub);
        PutFile(src + sub + "/file", "d" + std::to_string(d), 1600002000 + d);
        PutFile(src + sub + "/inner/file", "inner", 1600002100 + d);
        PutFile(dst + sub + "/extra" + std::to_string(d), "extra", 1500000000);
    }
    PutFile(src + "/many/d3/unstatable", "u", 1600002200);
    PutFile(dst + "/many/d5/unstatable", "u", 1600002200);
    MakeDirectories(src + "/many/d7/unlisted");
    PutFile(src + "/many/d7/unlisted/file", "never read", 1600002300);
    // Nothing is written at this level itself, so its time is set only when it differs: made
    // apart from the run's own, it always does.
    SetModified(src + "/many", 1600002500);
    PutFile(kept + "/extra.txt", "kept", 1500000000);
    PutFile(kept + "/old/file", "kept", 1500000000);
}

// Directory times are those of the run, not of the mirror; everything else must match. Contents
// are shortened to a hash to keep a failure's message readable.
std::string Snapshot(const std::string& root) {
    static const std::regex dirTime(" mtime=-?[0-9.]+ dir");
    std::istringstream lines(std::regex_replace(TreeSnapshot(root), dirTime, " dir"));
    std::string shortened;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t content = line.find(" content=");
        if (content != std::string::npos) {
            line = line.substr(0, content) + " hash=" + std::to_string(std::hash<std::string>()(line.substr(content)));
        }
        shortened += line + "\n";
    }
    return shortened;
}

// The first line where two texts part, or empty when they are equal.
std::string FirstDifference(const std::string& a, const std::string& b) {
    std::istringstream left(a);
    std::istringstream right(b);
    std::string l;
    std::string r;
    for (int line = 1;; ++line) {
        const bool moreLeft = static_cast<bool>(std::getline(left, l));
        const bool moreRight = static_cast<bool>(std::getline(right, r));
        if (!moreLeft && !moreRight) {
            return "";
        }
        if (!moreLeft || !moreRight || l != r) {
            return "line " + std::to_string(line) + ":\n  " + (moreLeft ? l : "<end>") + "\n  " +
                   (moreRight ? r : "<end>");
        }
    }
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    return all;
}

struct RunResult {
    std::string log;
    std::string summary;
    std::vector<std::string> debugLines;
    std::string mirror;
    std::string keptMirror;
    RunStats stats;
    std::vector<std::string> listed;
};

// Builds the scenario afresh at the same paths and runs a two-task job over it with threads.
RunResult RunScenario(const std::string& root, int threads) {
    const std::string work = root + "/work";
    RemoveTreeAt(work);
    MakeScenario(work);
    const std::string logs = root + "/logs" + std::to_string(threads);
    MakeDirectories(logs);
    ScopedCurrentDirectory cwd(logs);

    FakeFileSystem fs;
    fs.FailPath(FsCall::CopyFileContent, "bad.bin", EACCES);
    fs.FailPath(FsCall::Status, "unstatable", EIO);
    fs.FailPath(FsCall::ListDirectory, "unlisted", EIO);
    // Out of descriptors for reading ahead there: the walk reads those levels itself.
    fs.FailPath(FsCall::DuplicateDirectory, "/src/many", EMFILE);
    RecordingMessagePort messages;
    CRunContext ctx;
    ctx.fs = &fs;
    ctx.messages = &messages;
    ctx.debug = true;
    ctx.threads = threads;
    CRunLog runLog{ctx};
    ctx.log = &runLog;
    CJob job{NativeFileSystem()};
    job.SetPath("parallel.job");
    TaskList& tasks = job.Tasks();
    auto mirror = std::make_unique<Task>();
    mirror->name = "Mirror";
    mirror->source = work + "/src";
    mirror->destination = work + "/dst";
    mirror->exclusions = "*.tmp;\\skipdir";
    mirror->rename = true;
    tasks.push_back(std::move(mirror));
    auto kept = std::make_unique<Task>();
    kept->name = "Kept";
    kept->source = work + "/src/sub";
    kept->destination = work + "/kept";
    kept->safeMode = true;
    tasks.push_back(std::move(kept));

    runLog.BeginRun();
    ctx.runStart = NowLocal();
    const RunOutcome outcome = RunJob(RunRequest{job, "NOW"}, RunTarget{ctx, runLog, nullptr});
    RunResult result;
    result.log = ReadFileBytes(logs + "/log.html");
    result.summary = ReadFileBytes(logs + "/summary.log");
    result.debugLines = DebugLogLines();
    result.mirror = Snapshot(work + "/dst");
    result.keptMirror = Snapshot(work + "/kept");
    result.stats = outcome.stats;
    result.listed = fs.ListedPaths();
    return result;
}

void ExpectSameStats(const RunStats& a, const RunStats& b) {
    EXPECT_EQ(a.changed, b.changed);
    EXPECT_EQ(a.same, b.same);
    EXPECT_EQ(a.deleted, b.deleted);
    EXPECT_EQ(a.skipped, b.skipped);
    EXPECT_EQ(a.newFiles, b.newFiles);
    EXPECT_EQ(a.saved, b.saved);
    EXPECT_EQ(a.errors, b.errors);
    EXPECT_EQ(a.bytesNew.ToString(), b.bytesNew.ToString());
    EXPECT_EQ(a.bytesChanged.ToString(), b.bytesChanged.ToString());
    EXPECT_EQ(a.sourceCount, b.sourceCount);
    EXPECT_EQ(a.sourceSize.ToString(), b.sourceSize.ToString());
}

// The run log without its elapsed time, the only part that may differ between two runs (every
// other time reads "NOW"). The file is UTF-16; its texts here are ASCII.
std::string LogWithoutDuration(std::string log) {
    std::erase(log, '\0');
    static const std::regex seconds("Time: [0-9]+s");
    return std::regex_replace(log, seconds, "Time: -");
}

// The summary line without its start time and elapsed seconds.
std::string SummaryWithoutTimes(const std::string& summary) {
    std::vector<std::string> fields;
    std::istringstream line(summary);
    for (std::string field; std::getline(line, field, ',');) {
        fields.push_back(field);
    }
    std::string kept;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const bool time = (i >= 2 && i <= 7) || i == 17;
        kept += (time ? "-" : fields[i]) + ",";
    }
    return kept;
}

TEST(ParallelCopies, SeveralThreadsWriteWhatOneThreadWrites) {
    TempDir dir;
    const RunResult one = RunScenario(dir.Path(), 1);
    // The scenario reaches every kind of line it is meant to.
    EXPECT_EQ(one.stats.errors, 4) << "the copies of bad.bin fail, sub/deep/bad.bin in both tasks, and unlisted";
    EXPECT_NE(LogWithoutDuration(one.log).find("Unable to stat"), std::string::npos);
    EXPECT_GT(one.stats.newFiles, 50);
    EXPECT_GT(one.stats.changed, 50);
    EXPECT_GT(one.stats.same, 50);
    EXPECT_GT(one.stats.deleted, 0);
    EXPECT_GT(one.stats.saved, 0);
    EXPECT_GT(one.stats.skipped, 0);
    EXPECT_FALSE(one.debugLines.empty());
    EXPECT_EQ(SummaryWithoutTimes(one.summary).size() > 40, true);
    EXPECT_EQ(one.mirror.find(".pemo-copy"), std::string::npos);
    for (int threads : {2, 4}) {
        SCOPED_TRACE("threads=" + std::to_string(threads));
        const RunResult many = RunScenario(dir.Path(), threads);
        EXPECT_EQ(FirstDifference(LogWithoutDuration(many.log), LogWithoutDuration(one.log)), "");
        EXPECT_EQ(SummaryWithoutTimes(many.summary), SummaryWithoutTimes(one.summary));
        EXPECT_EQ(FirstDifference(Joined(many.debugLines), Joined(one.debugLines)), "");
        EXPECT_EQ(FirstDifference(many.mirror, one.mirror), "");
        EXPECT_EQ(FirstDifference(many.keptMirror, one.keptMirror), "");
        ExpectSameStats(many.stats, one.stats);
        // Reading ahead never enters what the walk leaves out.
        for (const std::string& path : many.listed) {
            EXPECT_EQ(path.find("/src/skipdir"), std::string::npos) << path;
        }
    }
}

// Holds every copy after its first chunk until released or stopped, and counts the copies held.
class HoldingFileSystem : public FakeFileSystem {
public:
    CopyResult CopyOpenFileAt(const FileHandle& source, const DirectoryHandle& destinationDir,
                              const std::string& destinationName, const CopyProgressFn& progress,
                              const std::atomic<int>* cancel) override {
        ++entered;
        bool counted = false;
        CopyProgressFn holding = [&](std::uint64_t total, std::uint64_t transferred) {
            if (!counted) {
                counted = true;
                ++held;
            }
            while (!released.load() && (cancel == nullptr || cancel->load() == 0)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            progress(total, transferred);
        };
        return FakeFileSystem::CopyOpenFileAt(source, destinationDir, destinationName, holding, cancel);
    }

    std::atomic<int> entered{0};
    std::atomic<int> held{0};
    std::atomic<bool> released{false};
};

class ParallelControl : public MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        for (int i = 0; i < 8; ++i) {
            Put(src + "/file" + std::to_string(i), std::string(3 << 20, static_cast<char>('0' + i)));
        }
        ctx().fs = &holding;
        ctx().threads = 4;
    }
    CRunContext& ctx() { return rig.ctx; }

    bool WaitFor(const std::function<bool()>& condition) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > until) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    HoldingFileSystem holding;
};

TEST_F(ParallelControl, AStopWithCopiesUnderWayLeavesNoTemporaryAndCountsNothing) {
    std::thread run([this] { Run(); });
    ASSERT_TRUE(WaitFor([this] { return holding.held.load() == 4; })) << "four copies held mid-way";
    EXPECT_EQ(FindTemporaries(dst).size(), 4u);
    const auto stop = std::chrono::steady_clock::now();
    ctx().stopRequested = 1;
    run.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(5));
    EXPECT_EQ(holding.entered.load(), 4) << "no copy starts after the stop";
    EXPECT_TRUE(FindTemporaries(dst).empty());
    EXPECT_TRUE(ListDirectory(dst).empty());
    EXPECT_EQ(stats.newFiles, 0);
    EXPECT_EQ(stats.bytesNew.ToString(), "0");
    EXPECT_EQ(stats.errors, 0);
    // Committed in order: the four copies under way were announced; the rest never started.
    EXPECT_EQ(rig.log.CountStartingWith("Adding file "), 4) << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith("Excluded: "), 4) << Dump(rig.log);
    EXPECT_EQ(stats.skipped, 4);
    EXPECT_EQ(stats.sourceCount, 4) << "a stopped copy counts nowhere";
}

TEST_F(ParallelControl, PauseHoldsTheWorkersUntilResumed) {
    holding.released = true;
    ctx().paused = true;
    std::thread run([this] { Run(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(holding.entered.load(), 0) << "no copy starts while paused";
    EXPECT_EQ(rig.log.CountStartingWith("Adding file "), 0);
    ctx().paused = false;
    run.join();
    EXPECT_EQ(stats.newFiles, 8);
    EXPECT_EQ(rig.log.CountStartingWith("Adding file "), 8);
    EXPECT_EQ(TreeSnapshot(dst), TreeSnapshot(src));
}

TEST_F(ParallelControl, TheWindowFollowsOneCopyAtATime) {
    // Held mid-way so that the first copy is still under way when the window turns to it; a copy
    // that ends before its turn shows nothing.
    std::thread run([this] { Run(); });
    const bool watched = WaitFor([this] { return !rig.window.CurrentFileTexts().empty(); });
    holding.released = true;
    run.join();
    ASSERT_TRUE(watched);
    const std::vector<std::string> shown = rig.window.CurrentFileTexts();
    for (std::size_t k = 0; k < shown.size(); ++k) {
        EXPECT_EQ(shown[k].empty(), k % 2 == 1) << "a label, then the end of that copy: " << k;
    }
}

TEST_F(ParallelControl, PauseHoldsCopiesUnderWayAndAStopStillEndsThem) {
    std::thread run([this] { Run(); });
    ASSERT_TRUE(WaitFor([this] { return holding.held.load() == 4; }));
    ctx().paused = true;
    holding.released = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(holding.entered.load(), 4) << "paused copies neither finish nor make room for others";
    EXPECT_EQ(FindTemporaries(dst).size(), 4u);
    ctx().RequestStop();
    run.join();
    EXPECT_TRUE(FindTemporaries(dst).empty());
    EXPECT_TRUE(ListDirectory(dst).empty());
    EXPECT_EQ(stats.newFiles, 0);
}

} // namespace
