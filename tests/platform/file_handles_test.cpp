// The file handles of the POSIX backend on real files (reading, writing, seeking, truncating,
// locking, renaming, refusals with their kinds), and the small system services: processes, the
// display probe and the terminal queries.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/terminal.h"
#include "support/temp_dir.h"

namespace {

FileOpenMode Mode(FileAccess access, bool create = false, bool exclusive = false, bool noFollow = false) {
    FileOpenMode mode;
    mode.access = access;
    mode.create = create;
    mode.exclusive = exclusive;
    mode.noFollow = noFollow;
    return mode;
}

std::uint32_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

TEST(FileHandles, WriteReadSeekTruncateAndCloseAnOpenFile) {
    TempDir tmp;
    IFileSystem& fs = NativeFileSystem();
    const std::string path = tmp / "settings.conf";
    FileHandle file;
    ASSERT_FALSE(fs.OpenFile(path, Mode(FileAccess::ReadWrite, true, true), file));
    std::size_t written = 0;
    ASSERT_FALSE(fs.WriteFileData(file, "hello world", 11, written));
    EXPECT_EQ(written, 11u);
    std::uint64_t position = 99;
    ASSERT_FALSE(fs.SeekFile(file, 0, SeekOrigin::Begin, position));
    EXPECT_EQ(position, 0u);
    char buffer[32] = {};
    std::size_t read = 0;
    ASSERT_FALSE(fs.ReadFileData(file, buffer, 5, read));
    EXPECT_EQ(std::string(buffer, read), "hello");
    ASSERT_FALSE(fs.ReadFileDataAt(file, 6, buffer, sizeof buffer, read));
    EXPECT_EQ(std::string(buffer, read), "world");
    ASSERT_FALSE(fs.SeekFile(file, 0, SeekOrigin::Current, position));
    EXPECT_EQ(position, 5u) << "a read at an offset leaves the position alone";
    ASSERT_FALSE(fs.SeekFile(file, 0, SeekOrigin::End, position));
    EXPECT_EQ(position, 11u);
    ASSERT_FALSE(fs.TruncateFile(file, 5));
    ASSERT_FALSE(fs.SetFileMode(file, 0640));
    OpenFileInfo info;
    ASSERT_FALSE(fs.FileInfo(file, info));
    EXPECT_EQ(info.size, 5u);
    EXPECT_EQ(info.mode, 0640u);
    EXPECT_TRUE(info.regular);
    EXPECT_TRUE(info.ownedByUser);
    EXPECT_FALSE(fs.SyncFile(file));
    EXPECT_FALSE(fs.CloseFile(file));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(fs.CloseFile(file)) << "closing a closed handle is no failure";
    EXPECT_EQ(ModeOf(path), 0640u);

    // A rename replaces the file under the new name; the directory can be forced to disk.
    WriteFileBytes(tmp / "new", "replacement");
    EXPECT_FALSE(fs.RenameFile(tmp / "new", path));
    EXPECT_EQ(ReadFileBytes(path), "replacement");
    EXPECT_EQ(ListDirectory(tmp.Path()), std::vector<std::string>{"settings.conf"});
    EXPECT_FALSE(fs.SyncDirectory(tmp.Path()));
    EXPECT_TRUE(fs.RenameFile(tmp / "new", path).Is(ErrorKind::NotFound));
}

TEST(FileHandles, RefusalsCarryTheirKindAndChangeNothing) {
    TempDir tmp;
    IFileSystem& fs = NativeFileSystem();
    FileHandle file;
    EXPECT_TRUE(fs.OpenFile(tmp / "missing", Mode(FileAccess::Read), file).Is(ErrorKind::NotFound));
    WriteFileBytes(tmp / "job.job", "old");
    EXPECT_TRUE(fs.OpenFile(tmp / "job.job", Mode(FileAccess::Write, true, true), file).Is(ErrorKind::Exists));
    EXPECT_EQ(ReadFileBytes(tmp / "job.job"), "old");
    // An exclusive create never goes through a link, not even a dangling one.
    ASSERT_EQ(::symlink((tmp / "elsewhere").c_str(), (tmp / "link").c_str()), 0);
    EXPECT_TRUE(fs.OpenFile(tmp / "link", Mode(FileAccess::Write, true, true), file).Is(ErrorKind::Exists));
    EXPECT_FALSE(FileExists(tmp / "elsewhere"));
    ASSERT_EQ(::symlink((tmp / "job.job").c_str(), (tmp / "jobLink").c_str()), 0);
    EXPECT_TRUE(fs.OpenFile(tmp / "jobLink", Mode(FileAccess::Read, false, false, true), file).Failed());
    EXPECT_FALSE(fs.OpenFile(tmp / "jobLink", Mode(FileAccess::Read), file)) << "followed when not refused";
    EXPECT_FALSE(fs.CloseFile(file));
    MakeDirectories(tmp / "dir");
    EXPECT_TRUE(fs.OpenFile(tmp / "dir", Mode(FileAccess::Read), file).Is(ErrorKind::IsADirectory));
    EXPECT_FALSE(file.IsOpen());

    EXPECT_FALSE(fs.MakeDirectoryWithMode(tmp / "private", 0700));
    EXPECT_EQ(ModeOf(tmp / "private"), 0700u);
    EXPECT_TRUE(fs.MakeDirectoryWithMode(tmp / "private", 0700).Is(ErrorKind::Exists));

    // A fifo cannot be synchronised; that counts as done rather than as a failed save.
    ASSERT_EQ(::mkfifo((tmp / "fifo").c_str(), 0600), 0);
    FileOpenMode fifo = Mode(FileAccess::Read);
    fifo.nonBlocking = true;
    ASSERT_FALSE(fs.OpenFile(tmp / "fifo", fifo, file));
    EXPECT_FALSE(fs.SyncFile(file));
}

TEST(FileHandles, AWholeFileLockShutsOutOtherOpenersUntilReleased) {
    TempDir tmp;
    IFileSystem& fs = NativeFileSystem();
    const std::string path = tmp / "job.job.lock";
    FileHandle first;
    FileHandle second;
    ASSERT_FALSE(fs.OpenFile(path, Mode(FileAccess::ReadWrite, true), first));
    ASSERT_FALSE(fs.OpenFile(path, Mode(FileAccess::Read), second));
    EXPECT_FALSE(fs.LockWholeFile(first, false));
    EXPECT_TRUE(fs.LockWholeFile(second, false).Is(ErrorKind::Busy));
    EXPECT_FALSE(fs.UnlockWholeFile(first));
    EXPECT_FALSE(fs.LockWholeFile(second, false));
    EXPECT_TRUE(fs.LockWholeFile(first, false).Is(ErrorKind::Busy));
    EXPECT_FALSE(fs.CloseFile(second)) << "closing releases the lock";
    EXPECT_FALSE(fs.LockWholeFile(first, true));
}

TEST(SystemServices, ProcessesDisplayAndTerminal) {
    EXPECT_EQ(CurrentProcessId(), static_cast<long>(::getpid()));
    EXPECT_TRUE(ProcessExists(CurrentProcessId()));
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_FALSE(ProcessExists(child)) << "a reaped child is gone";

    {
        ScopedEnv display("DISPLAY", nullptr);
        ScopedEnv wayland("WAYLAND_DISPLAY", "");
        EXPECT_FALSE(HasGraphicalDisplay()) << "an empty name is no display";
        ScopedEnv set("WAYLAND_DISPLAY", "wayland-0");
        EXPECT_TRUE(HasGraphicalDisplay());
    }
    {
        ScopedEnv display("DISPLAY", ":0");
        ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
        EXPECT_TRUE(HasGraphicalDisplay());
    }

    TempDir tmp;
    std::FILE* file = std::fopen((tmp / "out").c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(IsTerminal(file));
    EXPECT_EQ(TerminalColumns(file), 0);
    std::fclose(file);
}
