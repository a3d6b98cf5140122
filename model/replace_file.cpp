// Replacing a file through a temporary sibling and a rename.
#include "model/replace_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<unsigned> temporaryCounter{0};

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates an empty temporary file beside target and returns its path.
std::string CreateTemporary(const std::string& target, const std::string& reportedPath) {
    const std::string dir = DirectoryOf(target);
    const std::string stem =
        (dir == "/" ? "" : dir) + "/." + NameOf(target) + ".pemo-tmp-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = stem + std::to_string(temporaryCounter++);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) {
            throw CFileException::FromErrno(errno, reportedPath);
        }
    }
    throw CFileException::FromErrno(EEXIST, reportedPath);
}

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

    const std::string temporary = CreateTemporary(target, path);
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
    SyncDirectory(DirectoryOf(target));
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
