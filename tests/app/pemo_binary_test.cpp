// End-to-end runs of the real pemo binary, as cron would start it: no display, -auto, real trees
// in a temporary directory. Checks the mirror, log.html, summary.log, the saved job, the exit
// status and the messages on stderr, including runs as an unprivileged user where files and
// directories refuse to be written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>

#include "model/job_file.h"
#include "run/job_lock.h"
#include "support/recording_message_port.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1; // exit status; -1 when the program did not exit normally
    std::string err; // everything written to stderr
    std::string out; // everything written to stdout
};

// Runs pemo with args in cwd, without a display; asNobody drops to uid/gid 65534 first.
// With sendTermWhen, the child gets the signal (SIGTERM by default) as soon as the condition holds.
Outcome RunPemo(const std::vector<std::string>& args, const std::string& cwd, const std::string& scratch,
                bool asNobody = false, const std::function<bool()>& sendTermWhen = nullptr,
                int signalToSend = SIGTERM) {
    for (const auto& arg : args) {
        // Switches are found anywhere in the command line: never let a test ask for a power-off.
        if (arg.find("-shutdown") != std::string::npos) {
            ADD_FAILURE() << "refusing to start pemo with -shutdown";
            return {};
        }
    }
    std::vector<std::string> argv;
    if (asNobody) {
        argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    argv.push_back(PEMO_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
            entry.rfind("XDG_CONFIG_HOME=", 0) != 0 && entry.rfind("HOME=", 0) != 0) {
            env.push_back(entry);
        }
    }
    // Settings of the user running the tests must not leak in.
    env.push_back("XDG_CONFIG_HOME=" + scratch + "/config");
    env.push_back("HOME=" + scratch);
    std::vector<char*> argvp;
    for (auto& a : argv) {
        argvp.push_back(a.data());
    }
    argvp.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const std::string errPath = scratch + "/stderr.txt";
    const std::string outPath = scratch + "/stdout.txt";
    const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (errFd < 0 || outFd < 0 || nullFd < 0) {
        ADD_FAILURE() << "cannot open the child's standard files";
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(cwd.c_str()) != 0 || dup2(nullFd, 0) < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) {
            _exit(127);
        }
        execve(argvp[0], argvp.data(), envp.data());
        _exit(127);
    }
    close(errFd);
    close(outFd);
    close(nullFd);
    if (child > 0 && sendTermWhen) {
        auto exited = [child] {
            siginfo_t info{};
            return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
        };
        while (!exited() && !sendTermWhen()) {
            usleep(1000);
        }
        kill(child, signalToSend);
    }
    Outcome outcome;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        outcome.status = WEXITSTATUS(status);
    }
    outcome.err = ReadFileBytes(errPath);
    outcome.out = ReadFileBytes(outPath);
    return outcome;
}

// Every entry under root: relative path -> content ("<dir>" for directories).
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(entry.path(), root).string();
        tree[rel] = entry.is_directory() ? "<dir>" : ReadFileBytes(entry.path().string());
    }
    return tree;
}

void WriteTree(const std::string& root, const std::map<std::string, std::string>& files) {
    for (const auto& [rel, content] : files) {
        const fs::path path = fs::path(root) / rel;
        MakeDirectories(path.parent_path().string());
        WriteFileBytes(path.string(), content);
    }
}

std::string JobLineFor(const std::string& name, const std::string& source, const std::string& destination,
                       const std::string& exclusions = "", int versionDays = 0) {
    Task task;
    task.name = name;
    task.source = source;
    task.destination = destination;
    task.exclusions = exclusions;
    task.versionDays = versionDays;
    return JobLine(task);
}

// The text of a UTF-16LE file with byte-order mark, for ASCII content; "" when it has no mark.
std::string AsciiOfUtf16(const std::string& bytes) {
    if (bytes.size() < 2 || bytes.substr(0, 2) != "\xFF\xFE") {
        return "";
    }
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text += bytes[i + 1] == 0 ? bytes[i] : '?';
    }
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1) {
        fields.push_back(line.substr(start, comma - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

class PemoBinaryTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string work = dir / "work"; // the current directory of the runs
    std::string job = dir / "work/nightly.job";

    void SetUp() override {
        MakeDirectories(work);
        MakeDirectories(dir / "config");
    }
    void WriteJob(const std::string& content) { WriteFileBytes(job, content); }
    Outcome Run(std::vector<std::string> extra = {}, bool asNobody = false) {
        std::vector<std::string> args = {"-auto", "-file", job};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunPemo(args, work, dir.Path(), asNobody);
    }
    // Makes the temporary tree reachable by the unprivileged user.
    void OpenTree() {
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
            chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
        }
        chmod(dir.Path().c_str(), 0755);
    }
};

TEST_F(PemoBinaryTest, MirrorsTheSourceAndFollowsChangesOnTheNextRun) {
    WriteTree(dir / "src", {{"a.txt", "alpha"},
                            {"docs/b.txt", "bravo"},
                            {"docs/deep/c.txt", "charlie"},
                            {"gone/d.txt", "delta"},
                            {"empty/.keep", ""}});
    WriteJob(JobLineFor("Nightly", dir / "src", dir / "dst"));
    const std::time_t before = std::time(nullptr);
    Outcome first = Run();
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "") << "no terminal: nothing but message boxes";
    EXPECT_EQ(Tree(dir / "dst"), Tree(dir / "src"));

    TaskList tasks;
    std::string path;
    RecordingMessagePort messages;
    ASSERT_TRUE(LoadJob(job, tasks, path, messages, NativeFileSystem()));
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_GE(tasks[0]->lastRun, before);
    EXPECT_LE(tasks[0]->lastRun, after);
    EXPECT_EQ(ReadFileBytes(job).substr(0, 6), "<NAME>") << "saved as 8-bit text, as it was written";

    // Changes of every kind: content (another size), a new file, a removed file and directory.
    WriteFileBytes(dir / "src/a.txt", "alpha, longer now");
    WriteFileBytes(dir / "src/docs/new.txt", "new");
    fs::remove(dir / "src/docs/deep/c.txt");
    fs::remove_all(dir / "src/gone");
    Outcome second = Run();
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(Tree(dir / "dst"), Tree(dir / "src"));

    const auto lines = Lines(ReadFileBytes(work + "/summary.log"));
    ASSERT_EQ(lines.size(), 2u);
    const auto f = Fields(lines[1]);
    ASSERT_EQ(f.size(), 20u);
    EXPECT_EQ(f[0], job);
    EXPECT_EQ(f[1], "**all**");
    EXPECT_EQ(f[8], "1") << "changed";
    EXPECT_EQ(f[12], "1") << "new";
    EXPECT_EQ(f[10], "2") << "deleted: c.txt and gone/d.txt";
    EXPECT_EQ(f[14], "0") << "errors";
    EXPECT_EQ(f[15], "3") << "bytes new";
    EXPECT_EQ(f[16], "17") << "bytes changed";
    EXPECT_EQ(f[18], "4") << "source count";

    // A third run finds nothing to do.
    Outcome third = Run();
    EXPECT_EQ(third.status, 0);
    const auto f3 = Fields(Lines(ReadFileBytes(work + "/summary.log")).back());
    EXPECT_EQ(f3[9], "4") << "same";
    EXPECT_EQ(f3[8] + f3[10] + f3[12], "000");
}

TEST_F(PemoBinaryTest, TheRunLogHoldsExactlyTheFrameAndTheLinesWithTheirMarkup) {
    WriteTree(dir / "src", {{"x.txt", "12345"}});
    WriteFileBytes(dir / "src/skip.tmp", "t");
    Task off;
    off.name = "Off";
    off.enabled = false;
    WriteJob(JobLineFor("Copy", dir / "src", dir / "dst", "*.tmp") + JobLine(off) +
             JobLineFor("Drive", dir / "src", "?/elsewhere"));
    Outcome run = Run();
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string bytes = ReadFileBytes(work + "/log.html");
    ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const std::string text = AsciiOfUtf16(bytes);
    // C.UTF-8: the date as %m/%d/%Y and a 24-hour clock.
    const std::string when = "[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}";
    auto quote = [](const std::string& s) {
        return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\/])"), R"(\$&)");
    };
    const std::string expected =
        "<HTML><BODY>\r\n"
        "<B>Job started \\(using " +
        quote(job) + "\\) at " + when +
        "</B><BR>\r\n"
        "<B>Starting task \"Copy\"</B><BR>\r\n"
        "<FONT COLOR=GREEN>Created directory " +
        quote(dir / "dst") +
        "</FONT><BR>\r\n"
        "<FONT COLOR=GREEN>Adding file " +
        quote(dir / "src/x.txt") +
        "</FONT><BR>\r\n"
        "<B>Task \"Off\" is disabled, skipping it</B><BR>\r\n"
        "<FONT COLOR=RED>Not running \"Drive\" - no destination drive letter specified</FONT><BR>\r\n"
        "<B>Done at " +
        when +
        "</B><BR>\r\n"
        "<B>Changed: 0, Same: 0, Deleted: 0, Skipped: 1, New: 1, Saved: 0, Errors: 0, Bytes \\(new\\): 5</B><BR>\r\n"
        "<B>Bytes \\(change\\): 0, Time: [0-9]+s, Source count: 2, Source size: 6</B><BR>\r\n"
        "</BODY></HTML>\r\n";
    EXPECT_TRUE(std::regex_match(text, std::regex(expected))) << text;
}

TEST_F(PemoBinaryTest, ExitStatusIsOneWhenTheRunCountedErrors) {
    MakeDirectories(dir / "dst");
    WriteFileBytes(dir / "dst/kept", "kept");
    WriteJob(JobLineFor("Unplugged", dir / "no-such-drive", dir / "dst"));
    Outcome run = Run();
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(ReadFileBytes(dir / "dst/kept"), "kept") << "a missing source deletes nothing";
    const auto f = Fields(Lines(ReadFileBytes(work + "/summary.log")).back());
    EXPECT_EQ(f[14], "1");
}

TEST_F(PemoBinaryTest, WithoutADisplayOnlyTheUnattendedRunStarts) {
    WriteJob("");
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"-runall", "-file", job}}) {
        Outcome run = RunPemo(args, work, dir.Path());
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("-auto"), std::string::npos) << run.err;
        EXPECT_FALSE(FileExists(work + "/log.html"));
    }
}

TEST_F(PemoBinaryTest, DateLogNamesEachRunsLogByItsStartTime) {
    WriteJob("");
    auto datedLogs = [&] {
        int dated = 0;
        for (const auto& name : ListDirectory(work)) {
            dated += std::regex_match(name, std::regex("log20[0-9]{6}-[0-9]{6}\\.html"));
        }
        return dated;
    };
    Outcome run = Run({"-datelog"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(datedLogs(), 1);
    // A run in another second gets a file of its own.
    usleep(1100 * 1000);
    EXPECT_EQ(Run({"-datelog"}).status, 0);
    EXPECT_EQ(datedLogs(), 2);
    EXPECT_FALSE(FileExists(work + "/log.html"));
}

TEST_F(PemoBinaryTest, AMissingJobFileIsReportedAndTheEmptyRunStillLogged) {
    Outcome run = Run();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("pemo: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(job), std::string::npos) << run.err;
    EXPECT_TRUE(FileExists(work + "/log.html"));
    EXPECT_EQ(Fields(Lines(ReadFileBytes(work + "/summary.log")).back())[1], "**all**");
    EXPECT_FALSE(FileExists(job)) << "an empty run saves no job";
}

TEST_F(PemoBinaryTest, AnEmptyJobRunsCleanlyAndStaysEmpty) {
    WriteJob("");
    Outcome run = Run();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFileBytes(job), "");
    const auto f = Fields(Lines(ReadFileBytes(work + "/summary.log")).back());
    ASSERT_EQ(f.size(), 20u);
    EXPECT_EQ(f[8] + f[9] + f[10] + f[11] + f[12] + f[13] + f[14], "0000000");
}

TEST_F(PemoBinaryTest, TasksWithEmptyPathsAreErrorsAndTouchNothing) {
    WriteTree(dir / "dst", {{"keep.txt", "keep"}});
    WriteJob(JobLineFor("NoSource", "", dir / "dst") + JobLineFor("NoDestination", dir / "dst", ""));
    Outcome run = Run();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Tree(dir / "dst"), (std::map<std::string, std::string>{{"keep.txt", "keep"}}));
}

TEST_F(PemoBinaryTest, AReadOnlyDestinationCountsErrorsAndLosesNothing) {
    WriteTree(dir / "src", {{"a.txt", "new content"}, {"b.txt", "b"}});
    WriteTree(dir / "dst", {{"a.txt", "old"}, {"extra.txt", "only here"}});
    WriteJob(JobLineFor("ReadOnly", dir / "src", dir / "dst"));
    OpenTree();
    chmod(work.c_str(), 0777);
    chmod(job.c_str(), 0666);
    // dst stays owned by root with mode 0755: to the unprivileged run it is read-only.
    Outcome run = Run({}, true);
    ASSERT_NE(run.status, -1);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(Tree(dir / "dst"), (std::map<std::string, std::string>{{"a.txt", "old"}, {"extra.txt", "only here"}}));
    const auto f = Fields(Lines(ReadFileBytes(work + "/summary.log")).back());
    EXPECT_EQ(f[14], "3") << "two failed copies and one failed deletion";
}

TEST_F(PemoBinaryTest, AJobFileThatCannotBeSavedIsReportedAfterTheMirror) {
    WriteTree(dir / "src", {{"a.txt", "a"}});
    MakeDirectories(dir / "jobs");
    const std::string lockedJob = dir / "jobs/locked.job";
    WriteFileBytes(lockedJob, JobLineFor("T", dir / "src", dir / "dst"));
    OpenTree();
    chmod(work.c_str(), 0777);
    MakeDirectories(dir / "dst");
    chmod((dir / "dst").c_str(), 0777);
    // jobs/ and the job file stay root's: the unprivileged run can read but not replace it.
    Outcome run = RunPemo({"-auto", "-file", lockedJob}, work, dir.Path(), true);
    EXPECT_EQ(run.status, 0) << "the mirror is whole: " << run.err;
    EXPECT_EQ(run.err.rfind("pemo: Error saving " + lockedJob, 0), 0u) << run.err;
    EXPECT_EQ(run.err.find("pemo: Error saving ", 1), std::string::npos) << "said once: " << run.err;
    EXPECT_EQ(ReadFileBytes(dir / "dst/a.txt"), "a");
    EXPECT_EQ(ReadFileBytes(lockedJob), JobLineFor("T", dir / "src", dir / "dst")) << "the old job survives";
}

TEST_F(PemoBinaryTest, UnwritableLogsAreReportedAndTheRunGoesOn) {
    WriteTree(dir / "src", {{"a.txt", "a"}});
    WriteJob(JobLineFor("T", dir / "src", dir / "dst"));
    OpenTree();
    chmod(job.c_str(), 0666);
    MakeDirectories(dir / "dst");
    chmod((dir / "dst").c_str(), 0777);
    MakeDirectories(dir / "jobdir");
    const std::string writableJob = dir / "jobdir/j.job";
    fs::rename(job, writableJob);
    chmod((dir / "jobdir").c_str(), 0777);
    // The current directory (work) is root's: log.html and summary.log cannot be created.
    Outcome run = RunPemo({"-auto", "-file", writableJob}, work, dir.Path(), true);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("pemo: Error opening logfile:\n\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("pemo: Error writing to summary:\n\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("pemo: Error closing logfile:\n\n"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFileBytes(dir / "dst/a.txt"), "a");
    EXPECT_FALSE(FileExists(work + "/log.html"));
    TaskList tasks;
    std::string path;
    RecordingMessagePort messages;
    ASSERT_TRUE(LoadJob(writableJob, tasks, path, messages, NativeFileSystem()));
    EXPECT_GT(tasks[0]->lastRun, 0) << "the job is still saved";
}

class PemoSignalTest : public PemoBinaryTest, public ::testing::WithParamInterface<int> {};

// SIGHUP (a closed terminal or ssh session) must not kill the program with log.html unclosed, no
// summary line and a temporary file left in the destination.
TEST_P(PemoSignalTest, ASignalStopsTheRunWhichStillEndsItsLogsAndSavesTheJob) {
    MakeDirectories(dir / "src");
    for (int i = 0; i < 3000; ++i) {
        WriteFileBytes(dir / ("src/f" + std::to_string(i)), std::string(100, 'x'));
    }
    WriteJob(JobLineFor("Big", dir / "src", dir / "dst"));
    const std::string first = dir / "dst";
    Outcome run = RunPemo(
        {"-auto", "-file", job}, work, dir.Path(), false,
        [&] {
            std::error_code ec;
            return fs::directory_iterator(first, ec) != fs::directory_iterator();
        },
        GetParam());
    ASSERT_EQ(run.status, 1) << "a stopped backup is not a success";
    EXPECT_NE(run.err.find("pemo: stopped by SIG" + std::string(sigabbrev_np(GetParam())) + "; log: log.html\n"),
              std::string::npos)
        << run.err;
    const std::string log = AsciiOfUtf16(ReadFileBytes(work + "/log.html"));
    EXPECT_NE(log.find("<B>Job stopped at user request at "), std::string::npos);
    EXPECT_NE(log.find("</BODY></HTML>\r\n"), std::string::npos);
    EXPECT_EQ(Lines(ReadFileBytes(work + "/summary.log")).size(), 1u);
    EXPECT_LT(ListDirectory(dir / "dst").size(), 3000u);
    for (const auto& name : ListDirectory(dir / "dst")) {
        EXPECT_EQ(name.rfind('f', 0), 0u) << "no temporary file left behind: " << name;
    }
    TaskList tasks;
    std::string path;
    RecordingMessagePort messages;
    ASSERT_TRUE(LoadJob(job, tasks, path, messages, NativeFileSystem()));
    EXPECT_EQ(tasks[0]->lastRun, -1) << "a stopped task was not brought up to date";
}

INSTANTIATE_TEST_SUITE_P(Signals, PemoSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

// ---- What cron sees ----

TEST_F(PemoBinaryTest, EveryRedLineOfAnUnattendedRunIsAlsoOnStderr) {
    MakeDirectories(dir / "dst");
    WriteJob(JobLineFor("Unplugged", dir / "no-such-drive", dir / "dst") +
             JobLineFor("Drive", dir / "dst", "?/elsewhere"));
    Outcome run = Run();
    EXPECT_EQ(run.status, 1);
    const std::string log = AsciiOfUtf16(ReadFileBytes(work + "/log.html"));
    std::vector<std::string> red;
    const std::string open = "<FONT COLOR=RED>";
    for (std::size_t at = log.find(open); at != std::string::npos; at = log.find(open, at + 1)) {
        const std::size_t start = at + open.size();
        std::string text = log.substr(start, log.find("</FONT>", start) - start);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        red.push_back(text);
    }
    ASSERT_EQ(red.size(), 2u) << log;
    EXPECT_EQ(run.err, "pemo: cannot read source " + dir / "no-such-drive" +
                           ": No such file or directory\n"
                           "pemo: Not running \"Drive\" - no destination drive letter specified\n"
                           "pemo: 0 new, 0 changed, 0 deleted, 1 error; log: log.html\n");
}

// ---- The command line ----

TEST_F(PemoBinaryTest, HelpAndVersionPrintOnStdoutWithoutADisplayAndRunNothing) {
    WriteTree(dir / "src", {{"a.txt", "a"}});
    WriteJob(JobLineFor("T", dir / "src", dir / "dst"));
    const std::vector<std::vector<std::string>> helps = {
        {"--help"}, {"-h"}, {"-?"}, {"-auto", "-file", job, "--help"}, {"-auto", "--bogus", "-h"}};
    for (const auto& args : helps) {
        Outcome run = RunPemo(args, work, dir.Path());
        EXPECT_EQ(run.status, 0) << args.back();
        EXPECT_EQ(run.err, "") << args.back();
        for (const char* line : {"-file JOB", "-auto", "-fakeit", "-maxdelete:N", "-letter:X", "--version"}) {
            EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
        }
    }
    Outcome version = RunPemo({"--version"}, work, dir.Path());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Pemo v3.00\n");
    EXPECT_FALSE(FileExists(dir / "dst"));
    EXPECT_FALSE(FileExists(work + "/log.html"));
    EXPECT_FALSE(FileExists(work + "/summary.log"));
}

TEST_F(PemoBinaryTest, UnknownSwitchesAreRefusedBeforeAnythingRuns) {
    WriteTree(dir / "src", {{"a.txt", "a"}});
    WriteTree(dir / "dst", {{"only-here.txt", "precious"}});
    WriteJob(JobLineFor("T", dir / "src", dir / "dst"));
    const std::string jobBefore = ReadFileBytes(job);
    // None of these may run a real mirror, which would delete only-here.txt.
    for (const std::string bad : {"--dry-run", "-dryrun", "-n", "-Auto", "-autox", "-letter:EF",
                                  "-letter:", "-maxdelete:", "-maxdelete:-1", "-maxdelete:ten", "-file:", "--", "-"}) {
        Outcome run = Run({bad});
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_NE(run.err.find("\"" + bad + "\""), std::string::npos) << bad << ": " << run.err;
        EXPECT_NE(run.err.find("pemo --help"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("pemo: ", 0), 0u) << run.err;
        EXPECT_EQ(run.out, "");
    }
    // -file as the last argument names no job; it must not fall back to default.job.
    Outcome noJob = RunPemo({"-auto", "-file"}, work, dir.Path());
    EXPECT_EQ(noJob.status, 2);
    EXPECT_NE(noJob.err.find("-file"), std::string::npos) << noJob.err;
    EXPECT_EQ(Tree(dir / "dst"), (std::map<std::string, std::string>{{"only-here.txt", "precious"}}));
    EXPECT_FALSE(FileExists(work + "/log.html"));
    EXPECT_FALSE(FileExists(work + "/summary.log"));
    EXPECT_EQ(ReadFileBytes(job), jobBefore);
}

TEST_F(PemoBinaryTest, KnownSwitchesWorkAndAJobPathIsOnlyAPath) {
    WriteTree(dir / "src", {{"a.txt", "a"}});
    // A directory named like a switch: the path must not turn -datelog on.
    MakeDirectories(dir / "x-datelog");
    const std::string oddJob = dir / "x-datelog/j.job";
    WriteFileBytes(oddJob, JobLineFor("T", dir / "src", "?" + (dir / "dst")));
    Outcome run = RunPemo({"-auto", "-noballoon", "-letter:/", "-maxdelete:10", "-file", oddJob}, work, dir.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(FileExists(work + "/log.html")) << "the path's -datelog is not a switch";
    EXPECT_EQ(ReadFileBytes(dir / "dst/a.txt"), "a") << "the drive letter replaced the leading ?";
    // The colon form of -file, and -datelog given as a switch.
    fs::remove(work + "/log.html");
    Outcome colon = RunPemo({"-datelog", "-auto", "-file:" + oddJob, "-letter:/"}, work, dir.Path());
    EXPECT_EQ(colon.status, 0) << colon.err;
    EXPECT_FALSE(FileExists(work + "/log.html"));
    EXPECT_EQ(ListDirectory(work).size(), 2u) << "a dated log and summary.log";
}

TEST_F(PemoBinaryTest, FakeItReportsTheRunAndChangesNothingButItsLogs) {
    WriteTree(dir / "src", {{"new.txt", "new"}, {"changed.txt", "changed, longer"}, {"sub/deep.txt", "deep"}});
    WriteTree(dir / "dst", {{"changed.txt", "old"}, {"extra.txt", "extra"}, {"extra-dir/x", "x"}});
    WriteJob(JobLineFor("T", dir / "src", dir / "dst"));
    const std::string jobBefore = ReadFileBytes(job);
    const auto dstBefore = Tree(dir / "dst");
    Outcome run = Run({"-fakeit"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Tree(dir / "dst"), dstBefore);
    EXPECT_EQ(ReadFileBytes(job), jobBefore) << "no last-run time is stamped";
    const std::string log = AsciiOfUtf16(ReadFileBytes(work + "/log.html"));
    EXPECT_NE(log.find("<B>Starting task \"T\" *** in 'fake it' mode ***</B>"), std::string::npos) << log;
    const auto f = Fields(Lines(ReadFileBytes(work + "/summary.log")).back());
    EXPECT_EQ(f[8], "1") << "changed, as a real run would count it";
    EXPECT_EQ(f[12], "2") << "new";
    EXPECT_EQ(f[14], "0") << "errors";
    EXPECT_EQ(run.out, "") << "no TTY, no -verbose";

    Outcome verbose = Run({"-fakeit", "-verbose"});
    EXPECT_EQ(verbose.out, "- extra.txt\n- extra-dir/\n> changed.txt\n+ new.txt\n+ sub/deep.txt\n"
                           "2 new, 1 changed, 2 deleted, 0 errors; log: log.html\n");
    EXPECT_EQ(Run({"-fakeit", "-quiet"}).out, "");
}

// ---- One run of a job at a time ----

// The process that holds an flock on the file at path, 0 when none does (from /proc/locks, which
// shows the locks without taking one).
pid_t FlockHolder(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return 0;
    }
    const std::string inode = ":" + std::to_string(st.st_ino) + " ";
    const std::string locks = ReadFileBytes("/proc/locks");
    std::size_t start = 0;
    for (std::size_t end; (end = locks.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = locks.substr(start, end - start);
        if (line.find("FLOCK") != std::string::npos && line.find(inode) != std::string::npos) {
            return std::atoi(line.c_str() + line.find("WRITE") + 5);
        }
    }
    return 0;
}

TEST_F(PemoBinaryTest, ARunOfAJobThatAnotherProcessRunsIsRefusedUntilThatProcessDies) {
    WriteTree(dir / "src", {{"a.txt", "a"}});
    WriteJob(JobLineFor("T", dir / "src", dir / "dst"));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        CJobLock lock(NativeFileSystem());
        // Another name of the same job: the lock follows the file, not the spelling.
        const bool taken = lock.TryLock(work + "/../work/nightly.job");
        const char byte = taken ? '1' : '0';
        [[maybe_unused]] ssize_t written = write(ready[1], &byte, 1);
        pause();
        _exit(0);
    }
    ASSERT_GT(holder, 0);
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    EXPECT_EQ(byte, '1');

    Outcome refused = Run();
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "pemo: " + job + " is already being run\n");
    EXPECT_FALSE(FileExists(dir / "dst"));
    EXPECT_FALSE(FileExists(work + "/log.html"));
    EXPECT_FALSE(FileExists(work + "/summary.log"));

    // A crash of the holder leaves nothing to clean up.
    kill(holder, SIGKILL);
    int status = 0;
    waitpid(holder, &status, 0);
    Outcome after = Run();
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(ReadFileBytes(dir / "dst/a.txt"), "a");
}

TEST_F(PemoBinaryTest, TwoUnattendedRunsOfOneJobNeverRunTogether) {
    MakeDirectories(dir / "src");
    for (int i = 0; i < 300; ++i) {
        WriteFileBytes(dir / ("src/f" + std::to_string(i)), "x");
    }
    WriteJob(JobLineFor("T", dir / "src", dir / "dst"));
    // The first run is stopped as soon as it holds its lock.
    Outcome second;
    bool secondRan = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    Outcome first = RunPemo(
        {"-auto", "-file", job}, work, dir.Path(), false,
        [&] {
            if (FlockHolder(JobLockPath(job, NativeFileSystem())) <= 0 ||
                kill(FlockHolder(JobLockPath(job, NativeFileSystem())), SIGSTOP) != 0) {
                return std::chrono::steady_clock::now() > giveUp; // a run that never locks
            }
            second = RunPemo({"-auto", "-file", job}, work, dir.Path() + "/config");
            secondRan = true;
            return true;
        },
        SIGKILL);
    ASSERT_TRUE(secondRan);
    EXPECT_EQ(first.status, -1) << "killed while it held the lock";
    EXPECT_EQ(second.status, 2);
    EXPECT_EQ(second.err, "pemo: " + job + " is already being run\n");
    EXPECT_FALSE(FileExists(work + "/summary.log"));

    Outcome third = Run();
    EXPECT_EQ(third.status, 0) << third.err;
    EXPECT_EQ(ReadFileBytes(dir / "dst/f299"), "x");
}

// Any user who could read the lock held every run of the job off, and a lock planted by another
// user was taken as it stood.
TEST_F(PemoBinaryTest, TheLockIsTheRunnersAlone) {
    WriteJob("");
    OpenTree();
    ASSERT_EQ(Run().status, 0);
    const std::string lock = JobLockPath(job, NativeFileSystem());
    EXPECT_EQ(RunAsNobody([&] { return open(lock.c_str(), O_RDONLY) < 0 ? 0 : 1; }), 0) << "others cannot open it";
    ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0);
    Outcome refused = Run();
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "pemo: " + lock + " is not a lock file of this user's\n");
}

// log.html planted as a link to a file of root's was overwritten by root's run; a fifo as the job
// or pemo.ini held the run for ever.
TEST_F(PemoBinaryTest, ItsOwnFilesAreNeverLinksOrFifos) {
    WriteTree(dir / "src", {{"a.txt", "a"}});
    WriteJob(JobLineFor("T", dir / "src", dir / "dst"));
    WriteFileBytes(work + "/pemo.ini", "debug=1\n");
    for (const char* name : {"log.html", "summary.log", "debug.log"}) {
        WriteFileBytes(dir / name, "victim");
        fs::create_symlink(dir / name, work + "/" + name);
    }
    EXPECT_EQ(Run().status, 1);
    for (const char* name : {"log.html", "summary.log", "debug.log"}) {
        EXPECT_EQ(ReadFileBytes(dir / name), "victim") << name;
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (const std::string& fifo : {job, work + "/pemo.ini"}) {
        fs::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
        Outcome run = RunPemo(
            {"-auto", "-file", job}, work, dir.Path(), false, [&] { return std::chrono::steady_clock::now() > giveUp; },
            SIGKILL);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(fs::path(fifo).filename().string() + " is not a regular file."), std::string::npos);
        fs::remove(fifo);
        WriteJob("");
    }
}

// ---- Settings ----

// An unattended run must not rewrite a store holding a window size at close: that would lose
// comments, turn the 8-bit file to UTF-16, and make a clean run fail on a read-only pemo.ini.
TEST_F(PemoBinaryTest, AnUnattendedRunLeavesTheSettingsStoreAsItIs) {
    WriteJob("");
    const std::string ini = "; kept by hand\nwidth=900\nheight=700\ndebug=0\n";
    WriteFileBytes(work + "/pemo.ini", ini);
    Outcome run = Run();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFileBytes(work + "/pemo.ini"), ini);

    const std::string conf = dir / "config/Vexal/pemo.conf";
    MakeDirectories(dir / "config/Vexal");
    WriteFileBytes(conf, "# mine\nwidth=640\nheight=480\n");
    fs::remove(work + "/pemo.ini");
    EXPECT_EQ(Run().status, 0);
    EXPECT_EQ(ReadFileBytes(conf), "# mine\nwidth=640\nheight=480\n");
}

} // namespace

namespace {

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(PemoBinaryTest, AnEmptySourceEmptiesNoDestinationUnlessTheGuardIsOff) {
    MakeDirectories(dir / "unmounted");
    WriteTree(dir / "dst1", {{"photos/p1.jpg", "p1"}, {"notes.txt", "n"}});
    WriteTree(dir / "src2", {{"b.txt", "bravo"}});
    WriteJob(JobLineFor("Unmounted", dir / "unmounted", dir / "dst1") + JobLineFor("Next", dir / "src2", dir / "dst2"));
    const auto before = Tree(dir / "dst1");
    Outcome guarded = Run();
    EXPECT_EQ(guarded.status, 1) << guarded.err;
    EXPECT_EQ(Tree(dir / "dst1"), before);
    EXPECT_EQ(Tree(dir / "dst2"), Tree(dir / "src2")) << "the run goes on with the next task";
    const std::string log = AsciiOfUtf16(ReadFileBytes(work + "/log.html"));
    EXPECT_TRUE(Has(log, "<FONT COLOR=RED>Not deleting anything in " + (dir / "dst1") + ": the source " +
                             (dir / "unmounted") + " is empty (is it mounted?)</FONT>"))
        << log;
    auto f = Fields(Lines(ReadFileBytes(work + "/summary.log")).back());
    EXPECT_EQ(f[10], "0") << "deleted";
    EXPECT_EQ(f[14], "1") << "errors";

    // Turned off in the settings, the empty source is mirrored as it is.
    WriteFileBytes(work + "/pemo.ini", "emptyguard=0\r\n");
    Outcome unguarded = Run();
    EXPECT_EQ(unguarded.status, 0) << unguarded.err;
    EXPECT_TRUE(ListDirectory(dir / "dst1").empty());
    f = Fields(Lines(ReadFileBytes(work + "/summary.log")).back());
    EXPECT_EQ(f[10], "2") << "deleted";
}

TEST_F(PemoBinaryTest, MaxDeleteHoldsBackEveryDeletionPastTheLimit) {
    WriteTree(dir / "src", {{"kept.txt", "k"}});
    WriteTree(dir / "dst", {{"kept.txt", "k"}, {"x1", "1"}, {"x2", "2"}, {"x3", "3"}, {"x4", "4"}, {"x5", "5"}});
    WriteJob(JobLineFor("Limited", dir / "src", dir / "dst"));
    Outcome run = Run({"-maxdelete:2"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(ListDirectory(dir / "dst").size(), 1u + 3u);
    const auto f = Fields(Lines(ReadFileBytes(work + "/summary.log")).back());
    EXPECT_EQ(f[10], "2") << "deleted";
    EXPECT_EQ(f[13], "3") << "saved";
    EXPECT_EQ(f[14], "1") << "errors";
    const std::string log = AsciiOfUtf16(ReadFileBytes(work + "/log.html"));
    EXPECT_TRUE(Has(log, "<FONT COLOR=RED>Deletion limit of 2 reached: nothing more is deleted in this run</FONT>"))
        << log;
    int held = 0;
    for (std::size_t at = log.find("(deletion limit)</FONT>"); at != std::string::npos;
         at = log.find("(deletion limit)</FONT>", at + 1)) {
        ++held;
    }
    EXPECT_EQ(held, 3) << log;
    EXPECT_TRUE(Has(log, "<FONT COLOR=PURPLE>Not deleting " + (dir / "dst/x"))) << log;

    // Without the switch the next run deletes the rest.
    Outcome unlimited = Run();
    EXPECT_EQ(unlimited.status, 0) << unlimited.err;
    EXPECT_EQ(ListDirectory(dir / "dst"), std::vector<std::string>{"kept.txt"});
}

TEST_F(PemoBinaryTest, AMaxDeleteThatIsNoWholeNumberIsRefusedBeforeAnythingRuns) {
    WriteTree(dir / "src", {{"kept.txt", "k"}});
    WriteTree(dir / "dst", {{"extra", "e"}});
    WriteJob(JobLineFor("Limited", dir / "src", dir / "dst"));
    for (const std::string value : {"-maxdelete:ten", "-maxdelete:-1", "-maxdelete:"}) {
        Outcome run = Run({value});
        EXPECT_EQ(run.status, 2) << value;
        EXPECT_TRUE(Has(run.err, "pemo: -maxdelete needs a whole number of files")) << run.err;
        EXPECT_EQ(ListDirectory(dir / "dst"), std::vector<std::string>{"extra"});
        EXPECT_FALSE(FileExists(work + "/log.html"));
    }
}

TEST_F(PemoBinaryTest, UndoPutsTheNamedTasksDestinationBackAsItWasBeforeItsLastRun) {
    WriteTree(dir / "src", {{"a.txt", "new"}, {"added/b.txt", "b"}});
    WriteTree(dir / "dst", {{"a.txt", "old"}, {"gone.txt", "gone"}});
    WriteJob(JobLineFor("Kept", dir / "src", dir / "dst", "", 30));
    auto mirror = [&] {
        auto tree = Tree(dir / "dst");
        std::erase_if(tree, [](const auto& entry) { return entry.first.rfind(".pemo-versions", 0) == 0; });
        return tree;
    };
    const auto before = mirror();
    ASSERT_EQ(Run().status, 0);
    const auto ran = Tree(dir / "dst");

    Outcome faked = Run({"-undo", "-fakeit"});
    EXPECT_EQ(faked.status, 0) << faked.err;
    EXPECT_TRUE(Has(faked.out, "Restored " + (dir / "dst/gone.txt"))) << faked.out;
    EXPECT_EQ(Tree(dir / "dst"), ran);
    Outcome unknown = Run({"-undo", "-task:Other"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(Has(unknown.err, "has no task \"Other\"")) << unknown.err;
    EXPECT_EQ(RunPemo({"-undo", "-file", job}, work, dir.Path()).status, 2) << "never without -auto";
    EXPECT_EQ(Run({"-task:Kept"}).status, 2) << "-task: belongs to -undo";
    EXPECT_EQ(Tree(dir / "dst"), ran);

    Outcome undone = Run({"-undo", "-task:Kept"});
    EXPECT_EQ(undone.status, 0) << undone.err;
    EXPECT_EQ(mirror(), before);
    // The trail a run leaves: its log, named on the closing line, and a summary line.
    EXPECT_TRUE(Has(undone.out, "0 errors; log: log.html")) << undone.out;
    EXPECT_NE(AsciiOfUtf16(ReadFileBytes(work + "/log.html")).find("Undoing the last run of task"), std::string::npos);
    const std::string summary = ReadFileBytes(work + "/summary.log");
    EXPECT_NE(summary.find(",undo Kept,"), std::string::npos) << summary;

    // What the undo took away comes back from its own folder, into another one on request.
    const std::string versions = dir / "dst/.pemo-versions";
    std::string undoFolder;
    for (const auto& entry : fs::directory_iterator(versions)) {
        undoFolder = std::max(undoFolder, entry.path().filename().string());
    }
    Outcome listed = Run({"-restore", dir / "src/added", "-quiet"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    Outcome restored = Run({"-restore", "added", "-task:Kept", "-at", undoFolder, "-to", dir.Path()});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(ReadFileBytes(dir / "added/b.txt"), "b");
    EXPECT_EQ(Run({"-restore", "added", "-task:Kept", "-at", undoFolder, "-to", dir.Path()}).status, 1);
}

// A manifest that someone who may write the destination swapped for a fifo would hold the undo
// for ever: it is refused at once, and the system's text ends the line without an escape.
TEST_F(PemoBinaryTest, UndoRefusesAManifestThatIsNoPlainFileInOneLine) {
    WriteTree(dir / "src", {{"a.txt", "a"}});
    WriteJob(JobLineFor("Kept", dir / "src", dir / "dst", "", 30));
    ASSERT_EQ(Run().status, 0);
    for (const auto& run : fs::directory_iterator(dir / "dst/.pemo-versions")) {
        fs::remove(run.path() / ".pemo-manifest");
        ASSERT_EQ(::mkfifo((run.path() / ".pemo-manifest").c_str(), 0600), 0);
    }
    Outcome undone = Run({"-undo", "-quiet"});
    EXPECT_EQ(undone.status, 1);
    EXPECT_TRUE(Has(undone.err, ".pemo-manifest with error")) << undone.err;
    EXPECT_EQ(undone.err.find("\\n"), std::string::npos) << undone.err;
    EXPECT_TRUE(FileExists(dir / "dst/a.txt"));
}

} // namespace
