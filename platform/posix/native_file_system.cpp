// The POSIX backend of IFileSystem: directory streams, status, creation and removal, and the
// copy through a temporary file with copy_file_range.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/file_system.h"
#include "platform/linux/file_system_types.h"
#include "util/path_parts.h"

namespace {

// Closes its descriptor on every path; Release() hands it back for an explicit, checked close.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) {
                ::close(fd_);
            }
            fd_ = other.Release();
        }
        return *this;
    }
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Get() const { return fd_; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

EntryKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) {
        return EntryKind::File;
    }
    if (S_ISDIR(mode)) {
        return EntryKind::Directory;
    }
    if (S_ISLNK(mode)) {
        return EntryKind::Symlink;
    }
    return EntryKind::Other;
}

class PosixDirectoryStream : public IDirectoryStream {
public:
    explicit PosixDirectoryStream(DIR* dir) : dir_(dir) {}
    PosixDirectoryStream(const PosixDirectoryStream&) = delete;
    PosixDirectoryStream& operator=(const PosixDirectoryStream&) = delete;
    ~PosixDirectoryStream() override { ::closedir(dir_); }

    bool Next(DirEntry& entry) override {
        for (;;) {
            errno = 0;
            struct dirent* d = ::readdir(dir_);
            if (d == nullptr) {
                error_ = FsError::FromSystem(errno);
                return false;
            }
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            entry.name.assign(name);
            entry.hidden = name[0] == '.'; // this system's only hidden attribute
            entry.system = false;
            switch (d->d_type) {
            case DT_REG:
                entry.kind = EntryKind::File;
                break;
            case DT_DIR:
                entry.kind = EntryKind::Directory;
                break;
            case DT_LNK:
                entry.kind = EntryKind::Symlink;
                break;
            case DT_UNKNOWN: {
                // Some file systems leave the type open; ask without following a link.
                struct stat st {};
                if (::fstatat(::dirfd(dir_), name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                    entry.kind = KindOfMode(st.st_mode);
                } else {
                    entry.kind = EntryKind::Other;
                }
                break;
            }
            default:
                entry.kind = EntryKind::Other;
                break;
            }
            return true;
        }
    }

    FsError Error() const override { return error_; }

private:
    DIR* dir_;
    FsError error_;
};

constexpr std::size_t kChunk = 1 << 20;

bool Cancelled(const std::atomic<int>* cancel) {
    return cancel != nullptr && cancel->load() != 0;
}

// Moves the bytes of in from offset up to end (or the end of the file when end is negative) to
// the same place in out, chunk by chunk; 0, ECANCELED or errno. kernelCopy is cleared for good
// once the kernel refuses this pair of files.
// Kept whole: the kernel copy and the plain reads share one chunk loop and its retries.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
int CopyRange(int in, int out, off_t offset, off_t end, std::uint64_t total, bool& kernelCopy,
              std::vector<char>& buffer, const CopyProgressFn& progress, const std::atomic<int>* cancel) {
    for (;;) {
        if (Cancelled(cancel)) {
            return ECANCELED;
        }
        if (end >= 0 && offset >= end) {
            return 0;
        }
        const std::size_t want =
            end < 0 ? kChunk : static_cast<std::size_t>(std::min<off_t>(end - offset, static_cast<off_t>(kChunk)));
        ssize_t moved = -1;
        if (kernelCopy) {
            off_t inOffset = offset;
            off_t outOffset = offset;
            moved = ::copy_file_range(in, &inOffset, out, &outOffset, want, 0);
            if (moved < 0) {
                int e = errno;
                if (e == EINTR) {
                    continue;
                }
                // Refused for this pair of files (other file system, no support): plain reads.
                if (e == EXDEV || e == ENOSYS || e == EINVAL || e == EOPNOTSUPP || e == EBADF || e == EPERM) {
                    kernelCopy = false;
                    continue;
                }
                return e;
            }
        } else {
            if (buffer.empty()) {
                buffer.resize(kChunk);
            }
            moved = ::pread(in, buffer.data(), want, offset);
            if (moved < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            ssize_t written = 0;
            while (written < moved) {
                ssize_t w =
                    ::pwrite(out, buffer.data() + written, static_cast<std::size_t>(moved - written), offset + written);
                if (w < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    return errno;
                }
                written += w;
            }
        }
        if (moved == 0) {
            return 0;
        }
        offset += moved;
        if (progress) {
            progress(total, static_cast<std::uint64_t>(offset));
        }
    }
}

// Moves the bytes of in to out; 0, ECANCELED or errno. The length read when the copy began is
// what is copied (its time is the one kept), its holes left holes; only a file that claims to be
// empty is read until the end, as some file systems report 0.
int CopyBytes(int in, int out, std::uint64_t total, const CopyProgressFn& progress, const std::atomic<int>* cancel) {
    bool kernelCopy = true;
    std::vector<char> buffer;
    if (total == 0) {
        return CopyRange(in, out, 0, -1, total, kernelCopy, buffer, progress, cancel);
    }
    const off_t size = static_cast<off_t>(total);
    off_t offset = 0;
    off_t copied = 0; // the end of the last data moved, as progress last showed it
    while (offset < size) {
        off_t data = ::lseek(in, offset, SEEK_DATA);
        off_t hole = size;
        if (data < 0) {
            if (errno != ENXIO) {
                data = offset; // no map of holes here: all of it is data
            } else {
                data = size; // only a hole is left
            }
        } else {
            hole = ::lseek(in, data, SEEK_HOLE);
            hole = hole < 0 ? size : std::min(hole, size);
        }
        if (data >= size) {
            break;
        }
        if (int e = CopyRange(in, out, data, hole, total, kernelCopy, buffer, progress, cancel)) {
            return e;
        }
        offset = hole;
        copied = hole;
    }
    // A hole at the end has no data to write that would give the copy its length. Only then:
    // some drivers (FAT through FUSE) refuse to set a length at all.
    if (copied < size && ::ftruncate(out, size) != 0) {
        return errno;
    }
    if (progress && copied < size) {
        progress(total, total);
    }
    return 0;
}

int FdOf(const DirectoryHandle& dir) {
    return static_cast<int>(dir.Native());
}

void FillStatus(const struct stat& st, const char* name, FileStatus& status) {
    status.size = static_cast<std::uint64_t>(st.st_size);
    status.mtimeSeconds = st.st_mtim.tv_sec;
    status.mtimeNanoseconds = st.st_mtim.tv_nsec;
    status.mode = st.st_mode & 07777;
    status.kind = KindOfMode(st.st_mode);
    status.hidden = name[0] == '.';
    status.system = false;
    status.owner = st.st_uid;
    status.group = st.st_gid;
    status.device = static_cast<std::uint64_t>(st.st_dev);
    status.inode = static_cast<std::uint64_t>(st.st_ino);
}

bool InGroup(gid_t group) {
    if (group == ::getegid()) {
        return true;
    }
    int count = ::getgroups(0, nullptr);
    if (count <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    count = ::getgroups(count, groups.data());
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group) {
            return true;
        }
    }
    return false;
}

// A file system that cannot hold the ids (no owners at all, or ids outside its mapping), or a
// process that may not hand them out: what the system gave is kept.
bool OwnerRefused(int error) {
    return error == EPERM || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS;
}

// Gives the open copy the source's owner and group, as far as this process may: all of it as
// the superuser, else the group when the process belongs to it. now receives the copy's status
// with the ids it ended with. 0 or the failure that matters.
int KeepOwner(int fd, const struct stat& source, struct stat& now) {
    if (::fstat(fd, &now) != 0) {
        return errno;
    }
    uid_t owner = static_cast<uid_t>(-1);
    gid_t group = static_cast<gid_t>(-1);
    if (::geteuid() == 0) {
        owner = source.st_uid;
        group = source.st_gid;
    } else {
        if (now.st_gid == source.st_gid || !InGroup(source.st_gid)) {
            return 0;
        }
        group = source.st_gid;
    }
    if (::fchown(fd, owner, group) != 0) {
        return OwnerRefused(errno) ? 0 : errno;
    }
    now.st_uid = owner == static_cast<uid_t>(-1) ? now.st_uid : owner;
    now.st_gid = group;
    return 0;
}

// The entry name in dirFd itself, opened without following a link and without reading it, if
// it is the expected file: the one with that identity, or else one this process has just made
// (its own). A file with other names is refused (EMLINK): they may lie outside the tree, and
// would change with it.
// Renames without replacing: EEXIST when to is taken.
FsError RenameNoReplace(int fromFd, const std::string& from, int toFd, const std::string& to) {
#if defined(RENAME_NOREPLACE)
    if (::renameat2(fromFd, from.c_str(), toFd, to.c_str(), RENAME_NOREPLACE) == 0) {
        return FsError();
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return FsError::FromSystem(errno);
    }
#endif
    // A file system without the no-replace rename: the name is looked at first. The target
    // directory is the program's own, so nobody else is expected to race for the name.
    struct stat st {};
    if (::fstatat(toFd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        return FsError::FromSystem(EEXIST);
    }
    return ::renameat(fromFd, from.c_str(), toFd, to.c_str()) == 0 ? FsError() : FsError::FromSystem(errno);
}

FsError OpenEntry(int dirFd, const std::string& name, const FileIdentity& expected, UniqueFd& fd, struct stat& st) {
    fd = UniqueFd(::openat(dirFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
        return FsError::FromSystem(errno);
    }
    const bool same = expected.Known() ? static_cast<std::uint64_t>(st.st_dev) == expected.device &&
                                             static_cast<std::uint64_t>(st.st_ino) == expected.inode
                                       : st.st_uid == ::geteuid();
    if (!same) {
        return FsError::OfKind(ErrorKind::Replaced);
    }
    return S_ISDIR(st.st_mode) || st.st_nlink == 1 ? FsError() : FsError::FromSystem(EMLINK);
}

// chmod of the entry fd names without opening it (O_PATH), which is name in dirFd. The kernel
// does it by descriptor where it can; else through /proc; where neither is there (an old kernel
// in a chroot), a regular file or directory is opened for the change and must be the same one.
int ModeThrough(int dirFd, const std::string& name, int fd, mode_t mode) {
    constexpr long kFchmodat2 = 452; // the same number on every architecture
    if (::syscall(kFchmodat2, fd, "", mode & 07777, AT_EMPTY_PATH) == 0) {
        return 0;
    }
    if (errno != ENOSYS && errno != EINVAL) {
        return errno;
    }
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    if (::chmod(path, mode & 07777) == 0) {
        return 0;
    }
    if (errno != ENOENT) {
        return errno;
    }
    struct stat held {};
    struct stat opened {};
    if (::fstat(fd, &held) != 0) {
        return errno;
    }
    if (!S_ISREG(held.st_mode) && !S_ISDIR(held.st_mode)) {
        return EOPNOTSUPP;
    }
    UniqueFd reopened(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (reopened.Get() < 0 || ::fstat(reopened.Get(), &opened) != 0) {
        return errno;
    }
    if (opened.st_dev != held.st_dev || opened.st_ino != held.st_ino) {
        return ESTALE;
    }
    return ::fchmod(reopened.Get(), mode & 07777) == 0 ? 0 : errno;
}

// A new private file of the temporary-copy form in dirFd, never through a link; 0 or the errno.
int CreateTemporaryAt(int dirFd, std::string& name, UniqueFd& out) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = NewTemporaryCopyName();
        out = UniqueFd(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (out.Get() >= 0) {
            return 0;
        }
        if (errno != EEXIST) {
            return errno;
        }
    }
    return EEXIST;
}

// Some FUSE drivers (FAT) give a file the time it is renamed at. A copy that shows a time more
// than FAT's two-second step away from the one it was given, and is still the very file written,
// gets its times again; at worst it stays as it is and a later run copies it again.
void KeepTimesThroughRename(int dirFd, const std::string& name, const struct stat& written,
                            const struct timespec (&times)[2]) {
    constexpr time_t kFarthestStep = 2;
    struct stat now {};
    if (::fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        std::abs(now.st_mtim.tv_sec - times[1].tv_sec) <= kFarthestStep || now.st_dev != written.st_dev ||
        now.st_ino != written.st_ino) {
        return;
    }
    const UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (fd.Get() >= 0 && ::fstat(fd.Get(), &opened) == 0 && opened.st_dev == written.st_dev &&
        opened.st_ino == written.st_ino) {
        ::futimens(fd.Get(), times);
    }
}

// Whether a file was written to or replaced between two looks at it.
bool Moved(const struct stat& before, const struct stat& after) {
    return before.st_size != after.st_size || before.st_mtim.tv_sec != after.st_mtim.tv_sec ||
           before.st_mtim.tv_nsec != after.st_mtim.tv_nsec || before.st_ctim.tv_sec != after.st_ctim.tv_sec ||
           before.st_ctim.tv_nsec != after.st_ctim.tv_nsec;
}

} // namespace

// The random part comes from the kernel, or from the clock and a counter when that is unavailable.
std::string NewTemporaryCopyName() {
    unsigned char random[kTemporaryCopySuffixLength];
    ssize_t got = ::getrandom(random, sizeof random, GRND_NONBLOCK);
    if (got != static_cast<ssize_t>(sizeof random)) {
        static std::atomic<std::uint64_t> counter{0};
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        std::uint64_t mix = static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(::getpid()) << 32) ^
                            (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
        for (unsigned char& byte : random) {
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
            byte = static_cast<unsigned char>(mix >> 56);
        }
    }
    std::string name(kTemporaryCopyPrefix);
    for (unsigned char byte : random) {
        name.push_back(kTemporaryCopyAlphabet[byte % kTemporaryCopyAlphabet.size()]);
    }
    return name;
}

namespace {

class PosixFileSystem : public IFileSystem {
public:
    FsError OpenDirectoryPath(const std::string& path, bool followLink, DirectoryHandle& handle) override {
        int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
        int fd = ::open(path.c_str(), flags);
        if (fd < 0) {
            return FsError::FromSystem(errno);
        }
        handle = DirectoryHandle(fd);
        return FsError();
    }

    FsError OpenDirectoryAt(const DirectoryHandle& parent, const std::string& name, DirectoryHandle& handle) override {
        int fd = ::openat(FdOf(parent), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            return FsError::FromSystem(errno);
        }
        handle = DirectoryHandle(fd);
        return FsError();
    }

    std::unique_ptr<IDirectoryStream> ListDirectory(const DirectoryHandle& dir, FsError& error) override {
        // A fresh open of the directory itself, so the listing has its own position.
        int fd = ::openat(FdOf(dir), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            error = FsError::FromSystem(errno);
            return nullptr;
        }
        DIR* stream = ::fdopendir(fd);
        if (stream == nullptr) {
            error = FsError::FromSystem(errno);
            ::close(fd);
            return nullptr;
        }
        error = FsError();
        return std::make_unique<PosixDirectoryStream>(stream);
    }

    FsError Status(const std::string& path, bool followLink, FileStatus& status) override {
        struct stat st {};
        int rc = followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
        if (rc != 0) {
            return FsError::FromSystem(errno);
        }
        FillStatus(st, NamePartOf(path).c_str(), status);
        return FsError();
    }

    FsError StatusAt(const DirectoryHandle& dir, const std::string& name, bool followLink,
                     FileStatus& status) override {
        struct stat st {};
        if (::fstatat(FdOf(dir), name.c_str(), &st, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
            return FsError::FromSystem(errno);
        }
        FillStatus(st, name.c_str(), status);
        return FsError();
    }

    FsError MakeDirectory(const std::string& path) override {
        return ::mkdir(path.c_str(), 0777) == 0 ? FsError() : FsError::FromSystem(errno);
    }

    FsError MakeDirectoryAt(const DirectoryHandle& dir, const std::string& name) override {
        // Private until the walk has filled it and given it the source's bits.
        return ::mkdirat(FdOf(dir), name.c_str(), 0700) == 0 ? FsError() : FsError::FromSystem(errno);
    }

    FsError RemoveFileAt(const DirectoryHandle& dir, const std::string& name) override {
        return ::unlinkat(FdOf(dir), name.c_str(), 0) == 0 ? FsError() : FsError::FromSystem(errno);
    }

    FsError RemoveDirectoryAt(const DirectoryHandle& dir, const std::string& name) override {
        return ::unlinkat(FdOf(dir), name.c_str(), AT_REMOVEDIR) == 0 ? FsError() : FsError::FromSystem(errno);
    }

    FsError SetNormalAttributesAt(const DirectoryHandle& dir, const std::string& name) override {
        // The bits are read and set on one entry, whatever is put under its name meanwhile.
        UniqueFd fd(::openat(FdOf(dir), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
            return FsError::FromSystem(errno);
        }
        if (S_ISLNK(st.st_mode)) {
            return FsError(); // a link has no permissions of its own; chmod would reach its target
        }
        const int e = ModeThrough(FdOf(dir), name, fd.Get(), (st.st_mode & 07777) | S_IWUSR);
        return e == 0 || e == EOPNOTSUPP ? FsError() : FsError::FromSystem(e);
    }

    FsError SetModeAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected,
                      std::uint32_t mode) override {
        UniqueFd fd;
        struct stat st {};
        if (FsError e = OpenEntry(FdOf(dir), name, expected, fd, st)) {
            return e;
        }
        // Never through a link, even one swapped in since the caller looked.
        if (S_ISLNK(st.st_mode)) {
            return Error(EOPNOTSUPP);
        }
        const int e = ModeThrough(FdOf(dir), name, fd.Get(), static_cast<mode_t>(mode));
        return e == 0 ? FsError() : Error(e);
    }

    FsError RenameAt(const DirectoryHandle& dir, const std::string& from, const std::string& to) override {
        return ::renameat(FdOf(dir), from.c_str(), FdOf(dir), to.c_str()) == 0 ? FsError() : FsError::FromSystem(errno);
    }

    FsError MoveAt(const DirectoryHandle& fromDir, const std::string& from, const DirectoryHandle& toDir,
                   const std::string& to) override {
        return RenameNoReplace(FdOf(fromDir), from, FdOf(toDir), to);
    }

    FsError ReadLinkAt(const DirectoryHandle& dir, const std::string& name, std::string& target) override {
        // A target may be as long as a path; grow until the whole text fits.
        std::string buffer(256, '\0');
        for (;;) {
            ssize_t got = ::readlinkat(FdOf(dir), name.c_str(), buffer.data(), buffer.size());
            if (got < 0) {
                return FsError::FromSystem(errno);
            }
            if (static_cast<std::size_t>(got) < buffer.size()) {
                buffer.resize(static_cast<std::size_t>(got));
                target = std::move(buffer);
                return FsError();
            }
            if (buffer.size() > (std::size_t{1} << 20)) {
                return FsError::FromSystem(ENAMETOOLONG);
            }
            buffer.resize(buffer.size() * 2);
        }
    }

    FsError MakeLinkAt(const DirectoryHandle& dir, const std::string& name, const std::string& target) override {
        if (::symlinkat(target.c_str(), FdOf(dir), name.c_str()) == 0) {
            return FsError();
        }
        // From symlinkat EPERM says the file system has no links (FAT, exFAT), not a refusal.
        const int error = errno;
        return error == EPERM || error == EOPNOTSUPP ? FsError{ErrorKind::NotSupported, error}
                                                     : FsError::FromSystem(error);
    }

    FsError SetLinkTimeAt(const DirectoryHandle& dir, const std::string& name, std::int64_t seconds,
                          std::int64_t nanoseconds) override {
        // Both times: some drivers (FUSE exFAT) drop a call that leaves the access time out.
        struct timespec times[2]{};
        times[0].tv_nsec = UTIME_NOW;
        times[1].tv_sec = static_cast<time_t>(seconds);
        times[1].tv_nsec = static_cast<long>(nanoseconds);
        if (::utimensat(FdOf(dir), name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            return FsError::FromSystem(errno);
        }
        return FsError();
    }

    FsError ProbeTimesAt(const DirectoryHandle& dir, const FileTime& set, FileTime& kept) override {
        const int at = FdOf(dir);
        std::string temp;
        UniqueFd out;
        if (const int e = CreateTemporaryAt(at, temp, out)) {
            return FsError::FromSystem(e);
        }
        struct timespec times[2]{};
        times[1].tv_sec = static_cast<time_t>(set.seconds);
        times[1].tv_nsec = static_cast<long>(set.nanoseconds);
        times[0] = times[1];
        // As a copy: some content, the times through the open file, then the close, which on
        // some file systems writes the time once more.
        int e = ::write(out.Get(), "t", 1) == 1 ? 0 : (errno != 0 ? errno : EIO);
        if (e == 0 && ::futimens(out.Get(), times) != 0) {
            e = errno;
        }
        const int fd = out.Release();
        if (::close(fd) != 0 && e == 0) {
            e = errno;
        }
        struct stat st {};
        if (e == 0 && ::fstatat(at, temp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            e = errno;
        }
        if (e == 0) {
            kept = FileTime{st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
        }
        if (::unlinkat(at, temp.c_str(), 0) != 0 && e == 0) {
            e = errno;
        }
        return e == 0 ? FsError() : FsError::FromSystem(e);
    }

    FsError OpenCopySourceAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& listed,
                             bool followLink, FileHandle& source) override {
        // Non-blocking: a fifo or a device put under the name must not hold the run.
        UniqueFd in(::openat(FdOf(dir), name.c_str(),
                             O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW)));
        struct stat st {};
        if (in.Get() < 0 || ::fstat(in.Get(), &st) != 0) {
            return Error(errno);
        }
        if (listed.Known() && (static_cast<std::uint64_t>(st.st_dev) != listed.device ||
                               static_cast<std::uint64_t>(st.st_ino) != listed.inode)) {
            return FsError::OfKind(ErrorKind::Replaced);
        }
        if (!S_ISREG(st.st_mode)) {
            return Error(S_ISDIR(st.st_mode) ? EISDIR : EOPNOTSUPP);
        }
        source = FileHandle(in.Release());
        return FsError();
    }

    CopyResult CopyOpenFileAt(const FileHandle& source, const DirectoryHandle& destinationDir,
                              const std::string& destinationName, const CopyProgressFn& progress,
                              const std::atomic<int>* cancel) override {
        const int inFd = FileFd(source);
        struct stat st {};
        if (::fstat(inFd, &st) != 0) {
            return Fail(errno);
        }
        if (!S_ISREG(st.st_mode)) {
            return Fail(EOPNOTSUPP);
        }
        const int outDir = FdOf(destinationDir);
        std::string temp;
        UniqueFd out;
        if (const int e = CreateTemporaryAt(outDir, temp, out)) {
            return Fail(e);
        }
        int e = CopyBytes(inFd, out.Get(), static_cast<std::uint64_t>(st.st_size), progress, cancel);
        bool changed = false;
        if (e == 0) {
            struct stat after {};
            if (::fstat(inFd, &after) != 0) {
                e = errno;
            } else if (Moved(st, after)) {
                changed = true;
                e = ECANCELED;
            }
        }
        // The owner first: a change of owner clears the set-id bits the mode then restores.
        struct stat copy {};
        if (e == 0) {
            e = KeepOwner(out.Get(), st, copy);
        }
        // A file system that keeps no permission bits (FAT through FUSE) has none to give.
        if (e == 0 &&
            ::fchmod(out.Get(), BitsToGive(st.st_mode, st.st_uid, st.st_gid, copy.st_uid, copy.st_gid)) != 0 &&
            errno != ENOSYS && errno != EOPNOTSUPP) {
            e = errno;
        }
        // Both times: some drivers (FUSE exFAT) drop a call that leaves the access time out.
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (e == 0 && ::futimens(out.Get(), times) != 0) {
            e = errno;
        }
        int fd = out.Release();
        if (::close(fd) != 0 && e == 0) {
            e = errno;
        }
        if (e == 0 && ::renameat(outDir, temp.c_str(), outDir, destinationName.c_str()) != 0) {
            e = errno;
        }
        if (e == 0) {
            KeepTimesThroughRename(outDir, destinationName, copy, times);
        }
        if (e != 0) {
            ::unlinkat(outDir, temp.c_str(), 0);
            if (changed) {
                return CopyResult{CopyOutcome::SourceChanged, FsError()};
            }
            if (e == ECANCELED) {
                return CopyResult{CopyOutcome::Cancelled, FsError()};
            }
            return Fail(e);
        }
        return CopyResult{CopyOutcome::Copied, FsError()};
    }

    FsError CheckOpenFileLocked(const FileHandle& source, bool& locked) override {
        locked = false;
        const int fd = FileFd(source);
        // A write lease is granted only while nobody else has the file open, readers included.
        if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
            ::fcntl(fd, F_SETLEASE, F_UNLCK);
            return FsError();
        }
        if (errno == EAGAIN) {
            locked = true;
            return FsError();
        }
        // Leases refused (not the owner, file system without leases): look for a conflicting
        // record lock or whole-file lock instead.
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) {
            fl = {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            if (::fcntl(fd, F_GETLK, &fl) != 0) {
                return FsError::FromSystem(errno);
            }
        }
        if (fl.l_type != F_UNLCK) {
            locked = true;
            return FsError();
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                locked = true;
                return FsError();
            }
            return FsError::FromSystem(errno);
        }
        ::flock(fd, LOCK_UN);
        return FsError();
    }

    FsError FlushFileSystem(const DirectoryHandle& dir) override {
        return ::syncfs(FdOf(dir)) == 0 ? FsError() : FsError::FromSystem(errno);
    }

    FsError CanonicalPath(const std::string& path, std::string& canonical) override {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr) {
            return FsError::FromSystem(errno);
        }
        canonical = resolved;
        std::free(resolved);
        return FsError();
    }

    // A mount point is where the device number changes on the way up; the walk starts from the
    // nearest existing ancestor, links resolved, so that it never climbs through a link.
    FsError MountPointOf(const std::string& path, std::string& mountPoint, bool& systemRoot) override {
        std::string existing = path.empty() ? std::string(".") : path;
        std::string current;
        for (;;) {
            char* resolved = ::realpath(existing.c_str(), nullptr);
            if (resolved != nullptr) {
                current = resolved;
                std::free(resolved);
                break;
            }
            const int error = errno;
            const std::string parent = DirectoryPartOf(existing);
            if (error != ENOENT || parent == existing) {
                return FsError::FromSystem(error);
            }
            existing = parent;
        }
        struct stat here {};
        if (::stat(current.c_str(), &here) != 0) {
            return FsError::FromSystem(errno);
        }
        while (current != "/") {
            const std::string parent = DirectoryPartOf(current);
            struct stat up {};
            if (::stat(parent.c_str(), &up) != 0) {
                return FsError::FromSystem(errno);
            }
            if (up.st_dev != here.st_dev) {
                break;
            }
            current = parent;
            here = up;
        }
        mountPoint = current;
        systemRoot = current == "/";
        return FsError();
    }

    bool KeepsFineTimes(const std::string& path) override {
        struct statfs st {};
        return ::statfs(path.c_str(), &st) == 0 && FileSystemTypeKeepsFineTimes(static_cast<std::uint64_t>(st.f_type));
    }

    // ---- Files the program keeps itself ----

    FsError OpenFile(const std::string& path, const FileOpenMode& mode, FileHandle& file) override {
        return OpenFileIn(AT_FDCWD, path, mode, file);
    }

    FsError OpenFileAt(const DirectoryHandle& dir, const std::string& name, const FileOpenMode& mode,
                       FileHandle& file) override {
        return OpenFileIn(FdOf(dir), name, mode, file);
    }

    FsError FileInfo(const FileHandle& file, OpenFileInfo& info) override {
        struct stat st {};
        if (::fstat(FileFd(file), &st) != 0) {
            return Error(errno);
        }
        info.size = static_cast<std::uint64_t>(st.st_size);
        info.mode = st.st_mode & 07777;
        info.regular = S_ISREG(st.st_mode);
        info.ownedByUser = st.st_uid == ::geteuid();
        return {};
    }

    FsError ReadFileData(const FileHandle& file, void* buffer, std::size_t size, std::size_t& read) override {
        read = 0;
        ssize_t n;
        do {
            n = ::read(FileFd(file), buffer, size);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return Error(errno);
        }
        read = static_cast<std::size_t>(n);
        return {};
    }

    FsError ReadFileDataAt(const FileHandle& file, std::uint64_t offset, void* buffer, std::size_t size,
                           std::size_t& read) override {
        read = 0;
        ssize_t n;
        do {
            n = ::pread(FileFd(file), buffer, size, static_cast<off_t>(offset));
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return Error(errno);
        }
        read = static_cast<std::size_t>(n);
        return {};
    }

    FsError WriteFileData(const FileHandle& file, const void* data, std::size_t size, std::size_t& written) override {
        written = 0;
        const char* bytes = static_cast<const char*>(data);
        while (written < size) {
            const ssize_t n = ::write(FileFd(file), bytes + written, size - written);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return Error(errno);
            }
            written += static_cast<std::size_t>(n);
        }
        return {};
    }

    FsError SeekFile(const FileHandle& file, std::int64_t offset, SeekOrigin origin, std::uint64_t& position) override {
        const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
        const off_t result = ::lseek(FileFd(file), static_cast<off_t>(offset), whence);
        if (result < 0) {
            return Error(errno);
        }
        position = static_cast<std::uint64_t>(result);
        return {};
    }

    FsError TruncateFile(const FileHandle& file, std::uint64_t length) override {
        return ::ftruncate(FileFd(file), static_cast<off_t>(length)) == 0 ? FsError{} : Error(errno);
    }

    FsError SetFileMode(const FileHandle& file, std::uint32_t mode) override {
        return ::fchmod(FileFd(file), static_cast<mode_t>(mode & 07777)) == 0 ? FsError{} : Error(errno);
    }

    FsError SyncFile(const FileHandle& file) override {
        if (::fsync(FileFd(file)) != 0 && errno != EINVAL && errno != EROFS) {
            return Error(errno);
        }
        return {};
    }

    FsError CloseFile(FileHandle& file) override {
        if (!file.IsOpen()) {
            return {};
        }
        const int result = ::close(static_cast<int>(file.Release()));
        // After EINTR the descriptor is gone on Linux and the data was handed over.
        if (result != 0 && errno != EINTR) {
            return Error(errno);
        }
        return {};
    }

    FsError LockWholeFile(const FileHandle& file, bool wait) override {
        int result;
        do {
            result = ::flock(FileFd(file), LOCK_EX | (wait ? 0 : LOCK_NB));
        } while (result != 0 && errno == EINTR);
        return result == 0 ? FsError{} : Error(errno);
    }

    FsError UnlockWholeFile(const FileHandle& file) override {
        return ::flock(FileFd(file), LOCK_UN) == 0 ? FsError{} : Error(errno);
    }

    FsError RenameFile(const std::string& from, const std::string& to) override {
        return ::rename(from.c_str(), to.c_str()) == 0 ? FsError{} : Error(errno);
    }

    FsError SyncDirectory(const std::string& path) override {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.Get() < 0) {
            return Error(errno);
        }
        if (::fsync(fd.Get()) != 0 && errno != EINVAL && errno != EROFS) {
            return Error(errno);
        }
        return {};
    }

    FsError MakeDirectoryWithMode(const std::string& path, std::uint32_t mode) override {
        return ::mkdir(path.c_str(), static_cast<mode_t>(mode & 07777)) == 0 ? FsError{} : Error(errno);
    }

    // ---- Owners ----
    FsError SetOwnerAt(const DirectoryHandle& dir, const std::string& name, const FileIdentity& expected,
                       std::uint32_t owner, std::uint32_t group) override {
        UniqueFd fd;
        struct stat st {};
        if (FsError e = OpenEntry(FdOf(dir), name, expected, fd, st)) {
            return e;
        }
        if (::fchownat(fd.Get(), "", static_cast<uid_t>(owner), static_cast<gid_t>(group), AT_EMPTY_PATH) != 0) {
            // An id the file system cannot map is a limit of the file system, not a bad call.
            return errno == EINVAL ? FsError{ErrorKind::NotSupported, EINVAL} : Error(errno);
        }
        return {};
    }

    bool MayGiveAway() override { return ::geteuid() == 0; }

    bool MayUseGroup(std::uint32_t group) override { return InGroup(static_cast<gid_t>(group)); }

    FsError DirectoryStatus(const DirectoryHandle& dir, FileStatus& status) override {
        struct stat st {};
        if (::fstat(FdOf(dir), &st) != 0) {
            return Error(errno);
        }
        FillStatus(st, "", status);
        return FsError();
    }

    FsError DuplicateDirectory(const DirectoryHandle& dir, DirectoryHandle& copy) override {
        const int fd = ::fcntl(FdOf(dir), F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            return Error(errno);
        }
        copy = DirectoryHandle(fd);
        return FsError();
    }

private:
    static CopyResult Fail(int error) { return CopyResult{CopyOutcome::Failed, FsError::FromSystem(error)}; }
    static FsError Error(int code) { return FsError::FromSystem(code); }
    static int FileFd(const FileHandle& file) { return static_cast<int>(file.Native()); }

    static FsError OpenFileIn(int dirFd, const std::string& name, const FileOpenMode& mode, FileHandle& file) {
        int flags = O_CLOEXEC;
        switch (mode.access) {
        case FileAccess::Read:
            flags |= O_RDONLY;
            break;
        case FileAccess::Write:
            flags |= O_WRONLY;
            break;
        case FileAccess::ReadWrite:
            flags |= O_RDWR;
            break;
        }
        if (mode.create) {
            flags |= O_CREAT | (mode.exclusive ? O_EXCL : 0);
        }
        if (mode.noFollow || (mode.create && mode.exclusive)) {
            flags |= O_NOFOLLOW;
        }
        if (mode.nonBlocking || mode.regularOnly) {
            flags |= O_NONBLOCK;
        }
        // Not retried on EINTR: a signal ends an open that waits (a fifo, a hung mount).
        UniqueFd fd(::openat(dirFd, name.c_str(), flags, static_cast<mode_t>(mode.createMode & 07777)));
        if (fd.Get() < 0) {
            return Error(errno);
        }
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0) {
            return Error(errno);
        }
        if (S_ISDIR(st.st_mode)) {
            return Error(EISDIR);
        }
        if (mode.regularOnly && !S_ISREG(st.st_mode)) {
            return FsError::OfKind(ErrorKind::NotSupported);
        }
        if (mode.regularOnly && !mode.nonBlocking) {
            const int status = ::fcntl(fd.Get(), F_GETFL);
            if (status < 0 || ::fcntl(fd.Get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
                return Error(errno);
            }
        }
        file = FileHandle(fd.Release());
        return {};
    }
};

} // namespace

void FileHandle::Close() {
    if (native_ != kNone) {
        ::close(static_cast<int>(native_));
        native_ = kNone;
    }
}

void DirectoryHandle::Close() {
    if (native_ != kNone) {
        ::close(static_cast<int>(native_));
        native_ = kNone;
    }
}

std::size_t MaxPathLength() {
    return PATH_MAX;
}

IFileSystem& NativeFileSystem() {
    static PosixFileSystem fs;
    return fs;
}
