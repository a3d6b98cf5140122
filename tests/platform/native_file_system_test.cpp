// The POSIX file-system backend on real files: listing kinds, links never followed unasked,
// status, removal, and the copy through a temporary file with progress, cancel and failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <string>

#include "platform/file_system.h"
#include "support/engine_tree.h"
#include "support/temp_dir.h"

namespace {

std::map<std::string, EntryKind> ListKinds(const std::string& path, bool follow, FsError& error) {
    std::map<std::string, EntryKind> kinds;
    auto stream = NativeFileSystem().OpenDirectory(path, follow, error);
    if (!stream) {
        return kinds;
    }
    DirEntry entry;
    while (stream->Next(entry)) {
        kinds[entry.name] = entry.kind;
    }
    EXPECT_FALSE(stream->Error());
    return kinds;
}

struct stat LStat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

} // namespace

TEST(NativeFileSystem, ListsEveryKindWithoutFollowingLinks) {
    TempDir tmp;
    WriteFileBytes(tmp / "file", "x");
    MakeDirectories(tmp / "dir");
    MakeLink(tmp / "dir", tmp / "link-to-dir");
    MakeLink(tmp / "missing", tmp / "dangling");
    ASSERT_EQ(::mkfifo((tmp / "fifo").c_str(), 0644), 0);

    FsError error = FsError::FromSystem(-1);
    auto kinds = ListKinds(tmp.Path(), false, error);
    EXPECT_FALSE(error);
    EXPECT_EQ(kinds.size(), 5u); // no "." or ".."
    EXPECT_EQ(kinds["file"], EntryKind::File);
    EXPECT_EQ(kinds["dir"], EntryKind::Directory);
    EXPECT_EQ(kinds["link-to-dir"], EntryKind::Symlink);
    EXPECT_EQ(kinds["dangling"], EntryKind::Symlink);
    EXPECT_EQ(kinds["fifo"], EntryKind::Other);
}

TEST(NativeFileSystem, OpensALinkedDirectoryOnlyWhenAskedTo) {
    TempDir tmp;
    MakeDirectories(tmp / "real");
    WriteFileBytes(tmp / "real/inside", "x");
    MakeLink(tmp / "real", tmp / "link");
    WriteFileBytes(tmp / "plain", "x");

    FsError error;
    EXPECT_EQ(NativeFileSystem().OpenDirectory(tmp / "link", false, error), nullptr);
    EXPECT_TRUE(error.Is(ErrorKind::IsALink) || error.Is(ErrorKind::NotADirectory)) << error.code;
    auto kinds = ListKinds(tmp / "link", true, error);
    EXPECT_EQ(kinds.count("inside"), 1u);

    EXPECT_EQ(NativeFileSystem().OpenDirectory(tmp / "plain", true, error), nullptr);
    EXPECT_EQ(error.code, ENOTDIR);
    EXPECT_EQ(error.kind, ErrorKind::NotADirectory);
    EXPECT_EQ(NativeFileSystem().OpenDirectory(tmp / "absent", true, error), nullptr);
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(error.kind, ErrorKind::NotFound);
}

TEST(NativeFileSystem, StatusReadsTheLinkOrItsTarget) {
    TempDir tmp;
    WriteFileBytes(tmp / "file", "hello");
    ASSERT_EQ(::chmod((tmp / "file").c_str(), 0640), 0);
    SetModified(tmp / "file", 1700000000);
    MakeLink("file", tmp / "link");

    FileStatus st;
    ASSERT_EQ(NativeFileSystem().Status(tmp / "link", true, st).code, 0);
    EXPECT_EQ(st.kind, EntryKind::File);
    EXPECT_EQ(st.size, 5u);
    EXPECT_EQ(st.mtimeSeconds, 1700000000);
    EXPECT_EQ(st.mode, 0640u);
    ASSERT_EQ(NativeFileSystem().Status(tmp / "link", false, st).code, 0);
    EXPECT_EQ(st.kind, EntryKind::Symlink);
    EXPECT_EQ(NativeFileSystem().Status(tmp / "absent", true, st).code, ENOENT);
}

TEST(NativeFileSystem, RemovalActsOnLinksThemselves) {
    TempDir tmp;
    MakeDirectories(tmp / "outside");
    WriteFileBytes(tmp / "outside/keep", "precious");
    ASSERT_EQ(::chmod((tmp / "outside/keep").c_str(), 0444), 0);
    MakeLink(tmp / "outside/keep", tmp / "link");

    EXPECT_EQ(NativeFileSystem().SetNormalAttributes(tmp / "link").code, 0);
    EXPECT_EQ(LStat(tmp / "outside/keep").st_mode & 0777, 0444u) << "the target's mode must not change";
    EXPECT_EQ(NativeFileSystem().RemoveFile(tmp / "link").code, 0);
    EXPECT_FALSE(FileExists(tmp / "link"));
    EXPECT_EQ(ReadFileBytes(tmp / "outside/keep"), "precious");

    EXPECT_EQ(NativeFileSystem().SetNormalAttributes(tmp / "outside/keep").code, 0);
    EXPECT_EQ(LStat(tmp / "outside/keep").st_mode & 0777, 0644u);
    EXPECT_EQ(NativeFileSystem().MakeDirectory(tmp / "outside").code, EEXIST);
    EXPECT_EQ(NativeFileSystem().MakeDirectory(tmp / "outside").kind, ErrorKind::Exists);
    EXPECT_EQ(NativeFileSystem().RemoveEmptyDirectory(tmp / "outside").code, ENOTEMPTY);
    EXPECT_EQ(NativeFileSystem().RemoveEmptyDirectory(tmp / "outside").kind, ErrorKind::NotEmpty);
    EXPECT_EQ(NativeFileSystem().RemoveFile(tmp / "absent").code, ENOENT);
    EXPECT_EQ(NativeFileSystem().RemoveFile(tmp / "absent").kind, ErrorKind::NotFound);
}

TEST(NativeFileSystem, CopyKeepsContentTimeAndModeAndLeavesNoTemporary) {
    TempDir tmp;
    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7 + 3);
    }
    WriteFileBytes(tmp / "src", content);
    ASSERT_EQ(::chmod((tmp / "src").c_str(), 0750), 0);
    struct timespec times[2] = {{1500000000, 5}, {1600000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tmp / "src").c_str(), times, 0), 0);
    WriteFileBytes(tmp / "dst", "old content");

    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    CopyResult r = NativeFileSystem().CopyFileContent(
        tmp / "src", tmp / "dst", [&](std::uint64_t total, std::uint64_t done) { calls.emplace_back(total, done); },
        nullptr);
    ASSERT_EQ(r.outcome, CopyOutcome::Copied) << r.error.code;
    struct stat st = LStat(tmp / "dst"); // before a read moves the access time
    EXPECT_EQ(ReadFileBytes(tmp / "dst"), content);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
    EXPECT_EQ(st.st_atim.tv_sec, 1500000000) << "both times are set: some drivers drop a call without both";
    ASSERT_GE(calls.size(), 4u) << "progress comes per chunk";
    EXPECT_EQ(calls.back().first, content.size());
    EXPECT_EQ(calls.back().second, content.size());
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GT(calls[i].second, calls[i - 1].second);
    }
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
}

TEST(NativeFileSystem, CancelledCopyKeepsTheOldDestination) {
    TempDir tmp;
    WriteFileBytes(tmp / "src", std::string(3 * 1024 * 1024, 'n'));
    WriteFileBytes(tmp / "dst", "old");
    std::atomic<int> cancel{0};
    int progressCalls = 0;
    CopyResult r = NativeFileSystem().CopyFileContent(
        tmp / "src", tmp / "dst",
        [&](std::uint64_t, std::uint64_t) {
            ++progressCalls;
            cancel = 1;
        },
        &cancel);
    EXPECT_EQ(r.outcome, CopyOutcome::Cancelled);
    EXPECT_EQ(progressCalls, 1);
    EXPECT_EQ(ReadFileBytes(tmp / "dst"), "old");
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());

    // A flag already set copies nothing, not even an empty file.
    r = NativeFileSystem().CopyFileContent(tmp / "src", tmp / "new", nullptr, &cancel);
    EXPECT_EQ(r.outcome, CopyOutcome::Cancelled);
    EXPECT_FALSE(FileExists(tmp / "new"));
}

TEST(NativeFileSystem, FailedCopiesReportErrnoAndCleanUp) {
    TempDir tmp;
    WriteFileBytes(tmp / "src", "data");
    MakeDirectories(tmp / "dir");
    ASSERT_EQ(::mkfifo((tmp / "fifo").c_str(), 0644), 0);

    CopyResult r = NativeFileSystem().CopyFileContent(tmp / "absent", tmp / "x", nullptr, nullptr);
    EXPECT_EQ(r.outcome, CopyOutcome::Failed);
    EXPECT_EQ(r.error.code, ENOENT);
    r = NativeFileSystem().CopyFileContent(tmp / "src", tmp / "no/such/dir/x", nullptr, nullptr);
    EXPECT_EQ(r.error.code, ENOENT);
    r = NativeFileSystem().CopyFileContent(tmp / "src", tmp / "dir", nullptr, nullptr);
    EXPECT_EQ(r.outcome, CopyOutcome::Failed);
    EXPECT_EQ(r.error.code, EISDIR);
    // A fifo would block a reader forever: refused before it is opened.
    r = NativeFileSystem().CopyFileContent(tmp / "fifo", tmp / "y", nullptr, nullptr);
    EXPECT_EQ(r.outcome, CopyOutcome::Failed);
    EXPECT_EQ(r.error.code, EOPNOTSUPP);
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
    EXPECT_FALSE(FileExists(tmp / "x"));
    EXPECT_FALSE(FileExists(tmp / "y"));
}

TEST(NativeFileSystem, CopyFollowsASourceLinkAndReplacesADestinationLink) {
    TempDir tmp;
    MakeDirectories(tmp / "outside");
    WriteFileBytes(tmp / "outside/target", "outside stays");
    WriteFileBytes(tmp / "real", "linked content");
    MakeLink(tmp / "real", tmp / "src-link");
    MakeLink(tmp / "outside/target", tmp / "dst-link");

    CopyResult r = NativeFileSystem().CopyFileContent(tmp / "src-link", tmp / "dst-link", nullptr, nullptr);
    ASSERT_EQ(r.outcome, CopyOutcome::Copied);
    EXPECT_FALSE(IsLink(tmp / "dst-link"));
    EXPECT_EQ(ReadFileBytes(tmp / "dst-link"), "linked content");
    EXPECT_EQ(ReadFileBytes(tmp / "outside/target"), "outside stays");
    ASSERT_EQ(::truncate((tmp / "real").c_str(), 64 << 20), 0); // holes stay holes
    r = NativeFileSystem().CopyFileContent(tmp / "src-link", tmp / "dst-link", nullptr, nullptr);
    EXPECT_EQ(LStat(tmp / "dst-link").st_size, 64 << 20);
    EXPECT_LT(LStat(tmp / "dst-link").st_blocks, 1024);
}

TEST(NativeFileSystem, LockCheckSeesOtherOpeners) {
    TempDir tmp;
    WriteFileBytes(tmp / "file", "x");
    bool locked = true;
    ASSERT_EQ(NativeFileSystem().CheckLocked(tmp / "file", locked).code, 0);
    EXPECT_FALSE(locked);
    {
        int fd = ::open((tmp / "file").c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(NativeFileSystem().CheckLocked(tmp / "file", locked).code, 0);
        EXPECT_TRUE(locked) << "even a reader holds the file";
        ::close(fd);
    }
    ASSERT_EQ(NativeFileSystem().CheckLocked(tmp / "file", locked).code, 0);
    EXPECT_FALSE(locked);
    // A file that cannot be opened is refused like a locked one.
    locked = false;
    ASSERT_EQ(NativeFileSystem().CheckLocked(tmp / "absent", locked).code, 0);
    EXPECT_TRUE(locked);
}

TEST(NativeFileSystem, LockCheckFallsBackToRecordLocksWhereLeasesAreRefused) {
    // A lease needs the file's owner; an unprivileged reader of root's file gets the lock test.
    TempDir tmp;
    ASSERT_EQ(::chmod(tmp.Path().c_str(), 0755), 0);
    WriteFileBytes(tmp / "file", "x");
    ASSERT_EQ(::chmod((tmp / "file").c_str(), 0644), 0);
    const std::string path = tmp / "file";

    auto check = [&] {
        return RunAsNobody([&] {
            bool locked = false;
            FsError e = NativeFileSystem().CheckLocked(path, locked);
            return std::to_string(e.code) + (locked ? " locked" : " free");
        });
    };
    EXPECT_EQ(check(), "0 free");

    int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &fl), 0);
    EXPECT_EQ(check(), "0 locked");
    ::close(fd);
}

TEST(NativeFileSystem, TemporaryCopyNamesAreExactAndRecognised) {
    TempDir tmp;
    WriteFileBytes(tmp / "src", std::string(3 << 20, 's'));
    std::vector<std::string> seen;
    auto progress = [&](std::uint64_t, std::uint64_t) {
        for (const std::string& name : ListDirectory(tmp.Path())) {
            if (name != "src" && name != "dst") {
                seen.push_back(name);
            }
        }
    };
    for (int i = 0; i < 2; ++i) {
        CopyResult result = NativeFileSystem().CopyFileContent(tmp / "src", tmp / "dst", progress, nullptr);
        EXPECT_EQ(result.outcome, CopyOutcome::Copied);
    }
    ASSERT_FALSE(seen.empty());
    for (const std::string& name : seen) {
        EXPECT_TRUE(IsTemporaryCopyName(name)) << name;
    }
    EXPECT_NE(seen.front(), seen.back()) << "a fresh random name per copy";

    const std::string suffix(kTemporaryCopySuffixLength, 'a');
    EXPECT_TRUE(IsTemporaryCopyName(std::string(kTemporaryCopyPrefix) + suffix));
    // What a user, or an older version, may have called a file is never taken for one.
    for (const std::string& name :
         {std::string(kTemporaryCopyPrefix) + "AbC123", std::string(kTemporaryCopyPrefix) + suffix + "a",
          std::string(kTemporaryCopyPrefix) + suffix.substr(1),
          std::string(kTemporaryCopyPrefix) + "A" + suffix.substr(1),
          std::string(kTemporaryCopyPrefix) + "z" + suffix.substr(1), "x" + std::string(kTemporaryCopyPrefix) + suffix,
          std::string(kTemporaryCopyPrefix) + "-" + suffix.substr(1)}) {
        EXPECT_FALSE(IsTemporaryCopyName(name)) << name;
    }
}

TEST(NativeFileSystem, OperationsRelativeToAnOpenDirectoryNeverFollowALink) {
    TempDir tmp;
    IFileSystem& fs = NativeFileSystem();
    MakeDirectories(tmp / "outside");
    WriteFileBytes(tmp / "outside/file", "outside");
    ASSERT_EQ(::chmod((tmp / "outside/file").c_str(), 0644), 0);
    MakeDirectories(tmp / "d");
    WriteFileBytes(tmp / "d/a", "a");
    MakeLink(tmp / "outside", tmp / "d/dirlink");
    MakeLink(tmp / "outside/file", tmp / "d/filelink");
    const std::string outsideBefore = TreeSnapshot(tmp / "outside");

    DirectoryHandle d;
    ASSERT_EQ(fs.OpenDirectoryPath(tmp / "d", false, d).code, 0);
    DirectoryHandle through;
    const FsError e = fs.OpenDirectoryAt(d, "dirlink", through);
    EXPECT_TRUE(e.Is(ErrorKind::NotADirectory) || e.Is(ErrorKind::IsALink)) << e.code;
    EXPECT_FALSE(through.IsOpen());
    EXPECT_EQ(fs.SetModeAt(d, "filelink", FileIdentity{}, 0600).code, EOPNOTSUPP);
    EXPECT_EQ(fs.SetNormalAttributesAt(d, "filelink").code, 0);
    EXPECT_EQ(fs.RemoveFileAt(d, "filelink").code, 0);
    EXPECT_EQ(TreeSnapshot(tmp / "outside"), outsideBefore);

    // Each listing of one handle starts from the beginning.
    for (int pass = 0; pass < 2; ++pass) {
        FsError error;
        auto stream = fs.ListDirectory(d, error);
        ASSERT_TRUE(stream) << error.code;
        int count = 0;
        DirEntry entry;
        while (stream->Next(entry)) {
            ++count;
        }
        EXPECT_EQ(count, 2) << pass;
    }

    // The directory swapped for a link after it was opened: the copy lands in the directory.
    WriteFileBytes(tmp / "src", "copied");
    DirectoryHandle top;
    ASSERT_EQ(fs.OpenDirectoryPath(tmp.Path(), false, top).code, 0);
    ASSERT_EQ(::rename((tmp / "d").c_str(), (tmp / "moved").c_str()), 0);
    MakeLink(tmp / "outside", tmp / "d");
    EXPECT_EQ(fs.CopyFileAt(top, "src", d, "file", nullptr, nullptr).outcome, CopyOutcome::Copied);
    EXPECT_EQ(ReadFileBytes(tmp / "moved/file"), "copied");
    EXPECT_EQ(TreeSnapshot(tmp / "outside"), outsideBefore);
    EXPECT_EQ(fs.FlushFileSystem(d).code, 0);
}

TEST(NativeFileSystem, MoveBetweenDirectoriesNeverReplacesAndMovesALinkAsItself) {
    TempDir tmp;
    IFileSystem& fs = NativeFileSystem();
    MakeDirectories(tmp / "to");
    WriteFileBytes(tmp / "to/taken", "kept");
    WriteFileBytes(tmp / "file", "moved");
    MakeLink("file", tmp / "link");
    DirectoryHandle from;
    DirectoryHandle to;
    ASSERT_EQ(fs.OpenDirectoryPath(tmp.Path(), false, from).code, 0);
    ASSERT_EQ(fs.OpenDirectoryPath(tmp / "to", false, to).code, 0);
    EXPECT_TRUE(fs.MoveAt(from, "file", to, "taken").Is(ErrorKind::Exists));
    EXPECT_EQ(ReadFileBytes(tmp / "to/taken"), "kept");
    EXPECT_EQ(fs.MoveAt(from, "link", to, "link").code, 0);
    EXPECT_TRUE(IsLink(tmp / "to/link"));
    EXPECT_EQ(ReadFileBytes(tmp / "file"), "moved");
}

TEST(FsError, AKindMadeWithoutASystemCallReadsAsTheSystemsOwnCode) {
    // Messages quote the code's number and text, so a made-up failure must map back to its kind.
    for (ErrorKind kind : {ErrorKind::NotFound, ErrorKind::NotADirectory, ErrorKind::IsADirectory, ErrorKind::IsALink,
                           ErrorKind::AccessDenied, ErrorKind::Exists, ErrorKind::NotEmpty, ErrorKind::NoSpace,
                           ErrorKind::NameTooLong, ErrorKind::ReadOnly, ErrorKind::Busy, ErrorKind::Interrupted,
                           ErrorKind::NotSupported, ErrorKind::CrossDevice, ErrorKind::TooManyOpen, ErrorKind::Replaced,
                           ErrorKind::DeviceFault, ErrorKind::LockFailed, ErrorKind::BadHandle}) {
        const FsError made = FsError::OfKind(kind);
        EXPECT_NE(made.code, 0) << static_cast<int>(kind);
        EXPECT_EQ(KindOfSystemError(made.code), kind) << static_cast<int>(kind);
        EXPECT_TRUE(made.Failed());
    }
    EXPECT_FALSE(FsError::OfKind(ErrorKind::None));
    EXPECT_EQ(FsError::OfKind(ErrorKind::Other).code, EIO) << "an unknown failure reads as an I/O error";
    EXPECT_EQ(FsError::OfKind(ErrorKind::NotADirectory).code, ENOTDIR);
    EXPECT_EQ(FsError::FromSystem(EPERM).kind, ErrorKind::AccessDenied);
}
