// The engine's single-path routines: long-path form, existence tests, status, directory
// creation, file deletion and tree removal, with their run-log and debug lines.
#include "sync/fs_layer.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "platform/fs_error.h"
#include "sync/debug_log.h"
#include "sync/directory_reader.h"
#include "sync/engine_support.h"
#include "sync/tree_cursor.h"
#include "util/path_rules.h"
#include "util/texts.h"

IFileSystem& FsOf(CRunContext& ctx) {
    return *ctx.fs;
}

void LogLine(CRunContext& ctx, const std::string& text, LogColour colour) {
    if (ctx.log != nullptr) {
        ctx.log->AddLogLine(text, colour);
    }
}

void LogError(CRunContext& ctx, const std::string& text, std::int32_t& errors) {
    LogLine(ctx, text, LogColour::Red);
    ++errors;
}

void PublishStats(CRunContext& ctx, const RunStats& stats) {
    if (ctx.window != nullptr) {
        ctx.window->SetProgressState(stats, ctx.runStart.load());
    }
}

void ReportChange(CRunContext& ctx, char mark, const std::string& path) {
    if (ctx.window != nullptr) {
        ctx.window->ReportChange(mark, path);
    }
}

std::string JoinPath(std::string_view directory, std::string_view name) {
    std::string joined;
    joined.reserve(directory.size() + 1 + name.size());
    joined.append(directory);
    // The root keeps its separator: "/" + name is "/name", not "//name".
    if (directory.empty() || directory.back() != kPathSeparator) {
        joined.push_back(kPathSeparator);
    }
    joined.append(name);
    return joined;
}

std::string SystemDirectoryPath(const std::string& directory) {
    // A bare drive names the drive's current directory; a task means its root.
    if (kPathSeparator == '\\' && IsDrive(directory)) {
        return directory + kPathSeparator;
    }
    return directory.empty() ? std::string(1, kPathSeparator) : directory;
}

std::string BaseName(const std::string& path) {
    std::size_t sep = path.rfind(kPathSeparator);
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        c = FoldAscii(c);
    }
    return lowered;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string FailureSuffix(const FsError& error) {
    return " with error " + std::to_string(error.code) + ": " + ErrorTextOf(error) + "\n";
}

std::string ErrorTextOf(const FsError& error) {
    return ErrorText(static_cast<std::uint32_t>(error.code));
}

FsError ReadSmallFileAt(IFileSystem& fs, const DirectoryHandle& dir, const std::string& name, std::size_t largest,
                        std::string& text) {
    text.clear();
    FileStatus status;
    if (FsError e = fs.StatusAt(dir, name, false, status)) {
        return e;
    }
    if (status.kind != EntryKind::File || status.size > largest) {
        return FsError::OfKind(ErrorKind::NotSupported);
    }
    FileHandle file;
    FileOpenMode mode;
    mode.access = FileAccess::Read;
    mode.noFollow = true;
    mode.regularOnly = true;
    FsError e = fs.OpenFileAt(dir, name, mode, file);
    if (e) {
        return e;
    }
    std::vector<char> buffer(std::min<std::size_t>(largest + 1, 65536));
    for (;;) {
        std::size_t read = 0;
        e = fs.ReadFileData(file, buffer.data(), buffer.size(), read);
        if (e || read == 0) {
            break;
        }
        text.append(buffer.data(), read);
        // It may have grown since it was looked at.
        if (text.size() > largest) {
            e = FsError::OfKind(ErrorKind::NotSupported);
            break;
        }
    }
    fs.CloseFile(file);
    return e;
}

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
    return path;
}

bool PathExists(CRunContext& ctx, const std::string& path) {
    FileStatus st;
    return !FsOf(ctx).Status(path, true, st);
}

bool IsRegularFile(CRunContext& ctx, const std::string& path) {
    FileStatus st;
    return !FsOf(ctx).Status(path, true, st) && st.kind == EntryKind::File;
}

void SetEntryFromStatus(FileEntry& entry, const FileStatus& status) {
    entry.hidden = status.hidden;
    entry.system = status.system;
    entry.modified = status.mtimeSeconds;
    entry.modifiedNanoseconds = static_cast<std::int32_t>(status.mtimeNanoseconds);
    entry.mode = static_cast<std::int16_t>(status.mode & 07777);
    entry.size = status.size;
    entry.owner = status.owner;
    entry.group = status.group;
    entry.device = status.device;
    entry.inode = status.inode;
}

bool LogEntryStatus(CRunContext& ctx, const std::string& path, const FileEntry& entry) {
    try {
        if (ctx.debug) {
            DebugLog(ctx, "YStat: " + LongPath(path) + " OK: size=" + std::to_string(entry.size) +
                              " mod=" + std::to_string(static_cast<std::int32_t>(entry.modified & 0xFFFFFFFF)));
        }
        return true;
    } catch (const std::exception&) {
        if (ctx.debug) {
            DebugLog(ctx, "YStat: " + LongPath(path) + " failed");
        }
        return false;
    }
}

bool FillEntryFromStatus(FileEntry& entry, CRunContext& ctx, const std::string& path, const FileStatus& status) {
    SetEntryFromStatus(entry, status);
    return LogEntryStatus(ctx, path, entry);
}

bool YStatEntry(FileEntry& entry, CRunContext& ctx, const std::string& path, bool followLink) {
    FileStatus status;
    if (FsOf(ctx).Status(path, followLink, status)) {
        return false;
    }
    return FillEntryFromStatus(entry, ctx, path, status);
}

bool FileEntry::YStat(CRunContext& ctx, const std::string& path) {
    return YStatEntry(*this, ctx, path, true);
}

void FlushDestination(CRunContext& ctx, const DirectoryHandle& dir, const std::string& destination, RunStats& stats) {
    FsError e = FsOf(ctx).FlushFileSystem(dir);
    if (e) {
        LogError(ctx, "Failed to flush the destination " + destination + " to disk" + FailureSuffix(e), stats.errors);
    }
}

namespace {

constexpr std::uint32_t kPrivateDirectory = 0700;

} // namespace

// Kept whole: one prefix at a time, each step's failure handled where it happens.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
bool YMakeDirectory(CRunContext& ctx, const std::string& path, FsError& lastError) {
    if (ctx.debug) {
        DebugLog(ctx, "YMakeDirectory: " + path);
    }
    bool result = true;
    IFileSystem& fs = FsOf(ctx);
    // A path the system cannot take in one call could never be opened to mirror into; creating
    // its first few thousand levels would only leave debris.
    if (path.size() >= MaxPathLength()) {
        lastError = FsError::OfKind(ErrorKind::NameTooLong);
        if (ctx.debug) {
            DebugLog(ctx, "Failure in CreateDirectory: " + path);
        }
        return false;
    }
    // The prefix grows by one component at a time, so a long path costs time in proportion to its
    // length. A doubled separator adds no component and is not attempted again.
    std::string prefix;
    prefix.reserve(path.size() + 1);
    std::size_t backslashes = 0;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t k = path.find(kPathSeparator, pos);
        if (k == std::string::npos) {
            k = path.size();
        }
        const bool emptyComponent = k == pos && !prefix.empty();
        prefix.append(path, pos, k - pos);
        for (std::size_t i = pos; i < k; ++i) {
            backslashes += path[i] == '\\' ? 1 : 0;
        }
        bool skip = emptyComponent || prefix.empty() || (prefix.size() == 1 && prefix[0] == kPathSeparator) ||
                    (prefix.size() == 2 && prefix[1] == ':');
        if (!skip && prefix.size() >= 2 && prefix[0] == '\\' && prefix[1] == '\\') {
            skip = backslashes < 4;
        }
        if (!skip) {
            if (ctx.debug) {
                DebugLog(ctx, "CreateDirectory: " + prefix);
            }
            // The directory asked for stays private until what is mirrored into it sets its bits;
            // the ones above it are the user's ordinary directories.
            const bool leaf = path.find_first_not_of(kPathSeparator, k) == std::string::npos;
            FsError e = leaf ? fs.MakeDirectoryWithMode(prefix, kPrivateDirectory) : fs.MakeDirectory(prefix);
            if (!e) {
                LogLine(ctx, "Created directory " + prefix, LogColour::Green);
            } else {
                if (ctx.debug) {
                    DebugLog(ctx, "Failure in CreateDirectory: " + prefix);
                }
                if (!e.Is(ErrorKind::Exists)) {
                    result = false;
                    lastError = e;
                }
                // Every longer prefix is too long as well.
                if (e.Is(ErrorKind::NameTooLong)) {
                    break;
                }
            }
        }
        if (k == path.size()) {
            break;
        }
        prefix.push_back(kPathSeparator);
        backslashes += kPathSeparator == '\\' ? 1 : 0;
        pos = k + 1;
    }
    if (ctx.debug) {
        std::string walked = path;
        if (walked.empty() || walked.back() != kPathSeparator) {
            walked.push_back(kPathSeparator);
        }
        DebugLog(ctx, "End of YMakeDirectory: " + walked);
    }
    return result;
}

bool YMakeDirectory(CRunContext& ctx, const std::string& path) {
    FsError lastError;
    return YMakeDirectory(ctx, path, lastError);
}

bool YDeleteFileAt(CRunContext& ctx, const DirectoryHandle* dir, const FsError& dirError, const std::string& name,
                   const std::string& path, bool fakeIt) {
    if (ctx.debug) {
        DebugLog(ctx, "YDeleteFile: " + path);
    }
    if (fakeIt) {
        return true;
    }
    FsError e = dirError ? dirError : FsError::OfKind(ErrorKind::NotFound);
    if (dir != nullptr) {
        IFileSystem& fs = FsOf(ctx);
        e = fs.RemoveFileAt(*dir, name);
        if (e) {
            fs.SetNormalAttributesAt(*dir, name);
            e = fs.RemoveFileAt(*dir, name);
        }
    }
    if (!e) {
        return true;
    }
    LogLine(ctx, "Failed to delete file " + path + FailureSuffix(e), LogColour::Red);
    return false;
}

bool YDeleteFile(CRunContext& ctx, const std::string& path, bool fakeIt) {
    DirectoryHandle parent;
    std::string name;
    FsError e = fakeIt ? FsError() : FsOf(ctx).OpenParent(path, parent, name);
    return YDeleteFileAt(ctx, e ? nullptr : &parent, e, name, path, fakeIt);
}

namespace {

bool IsSourceTop(CRunContext& ctx, CTreeCursor& tree) {
    FsError e;
    const DirectoryHandle* dir = tree.Current(e);
    FileStatus status;
    return ctx.sourceTopKnown && dir != nullptr && !FsOf(ctx).DirectoryStatus(*dir, status) &&
           status.device == ctx.sourceTopDevice && status.inode == ctx.sourceTopInode;
}

} // namespace

FsError ZapTreeAt(CRunContext& ctx, CTreeCursor& tree, std::int32_t& filesDeleted) {
    if (ctx.debug) {
        DebugLog(ctx, "ZapDir: " + LongPath(tree.Path()));
    }
    IFileSystem& fs = FsOf(ctx);
    // The level is read whole and its listing closed before descending; the cursor bounds the
    // descriptors held for the levels above.
    std::vector<DirEntry> entries;
    if (FsError e = CDirectoryReader(fs, tree).ReadAll(entries)) {
        return e;
    }
    // The task's source reached inside its destination (a bind mount, say) is never emptied.
    if (IsSourceTop(ctx, tree)) {
        LogLine(ctx, "Not deleting " + tree.Path() + ": it is the source", LogColour::Red);
        return FsError::OfKind(ErrorKind::Busy);
    }
    for (const DirEntry& entry : entries) {
        if (entry.kind == EntryKind::Directory) {
            tree.Push(entry.name);
            FsError e = ZapTreeAt(ctx, tree, filesDeleted);
            tree.Pop();
            if (e) {
                return e;
            }
            continue;
        }
        FsError e;
        const DirectoryHandle* dir = tree.Current(e);
        if (dir == nullptr) {
            return e;
        }
        // Links and other non-directories are unlinked as themselves, never followed.
        e = fs.RemoveFileAt(*dir, entry.name);
        if (e.Is(ErrorKind::AccessDenied) && entry.kind != EntryKind::Symlink) {
            fs.SetNormalAttributesAt(*dir, entry.name);
            e = fs.RemoveFileAt(*dir, entry.name);
        }
        if (e) {
            return e;
        }
        // A copy's leftover temporary was never one of the user's files.
        if (!(entry.kind == EntryKind::File && IsTemporaryCopyName(entry.name))) {
            ++filesDeleted;
        }
    }
    FsError e;
    const DirectoryHandle* parent = tree.Parent(e);
    if (parent == nullptr) {
        return e;
    }
    return fs.RemoveDirectoryAt(*parent, tree.Name());
}

std::int32_t CountTreeAt(CRunContext& ctx, CTreeCursor& tree) {
    std::vector<DirEntry> entries;
    CDirectoryReader(FsOf(ctx), tree).ReadAll(entries);
    if (IsSourceTop(ctx, tree)) {
        return 0; // the removal stops here
    }
    std::int32_t files = 0;
    for (const DirEntry& entry : entries) {
        if (entry.kind == EntryKind::Directory) {
            tree.Push(entry.name);
            files += CountTreeAt(ctx, tree);
            tree.Pop();
        } else if (!(entry.kind == EntryKind::File && IsTemporaryCopyName(entry.name))) {
            ++files;
        }
    }
    return files;
}

namespace {

// A cursor whose top is the directory holding path and whose current level is path itself.
void PlaceAt(CTreeCursor& tree, const std::string& path) {
    const std::string trimmed = WithoutTrailingSeparators(path);
    std::size_t sep = trimmed.rfind(kPathSeparator);
    if (sep == std::string::npos) {
        tree.Reset(".", ".", true);
        tree.Push(trimmed);
    } else {
        tree.Reset(sep == 0 ? std::string(1, kPathSeparator) : trimmed.substr(0, sep), trimmed.substr(0, sep), true);
        tree.Push(trimmed.substr(sep + 1));
    }
}

} // namespace

FsError ZapDir(CRunContext& ctx, const std::string& path, std::int32_t& filesDeleted) {
    CTreeCursor tree(FsOf(ctx));
    PlaceAt(tree, path);
    return ZapTreeAt(ctx, tree, filesDeleted);
}

bool DeleteDirectoryAt(CRunContext& ctx, CTreeCursor& tree, const std::string& path, std::int32_t& filesDeleted,
                       std::int32_t& errors, bool fakeIt) {
    LogLine(ctx, "Deleting directory " + path, LogColour::Purple);
    if (fakeIt) {
        // Read, never changed: a preview counts what the run would delete.
        filesDeleted += CountTreeAt(ctx, tree);
        ReportChange(ctx, '-', path + kPathSeparator);
        return true;
    }
    if (FsError e = ZapTreeAt(ctx, tree, filesDeleted)) {
        LogError(ctx, "Failed to delete directory " + path + FailureSuffix(e), errors);
        return false;
    }
    ReportChange(ctx, '-', path + kPathSeparator);
    return true;
}

bool DeleteDirectory(CRunContext& ctx, const std::string& path, std::int32_t& filesDeleted, std::int32_t& errors,
                     bool fakeIt) {
    CTreeCursor tree(FsOf(ctx));
    PlaceAt(tree, path);
    return DeleteDirectoryAt(ctx, tree, path, filesDeleted, errors, fakeIt);
}
