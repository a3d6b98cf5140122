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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "model/stdio_file_ex.h"
#include "platform/file_system.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"
#include "sync/exclusions.h"

#ifdef _WIN32
// Last, so that its macros rename none of the declarations above.
#include <windows.h>
#endif

namespace fs = std::filesystem;

EngineRig::EngineRig() {
    ctx.fs = &fs;
    ctx.log = &log;
    ctx.window = &window;
    ctx.messages = &messages;
}

namespace {

// One line per entry, in name order, so that two trees compare as text.
std::string SortedLines(std::vector<std::string>& lines) {
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string& line : lines) {
        all += line + "\n";
    }
    return all;
}

} // namespace

#ifdef _WIN32
namespace {

// The \\?\ form, so that trees deeper than MAX_PATH are reached; it takes no '/'.
fs::path LongPath(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '/', '\\');
    return FsPath("\\\\?\\" + native);
}

// std::filesystem here neither sets the time of a directory nor knows links: the system's own calls.
constexpr DWORD kOpenItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kTicksTo1970 = 116444736000000000;

DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesW(LongPath(path).c_str());
}

} // namespace

void SetModified(const std::string& path, std::int64_t seconds, std::int64_t nanoseconds) {
    const HANDLE h = ::CreateFileW(LongPath(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, kOpenItself, nullptr);
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(seconds * kTicksPerSecond + nanoseconds / 100 + kTicksTo1970);
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const bool done = h != INVALID_HANDLE_VALUE && ::SetFileTime(h, nullptr, nullptr, &time);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
    }
    if (!done) {
        throw std::runtime_error("cannot set the time of " + path);
    }
}

std::int64_t ModifiedOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data)) {
        throw std::runtime_error("cannot read the time of " + path);
    }
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime);
    return (ticks - kTicksTo1970) / kTicksPerSecond;
}

void MakeLink(const std::string& target, const std::string& path) {
    std::string nativeTarget = target;
    std::replace(nativeTarget.begin(), nativeTarget.end(), '/', '\\');
    const std::string parent = path.substr(0, path.find_last_of("/\\"));
    const bool absolute = nativeTarget.size() > 1 && nativeTarget[1] == ':';
    const DWORD targetAttributes = AttributesOf(absolute ? nativeTarget : parent + "\\" + nativeTarget);
    const DWORD flags =
        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE |
        (targetAttributes != INVALID_FILE_ATTRIBUTES && (targetAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
             ? SYMBOLIC_LINK_FLAG_DIRECTORY
             : 0);
    if (!::CreateSymbolicLinkW(LongPath(path).c_str(), FsPath(nativeTarget).c_str(), flags)) {
        throw std::runtime_error("cannot make the link " + path + ": error " + std::to_string(::GetLastError()));
    }
}

bool IsLink(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsDirectoryPath(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(LongPath(path), ec));
}

void MakeHidden(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !::SetFileAttributesW(LongPath(path).c_str(), attributes | FILE_ATTRIBUTE_HIDDEN)) {
        throw std::runtime_error("cannot hide " + path);
    }
}

bool SystemMakesLinks() {
    static const bool makes = [] {
        TempDir dir;
        const std::string link = dir.Path() + "\\probe";
        try {
            MakeLink("target", link);
        } catch (const std::runtime_error&) {
            return false;
        }
        std::error_code ec;
        return IsLink(link) && fs::read_symlink(LongPath(link), ec) == fs::path("target") && !ec;
    }();
    return makes;
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
    return SortedLines(lines);
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

bool SystemMakesLinks() {
    return true;
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsDirectoryPath(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeHidden(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.empty() || name[0] != '.') {
        throw std::runtime_error("only a name starting with a dot is hidden here: " + path);
    }
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
    return SortedLines(lines);
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

bool IgnoresCase(const std::string& dir) {
    const std::string probe = NativePath(dir + "/case-probe");
    WriteFileBytes(probe, "");
    const bool ignores = FileExists(NativePath(dir + "/CASE-PROBE"));
    fs::remove(FsPath(probe));
    return ignores;
}

bool SystemRenamesCase() {
    static const bool renames = [] {
        TempDir dir;
        WriteFileBytes(dir / "case-probe", "");
        std::error_code ec;
        fs::rename(FsPath(dir / "case-probe"), FsPath(dir / "CASE-PROBE"), ec);
        return !ec && ListDirectory(dir.Path()) == std::vector<std::string>{"CASE-PROBE"};
    }();
    return renames;
}

void MirrorTest::Put(const std::string& path, const std::string& content, std::int64_t modified) {
    const std::string native = NativePath(path);
    MakeDirectories(native.substr(0, native.rfind(kPathSeparator)));
    WriteFileBytes(path, content);
    SetModified(path, modified);
}
