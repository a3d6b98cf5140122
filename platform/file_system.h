// IFileSystem: the one door through which the engine reaches the disk. Paths are byte strings
// passed to the system untouched; every result carries the system's error number.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The separator the engine joins paths with.
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// What an entry is, as seen without following links.
enum class EntryKind { File, Directory, Symlink, Other };

struct DirEntry {
    std::string name;
    EntryKind kind = EntryKind::Other;
    // The hidden and system attributes as this platform knows them.
    bool hidden = false;
    bool system = false;
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
};

// One open directory listing. Entries come in the file system's order, without "." and "..".
class IDirectoryStream {
public:
    virtual ~IDirectoryStream() = default;
    // False at the end of the listing or on an error; Error() then tells which (0 = the end).
    virtual bool Next(DirEntry& entry) = 0;
    virtual int Error() const = 0;
};

enum class CopyOutcome { Copied, Cancelled, Failed };

struct CopyResult {
    CopyOutcome outcome = CopyOutcome::Failed;
    int error = 0; // errno of a failure; 0 when copied or cancelled
};

// Called on the copying thread after each chunk with the source's length and the bytes moved.
using CopyProgressFn = std::function<void(std::uint64_t total, std::uint64_t transferred)>;

// Method names avoid the Win32 macros (DeleteFile, CopyFile, RemoveDirectory) so a Windows
// backend can include its headers.
class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // Opens a listing. With followLink false a symbolic link is refused (ELOOP or ENOTDIR), so
    // nothing is ever listed through a link the caller has not chosen. Null with error set on
    // failure.
    virtual std::unique_ptr<IDirectoryStream> OpenDirectory(const std::string& path, bool followLink, int& error) = 0;
    // 0 or errno. followLink chooses stat over lstat.
    virtual int Status(const std::string& path, bool followLink, FileStatus& status) = 0;
    // 0 or errno; EEXIST when something already has the name.
    virtual int MakeDirectory(const std::string& path) = 0;
    // Removes a file or a link itself (never its target). 0 or errno.
    virtual int RemoveFile(const std::string& path) = 0;
    // Removes an empty directory. 0 or errno.
    virtual int RemoveEmptyDirectory(const std::string& path) = 0;
    // "Attributes to normal": gives the owner write permission. A link is left as it is. 0 or errno.
    virtual int SetNormalAttributes(const std::string& path) = 0;
    virtual int RenamePath(const std::string& from, const std::string& to) = 0;
    // Copies the content of source (links followed) over destination through a temporary file in
    // the destination's directory, renamed into place at the end. Keeps the source's modification
    // time and permission bits. A failed or cancelled copy removes its temporary file and leaves
    // the old destination as it was. cancel (may be null) is polled between chunks.
    virtual CopyResult CopyFileContent(const std::string& source, const std::string& destination,
                                       const CopyProgressFn& progress, const std::atomic<int>* cancel) = 0;
    // Whether another opener holds the file, or the file cannot be opened for reading at all. 0
    // with locked filled in, or errno when the check itself failed.
    virtual int CheckLocked(const std::string& path, bool& locked) = 0;
    // The absolute path with every link resolved. 0 or errno (ENOENT when it does not exist).
    virtual int CanonicalPath(const std::string& path, std::string& canonical) = 0;
    // Whether the file system holding path is known to keep modification times exactly as they
    // are set, to the second or finer. False when it rounds them (FAT), may (network shares), or
    // cannot be told.
    virtual bool KeepsFineTimes(const std::string& path) = 0;
};

// The backend of the platform the program was built for.
IFileSystem& NativeFileSystem();

// The prefix every temporary copy file carries, so tests and cleanup can recognise one.
inline constexpr const char* kTemporaryCopyPrefix = ".pemo-copy-";
