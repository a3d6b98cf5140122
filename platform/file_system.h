// IFileSystem: the one door through which the engine reaches the disk. Paths are byte strings
// passed to the system untouched; every result carries a portable kind and the system's code.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_handle.h"
#include "platform/fs_error.h"

// The separator the engine joins paths with.
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// What an entry is, as seen without following links.
enum class EntryKind : std::uint8_t { File, Directory, Symlink, Other };

struct DirEntry {
    std::string name;
    EntryKind kind = EntryKind::Other;
    // The hidden and system attributes as this platform knows them.
    bool hidden = false;
    bool system = false;
};

// A modification time as a file system reports it.
struct FileTime {
    std::int64_t seconds = 0; // since 1970 UTC
    std::int64_t nanoseconds = 0;
};

struct FileStatus {
    std::uint64_t size = 0;
    std::int64_t mtimeSeconds = 0; // since 1970 UTC
    std::int64_t mtimeNanoseconds = 0;
    std::uint32_t mode = 0; // permission bits only
    EntryKind kind = EntryKind::Other;
    // The hidden and system attributes of the path's last component.
    bool hidden = false;
    bool system = false;
    std::uint32_t owner = 0; // user and group ids
    std::uint32_t group = 0;
    // Which file this is: the same pair names the same file while it exists.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Which file a name was found to hold when it was listed or written: an operation given one acts
// only while the name still holds that very file. Unknown (inode 0) where nobody looked.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    static FileIdentity Of(const FileStatus& status) { return FileIdentity{status.device, status.inode}; }
    bool Known() const { return inode != 0; }
};

// One open directory listing. Entries come in the file system's order, without "." and "..".
class IDirectoryStream {
public:
    virtual ~IDirectoryStream() = default;
    // False at the end of the listing or on an error; Error() then tells which (none = the end).
    virtual bool Next(DirEntry& entry) = 0;
    virtual FsError Error() const = 0;
};

enum class CopyOutcome { Copied, Cancelled, Failed, SourceChanged };

struct CopyResult {
    CopyOutcome outcome = CopyOutcome::Failed;
    FsError error; // of a failure; none when copied or cancelled
};

// Called on the copying thread after each chunk with the source's length and the bytes moved.
using CopyProgressFn = std::function<void(std::uint64_t total, std::uint64_t transferred)>;

// An open directory that operations are made relative to, so that a name is looked up in the
// directory that was listed and never again through a path whose components may have been
// swapped for links since. Move-only; closed when destroyed.
class DirectoryHandle {
public:
    DirectoryHandle() = default;
    explicit DirectoryHandle(std::intptr_t native) : native_(native) {}
    ~DirectoryHandle() { Close(); }
    DirectoryHandle(DirectoryHandle&& other) noexcept : native_(other.native_) { other.native_ = kNone; }
    DirectoryHandle& operator=(DirectoryHandle&& other) noexcept {
        if (this != &other) {
            Close();
            native_ = other.native_;
            other.native_ = kNone;
        }
        return *this;
    }
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;

    bool IsOpen() const { return native_ != kNone; }
    std::intptr_t Native() const { return native_; }
    // Defined by the platform's backend.
    void Close();

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t native_ = kNone;
};

// Method names avoid the Win32 macros (DeleteFile, CopyFile, RemoveDirectory) so a Windows
// backend can include its headers. The *At operations take a name within an open directory; a
// name is one component and is never resolved through a link unless the call says so.
class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // Every FsError below is none on success. Opens a directory by path: for the paths the user
    // chose. With followLink false a link as the last component is refused (NotADirectory or
    // IsALink).
    virtual FsError OpenDirectoryPath(const std::string& path, bool followLink, DirectoryHandle& handle) = 0;
    // Opens the subdirectory name of parent; a link is refused (NotADirectory or IsALink).
    virtual FsError OpenDirectoryAt(const DirectoryHandle& parent, const std::string& name,
                                    DirectoryHandle& handle) = 0;
    // A listing of an open directory from its start; the handle stays usable. Null with error
    // set on failure.
    virtual std::unique_ptr<IDirectoryStream> ListDirectory(const DirectoryHandle& dir, FsError& error) = 0;
    // followLink chooses stat over lstat.
    virtual FsError Status(const std::string& path, bool followLink, FileStatus& status) = 0;
    virtual FsError StatusAt(const DirectoryHandle& dir, const std::string& name, bool followLink,
                             FileStatus& status) = 0;
    // Exists when something already has the name. MakeDirectoryAt makes it open to its owner only.
    virtual FsError MakeDirectory(const std::string& path) = 0;
    virtual FsError MakeDirectoryAt(const DirectoryHandle& dir, const std::string& name) = 0;
    // Removes a file or a link itself (never its target).
    virtual FsError RemoveFileAt(const DirectoryHandle& dir, const std::string& name) = 0;
    // Removes an empty directory.
    virtual FsError RemoveDirectoryAt(const DirectoryHandle& dir, const std::string& name) = 0;
    // "Attributes to normal": gives the owner write permission. A link is left as it is.
    virtual FsError SetNormalAttributesAt(const DirectoryHandle& dir, const std::string& name) = 0;
    // Sets the permission bits of a file; a link is left as it is (NotSupported). Acts only on
    // the expected entry, as SetOwnerAt does.
    virtual FsError SetModeAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected,
                              std::uint32_t mode) = 0;
    // Renames within one directory, replacing what has the new name.
    virtual FsError RenameAt(const DirectoryHandle& dir, const std::string& from, const std::string& to) = 0;
    // Moves from in fromDir to to in toDir, on one file system, never replacing: Exists when to
    // is taken, CrossDevice when the two lie on different file systems. A link moves as itself.
    virtual FsError MoveAt(const DirectoryHandle& fromDir, const std::string& from, const DirectoryHandle& toDir,
                           const std::string& to) = 0;
    // The target text of the link name, as stored, never resolved.
    virtual FsError ReadLinkAt(const DirectoryHandle& dir, const std::string& name, std::string& target) = 0;
    // Creates the link name holding target; Exists when something already has the name,
    // NotSupported when the file system cannot hold links (FAT, exFAT, some shares).
    virtual FsError MakeLinkAt(const DirectoryHandle& dir, const std::string& name, const std::string& target) = 0;
    // Sets the modification time of name itself, never of what a link points to.
    virtual FsError SetLinkTimeAt(const DirectoryHandle& dir, const std::string& name, std::int64_t seconds,
                                  std::int64_t nanoseconds) = 0;
    // Opens the regular file name for copying: never blocking on a fifo or a device, never
    // through a link unless followLink (IsALink), and with a known identity only that very file
    // (Replaced when the name holds another one now).
    virtual FsError OpenCopySourceAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& listed,
                                     bool followLink, FileHandle& source) = 0;
    // Whether another opener holds the open file. None with locked filled in, or the failure of
    // the check itself.
    virtual FsError CheckOpenFileLocked(const FileHandle& source, bool& locked) = 0;
    // Copies the content of the open source over the destination name through a temporary file
    // in the destination directory, created private and renamed into place at the end. Holes
    // stay holes. Keeps the source's modification time and permission bits, and its owner and
    // group as far as MayGiveAway and MayUseGroup allow (a refusal of those is no failure; the
    // set-user-id and set-group-id bits are then dropped with the id the copy could not take). A
    // failed, cancelled or torn copy removes its temporary file and leaves the old destination as
    // it was; SourceChanged when the source's size or times moved while it was read. cancel (may
    // be null) is polled between chunks.
    virtual CopyResult CopyOpenFileAt(const FileHandle& source, const DirectoryHandle& destinationDir,
                                      const std::string& destinationName, const CopyProgressFn& progress,
                                      const std::atomic<int>* cancel) = 0;
    // OpenCopySourceAt (any file, a link as the source's own name followed) and CopyOpenFileAt.
    CopyResult CopyFileAt(const DirectoryHandle& sourceDir, const std::string& sourceName,
                          const DirectoryHandle& destinationDir, const std::string& destinationName,
                          const CopyProgressFn& progress, const std::atomic<int>* cancel);
    // Whether another opener holds the file, or the file cannot be opened for reading at all.
    // None with locked filled in, or the failure of the check itself.
    FsError CheckLockedAt(const DirectoryHandle& dir, const std::string& name, bool& locked);
    // Writes everything cached for the file system holding dir to its device.
    virtual FsError FlushFileSystem(const DirectoryHandle& dir) = 0;
    // The absolute path with every link resolved (NotFound when it does not exist).
    virtual FsError CanonicalPath(const std::string& path, std::string& canonical) = 0;
    // Whether the file system holding path is known to keep modification times exactly as they
    // are set, to the second or finer. False when it rounds them (FAT), may (network shares), or
    // cannot be told. A guess by type: ProbeTimesAt tells what a writable directory keeps.
    virtual bool KeepsFineTimes(const std::string& path) = 0;
    // What the file system holding dir keeps of a modification time. Makes a temporary file there
    // (a temporary copy's name, never through a link), gives it the time set as a copy gets its
    // own, reads back into kept what stayed, and removes it. Leaves nothing behind on failure.
    virtual FsError ProbeTimesAt(const DirectoryHandle& dir, const FileTime& set, FileTime& kept) = 0;
    // The mount point of the file system that holds path, or would hold it: that of its nearest
    // existing ancestor, links resolved. systemRoot tells whether that is the system's own (the
    // root file system; on Windows the volume the system runs from), where an absent removable
    // disk's path would land.
    virtual FsError MountPointOf(const std::string& path, std::string& mountPoint, bool& systemRoot) = 0;

    // Conveniences for a single path the user chose: its directory is opened by path (links
    // followed), the last component is acted on relative to it.
    std::unique_ptr<IDirectoryStream> OpenDirectory(const std::string& path, bool followLink, FsError& error);
    FsError RemoveFile(const std::string& path);
    FsError RemoveEmptyDirectory(const std::string& path);
    FsError SetNormalAttributes(const std::string& path);
    CopyResult CopyFileContent(const std::string& source, const std::string& destination,
                               const CopyProgressFn& progress, const std::atomic<int>* cancel);
    FsError CheckLocked(const std::string& path, bool& locked);
    // Opens the directory holding path's last component; name receives that component.
    FsError OpenParent(const std::string& path, DirectoryHandle& parent, std::string& name);
    // Puts a link holding target at name, replacing whatever file or link has the name in one
    // rename: made beside under a temporary name, given the time, renamed over. A failure
    // removes the temporary link and leaves name as it was.
    FsError ReplaceWithLinkAt(const DirectoryHandle& dir, const std::string& name, const std::string& target,
                              std::int64_t seconds, std::int64_t nanoseconds);

    // ---- Files the program keeps itself: jobs, settings, logs, locks ----------------------
    // Every result carries the portable kind and the system's code.

    // Opens a file; a directory is refused (IsADirectory).
    virtual FsError OpenFile(const std::string& path, const FileOpenMode& mode, FileHandle& file) = 0;
    virtual FsError OpenFileAt(const DirectoryHandle& dir, const std::string& name, const FileOpenMode& mode,
                               FileHandle& file) = 0;
    virtual FsError FileInfo(const FileHandle& file, OpenFileInfo& info) = 0;
    // Reads up to size bytes at the file's position; read is 0 at the end.
    virtual FsError ReadFileData(const FileHandle& file, void* buffer, std::size_t size, std::size_t& read) = 0;
    // Reads at offset without moving the file's position.
    virtual FsError ReadFileDataAt(const FileHandle& file, std::uint64_t offset, void* buffer, std::size_t size,
                                   std::size_t& read) = 0;
    // Writes all of data at the file's position; written tells how much went before a failure.
    virtual FsError WriteFileData(const FileHandle& file, const void* data, std::size_t size, std::size_t& written) = 0;
    virtual FsError SeekFile(const FileHandle& file, std::int64_t offset, SeekOrigin origin,
                             std::uint64_t& position) = 0;
    virtual FsError TruncateFile(const FileHandle& file, std::uint64_t length) = 0;
    // Sets the permission bits of the open file.
    virtual FsError SetFileMode(const FileHandle& file, std::uint32_t mode) = 0;
    // Forces the file's data to its device. A file that cannot be synchronised (a pipe, a
    // device, a read-only mount) counts as done.
    virtual FsError SyncFile(const FileHandle& file) = 0;
    // Closes the file; the handle is released either way.
    virtual FsError CloseFile(FileHandle& file) = 0;
    // An advisory lock on the whole file, released by UnlockWholeFile or with the last handle.
    // Without wait a lock held elsewhere fails at once with Busy.
    virtual FsError LockWholeFile(const FileHandle& file, bool wait) = 0;
    virtual FsError UnlockWholeFile(const FileHandle& file) = 0;
    // Renames from over to, replacing what has that name. Both must be on one file system.
    virtual FsError RenameFile(const std::string& from, const std::string& to) = 0;
    // Forces a directory's entries to its device, so that a rename in it survives a crash.
    virtual FsError SyncDirectory(const std::string& path) = 0;
    // Creates a directory with the given permission bits (less the umask).
    virtual FsError MakeDirectoryWithMode(const std::string& path, std::uint32_t mode) = 0;

    // ---- Owners: what a restore needs besides content -------------------------------------
    // Sets the owner and group of name itself, never of what a link points to; kKeepOwner
    // leaves either as it is. NotSupported when the file system cannot hold the ids. Set through
    // the entry itself, opened once: with a known identity only while name still holds that
    // file, else only an entry this process has just made (its own). Replaced when name holds
    // another entry; a file with other names is refused (the system's "too many links").
    static constexpr std::uint32_t kKeepOwner = 0xFFFFFFFFu;
    virtual FsError SetOwnerAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected,
                               std::uint32_t owner, std::uint32_t group) = 0;
    // Whether this process may give what it writes to any owner (the superuser may).
    virtual bool MayGiveAway() = 0;
    // Whether this process may give its own files the group (it is one of its groups).
    virtual bool MayUseGroup(std::uint32_t group) = 0;

    // ---- Reading ahead: a worker reads a level while the walk is elsewhere -------------------
    // The status of the open directory itself, whatever its name has come to mean since.
    virtual FsError DirectoryStatus(const DirectoryHandle& dir, FileStatus& status) = 0;
    // A second handle on the same open directory, closed independently of the first.
    virtual FsError DuplicateDirectory(const DirectoryHandle& dir, DirectoryHandle& copy) = 0;
};

// The permission bits a file owned by owner:group takes of its source's: a set-user-id or
// set-group-id bit only with the id it grants, so that a mirror never hands out the rights of an
// id its owner does not hold.
inline std::uint32_t BitsToGive(std::uint32_t sourceMode, std::uint32_t sourceOwner, std::uint32_t sourceGroup,
                                std::uint32_t owner, std::uint32_t group) {
    constexpr std::uint32_t kSetUser = 04000;
    constexpr std::uint32_t kSetGroup = 02000;
    std::uint32_t mode = sourceMode & 07777;
    if (owner != sourceOwner) {
        mode &= ~kSetUser;
    }
    if (group != sourceGroup) {
        mode &= ~kSetGroup;
    }
    return mode;
}

// The backend of the platform the program was built for.
IFileSystem& NativeFileSystem();
// The longest path, in bytes, that one system call accepts.
std::size_t MaxPathLength();

// Every temporary copy file is named this prefix and kTemporaryCopySuffixLength characters of
// kTemporaryCopyAlphabet, so the engine can tell its own leftovers from a user's files.
inline constexpr std::string_view kTemporaryCopyPrefix = ".pemo-copy-";
inline constexpr std::size_t kTemporaryCopySuffixLength = 16;
inline constexpr std::string_view kTemporaryCopyAlphabet = "0123456789abcdefghijklmnopqrstuv";

// A fresh name of that form, random enough that two runs never pick the same one.
std::string NewTemporaryCopyName();

inline bool IsTemporaryCopyName(std::string_view name) {
    if (name.size() != kTemporaryCopyPrefix.size() + kTemporaryCopySuffixLength ||
        name.substr(0, kTemporaryCopyPrefix.size()) != kTemporaryCopyPrefix) {
        return false;
    }
    for (char c : name.substr(kTemporaryCopyPrefix.size())) {
        if (kTemporaryCopyAlphabet.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}
