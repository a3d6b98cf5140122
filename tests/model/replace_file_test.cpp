// ReplaceFile: a write that fails part-way leaves the old file and no temporary behind, and the
// temporaries of killed saves are removed by the next save, never those of a live one.
#include "model/replace_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "support/temp_dir.h"

namespace {

TEST(ReplaceFile, FailurePartWayKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir / "job.job";
    WriteFileBytes(path, "old");
    EXPECT_THROW(ReplaceFile(
                     path, CStdioFileEx::modeWriteUnicode,
                     [](CStdioFileEx& file) {
                         file.WriteString("half of the new content");
                         throw CFileException(CFileException::Cause::diskFull, ENOSPC, "temp");
                     },
                     NativeFileSystem()),
                 CFileException);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"job.job"});
    try {
        ReplaceFile(
            path, 0, [](CStdioFileEx&) { throw CFileException(CFileException::Cause::diskFull, ENOSPC, "temp"); },
            NativeFileSystem());
    } catch (const CFileException& e) {
        EXPECT_EQ(e.fileName, path); // reported under the user's name, not the temporary's
    }
    ReplaceFile(
        path, 0, [](CStdioFileEx& file) { file.WriteString("new"); }, NativeFileSystem());
    EXPECT_EQ(ReadFileBytes(path), "new");
    EXPECT_EQ(ListDirectory(dir.Path()), std::vector<std::string>{"job.job"});
}

// Starts a save of path in a child that stops in the middle of writing: killed at once with
// kill, or waiting for a byte on release (then finishing) otherwise. Returns the child's PID.
pid_t StartSaveInChild(const std::string& path, bool kill, int release) {
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            ReplaceFile(
                path, 0,
                [&](CStdioFileEx& file) {
                    file.WriteString("half");
                    if (kill) {
                        ::_exit(0); // as a kill -9 would: no unwinding, no cleanup
                    }
                    char byte = 0;
                    (void)!::read(release, &byte, 1);
                    file.WriteString(" and the rest");
                },
                NativeFileSystem());
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    return child;
}

std::vector<std::string> Temporaries(const std::string& dir, const std::string& name) {
    std::vector<std::string> found;
    for (const std::string& entry : ListDirectory(dir)) {
        if (entry.rfind("." + name + ".pemo-save-", 0) == 0) {
            found.push_back(entry);
        }
    }
    return found;
}

bool Listed(const std::string& dir, const std::string& name) {
    const std::vector<std::string> names = ListDirectory(dir);
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(ReplaceFile, TheNextSaveRemovesTheTemporariesOfKilledSavesOnly) {
    TempDir dir;
    const std::string path = dir / "job.job";
    WriteFileBytes(path, "old");
    int status = 0;
    const pid_t killed = StartSaveInChild(path, true, -1);
    ASSERT_EQ(::waitpid(killed, &status, 0), killed);
    const std::vector<std::string> left = Temporaries(dir.Path(), "job.job");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind(".job.job.pemo-save-" + std::to_string(killed) + "-", 0), 0u) << left[0];
    EXPECT_EQ(left[0].substr(left[0].size() - 4), ".tmp");
    EXPECT_EQ(ReadFileBytes(path), "old");

    const std::string dead = std::to_string(killed);
    // Names that are not exactly a temporary of this file, or not a plain file of this user's.
    const std::vector<std::string> keep = {
        ".job.job.pemo-save-" + dead + "-0.tmp.bak", "job.job.pemo-save-" + dead + "-1.tmp",
        ".job.job.pemo-save-x" + dead + "-2.tmp",    ".job.job.pemo-save-" + dead + "-.tmp",
        ".other.job.pemo-save-" + dead + "-3.tmp",   ".job.job.pemo-tmp-" + dead + "-4",
    };
    for (const std::string& name : keep) {
        WriteFileBytes(dir / name, "user data");
    }
    ASSERT_EQ(::symlink(path.c_str(), (dir / (".job.job.pemo-save-" + dead + "-5.tmp")).c_str()), 0);
    ASSERT_EQ(::mkdir((dir / (".job.job.pemo-save-" + dead + "-6.tmp")).c_str(), 0700), 0);
    // A temporary of this live process, and a locked one whose PID looks gone (another PID space).
    const std::string ours = ".job.job.pemo-save-" + std::to_string(::getpid()) + "-99.tmp";
    WriteFileBytes(dir / ours, "live");
    const std::string lockedName = ".job.job.pemo-save-" + dead + "-7.tmp";
    WriteFileBytes(dir / lockedName, "live elsewhere");
    const int lockFd = ::open((dir / lockedName).c_str(), O_RDONLY);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);

    ReplaceFile(
        path, 0, [](CStdioFileEx& file) { file.WriteString("new"); }, NativeFileSystem());
    EXPECT_EQ(ReadFileBytes(path), "new");
    EXPECT_FALSE(Listed(dir.Path(), left[0])) << "the killed save's temporary is gone";
    for (const std::string& name : keep) {
        EXPECT_EQ(ReadFileBytes(dir / name), "user data") << name;
    }
    EXPECT_TRUE(Listed(dir.Path(), ".job.job.pemo-save-" + dead + "-5.tmp"));
    EXPECT_TRUE(Listed(dir.Path(), ".job.job.pemo-save-" + dead + "-6.tmp"));
    EXPECT_EQ(ReadFileBytes(dir / ours), "live");
    EXPECT_EQ(ReadFileBytes(dir / lockedName), "live elsewhere");
    ::close(lockFd);
}

TEST(ReplaceFile, ASaveNeverRemovesTheTemporaryOfAConcurrentSave) {
    TempDir dir;
    const std::string path = dir / "pemo.ini";
    WriteFileBytes(path, "old");
    int release[2];
    ASSERT_EQ(::pipe(release), 0);
    const pid_t other = StartSaveInChild(path, false, release[0]);
    for (int i = 0; i < 500 && Temporaries(dir.Path(), "pemo.ini").empty(); ++i) {
        ::usleep(10000);
    }
    ASSERT_EQ(Temporaries(dir.Path(), "pemo.ini").size(), 1u);
    ReplaceFile(
        path, 0, [](CStdioFileEx& file) { file.WriteString("ours"); }, NativeFileSystem());
    EXPECT_EQ(ReadFileBytes(path), "ours");
    ASSERT_EQ(Temporaries(dir.Path(), "pemo.ini").size(), 1u) << "the other save's temporary is still there";
    ASSERT_EQ(::write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFileBytes(path), "half and the rest") << "the other save finished as it should";
    EXPECT_TRUE(Temporaries(dir.Path(), "pemo.ini").empty());
    ::close(release[0]);
    ::close(release[1]);
}

} // namespace
