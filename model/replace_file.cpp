// Replacing a file through a temporary sibling and a rename.
#include "model/replace_file.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/process.h"
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

// Removes the temporaries of earlier saves of target that were killed before their rename. A
// live save, of this or another process, is never touched: its PID is alive and it holds an
// exclusive flock on its temporary until the rename. Only regular files of exactly the
// temporary form that belong to this user qualify. Best effort: failures are ignored.
void RemoveStaleTemporaries(IFileSystem& fs, const std::string& dir, const std::string& name) {
    DirectoryHandle directory;
    if (fs.OpenDirectoryPath(dir, true, directory)) {
        return;
    }
    std::vector<std::string> stale;
    {
        FsError error;
        std::unique_ptr<IDirectoryStream> stream = fs.ListDirectory(directory, error);
        if (!stream) {
            return;
        }
        DirEntry entry;
        while (stream->Next(entry)) {
            const long pid = TemporaryPid(entry.name, name);
            if (pid > 0 && !ProcessExists(pid)) {
                stale.push_back(entry.name);
            }
        }
    }
    FileOpenMode mode;
    mode.noFollow = true;
    mode.nonBlocking = true;
    for (const std::string& entryName : stale) {
        FileHandle file;
        if (fs.OpenFileAt(directory, entryName, mode, file)) {
            continue;
        }
        OpenFileInfo info;
        if (!fs.FileInfo(file, info) && info.regular && info.ownedByUser && !fs.LockWholeFile(file, false)) {
            (void)fs.RemoveFileAt(directory, entryName);
        }
        (void)fs.CloseFile(file);
    }
}

// Creates an empty temporary file beside target, private to this user until the old file's
// permission bits are given to it, and locked for as long as it stays open; returns its path.
// Created exclusively, so that nothing planted under the name (a link) is ever written through.
std::string CreateTemporary(IFileSystem& fs, const std::string& target, const std::string& reportedPath,
                            FileHandle& file) {
    const std::string dir = DirectoryPartOf(target);
    FileOpenMode mode;
    mode.access = FileAccess::Write;
    mode.create = true;
    mode.exclusive = true;
    mode.noFollow = true;
    mode.createMode = 0600;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate =
            JoinedPath(dir, TemporaryName(NamePartOf(target), CurrentProcessId(), temporaryCounter++));
        const FsError e = fs.OpenFile(candidate, mode, file);
        if (!e) {
            // Best effort: where the file system has no locks, the live PID in the name still
            // keeps other saves' cleanup away.
            (void)fs.LockWholeFile(file, true);
            return candidate;
        }
        if (!e.Is(ErrorKind::Exists)) {
            throw CFileException::FromError(e, reportedPath);
        }
    }
    throw CFileException::FromError(FsError::OfKind(ErrorKind::Exists), reportedPath);
}

} // namespace

void ReplaceFile(const std::string& path, unsigned flags, const std::function<void(CStdioFileEx&)>& write,
                 IFileSystem& fs) {
    std::string target = path;
    FileStatus st;
    if (!fs.Status(path, false, st) && st.kind == EntryKind::Symlink) {
        if ((flags & CStdioFileEx::modeNoFollow) != 0) {
            throw CFileException(CFileException::Cause::symbolicLink, SystemCodeOfKind(ErrorKind::IsALink), path);
        }
        std::string resolved;
        if (!fs.CanonicalPath(path, resolved)) {
            target = resolved;
        }
    }
    FileStatus old;
    const bool hadOld = !fs.Status(target, true, old);

    RemoveStaleTemporaries(fs, DirectoryPartOf(target), NamePartOf(target));
    FileHandle opened;
    const std::string temporary = CreateTemporary(fs, target, path, opened);
    try {
        CStdioFileEx file(fs);
        if (hadOld) {
            // Best effort: a save is not refused over the permission bits.
            (void)fs.SetFileMode(opened, old.mode);
        }
        // Written through the descriptor of the exclusive create: the name is never opened again.
        file.Attach(std::move(opened), path, flags | CStdioFileEx::modeCreate | CStdioFileEx::modeWrite);
        write(file);
        file.Sync();
        file.Close();
        if (FsError e = fs.RenameFile(temporary, target)) {
            throw CFileException::FromError(e, path);
        }
    } catch (CFileException& e) {
        (void)fs.CloseFile(opened);
        (void)fs.RemoveFile(temporary);
        e.fileName = path;
        throw;
    } catch (...) {
        (void)fs.CloseFile(opened);
        (void)fs.RemoveFile(temporary);
        throw;
    }
    // Best effort: the rename itself has already succeeded.
    (void)fs.SyncDirectory(DirectoryPartOf(target));
}

bool MakeDirectoryTree(const std::string& dir, IFileSystem& fs) {
    if (dir.empty()) {
        return true;
    }
    FileStatus st;
    if (!fs.Status(dir, true, st)) {
        return st.kind == EntryKind::Directory;
    }
    if (const std::string parent = DirectoryPartOf(dir);
        parent != "." && parent != "/" && parent != dir && !MakeDirectoryTree(parent, fs)) {
        return false;
    }
    const FsError e = fs.MakeDirectoryWithMode(dir, 0700);
    return !e || e.Is(ErrorKind::Exists);
}

bool RemoveFileIfPresent(const std::string& path, IFileSystem& fs) {
    return !fs.RemoveFile(path);
}
