// The headless shell: work posted from other threads runs in order on the loop's thread, timers
// follow the (fake) clock, message boxes go to stderr at once, and the progress line appears
// only on a terminal and is cleared before a message.
#include "app/headless_shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "platform/file_system.h"
#include "platform/fs_error.h"

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

class CapturedStream {
public:
    CapturedStream() : file(std::tmpfile()) {}
    ~CapturedStream() { std::fclose(file); }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;
    std::FILE* Stream() const { return file; }
    std::string Text() const {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        for (int c; (c = std::fgetc(file)) != EOF;) {
            text += static_cast<char>(c);
        }
        return text;
    }

private:
    std::FILE* file;
};

TEST(HeadlessShellTest, PostedWorkRunsInOrderOnTheLoopThread) {
    FakeClock clock;
    CHeadlessShell shell(clock, false, true);
    std::vector<int> order;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            shell.PostToUi([&order, i] { order.push_back(i); });
        }
    });
    worker.join();
    ASSERT_TRUE(shell.RunUntil([&] { return order.size() == 100; }, 5s));
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
}

TEST(HeadlessShellTest, TimersFireByTheClockAndStopWhenStopped) {
    FakeClock clock;
    CHeadlessShell shell(clock, false, true);
    int ticks = 0;
    shell.StartTimer(7, 500, [&] { ++ticks; });
    shell.RunUntil([] { return false; }, 20ms);
    EXPECT_EQ(ticks, 0) << "a fake clock stands still";
    clock.Advance(499ms);
    shell.RunUntil([] { return false; }, 20ms);
    EXPECT_EQ(ticks, 0);
    clock.Advance(1ms);
    EXPECT_TRUE(shell.RunUntil([&] { return ticks == 1; }, 1s));
    clock.Advance(500ms);
    EXPECT_TRUE(shell.RunUntil([&] { return ticks == 2; }, 1s));
    shell.StopTimer(7);
    EXPECT_FALSE(shell.TimerRunning(7));
    clock.Advance(5000ms);
    shell.RunUntil([] { return false; }, 20ms);
    EXPECT_EQ(ticks, 2);
}

TEST(HeadlessShellTest, RealClockTimerEndsTheLoop) {
    CSteadyClock clock;
    CHeadlessShell shell(clock, false, true);
    shell.StartTimer(1, 30, [&] { shell.EndProgram(); });
    const auto start = std::chrono::steady_clock::now();
    shell.Run();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 25ms);
    EXPECT_TRUE(shell.Ended());
}

TEST(HeadlessShellTest, WithoutATerminalOnlyMessagesAreWritten) {
    FakeClock clock;
    CapturedStream err;
    CHeadlessShell shell(clock, false, true, err.Stream());
    RunStats stats;
    stats.newFiles = 3;
    shell.Window().SetProgressState(stats, 1.0);
    shell.Window().SetCurrentFileText("a.txt (5 bytes)");
    shell.Window().UpdateProgress();
    shell.MessageBox("Error opening logfile:\n\nAccess to log.html was denied.");
    shell.EndProgram();
    EXPECT_EQ(err.Text(), "pemo: Error opening logfile:\n\nAccess to log.html was denied.\n");
}

TEST(HeadlessShellTest, OnATerminalOneProgressLineIsRewrittenAndClearedForMessages) {
    FakeClock clock;
    CapturedStream err;
    CHeadlessShell shell(clock, true, true, err.Stream());
    RunStats stats;
    stats.newFiles = 3;
    stats.same = 2;
    stats.errors = 1;
    shell.Window().SetProgressState(stats, 1.0);
    shell.Window().SetCurrentFileText("a.txt (5 bytes)");
    shell.Window().SetPercentText("40%");
    shell.Window().UpdateProgress();
    shell.Window().SetCurrentFileText("");
    shell.Window().UpdateProgress();
    shell.MessageBox("oops");
    shell.Window().UpdateProgress();
    shell.EndProgram();
    const std::string line = "3 new, 0 changed, 2 same, 0 deleted, 1 error";
    EXPECT_EQ(err.Text(), "\r\033[K" + line + " | 40% a.txt (5 bytes)" + "\r\033[K" + line + "\r\033[K" +
                              "pemo: oops\n" + "\r\033[K" + line + "\r\033[K");
}

// A line longer than the terminal (80 columns where the width is unknown) is cut short of its
// last column, between two characters wherever they fall.
TEST(HeadlessShellTest, ALongProgressLineIsCutBetweenCharacters) {
    for (const std::string lead : {"", "x"}) {
        FakeClock clock;
        CapturedStream err;
        CHeadlessShell shell(clock, true, true, err.Stream());
        std::string name = lead;
        for (int i = 0; i < 60; ++i) {
            name += "\xC3\xA9";
        }
        shell.Window().SetCurrentFileText(name);
        shell.Window().UpdateProgress();
        const std::string line = err.Text().substr(4);
        EXPECT_GE(line.size(), 78u) << line;
        EXPECT_LE(line.size(), 79u) << line;
        EXPECT_EQ(line.substr(line.size() - 2), "\xC3\xA9");
    }
}

TEST(HeadlessShellTest, RepeatedMessagesArePrintedOnceWithACount) {
    FakeClock clock;
    CapturedStream err;
    CHeadlessShell shell(clock, false, true, err.Stream());
    for (int i = 0; i < 4; ++i) {
        shell.MessageBox("Error saving logfile:\n\nAccess to log.html was denied.");
    }
    shell.MessageBox("Error writing to summary:\n\nAccess to summary.log was denied.");
    shell.MessageBox("Error closing logfile:\n\nAccess to log.html was denied.");
    shell.MessageBox("Error closing logfile:\n\nAccess to log.html was denied.");
    shell.EndProgram();
    EXPECT_EQ(err.Text(), "pemo: Error saving logfile:\n\nAccess to log.html was denied.\n"
                          "pemo: (the message above came 3 more times)\n"
                          "pemo: Error writing to summary:\n\nAccess to summary.log was denied.\n"
                          "pemo: Error closing logfile:\n\nAccess to log.html was denied.\n"
                          "pemo: (the message above came 1 more time)\n");
}

// A file name with a line break or an escape sequence must neither forge lines in cron mail nor
// clear the terminal.
TEST(HeadlessShellTest, NamesCanNeitherAddLinesNorReachTheTerminal) {
    FakeClock clock;
    CapturedStream err;
    CHeadlessShell shell(clock, true, true, err.Stream());
    shell.Window().SetCurrentFileText("x\x1b[2J");
    shell.Window().UpdateProgress();
    shell.RunErrorLine("Error copying /s/a\npemo: all good\r\n");
    shell.MessageBox("Error reading /j/\x1b[2J\n\nDenied.");
    EXPECT_EQ(err.Text().find("\x1b[2J"), std::string::npos);
    EXPECT_NE(err.Text().find("Kpemo: Error copying /s/a\\npemo: all good\npemo: Error reading /j/\\e[2J\n\nDenied.\n"),
              std::string::npos);
}

// -verbose: one line per change on stdout, relative to the task's side; the closing line goes
// to stdout after a clean run and to stderr after errors, and a stop says by what.
TEST(HeadlessShellTest, ChangesAndTheClosingLinesGoWhereTheyBelong) {
    auto native = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', kPathSeparator);
        return path;
    };
    FakeClock clock;
    CapturedStream err;
    CapturedStream out;
    CHeadlessShell shell(clock, false, true, err.Stream(), out.Stream());
    shell.SetVerbose(true);
    IRunWindow& window = shell.Window();
    window.BeginTask(native("/s"), native("/d/"));
    window.ReportChange('+', native("/s/a/new.txt"));
    window.ReportChange('>', native("/s/b\n"));
    window.ReportChange('-', native("/d/old/"));
    window.ReportChange('*', native("/s/x.tmp"));
    window.BeginTask(native("/s/one.txt"), native("/d"));
    window.ReportChange('+', native("/s/one.txt"));
    RunStats stats;
    stats.newFiles = 2;
    stats.changed = 1;
    stats.deleted = 4;
    window.SetProgressState(stats, 1.0);
    shell.ReportEnd("log.html", "");
    EXPECT_EQ(out.Text(), native("+ a/new.txt\n> b\\n\n- old/\n* x.tmp\n+ one.txt\n") +
                              "2 new, 1 changed, 4 deleted, 0 errors; log: log.html\n");
    EXPECT_EQ(err.Text(), "");
    stats.errors = 1;
    window.SetProgressState(stats, 1.0);
    shell.ReportEnd("log.html", "SIGINT");
    EXPECT_EQ(err.Text(), "pemo: 2 new, 1 changed, 4 deleted, 1 error; log: log.html\n"
                          "pemo: stopped by SIGINT; log: log.html\n");
}

TEST(HeadlessShellTest, AFailureIsOneLineSayingWhichSideAndWhat) {
    FakeClock clock;
    CapturedStream err;
    CHeadlessShell shell(clock, false, true, err.Stream());
    shell.RunErrorLine("Can't open source directory /x/y with error 13: Permission denied\n");
    shell.RunErrorLine("Error reading destination directory \"/d/\"q\" (Input/output error)");
    shell.RunErrorLine("Failed to delete file /d/f with error 1: Operation not permitted\n");
    shell.RunErrorLine("Failed to copy file /s/a to /d/a with error 13: Permission denied\n");
    shell.Window().BeginTask("/s", "/d");
    shell.RunErrorLine("Failed to copy file /s/a to /d/a with error " +
                       std::to_string(SystemCodeOfKind(ErrorKind::NoSpace)) + ": No space left on device\n");
    shell.RunErrorLine("Source path is empty, exiting");
    EXPECT_EQ(err.Text(), "pemo: cannot read source /x/y: Permission denied\n"
                          "pemo: cannot read destination /d/\"q: Input/output error\n"
                          "pemo: cannot delete destination /d/f: Operation not permitted\n"
                          "pemo: cannot copy /s/a to /d/a: Permission denied\n"
                          "pemo: cannot write destination /d/a: No space left on device\n"
                          "pemo: Source path is empty, exiting\n");
}

// A long copy shows the bytes copied and the rate beside the file and its percentage.
TEST(HeadlessShellTest, TheProgressLineShowsTheRunsBytesAndRate) {
    FakeClock clock;
    CapturedStream err;
    CapturedStream out;
    CHeadlessShell shell(clock, true, true, err.Stream(), out.Stream());
    shell.Window().BeginTask("/s", "/d");
    clock.Advance(4s);
    shell.Window().AddBytesCopied(8u << 20);
    shell.Window().SetCurrentFileText("b (5 B)");
    shell.Window().SetPercentText("07%");
    shell.Window().UpdateProgress();
    EXPECT_EQ(out.Text(), "\r\033[K0 new, 0 changed, 0 same, 0 deleted, 0 errors | 8 MiB at 2 MiB/s | 07% b (5 B)");
}

} // namespace
