// The job runner on real trees in a temporary directory: the HTML log frame byte for byte, the
// summary line, last-run stamps and the saved job, drive letters, single-task runs, the end of
// a run (balloons, shutdown decision, close timer) and the failure paths that must not stop a run.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#endif

#include <cerrno>
#include <cstring>
#include <memory>

#include <ctime>
#include <regex>

#include "model/job_file.h"
#include "run/summary_log.h"
#include "support/eight_bit.h"
#include "support/temp_dir.h"
#include "support/test_frame.h"

namespace {

std::vector<std::string> SplitFields(std::string line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1) {
        fields.push_back(line.substr(start, comma - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

// The "Time: ..." text of the run's second statistics line.
std::string TimeText(const std::vector<std::string>& pane) {
    std::smatch match;
    static const std::regex pattern("Time: ([^,]+),");
    for (const auto& line : pane) {
        if (std::regex_search(line, match, pattern)) {
            return match[1];
        }
    }
    return "";
}

class JobRunnerTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDirectory cwd{dir.Path()};
};

TEST_F(JobRunnerTest, ScriptedRunWritesTheLogFrameSummaryAndStampsExactly) {
    MakeDirectories(dir / "src");
    WriteFileBytes(dir / "src/a.txt", "hello");
    TestFrame frame;
    frame.AddTask("Off", dir / "src", dir / "off").enabled = false;
    frame.AddTask("Mirror", dir / "src", dir / "dst");
    frame.AddTask("Drive", dir / "src", "?/backup");
    const std::time_t before = std::time(nullptr);

    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    const std::time_t after = std::time(nullptr);

    EXPECT_EQ(ReadFileBytes(dir / "dst/a.txt"), "hello");
    const std::string time = TimeText(frame.recording.PaneLines());
    EXPECT_TRUE(std::regex_match(time, std::regex("[0-9]+s"))) << time;
    const std::string expected =
        "\xFF\xFE" +
        Utf8ToUtf16Le("<HTML><BODY>\r\n"
                      "<B>Job started (using test.job) at NOW</B><BR>\r\n"
                      "<B>Task \"Off\" is disabled, skipping it</B><BR>\r\n"
                      "<B>Starting task \"Mirror\"</B><BR>\r\n"
                      "<FONT COLOR=GREEN>Created directory " +
                      (dir / "dst") +
                      "</FONT><BR>\r\n"
                      "<FONT COLOR=GREEN>Adding file " +
                      (dir / "src/a.txt") +
                      "</FONT><BR>\r\n"
                      "<FONT COLOR=RED>Not running \"Drive\" - no destination drive letter specified</FONT><BR>\r\n"
                      "<B>Done at NOW</B><BR>\r\n"
                      "<B>Changed: 0, Same: 0, Deleted: 0, Skipped: 0, New: 1, Saved: 0, Errors: 0, "
                      "Bytes (new): 5</B><BR>\r\n"
                      "<B>Bytes (change): 0, Time: " +
                      time +
                      ", Source count: 1, Source size: 5</B><BR>\r\n"
                      "</BODY></HTML>\r\n");
    EXPECT_EQ(ReadFileBytes(dir / "log.html"), expected);

    const std::string summary = ReadFileBytes(dir / "summary.log");
    ASSERT_GE(summary.size(), 2u);
    EXPECT_EQ(summary.substr(summary.size() - 2), "\r\n");
    EXPECT_EQ(summary.find('\n'), summary.size() - 1) << "one line per run";
    const auto fields = SplitFields(summary.substr(0, summary.size() - 2));
    ASSERT_EQ(fields.size(), 20u);
    EXPECT_EQ(fields[0], "test.job");
    EXPECT_EQ(fields[1], "**all**");
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &after);
#else
    localtime_r(&after, &local);
#endif
    EXPECT_EQ(fields[2], std::to_string(local.tm_year + 1900));
    EXPECT_EQ(fields[3], std::to_string(local.tm_mon + 1));
    EXPECT_EQ(fields[4], std::to_string(local.tm_mday));
    const std::vector<std::string> counters(fields.begin() + 8, fields.end());
    EXPECT_EQ(counters, (std::vector<std::string>{"0", "0", "0", "0", "1", "0", "0", "5", "0", fields[17], "1", "5"}));
    EXPECT_TRUE(std::regex_match(fields[17], std::regex("[0-9]+")));

    // Only the task that ran is stamped, and the saved job carries the stamp.
    EXPECT_EQ(frame.tasks[0]->lastRun, -1);
    EXPECT_GE(frame.tasks[1]->lastRun, before);
    EXPECT_LE(frame.tasks[1]->lastRun, after);
    EXPECT_EQ(frame.tasks[2]->lastRun, -1);
    TaskList saved;
    std::string savedPath;
    RecordingMessagePort loadMessages;
    ASSERT_TRUE(LoadJob(dir / "test.job", saved, savedPath, loadMessages, NativeFileSystem()));
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0]->lastRun, -1);
    EXPECT_EQ(saved[1]->lastRun, frame.tasks[1]->lastRun);
    EXPECT_EQ(saved[2]->lastRun, -1);
    EXPECT_EQ(frame.recording.refreshes, 1);

    const auto balloons = frame.recording.Balloons();
    ASSERT_EQ(balloons.size(), 2u);
    EXPECT_EQ(balloons[0].title, "");
    EXPECT_EQ(balloons[0].text, "");
    EXPECT_EQ(balloons[1].title, "Job complete");
    EXPECT_EQ(balloons[1].text.rfind("Changed: 0\nSame: 0\nDeleted: 0\nSkipped: 0\nNew: 1\nSaved: 0\nErrors: 0\n", 0),
              0u)
        << balloons[1].text;
    EXPECT_TRUE(frame.messagePort.Messages().empty());
    EXPECT_EQ(frame.recording.runningControls, 1);
    EXPECT_EQ(frame.recording.idleControls, 1);
    EXPECT_EQ(frame.State().lastRunErrors, 0);
    // The final figures are published with the run's start time.
    EXPECT_EQ(frame.recording.LastStats().newFiles, 1);
    EXPECT_GT(frame.recording.LastStart(), 0.0);
}

TEST_F(JobRunnerTest, AnEmptyJobLogsZeroFiguresAndIsNotSaved) {
    TestFrame frame;
    frame.runOptions.noBalloon = true;
    frame.Apply();
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    const auto pane = frame.recording.PaneLines();
    ASSERT_EQ(pane.size(), 4u);
    EXPECT_EQ(pane[0], "Job started (using test.job) at NOW");
    EXPECT_EQ(pane[1], "Done at NOW");
    EXPECT_EQ(pane[2], "Changed: 0, Same: 0, Deleted: 0, Skipped: 0, New: 0, Saved: 0, Errors: 0, Bytes (new): 0");
    EXPECT_FALSE(FileExists(dir / "test.job"));
    EXPECT_TRUE(frame.recording.Balloons().empty());
    const auto fields = SplitFields(ReadFileBytes(dir / "summary.log"));
    ASSERT_EQ(fields.size(), 20u);
    EXPECT_EQ(fields[1], "**all**");
    EXPECT_EQ(fields[14], "0");
}

TEST_F(JobRunnerTest, DriveLetterIsSubstitutedInWorkingPathsOnly) {
    MakeDirectories(dir / "src");
    WriteFileBytes(dir / "src/f", "x");
    TestFrame frame;
    // The letter stands for the first character of each path: the drive, or "/" where there are none.
    frame.runOptions.driveLetter = dir.Path().substr(0, 1);
    frame.Apply();
    frame.AddTask("Both", "?" + (dir / "src").substr(1), "?" + (dir / "dst").substr(1));
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_EQ(ReadFileBytes(dir / "dst/f"), "x");
    EXPECT_EQ(frame.tasks[0]->source, "?" + (dir / "src").substr(1));
    EXPECT_GT(frame.tasks[0]->lastRun, 0);
}

TEST_F(JobRunnerTest, MissingDriveLetterChecksTheDestinationFirst) {
    TestFrame frame;
    frame.AddTask("Both", "?/a", "?/b");
    frame.AddTask("Source", "?/a", dir / "b");
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    const auto pane = frame.recording.PaneLines();
    ASSERT_GE(pane.size(), 3u);
    EXPECT_EQ(pane[1], "Not running \"Both\" - no destination drive letter specified");
    EXPECT_EQ(pane[2], "Not running \"Source\" - no source drive letter specified");
    EXPECT_FALSE(FileExists(dir / "b"));
    EXPECT_FALSE(FileExists(dir / "test.job")) << "no task ran, so the job is not saved";
}

TEST_F(JobRunnerTest, ATaskThatNeedsAMountedDestinationRunsOnlyOnOne) {
    MakeDirectories(dir / "src");
    WriteFileBytes(dir / "src/f", "x");
    MakeDirectories(dir / "disk");
    std::string mountPoint;
    bool systemRoot = false;
    ASSERT_FALSE(NativeFileSystem().MountPointOf(dir / "disk/backup", mountPoint, systemRoot));
    if (!systemRoot) {
        GTEST_SKIP() << "the temporary directory lies on a disk of its own (" << mountPoint << ")";
    }
    TestFrame frame;
    frame.AddTask("Disk", dir / "src", dir / "disk/backup").mustBeMounted = true;
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    const auto pane = frame.recording.PaneLines();
    EXPECT_NE(std::find(pane.begin(), pane.end(), dir / "disk/backup" + " is not mounted"), pane.end());
    EXPECT_EQ(SplitFields(ReadFileBytes(dir / "summary.log"))[14], "1") << "one error";
    EXPECT_FALSE(FileExists(dir / "disk/backup"));
#ifndef _WIN32
    if (::mount("pemo-test", (dir / "disk").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "this system lets no test mount a file system: " << std::strerror(errno);
    }
    const std::unique_ptr<const std::string, void (*)(const std::string*)> mounted(
        new std::string(dir / "disk"), [](const std::string* path) {
            ::umount2(path->c_str(), MNT_DETACH);
            delete path;
        });
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd(1));
    EXPECT_TRUE(FileExists(dir / "disk/backup/f"));
#endif
}

// The source's own ignore file adds its items; one that is a link is never read, and the task
// does not run without it.
TEST_F(JobRunnerTest, TheSourcesIgnoreFileExcludesWhatItNamesAndALinkInItsPlaceStopsTheTask) {
    MakeDirectories(dir / "src/a/node_modules");
    WriteFileBytes(dir / "src/.pemoignore", "\xEF\xBB\xBF# build output\r\n  node_modules/ \r\n\n*.o;*.tmp\n");
    for (const char* name : {"a/node_modules/m.js", "a/x.o", "b.tmp", "keep.c", "c.c"}) {
        WriteFileBytes(dir / "src/" + name, "x");
    }
    TestFrame frame;
    frame.AddTask("Ignoring", dir / "src", dir / "dst").exclusions = "keep.c";
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_EQ(ListDirectory(dir / "dst"), (std::vector<std::string>{".pemoignore", "a", "c.c"}));
    EXPECT_TRUE(ListDirectory(dir / "dst/a").empty());

    std::filesystem::remove(FsPath(dir / "src/.pemoignore"));
#ifdef _WIN32
    std::filesystem::create_directory(FsPath(dir / "src/.pemoignore")); // Wine makes no links
#else
    std::filesystem::create_symlink(FsPath(dir / "elsewhere"), FsPath(dir / "src/.pemoignore"));
#endif
    std::filesystem::remove(FsPath(dir / "dst/c.c"));
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd(1));
    const auto pane = frame.recording.PaneLines();
    EXPECT_NE(std::find(pane.begin(), pane.end(),
                        "Not running the task: cannot read " + (dir / "src/.pemoignore") +
                            ": it is no plain file of at most 1 MiB"),
              pane.end());
    EXPECT_FALSE(FileExists(dir / "dst/c.c"));
}

TEST_F(JobRunnerTest, ASingleTaskRunsEvenWhenDisabledWithItsOwnWording) {
    MakeDirectories(dir / "src");
    WriteFileBytes(dir / "src/f", "x");
    TestFrame frame;
    Task& task = frame.AddTask("Solo, with comma", dir / "src", dir / "dst");
    task.enabled = false;
    task.fakeIt = true;
    frame.RunSelectedCommand(&task);
    ASSERT_TRUE(frame.RunToEnd());
    const auto pane = frame.recording.PaneLines();
    ASSERT_GE(pane.size(), 2u);
    EXPECT_EQ(pane[1], "Starting the task \"Solo, with comma\" ***in 'fake it' mode***");
    EXPECT_FALSE(FileExists(dir / "dst")) << "fake-it mode creates nothing";
    const auto fields = SplitFields(ReadFileBytes(dir / "summary.log"));
    // The comma in the name is written as it is, so the line splits into one field more.
    ASSERT_EQ(fields.size(), 21u);
    EXPECT_EQ(fields[1] + "," + fields[2], "Solo, with comma");
    EXPECT_EQ(fields[13], "1") << "fake-it still counts the new file";
}

TEST_F(JobRunnerTest, AllTasksWordingMarksFakeItAndStatisticsAccumulate) {
    MakeDirectories(dir / "one");
    MakeDirectories(dir / "two");
    WriteFileBytes(dir / "one/a", "12");
    WriteFileBytes(dir / "two/b", "345");
    TestFrame frame;
    frame.AddTask("One", dir / "one", dir / "out1");
    frame.AddTask("Two", dir / "two", dir / "out2").fakeIt = true;
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    const auto pane = frame.recording.PaneLines();
    EXPECT_NE(std::find(pane.begin(), pane.end(), "Starting task \"Two\" *** in 'fake it' mode ***"), pane.end());
    EXPECT_NE(std::find(pane.begin(), pane.end(),
                        "Changed: 0, Same: 0, Deleted: 0, Skipped: 0, New: 2, Saved: 0, Errors: 0, Bytes (new): 5"),
              pane.end());
}

TEST_F(JobRunnerTest, ASingleFileSourceIsHandedToTheFileTask) {
    WriteFileBytes(dir / "single.txt", "abc");
    MakeDirectories(dir / "dst");
    TestFrame frame;
    frame.AddTask("File", dir / "single.txt", dir / "dst");
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_EQ(ReadFileBytes(dir / "dst/single.txt"), "abc");
}

TEST_F(JobRunnerTest, DatedLogNamesFollowTheStartTime) {
    TestFrame frame;
    frame.runOptions.dateLog = true;
    frame.Apply();
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    const auto names = ListDirectory(dir.Path());
    int logs = 0;
    for (const auto& name : names) {
        if (std::regex_match(name, std::regex("log[0-9]{8}-[0-9]{6}\\.html"))) {
            ++logs;
            EXPECT_EQ(frame.RunLogPath(), name);
        }
    }
    EXPECT_EQ(logs, 1);
    EXPECT_FALSE(FileExists(dir / "log.html"));
}

TEST_F(JobRunnerTest, EmptyPathsAndAMissingSourceAreErrorsThatLeaveTheDestinationAlone) {
    MakeDirectories(dir / "dst");
    WriteFileBytes(dir / "dst/keep", "precious");
    TestFrame frame;
    frame.AddTask("NoSource", "", dir / "dst");
    frame.AddTask("NoDestination", dir / "dst", "");
    frame.AddTask("Unplugged", dir / "not-mounted", dir / "dst");
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_EQ(ReadFileBytes(dir / "dst/keep"), "precious");
    EXPECT_EQ(ListDirectory(dir / "dst"), std::vector<std::string>{"keep"});
    EXPECT_EQ(frame.State().lastRunErrors, 3);
    const auto pane = frame.recording.PaneLines();
    EXPECT_NE(std::find(pane.begin(), pane.end(), "Source path is empty, exiting"), pane.end());
    EXPECT_NE(std::find(pane.begin(), pane.end(), "Destination path is empty, exiting"), pane.end());
    // The end-of-run notification says at once that the run had errors.
    const auto balloons = frame.recording.Balloons();
    ASSERT_FALSE(balloons.empty());
    EXPECT_EQ(balloons.back().text.rfind("3 errors: see the run log.\n\nChanged: 0\n", 0), 0u) << balloons.back().text;
}

TEST_F(JobRunnerTest, AJobThatWasNotReadCompletelyIsNotOverwritten) {
    MakeDirectories(dir / "src");
    TestFrame frame;
    RecordingMessagePort unread;
    ASSERT_EQ(frame.runJob.Load(dir.Path(), unread), JobLoad::Failed);
    frame.AddTask("Read", dir / "src", dir / "dst");
    WriteFileBytes(dir / "test.job", "original");
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_EQ(ReadFileBytes(dir / "test.job"), "original");
    const auto messages = frame.messagePort.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Not saving test.job\n\n", 0), 0u) << messages[0];
}

TEST_F(JobRunnerTest, ShowDetLogOpensTheLogUnlessStopped) {
    TestFrame frame;
    frame.runOptions.showDetLog = true;
    frame.Apply();
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_EQ(frame.opened, std::vector<std::string>{"log.html"});
}

struct ShutdownCase {
    bool withError;
    bool ignoreErrors;
    int shutdowns;
};

class ShutdownDecisionTest : public JobRunnerTest, public ::testing::WithParamInterface<ShutdownCase> {};

TEST_P(ShutdownDecisionTest, ErrorsForbidTheShutdownUnlessIgnored) {
    const ShutdownCase c = GetParam();
    MakeDirectories(dir / "src");
    TestFrame frame;
    frame.AddTask("T", c.withError ? dir / "missing" : dir / "src", dir / "dst");
    frame.runOptions.shutdown = true;
    frame.runOptions.ignoreErrors = c.ignoreErrors;
    frame.runOptions.runAll = true;
    frame.Apply();
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_EQ(frame.power.shutdowns, c.shutdowns);
    const auto pane = frame.recording.PaneLines();
    const bool aborted = std::find(pane.begin(), pane.end(), "Aborting shutdown due to errors") != pane.end();
    EXPECT_EQ(aborted, c.shutdowns == 0);
    EXPECT_EQ(frame.State().stay, c.shutdowns == 0);
    // The line comes after the log's footer, so it reaches the pane only.
    EXPECT_EQ(ReadFileBytes(dir / "log.html").find(Utf8ToUtf16Le("Aborting")), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, ShutdownDecisionTest,
                         ::testing::Values(ShutdownCase{false, false, 1}, ShutdownCase{true, false, 0},
                                           ShutdownCase{true, true, 1}),
                         [](const ::testing::TestParamInfo<ShutdownCase>& param) {
                             return std::string(param.param.withError ? "WithError" : "Clean") +
                                    (param.param.ignoreErrors ? "IgnoringErrors" : "");
                         });

TEST(SummaryLineTest, TwentyFieldsWithPlainDecimalTotals) {
    RunStats stats;
    stats.changed = 1;
    stats.same = 2;
    stats.deleted = 3;
    stats.skipped = 4;
    stats.newFiles = 5;
    stats.saved = 6;
    stats.errors = 7;
    stats.bytesNew = CLargeNumber("12345678901234567890");
    stats.bytesChanged = CLargeNumber(9u);
    stats.sourceCount = 8;
    stats.sourceSize = CLargeNumber("5000000000");
    std::tm when{};
    when.tm_year = 124;
    when.tm_mon = 0;
    when.tm_mday = 31;
    when.tm_hour = 23;
    when.tm_min = 59;
    when.tm_sec = 58;
    EXPECT_EQ(SummaryLine("/jobs/n.job", "**all**", when, stats, 61),
              "/jobs/n.job,**all**,2024,1,31,23,59,58,1,2,3,4,5,6,7,12345678901234567890,9,61,8,5000000000\r\n");
}

TEST_F(JobRunnerTest, SummaryLinesAreAppendedAsEightBitText) {
    RecordingMessagePort messages;
    WriteFileBytes(dir / "summary.log", "old line\r\n");
    ASSERT_TRUE(AppendSummaryLine("summary.log", "caf\xC3\xA9,1\r\n", messages, NativeFileSystem()));
    // In the locale's set (the test locale's UTF-8 writes the text as it is), without a mark.
    EXPECT_EQ(ReadFileBytes(dir / "summary.log"), "old line\r\n" + EightBit("caf\xC3\xA9,1\r\n"));
    EXPECT_TRUE(messages.Messages().empty());
}

} // namespace
