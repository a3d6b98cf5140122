// Tests of LoadJob and SaveJob on real job files: the exact bytes written, the reading rules,
// bad input, and failures that must leave the old job intact.
#include "model/job_file.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "model/stdio_file_ex.h"
#include "support/eight_bit.h"
#include "support/recording_message_port.h"
#include "support/temp_dir.h"

namespace {

std::string Utf16(const std::string& utf8) {
    return Utf8ToUtf16Le(utf8);
}

const char* const kPhotosLine = "<NAME>Photos<SRC>C:\\Photos<DST>?:\\Backup\\Photos<EXC>*.tmp<ENA>1<SAFEMODE>0"
                                "<RECURSE>1<CHECKOPEN>0<LASTRUN>-1<FAKEIT>0<RENAME>0<EXCLUDEHIDDEN>0"
                                "<EXCLUDESYSTEM>0<EXCLUDEHIDDENDIRS>0<EXCLUDESYSTEMDIRS>0<ONLYIFNEWER>0"
                                "<COLOUR>16777215<ONEHOUR>0\n";

Task Photos() {
    Task t;
    t.name = "Photos";
    t.source = "C:\\Photos";
    t.destination = "?:\\Backup\\Photos";
    t.exclusions = "*.tmp";
    return t;
}

Task Unusual() {
    Task t;
    t.name = "Caf\xC3\xA9 \xF0\x9F\x93\xB7 >x";
    t.source = "/home/u/src";
    t.destination = "";
    t.exclusions = ";a;;b\\c;";
    t.enabled = false;
    t.recurse = false;
    t.safeMode = t.checkOpen = t.fakeIt = t.excludeHidden = t.excludeSystem = true;
    t.onlyIfNewer = t.rename = t.excludeSystemDirs = t.excludeHiddenDirs = t.oneHour = true;
    t.lastRun = 1733650000;
    t.colour = 0x00123456;
    return t;
}

TaskList ListOf(std::initializer_list<Task> tasks) {
    TaskList list;
    for (const Task& t : tasks) {
        list.push_back(std::make_unique<Task>(t));
    }
    return list;
}

struct Loaded {
    bool ok = false;
    TaskList tasks;
    std::string jobPath = "old.job";
    std::vector<std::string> messages;
};

Loaded Load(const std::string& path) {
    Loaded result;
    RecordingMessagePort port;
    result.tasks = ListOf({Task()}); // replaced whatever happens
    result.ok = LoadJob(path, result.tasks, result.jobPath, port, NativeFileSystem());
    result.messages = port.Messages();
    return result;
}

TEST(JobFile, SavedBytesAreExactAndRoundTrip) {
    TempDir dir;
    const std::string path = dir / "a.job";
    RecordingMessagePort port;
    std::string jobPath;
    const TaskList tasks = ListOf({Photos(), Unusual()});
    ASSERT_TRUE(SaveJob(path, tasks, jobPath, port, NativeFileSystem()));
    EXPECT_EQ(jobPath, path);
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes, "\xFF\xFE" + Utf16(kPhotosLine) + Utf16(JobLine(Unusual())));
    EXPECT_EQ(bytes.compare(0, 2, "\xFF\xFE"), 0);
    EXPECT_EQ(bytes.find("\xFF\xFE", 2), std::string::npos);

    Loaded loaded = Load(path);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.jobPath, path);
    ASSERT_EQ(loaded.tasks.size(), 2u);
    EXPECT_EQ(*loaded.tasks[0], Photos());
    EXPECT_EQ(*loaded.tasks[1], Unusual());
    // Saving what was loaded gives the same bytes again.
    ASSERT_TRUE(SaveJob(path, loaded.tasks, jobPath, port, NativeFileSystem()));
    EXPECT_EQ(ReadFileBytes(path), bytes);
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"a.job"}); // no temporary left
    EXPECT_TRUE(port.Messages().empty());
}

TEST(JobFile, EmptyJobIsAZeroByteFile) {
    TempDir dir;
    const std::string path = dir / "empty.job";
    WriteFileBytes(path, "old content");
    RecordingMessagePort port;
    std::string jobPath;
    ASSERT_TRUE(SaveJob(path, TaskList(), jobPath, port, NativeFileSystem()));
    EXPECT_EQ(ReadFileBytes(path), "");
    Loaded loaded = Load(path);
    EXPECT_TRUE(loaded.ok);
    EXPECT_TRUE(loaded.tasks.empty());
    EXPECT_EQ(loaded.jobPath, path);
}

TEST(JobFile, ReadingRules) {
    TempDir dir;
    const std::string path = dir / "rules.job";
    WriteFileBytes(path, "\xFF\xFE" + Utf16("<NAME>x\n"
                                            "<name>lower<ena>0<Recurse>0<colour>255<lastrun>abc\n"
                                            "<ENA>yes<SAFEMODE>1<NAME>first<NAME>second<WHAT>ever<LASTRUN>  -5s\n"
                                            "\n"
                                            " <NAME>indented\n"
                                            "# comment\n"
                                            "<NAME>a>b<ENA>1<FAKEIT>true<COLOUR>-1\n"));
    Loaded loaded = Load(path);
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.tasks.size(), 4u);
    Task x;
    x.name = "x";
    EXPECT_EQ(*loaded.tasks[0], x); // every other field at its default
    EXPECT_EQ(loaded.tasks[1]->name, "lower");
    EXPECT_FALSE(loaded.tasks[1]->enabled);
    EXPECT_FALSE(loaded.tasks[1]->recurse);
    EXPECT_EQ(loaded.tasks[1]->colour, 0x000000FFu);
    EXPECT_EQ(loaded.tasks[1]->lastRun, 0);
    EXPECT_FALSE(loaded.tasks[2]->enabled);
    EXPECT_TRUE(loaded.tasks[2]->safeMode);
    EXPECT_EQ(loaded.tasks[2]->name, "second");
    EXPECT_EQ(loaded.tasks[2]->lastRun, -5);
    EXPECT_EQ(loaded.tasks[3]->name, "a>b");
    EXPECT_TRUE(loaded.tasks[3]->enabled);
    EXPECT_FALSE(loaded.tasks[3]->fakeIt);
    EXPECT_EQ(loaded.tasks[3]->colour, 0xFFFFFFFFu);
}

TEST(JobFile, AnsiWithCrLfLoadsLikeUtf16) {
    TempDir dir;
    RecordingMessagePort port;
    std::string jobPath;
    const TaskList tasks = ListOf({Photos(), Unusual()});
#ifdef _WIN32
    tasks[1]->name = "Caf\xC3\xA9 >x"; // no ANSI code page holds the emoji
#endif
    ASSERT_TRUE(SaveJob(dir / "u.job", tasks, jobPath, port, NativeFileSystem()));
    std::string ansi;
    for (const auto& t : tasks) {
        std::string line = JobLine(*t);
        line.insert(line.size() - 1, "\r");
        ansi += line;
    }
    WriteFileBytes(dir / "a.job", EightBit(ansi));
    Loaded fromUtf16 = Load(dir / "u.job");
    Loaded fromAnsi = Load(dir / "a.job");
    ASSERT_EQ(fromAnsi.tasks.size(), 2u);
    ASSERT_EQ(fromUtf16.tasks.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(*fromAnsi.tasks[i], *fromUtf16.tasks[i]);
    }
}

TEST(JobFile, Utf8WithAByteOrderMarkKeepsItsFirstTask) {
    TempDir dir;
    const std::string path = dir / "bom.job";
    WriteFileBytes(path, "\xEF\xBB\xBF" + JobLine(Photos()) + JobLine(Unusual()));
    Loaded loaded = Load(path);
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.tasks.size(), 2u);
    EXPECT_EQ(*loaded.tasks[0], Photos());
    EXPECT_EQ(*loaded.tasks[1], Unusual());
    // The next save keeps it: the file then holds both tasks as UTF-16.
    RecordingMessagePort port;
    std::string jobPath;
    ASSERT_TRUE(SaveJob(path, loaded.tasks, jobPath, port, NativeFileSystem()));
    EXPECT_EQ(ReadFileBytes(path), "\xFF\xFE" + Utf16(kPhotosLine) + Utf16(JobLine(Unusual())));
    // Only a mark at the very start is dropped.
    WriteFileBytes(path, JobLine(Photos()) + "\xEF\xBB\xBF" + JobLine(Unusual()));
    EXPECT_EQ(Load(path).tasks.size(), 1u);
}

TEST(JobFile, LessThanWithoutGreaterThanEndsTheLine) {
    TempDir dir;
    WriteFileBytes(dir / "a.job", "<NAME>a<b<SRC>s\n<NAME>next<\n<\n<NAME>c<ENA>0<DST\n");
    Loaded loaded = Load(dir / "a.job");
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.tasks.size(), 4u);
    EXPECT_EQ(loaded.tasks[0]->name, "a");
    EXPECT_EQ(loaded.tasks[0]->source, ""); // after the unmatched "<" nothing is read
    EXPECT_EQ(loaded.tasks[1]->name, "next");
    EXPECT_EQ(loaded.tasks[2]->name, "");
    EXPECT_EQ(loaded.tasks[3]->name, "c");
    EXPECT_FALSE(loaded.tasks[3]->enabled);
}

TEST(JobFile, MissingFileIsSilentAndKeepsJobPath) {
    TempDir dir;
    Loaded loaded = Load(dir / "none.job");
    EXPECT_FALSE(loaded.ok);
    EXPECT_TRUE(loaded.tasks.empty());
    EXPECT_EQ(loaded.jobPath, "old.job");
    EXPECT_TRUE(loaded.messages.empty());
}

#ifndef _WIN32
TEST(JobFile, UnreadableFileIsReported) {
    TempDir dir;
    Loaded loaded = Load(dir.Path());
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.jobPath, "old.job");
    ASSERT_EQ(loaded.messages.size(), 1u);
    EXPECT_EQ(loaded.messages[0], "Error reading " + dir.Path() + "\n\nAccess to " + dir.Path() + " was denied.");

    OpenToEveryone(dir.Path());
    const std::string locked = dir / "locked.job";
    WriteFileBytes(locked, "<NAME>x\n");
    chmod(locked.c_str(), 0600);
    const int status = RunAsNobody([&] {
        Loaded l = Load(locked);
        return !l.ok && l.messages.size() == 1 && l.messages[0].rfind("Error reading " + locked + "\n\n", 0) == 0 &&
                       l.jobPath == "old.job"
                   ? 0
                   : 1;
    });
    ASSERT_NE(status, -1);
    EXPECT_EQ(status, 0);
}
#endif

// Files no one would call a job: each loads without crashing or hanging, keeps what it can and
// is never written to.
TEST(JobFile, BadInputLoadsSafelyAndIsLeftAlone) {
    TempDir dir;
    std::mt19937 rng(7);
    std::string garbage(256 * 1024, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(rng());
    }
    const std::string longName(10 * 1024 * 1024, 'n');
    const std::pair<const char*, std::string> files[] = {
        {"garbage.job", garbage},
        {"garbage16.job", "\xFF\xFE" + garbage},
        {"truncated.job", "\xFF\xFE" + Utf16("<NAME>whole\n<NAME>half") + "\x3C"},
        {"bom.job", "\xFF\xFE"},
        {"long.job", "<NAME>" + longName + "<ENA>0\n<NAME>after\n"},
        {"badutf8.job", "<NAME>caf\xE9<SRC>\xC0\xAF\n<NAME>ok\n"},
        {"tags.job", "<NAME><SRC><DST><ENA><LASTRUN><COLOUR>\n"},
    };
    for (const auto& [name, bytes] : files) {
        WriteFileBytes(dir / name, bytes);
        Loaded loaded = Load(dir / name);
        EXPECT_TRUE(loaded.ok) << name;
        EXPECT_TRUE(loaded.messages.empty()) << name;
        EXPECT_EQ(ReadFileBytes(dir / name), bytes) << name;
    }
    Loaded truncated = Load(dir / "truncated.job");
    ASSERT_EQ(truncated.tasks.size(), 2u);
    EXPECT_EQ(truncated.tasks[1]->name, "half");
    EXPECT_TRUE(Load(dir / "bom.job").tasks.empty());
    Loaded longJob = Load(dir / "long.job");
    ASSERT_EQ(longJob.tasks.size(), 2u);
    EXPECT_EQ(longJob.tasks[0]->name, longName);
    EXPECT_FALSE(longJob.tasks[0]->enabled);
    Loaded badUtf8 = Load(dir / "badutf8.job");
    ASSERT_EQ(badUtf8.tasks.size(), 2u);
#ifdef _WIN32
    // A single-byte ANSI code page has a character for every byte.
    EXPECT_EQ(EightBit(badUtf8.tasks[0]->name), "caf\xE9");
#else
    EXPECT_EQ(badUtf8.tasks[0]->name, "caf\xEF\xBF\xBD");
#endif
    EXPECT_EQ(badUtf8.tasks[1]->name, "ok");
    Loaded tags = Load(dir / "tags.job");
    ASSERT_EQ(tags.tasks.size(), 1u);
    EXPECT_FALSE(tags.tasks[0]->enabled);
    EXPECT_EQ(tags.tasks[0]->lastRun, 0);
    EXPECT_EQ(tags.tasks[0]->colour, 0u);
}

#ifndef _WIN32
TEST(JobFile, FailedSaveReportsAndLeavesTheOldJob) {
    TempDir dir;
    RecordingMessagePort port;
    std::string jobPath = "before.job";
    const std::string nowhere = dir / "missing-dir/a.job";
    EXPECT_FALSE(SaveJob(nowhere, ListOf({Photos()}), jobPath, port, NativeFileSystem()));
    EXPECT_EQ(jobPath, "before.job");
    ASSERT_EQ(port.Messages().size(), 1u);
    EXPECT_EQ(port.Messages()[0], "Error saving " + nowhere + "\n\n" + nowhere + " was not found.");

    // A directory the user may not write to: the job there must survive untouched.
    OpenToEveryone(dir.Path());
    const std::string job = dir / "kept.job";
    WriteFileBytes(job, "\xFF\xFE" + Utf16(kPhotosLine));
    chmod(job.c_str(), 0666);
    const int status = RunAsNobody([&] {
        RecordingMessagePort p;
        std::string path = "before.job";
        const bool saved = SaveJob(job, ListOf({Unusual()}), path, p, NativeFileSystem());
        return !saved && path == "before.job" && p.Messages().size() == 1 ? 0 : 1;
    });
    ASSERT_NE(status, -1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFileBytes(job), "\xFF\xFE" + Utf16(kPhotosLine));
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"kept.job"});
}
#endif

#ifndef _WIN32
TEST(JobFile, SaveKeepsPermissionsAndSymbolicLinks) {
    TempDir dir;
    RecordingMessagePort port;
    std::string jobPath;
    const std::string real = dir / "real.job";
    WriteFileBytes(real, "");
    chmod(real.c_str(), 0640);
    ASSERT_EQ(symlink("real.job", (dir / "link.job").c_str()), 0);
    ASSERT_TRUE(SaveJob(dir / "link.job", ListOf({Photos()}), jobPath, port, NativeFileSystem()));
    struct stat st {};
    ASSERT_EQ(lstat((dir / "link.job").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(real), "\xFF\xFE" + Utf16(kPhotosLine));
    EXPECT_EQ(jobPath, dir / "link.job");
}
#endif

} // namespace

TEST(JobFile, OptionalTagsOnlyWhenSetAndRoundTrip) {
    Task task = Photos();
    EXPECT_EQ(JobLine(task), kPhotosLine) << "a task without versions keeps its line";
    task.versionDays = 30;
    EXPECT_EQ(JobLine(task), std::string(kPhotosLine).insert(std::string(kPhotosLine).size() - 1, "<VERSIONS>30"));
    task.versionCount = 5;
    task.mustBeMounted = true;
    task.linkPolicy = LinkPolicy::CopyTarget;
    EXPECT_NE(JobLine(task).find("<MOUNTED>1<LINKS>2\n"), std::string::npos);
    Task read;
    ParseJobLine(JobLine(task), read);
    EXPECT_EQ(read, task);
    Task off;
    ParseJobLine("<NAME>x<VERSIONS>0<VERSIONCOUNT>-3<MOUNTED>0<LINKS>7", off);
    EXPECT_FALSE(off.KeepsVersions());
    EXPECT_EQ(off.versionCount, 0);
    EXPECT_EQ(off.linkPolicy, LinkPolicy::Mirror);
    EXPECT_EQ(JobLine(off).find("<MOUNTED>"), std::string::npos);
}
