// The engine tests' helpers: rig, times and links, snapshots, deep trees, unprivileged children.
#include "support/engine_tree.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "model/stdio_file_ex.h"
#include "platform/file_system.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"
#include "sync/exclusions.h"

namespace fs = std::filesystem;

EngineRig::EngineRig() {
    ctx.fs = &fs;
    ctx.log = &log;
    ctx.window = &window;
    ctx.messages = &messages;
}

#ifdef _WIN32
namespace {

// The \\?\ form, so that trees deeper than MAX_PATH are reached.
fs::path LongPath(const std::string& path) {
    return FsPath("\\\\?\\" + path);
}

fs::file_time_type FileTimeOf(std::int64_t seconds, std::int64_t nanoseconds) {
    const auto since = std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds);
    return std::chrono::file_clock::from_sys(std::chrono::sys_time<std::chrono::nanoseconds>(since));
}

} // namespace

void SetModified(const std::string& path, std::int64_t seconds, std::int64_t nanoseconds) {
    fs::last_write_time(LongPath(path), FileTimeOf(seconds, nanoseconds));
}

std::int64_t ModifiedOf(const std::string& path) {
    const auto time = std::chrono::file_clock::to_sys(fs::last_write_time(LongPath(path)));
    return std::chrono::floor<std::chrono::seconds>(time).time_since_epoch().count();
}

void MakeLink(const std::string& target, const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(FsPath(path).parent_path() / FsPath(target), ec)) {
        fs::create_directory_symlink(FsPath(target), LongPath(path));
    } else {
        fs::create_symlink(FsPath(target), LongPath(path));
    }
}

bool IsLink(const std::string& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(LongPath(path), ec));
}

bool IsDirectoryPath(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(LongPath(path), ec));
}

std::string TreeSnapshot(const std::string& root) {
    std::vector<std::string> lines;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(LongPath(root), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::file_status st = it->symlink_status(ec);
        std::string line = Utf8Of(it->path()).substr(root.size() + 4) +
                           " perms=" + std::to_string(static_cast<int>(st.permissions())) +
                           " mtime=" + std::to_string(it->last_write_time(ec).time_since_epoch().count());
        if (fs::is_regular_file(st)) {
            line += " file size=" + std::to_string(it->file_size(ec)) + " content=" + ReadFileBytes(Utf8Of(it->path()));
        } else if (fs::is_symlink(st)) {
            line += " link=" + Utf8Of(fs::read_symlink(it->path(), ec));
        } else if (fs::is_directory(st)) {
            line += " dir";
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    return all;
}

void MakeDeepTree(const std::string& root, const std::string& name, int levels) {
    fs::path level = LongPath(root);
    for (int i = 0; i < levels; ++i) {
        level /= FsPath(name);
        fs::create_directory(level);
    }
    std::ofstream(level / "leaf.txt", std::ios::binary) << "leaf";
}

void RemoveTreeAt(const std::string& path) {
    std::error_code ec;
    fs::remove_all(LongPath(path), ec);
}

int DeepTreeDepth(const std::string& root, const std::string& name) {
    fs::path level = LongPath(root) / FsPath(name);
    int depth = 0;
    std::error_code ec;
    while (fs::is_directory(fs::symlink_status(level, ec))) {
        ++depth;
        level /= FsPath(name);
    }
    return depth;
}
#else
void SetModified(const std::string& path, std::int64_t seconds, std::int64_t nanoseconds) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(nanoseconds);
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::runtime_error("utimensat " + path + ": " + std::strerror(errno));
    }
}

std::int64_t ModifiedOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        throw std::runtime_error("lstat " + path);
    }
    return st.st_mtim.tv_sec;
}

void MakeLink(const std::string& target, const std::string& path) {
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        throw std::runtime_error("symlink " + path + ": " + std::strerror(errno));
    }
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsDirectoryPath(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string TreeSnapshot(const std::string& root) {
    std::vector<std::string> lines;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string path = it->path().string();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            continue;
        }
        std::string line = path.substr(root.size()) + " mode=" + std::to_string(st.st_mode) +
                           " mtime=" + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode)) {
            line += " file size=" + std::to_string(st.st_size) + " content=" + ReadFileBytes(path);
        } else if (S_ISLNK(st.st_mode)) {
            line += " link=" + fs::read_symlink(it->path(), ec).string();
        } else if (S_ISDIR(st.st_mode)) {
            line += " dir";
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    return all;
}

#endif

std::vector<std::string> FindTemporaries(const std::string& root) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(FsPath(root), ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (Utf8Of(it->path().filename()).rfind(std::string(kTemporaryCopyPrefix), 0) == 0) {
            found.push_back(Utf8Of(it->path()));
        }
    }
    return found;
}

#ifndef _WIN32
void MakeDeepTree(const std::string& root, const std::string& name, int levels) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("open " + root);
    }
    for (int i = 0; i < levels; ++i) {
        if (::mkdirat(fd, name.c_str(), 0755) != 0 && errno != EEXIST) {
            ::close(fd);
            throw std::runtime_error("mkdirat");
        }
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        if (next < 0) {
            throw std::runtime_error("openat");
        }
        fd = next;
    }
    int file = ::openat(fd, "leaf.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file >= 0) {
        (void)!::write(file, "leaf", 4);
        ::close(file);
    }
    ::close(fd);
}

namespace {

void RemoveContentsAt(int dirFd) {
    DIR* dir = ::fdopendir(::dup(dirFd));
    if (dir == nullptr) {
        return;
    }
    std::vector<std::pair<std::string, bool>> entries;
    while (struct dirent* d = ::readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        bool isDir = ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        entries.emplace_back(name, isDir);
    }
    ::closedir(dir);
    for (const auto& [name, isDir] : entries) {
        if (isDir) {
            ::fchmodat(dirFd, name.c_str(), 0700, 0);
            int child = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) {
                RemoveContentsAt(child);
                ::close(child);
            }
            ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
        } else {
            ::unlinkat(dirFd, name.c_str(), 0);
        }
    }
}

} // namespace

void RemoveTreeAt(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlink(path.c_str());
        return;
    }
    RemoveContentsAt(fd);
    ::close(fd);
    ::rmdir(path.c_str());
}

int DeepTreeDepth(const std::string& root, const std::string& name) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int depth = 0;
    while (fd >= 0) {
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
        if (fd >= 0) {
            ++depth;
        }
    }
    return depth;
}

std::string RunAsNobody(const std::function<std::string()>& body) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        throw std::runtime_error("pipe");
    }
    pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork");
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(90);
        }
        std::string result = body();
        std::size_t done = 0;
        while (done < result.size()) {
            ssize_t n = ::write(pipeFds[1], result.data() + done, result.size() - done);
            if (n <= 0) {
                ::_exit(91);
            }
            done += static_cast<std::size_t>(n);
        }
        ::close(pipeFds[1]);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string result;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        result.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("unprivileged child failed with status " + std::to_string(status));
    }
    return result;
}

void ChownTree(const std::string& root) {
    ::lchown(root.c_str(), 65534, 65534);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        ::lchown(it->path().c_str(), 65534, 65534);
    }
}
#endif

std::string Dump(const RecordingLogSink& log) {
    std::string text;
    for (const auto& [colour, line] : log.Lines()) {
        text += std::string(ColourName(colour)) + ": " + line + "\n";
    }
    return text;
}

std::vector<std::string> DebugLogLines(bool* bom) {
    std::vector<std::string> lines;
    if (!FileExists("debug.log")) {
        return lines;
    }
    std::string bytes = ReadFileBytes("debug.log");
    std::size_t start = 0;
    bool hasBom = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                  static_cast<unsigned char>(bytes[1]) == 0xFE;
    if (bom != nullptr) {
        *bom = hasBom;
    }
    if (hasBom) {
        start = 2;
    }
    std::u16string units;
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    std::string text = Utf16LeToUtf8(units);
    std::size_t pos = 0;
    for (;;) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            if (pos < text.size()) {
                lines.push_back(text.substr(pos)); // an unterminated tail shows up as a line
            }
            return lines;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
}

void MirrorTest::Run(const std::string& source, const std::string& destination) {
    DoDirectory(rig.ctx, source, destination, NormaliseExclusions(task.exclusions, source, ""), task, stats);
}

void MirrorTest::Put(const std::string& path, const std::string& content, std::int64_t modified) {
    MakeDirectories(path.substr(0, path.rfind('/')));
    WriteFileBytes(path, content);
    SetModified(path, modified);
}
