// The fault loop over the run log's flush and close and the summary append: whichever call
// fails, the failure is shown, the file holds whole blocks only (never a torn one that a retry
// would follow with the whole block again), and a later try completes the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>

#include "model/stdio_file_ex.h"
#include "run/html_log.h"
#include "run/summary_log.h"
#include "support/current_directory.h"
#include "support/engine_tree.h"
#include "support/fault_loop.h"
#include "support/temp_dir.h"
#include "support/test_frame.h"

namespace {

const std::string kHeader = "<HTML><BODY>\r\n";
const std::string kFooter = "</BODY></HTML>\r\n";

std::string Utf16File(const std::string& text) {
    return "\xFF\xFE" + Utf8ToUtf16Le(text);
}

// Lines below the flush threshold, and the block they make in the file.
const std::vector<std::string> kLines = {"Job started", "Adding file /s/\xC3\xA4 & <b>", "Deleted old"};
const std::string kBlock = "<B>Job started</B><BR>\r\n"
                           "<FONT COLOR=GREEN>Adding file /s/\xC3\xA4 &amp; &lt;b&gt;</FONT><BR>\r\n"
                           "<FONT COLOR=PURPLE>Deleted old</FONT><BR>\r\n";

void AddLines(CRunLog& log) {
    log.AddLogLine(kLines[0], LogColour::Bold);
    log.AddLogLine(kLines[1], LogColour::Green);
    log.AddLogLine(kLines[2], LogColour::Purple);
}

} // namespace

TEST(LogFaults, AFailedFlushOrCloseIsShownAndLeavesWholeBlocks) {
    TempDir tmp;
    const std::string path = tmp / "run.html";
    const std::string diskFull = "Disk full while accessing " + path + ".";
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "finishing the log" : "flushing the log");
        int hits = 0;
        EngineRig rig;
        std::unique_ptr<CRunLog> log;
        std::size_t shown = 0;
        bool result = true;
        std::string reason;
        hits = FailEachCallInTurn(
            rig.fs, FakeFileSystem::FileCallKinds(), ENOSPC,
            [&](const std::function<void()>& arm) {
                log = std::make_unique<CRunLog>(rig.ctx, nullptr);
                log->BeginRun();
                std::string started;
                ASSERT_TRUE(log->StartLog(path, started)) << started;
                AddLines(*log);
                shown = rig.messages.Messages().size();
                reason.clear();
                arm();
                if (closing) {
                    result = log->FinishLog(reason);
                } else {
                    log->FlushLog();
                }
            },
            [&](const InjectedFailure& failure) {
                const std::vector<std::string> all = rig.messages.Messages();
                const std::vector<std::string> now(all.begin() + static_cast<long>(shown), all.end());
                const bool failed = closing ? !result : !now.empty();
                const std::string whole = kHeader + kBlock + (closing ? kFooter : "");
                if (!failed) {
                    EXPECT_EQ(ReadFileBytes(path), Utf16File(whole));
                    EXPECT_TRUE(now.empty());
                    EXPECT_EQ(log->PendingLog(), "");
                    return;
                }
                EXPECT_TRUE(failure.hit);
                if (closing) {
                    EXPECT_EQ(reason, diskFull);
                    EXPECT_TRUE(now.empty()) << "the caller reports a failed close";
                } else {
                    EXPECT_EQ(now, std::vector<std::string>{"Error saving logfile:\n\n" + diskFull});
                    EXPECT_EQ(log->PendingLog(), kBlock) << "kept for the next try";
                }
                // Only a failed close can leave the block in place: the write itself went through.
                if (failure.kind == FsCall::CloseFile) {
                    EXPECT_EQ(ReadFileBytes(path), Utf16File(whole));
                } else {
                    EXPECT_EQ(ReadFileBytes(path), Utf16File(kHeader));
                    if (!closing) {
                        // The next try, with the disk back, completes the file exactly.
                        log->FlushLog();
                        std::string finished;
                        EXPECT_TRUE(log->FinishLog(finished)) << finished;
                        EXPECT_EQ(ReadFileBytes(path), Utf16File(kHeader + kBlock + kFooter));
                    }
                }
            });
        EXPECT_GE(hits, 5);
    }
}

TEST(LogFaults, AFailedSummaryAppendIsShownAndLeavesNoTornLine) {
    TempDir tmp;
    const std::string path = tmp / "summary.log";
    const std::string earlier = "/jobs/a.job,**all**,2026,1,2,3,4,5,0,0,0,0,0,0,0,0,0,1,0,0\r\n";
    RunStats stats;
    stats.newFiles = 3;
    std::tm when{};
    when.tm_year = 126;
    const std::string line = SummaryLine("/jobs/b.job", "**all**", when, stats, 9);
    EngineRig rig;
    std::size_t shown = 0;
    bool result = false;
    const int hits = FailEachCallInTurn(
        rig.fs, FakeFileSystem::FileCallKinds(), ENOSPC,
        [&](const std::function<void()>& arm) {
            WriteFileBytes(path, earlier);
            shown = rig.messages.Messages().size();
            arm();
            result = AppendSummaryLine(path, line, rig.messages, rig.fs);
        },
        [&](const InjectedFailure& failure) {
            const std::vector<std::string> all = rig.messages.Messages();
            const std::vector<std::string> now(all.begin() + static_cast<long>(shown), all.end());
            if (result) {
                EXPECT_EQ(ReadFileBytes(path), earlier + line);
                EXPECT_TRUE(now.empty());
                return;
            }
            EXPECT_TRUE(failure.hit);
            EXPECT_EQ(now,
                      std::vector<std::string>{"Error writing to summary:\n\nDisk full while accessing " + path + "."});
            EXPECT_EQ(ReadFileBytes(path), failure.kind == FsCall::CloseFile ? earlier + line : earlier);
        });
    EXPECT_GT(hits, 3);
}

TEST(LogFaults, TheRunsOwnFilesGoThroughTheFileSystemItWasGiven) {
    TempDir tmp;
    ScopedCurrentDirectory cwd(tmp.Path());
    WriteFileBytes(tmp / "a.txt", "data");
    struct Case {
        FsCall call;
        std::string fragment;
        int error;
        std::string shown; // the end of one of the boxes
        bool runs;
    };
    for (const Case& c :
         {Case{FsCall::OpenFile, "log.html", ENOSPC, "Disk full while accessing log.html.", true},
          Case{FsCall::OpenFile, "debug.log", EACCES, "\r\nAccess to debug.log was denied.", true},
          Case{FsCall::LockFile, "test.job.lock", EWOULDBLOCK, "test.job is already being run", false}}) {
        SCOPED_TRACE(c.fragment);
        FakeFileSystem fs;
        fs.FailPath(c.call, c.fragment, c.error);
        TestFrame frame(false, fs);
        frame.runSettings.debug = true;
        frame.Apply();
        Task& task = frame.AddTask("one", tmp / "a.txt", tmp / "out");
        task.recurse = false;
        frame.RunAllCommand();
        if (c.runs) {
            ASSERT_TRUE(frame.RunToEnd());
        }
        const std::vector<std::string> shown = frame.messagePort.Messages();
        EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const std::string& box) {
            return box.size() >= c.shown.size() &&
                   box.compare(box.size() - c.shown.size(), c.shown.size(), c.shown) == 0;
        })) << (shown.empty() ? "no box" : shown.front());
        // The run goes on past a log it cannot write; a held lock keeps it from starting at all.
        EXPECT_EQ(std::filesystem::exists(tmp / "out"), c.runs);
        if (c.runs) {
            EXPECT_EQ(ReadFileBytes(tmp / "out/a.txt"), "data");
        }
        std::filesystem::remove_all(tmp / "out");
    }
}
