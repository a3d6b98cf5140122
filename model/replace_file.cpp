// Replacing a file through a temporary sibling and a rename.
#include "model/replace_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "util/path_parts.h"

namespace {

std::atomic<unsigned> temporaryCounter{0};

constexpr const char* kTemporaryMarker = ".pemo-save-";
constexpr const char* kTemporarySuffix = ".tmp";

// The name of a temporary for target: "." + name + ".pemo-save-" + PID + "-" + N + ".tmp".
std::string TemporaryName(const std::string& name, long pid, unsigned n) {
    return "." + name + kTemporaryMarker + std::to_string(pid) + "-" + std::to_string(n) + kTemporarySuffix;
}

bool AllDigits(std::string_view text) {
    if (text.empty() || text.size() > 18) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// The PID in an entry name of exactly the temporary form for name; 0 when it is not one.
long TemporaryPid(const std::string& entry, const std::string& name) {
    const std::string head = "." + name + kTemporaryMarker;
    const std::string_view tail = kTemporarySuffix;
    if (entry.size() <= head.size() + tail.size() || entry.compare(0, head.size(), head) != 0 ||
        entry.compare(entry.size() - tail.size(), tail.size(), tail) != 0) {
        return 0;
    }
    const std::string_view middle =
        std::string_view(entry).substr(head.size(), entry.size() - head.size() - tail.size());
    const std::size_t dash = middle.find('-');
    if (dash == std::string_view::npos || !AllDigits(middle.substr(0, dash)) || !AllDigits(middle.substr(dash + 1))) {
        return 0;
    }
    return std::strtol(std::string(middle.substr(0, dash)).c_str(), nullptr, 10);
}

bool ProcessAlive(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

// Removes the temporaries of earlier saves of target that were killed before their rename. A
// live save, of this or another process, is never touched: its PID is alive and it holds an
// exclusive flock on its temporary until the rename. Only regular files of exactly the
// temporary form that belong to this user qualify. Best effort: failures are ignored.
void RemoveStaleTemporaries(const std::string& dir, const std::string& name) {
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return;
    }
    DIR* stream = ::fdopendir(dirFd);
    if (stream == nullptr) {
        ::close(dirFd);
        return;
    }
    std::vector<std::string> stale;
    while (const struct dirent* entry = ::readdir(stream)) {
        const std::string entryName = entry->d_name;
        const long pid = TemporaryPid(entryName, name);
        if (pid <= 0 || ProcessAlive(pid)) {
            continue;
        }
        stale.push_back(entryName);
    }
    for (const std::string& entryName : stale) {
        const int fd = ::openat(dirFd, entryName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlinkat(dirFd, entryName.c_str(), 0);
        }
        ::close(fd);
    }
    ::closedir(stream);
}

// Creates an empty temporary file beside target, locked with flock for as long as lockFd stays
// open, and returns its path.
std::string CreateTemporary(const std::string& target, const std::string& reportedPath, int& lockFd) {
    const std::string dir = DirectoryPartOf(target);
    const std::string prefix = dir == "/" ? "/" : dir + "/";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = prefix + TemporaryName(NamePartOf(target), getpid(), temporaryCounter++);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX);
            lockFd = fd;
            return candidate;
        }
        if (errno != EEXIST) {
            throw CFileException::FromErrno(errno, reportedPath);
        }
    }
    throw CFileException::FromErrno(EEXIST, reportedPath);
}

// Closes a descriptor at the end of its scope.
class FdCloser {
public:
    explicit FdCloser(int& fd) : fd_(fd) {}
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    ~FdCloser() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

private:
    int& fd_;
};

void SyncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // best effort: the rename itself has already succeeded
        ::close(fd);
    }
}

} // namespace

void ReplaceFile(const std::string& path, unsigned flags, const std::function<void(CStdioFileEx&)>& write) {
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) {
            target = resolved;
        }
    }
    struct stat old {};
    const bool hadOld = ::stat(target.c_str(), &old) == 0;

    RemoveStaleTemporaries(DirectoryPartOf(target), NamePartOf(target));
    int lockFd = -1;
    const std::string temporary = CreateTemporary(target, path, lockFd);
    FdCloser closeLock(lockFd);
    try {
        if (hadOld) {
            ::chmod(temporary.c_str(), old.st_mode & 07777);
        }
        CStdioFileEx file;
        CFileException error;
        flags |= CStdioFileEx::modeCreate | CStdioFileEx::modeWrite;
        flags &= ~static_cast<unsigned>(CStdioFileEx::modeNoTruncate);
        if (!file.Open(temporary, flags, &error)) {
            throw error;
        }
        file.SetFilePath(path);
        write(file);
        file.Sync();
        file.Close();
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            throw CFileException::FromErrno(errno, path);
        }
    } catch (CFileException& e) {
        ::unlink(temporary.c_str());
        e.fileName = path;
        throw;
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    SyncDirectory(DirectoryPartOf(target));
}

bool MakeDirectoryTree(const std::string& dir) {
    if (dir.empty()) {
        return true;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    const std::size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectoryTree(dir.substr(0, slash))) {
        return false;
    }
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool RemoveFileIfPresent(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}
