// FakeFileSystem: a decorator over a real IFileSystem that fails chosen calls with a chosen
// errno (the Nth call of a kind, or every call on a path containing some text) and records
// every path it is asked to change. Calls relative to an open directory are shown by full path:
// the decorator remembers the path each directory it opened was reached by.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

enum class FsCall {
    OpenDirectory, // by path or relative to a directory
    ReadDirectory, // one call per Next() of a listing
    Status,
    MakeDirectory,
    RemoveFile,
    RemoveEmptyDirectory,
    SetNormalAttributes,
    RenamePath,
    CopyFileContent,
    CopyMidway, // fails a copy after its first chunk, through the real temporary-file path
    CheckLocked,
    CanonicalPath,
    ListDirectory,
    SetMode,
    FlushFileSystem,
    ReadLink,
    MakeLink,
    SetLinkTime,
    // The files the program keeps itself. A failed WriteFile writes half its bytes first, as a
    // full disk would; a failed CloseFile closes the file underneath all the same.
    OpenFile,
    FileInfo,
    ReadFile,
    WriteFile,
    SeekFile,
    TruncateFile,
    SetFileMode,
    SyncFile,
    CloseFile,
    LockFile,
    UnlockFile,
    RenameFile,
    SyncDirectory,
    MakeDirectoryWithMode,
    // Owners
    SetOwner,
    // A second handle on an open directory, for reading ahead
    DuplicateDirectory,
    ProbeTimes,
    // The opening of a file to be copied; its lock check counts as CheckLocked
    OpenSource,
    // A move between two open directories
    Move
};

class FakeFileSystem : public IFileSystem {
public:
    explicit FakeFileSystem(IFileSystem& inner = NativeFileSystem());

    // The system's code for an injected POSIX errno: itself where errno is the system's code,
    // elsewhere the system's usual code for the errno's kind, so that the engine reads the same kind.
    static int SystemCode(int posixError);

    // The nth call (1-based, counted from now) of kind fails with error; n = 0 clears it.
    void FailNth(FsCall kind, int n, int error);
    // An error of kThrow makes the call throw std::bad_alloc instead, as an exhausted heap would.
    static constexpr int kThrow = -1;
    // Every call of kind whose (first) path contains fragment fails with error.
    void FailPath(FsCall kind, const std::string& fragment, int error);
    void Reset();
    // What KeepsFineTimes answers for every path; unset (the default, and after Reset) asks the
    // file system underneath.
    void SetKeepsFineTimes(std::optional<bool> answer);
    // Runs action once, just before the next call of kind does anything: the moment another
    // user's change lands between the engine's look at a name and its act on it.
    void BeforeNext(FsCall kind, std::function<void()> action);

    int Calls(FsCall kind) const;
    // The total of all calls that may change the disk.
    int MutatingCalls() const;
    // Every path handed to a changing call, in order (both paths of a rename or copy).
    std::vector<std::string> ChangedPaths() const;
    // Every directory listed, in order, whichever thread listed it.
    std::vector<std::string> ListedPaths() const;

    FsError OpenDirectoryPath(const std::string& path, bool followLink, DirectoryHandle& handle) override;
    FsError OpenDirectoryAt(const DirectoryHandle& parent, const std::string& name, DirectoryHandle& handle) override;
    std::unique_ptr<IDirectoryStream> ListDirectory(const DirectoryHandle& dir, FsError& error) override;
    FsError Status(const std::string& path, bool followLink, FileStatus& status) override;
    FsError StatusAt(const DirectoryHandle& dir, const std::string& name, bool followLink, FileStatus& status) override;
    FsError MakeDirectory(const std::string& path) override;
    FsError MakeDirectoryAt(const DirectoryHandle& dir, const std::string& name) override;
    FsError RemoveFileAt(const DirectoryHandle& dir, const std::string& name) override;
    FsError RemoveDirectoryAt(const DirectoryHandle& dir, const std::string& name) override;
    FsError SetNormalAttributesAt(const DirectoryHandle& dir, const std::string& name) override;
    FsError SetModeAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected,
                      std::uint32_t mode) override;
    FsError RenameAt(const DirectoryHandle& dir, const std::string& from, const std::string& to) override;
    FsError MoveAt(const DirectoryHandle& fromDir, const std::string& from, const DirectoryHandle& toDir,
                   const std::string& to) override;
    FsError ReadLinkAt(const DirectoryHandle& dir, const std::string& name, std::string& target) override;
    FsError MakeLinkAt(const DirectoryHandle& dir, const std::string& name, const std::string& target) override;
    FsError SetLinkTimeAt(const DirectoryHandle& dir, const std::string& name, std::int64_t seconds,
                          std::int64_t nanoseconds) override;
    FsError OpenCopySourceAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& listed,
                             bool followLink, FileHandle& source) override;
    FsError CheckOpenFileLocked(const FileHandle& source, bool& locked) override;
    CopyResult CopyOpenFileAt(const FileHandle& source, const DirectoryHandle& destinationDir,
                              const std::string& destinationName, const CopyProgressFn& progress,
                              const std::atomic<int>* cancel) override;
    FsError FlushFileSystem(const DirectoryHandle& dir) override;
    FsError CanonicalPath(const std::string& path, std::string& canonical) override;
    bool KeepsFineTimes(const std::string& path) override;
    FsError MountPointOf(const std::string& path, std::string& mountPoint, bool& systemRoot) override {
        return inner.MountPointOf(path, mountPoint, systemRoot);
    }
    FsError ProbeTimesAt(const DirectoryHandle& dir, const FileTime& set, FileTime& kept) override;

    FsError OpenFile(const std::string& path, const FileOpenMode& mode, FileHandle& file) override;
    FsError OpenFileAt(const DirectoryHandle& dir, const std::string& name, const FileOpenMode& mode,
                       FileHandle& file) override;
    FsError FileInfo(const FileHandle& file, OpenFileInfo& info) override;
    FsError ReadFileData(const FileHandle& file, void* buffer, std::size_t size, std::size_t& read) override;
    FsError ReadFileDataAt(const FileHandle& file, std::uint64_t offset, void* buffer, std::size_t size,
                           std::size_t& read) override;
    FsError WriteFileData(const FileHandle& file, const void* data, std::size_t size, std::size_t& written) override;
    FsError SeekFile(const FileHandle& file, std::int64_t offset, SeekOrigin origin, std::uint64_t& position) override;
    FsError TruncateFile(const FileHandle& file, std::uint64_t length) override;
    FsError SetFileMode(const FileHandle& file, std::uint32_t mode) override;
    FsError SyncFile(const FileHandle& file) override;
    FsError CloseFile(FileHandle& file) override;
    FsError LockWholeFile(const FileHandle& file, bool wait) override;
    FsError UnlockWholeFile(const FileHandle& file) override;
    FsError RenameFile(const std::string& from, const std::string& to) override;
    FsError SyncDirectory(const std::string& path) override;
    FsError MakeDirectoryWithMode(const std::string& path, std::uint32_t mode) override;
    // ---- Owners ----
    FsError SetOwnerAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected,
                       std::uint32_t owner, std::uint32_t group) override;
    bool MayGiveAway() override;
    bool MayUseGroup(std::uint32_t group) override;
    FsError DirectoryStatus(const DirectoryHandle& dir, FileStatus& status) override;
    FsError DuplicateDirectory(const DirectoryHandle& dir, DirectoryHandle& copy) override;

    // The kinds of the calls above, for loops that fail each in turn.
    static const std::vector<FsCall>& FileCallKinds();

    // Used by the listing wrapper; counts one ReadDirectory call and says whether it fails.
    int CountAndCheck(FsCall kind, const std::string& path);
    // The full path of name in dir, as far as this decorator saw dir being opened.
    std::string PathIn(const DirectoryHandle& dir, const std::string& name) const;
    // The path an open file was reached by, as far as this decorator saw it opened.
    std::string PathOf(const FileHandle& file) const;

private:
    int Check(FsCall kind, const std::string& path);
    void RecordChange(const std::string& path);
    void Remember(const DirectoryHandle& handle, const std::string& path);

    IFileSystem& inner;
    mutable std::mutex mutex;
    std::map<FsCall, int> calls;
    struct NthFailure {
        int at = 0; // call number at which to fail, 0 = none
        int error = 0;
    };
    std::map<FsCall, NthFailure> nth;
    struct PathFailure {
        FsCall kind;
        std::string fragment;
        int error;
    };
    std::vector<PathFailure> pathFailures;
    std::vector<std::string> changed;
    std::vector<std::string> listed;
    // Native directory handles to the paths they were opened by; a reused number is overwritten.
    std::map<std::intptr_t, std::string> directoryPaths;
    std::optional<bool> keepsFineTimes;
    std::map<FsCall, std::function<void()>> beforeNext;

    FsError CheckFile(FsCall kind, const FileHandle& file);
    void RememberFile(const FileHandle& file, const std::string& path);
    // Native file handles to the paths they were opened by.
    std::map<std::intptr_t, std::string> filePaths;
};

// The end of the run log's failure line for an injected errno, as the system reads its code:
// " with error <code>: <the system's text>\n".
inline std::string FailureTail(int posixError) {
    const int code = FakeFileSystem::SystemCode(posixError);
    return " with error " + std::to_string(code) + ": " + ErrorText(static_cast<std::uint32_t>(code)) + "\n";
}
