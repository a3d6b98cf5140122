// The engine's single-path routines: long-path form, existence tests, status, directory
// creation, file deletion and tree removal, with their run-log and debug lines.
#include "sync/fs_layer.h"

#include <cerrno>
#include <exception>
#include <vector>

#include "sync/debug_log.h"
#include "sync/engine_support.h"
#include "util/texts.h"

IFileSystem& FsOf(CRunContext& ctx) {
    return ctx.fs != nullptr ? *ctx.fs : NativeFileSystem();
}

void LogLine(CRunContext& ctx, const std::string& text, LogColour colour) {
    if (ctx.log != nullptr) {
        ctx.log->AddLogLine(text, colour);
    }
}

void PublishStats(CRunContext& ctx, const RunStats& stats) {
    if (ctx.window != nullptr) {
        ctx.window->SetProgressState(stats, ctx.runStart.load());
    }
}

std::string JoinPath(const std::string& directory, const std::string& name) {
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

std::string FailureSuffix(int error) {
    return " with error " + std::to_string(error) + ": " + ErrorText(static_cast<std::uint32_t>(error)) + "\n";
}

std::string LongPath(const std::string& path) {
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        return "\\\\?\\UNC\\" + path.substr(2);
    }
    return "\\\\?\\" + path;
}

bool PathExists(CRunContext& ctx, const std::string& path) {
    FileStatus st;
    return FsOf(ctx).Status(path, true, st) == 0;
}

bool IsRegularFile(CRunContext& ctx, const std::string& path) {
    FileStatus st;
    return FsOf(ctx).Status(path, true, st) == 0 && st.kind == EntryKind::File;
}

bool FillEntryFromStatus(FileEntry& entry, CRunContext& ctx, const std::string& path, const FileStatus& status) {
    try {
        CLargeNumber size = CLargeNumber::FromUint64(status.size);
        entry.hidden = status.hidden;
        entry.system = status.system;
        entry.modified = status.mtimeSeconds;
        entry.size = size;
        if (ctx.debug) {
            DebugLog(ctx, "YStat: " + LongPath(path) + " OK: size=" + size.ToString() +
                              " mod=" + std::to_string(static_cast<std::int32_t>(status.mtimeSeconds & 0xFFFFFFFF)));
        }
        return true;
    } catch (const std::exception&) {
        if (ctx.debug) {
            DebugLog(ctx, "YStat: " + LongPath(path) + " failed");
        }
        return false;
    }
}

bool YStatEntry(FileEntry& entry, CRunContext& ctx, const std::string& path, bool followLink) {
    FileStatus status;
    if (FsOf(ctx).Status(path, followLink, status) != 0) {
        return false;
    }
    return FillEntryFromStatus(entry, ctx, path, status);
}

bool FileEntry::YStat(CRunContext& ctx, const std::string& path) {
    return YStatEntry(*this, ctx, path, true);
}

bool YMakeDirectory(CRunContext& ctx, const std::string& path, int& lastError) {
    if (ctx.debug) {
        DebugLog(ctx, "YMakeDirectory: " + path);
    }
    bool result = true;
    std::string walk = path;
    if (walk.empty() || walk.back() != kPathSeparator) {
        walk.push_back(kPathSeparator);
    }
    IFileSystem& fs = FsOf(ctx);
    std::size_t pos = 0;
    while (pos < walk.size()) {
        std::size_t k = walk.find(kPathSeparator, pos);
        if (k == std::string::npos) {
            break;
        }
        std::string prefix = walk.substr(0, k);
        bool skip = prefix.empty() || (prefix.size() == 1 && prefix[0] == kPathSeparator) ||
                    (prefix.size() == 2 && prefix[1] == ':');
        if (!skip && prefix.size() >= 2 && prefix[0] == '\\' && prefix[1] == '\\') {
            std::size_t backslashes = 0;
            for (char c : prefix) {
                backslashes += c == '\\' ? 1 : 0;
            }
            skip = backslashes < 4;
        }
        if (!skip) {
            if (ctx.debug) {
                DebugLog(ctx, "CreateDirectory: " + prefix);
            }
            int e = fs.MakeDirectory(prefix);
            if (e == 0) {
                LogLine(ctx, "Created directory " + prefix, LogColour::Green);
            } else {
                if (ctx.debug) {
                    DebugLog(ctx, "Failure in CreateDirectory: " + prefix);
                }
                if (e != EEXIST) {
                    result = false;
                    lastError = e;
                }
            }
        }
        pos = k + 1;
    }
    if (ctx.debug) {
        DebugLog(ctx, "End of YMakeDirectory: " + walk);
    }
    return result;
}

bool YMakeDirectory(CRunContext& ctx, const std::string& path) {
    int lastError = 0;
    return YMakeDirectory(ctx, path, lastError);
}

bool YDeleteFile(CRunContext& ctx, const std::string& path, bool fakeIt) {
    if (ctx.debug) {
        DebugLog(ctx, "YDeleteFile: " + path);
    }
    if (fakeIt) {
        return true;
    }
    IFileSystem& fs = FsOf(ctx);
    if (fs.RemoveFile(path) == 0) {
        return true;
    }
    fs.SetNormalAttributes(path);
    int e = fs.RemoveFile(path);
    if (e == 0) {
        return true;
    }
    LogLine(ctx, "Failed to delete file " + path + FailureSuffix(e), LogColour::Red);
    return false;
}

int ZapTree(CRunContext& ctx, const std::string& path, std::int32_t& filesDeleted) {
    if (ctx.debug) {
        DebugLog(ctx, "ZapDir: " + LongPath(path));
    }
    IFileSystem& fs = FsOf(ctx);
    // The level is read whole and its stream closed before descending, so the depth of a tree
    // never costs more than one open descriptor.
    std::vector<DirEntry> entries;
    {
        int error = 0;
        std::unique_ptr<IDirectoryStream> stream = fs.OpenDirectory(SystemDirectoryPath(path), false, error);
        if (!stream) {
            return error;
        }
        DirEntry entry;
        while (stream->Next(entry)) {
            entries.push_back(entry);
        }
        if (stream->Error() != 0) {
            return stream->Error();
        }
    }
    for (const DirEntry& entry : entries) {
        std::string child = JoinPath(path, entry.name);
        if (entry.kind == EntryKind::Directory) {
            int e = ZapTree(ctx, child, filesDeleted);
            if (e != 0) {
                return e;
            }
            continue;
        }
        // Links and other non-directories are unlinked as themselves, never followed.
        int e = fs.RemoveFile(child);
        if ((e == EACCES || e == EPERM) && entry.kind != EntryKind::Symlink) {
            fs.SetNormalAttributes(child);
            e = fs.RemoveFile(child);
        }
        if (e != 0) {
            return e;
        }
        ++filesDeleted;
    }
    return fs.RemoveEmptyDirectory(SystemDirectoryPath(path));
}

bool ZapDir(CRunContext& ctx, const std::string& path, std::int32_t& filesDeleted) {
    int e = ZapTree(ctx, path, filesDeleted);
    if (e != 0) {
        errno = e;
        return false;
    }
    return true;
}

bool DeleteDirectory(CRunContext& ctx, const std::string& path, std::int32_t& filesDeleted, std::int32_t& errors,
                     bool fakeIt) {
    LogLine(ctx, "Deleting directory " + path, LogColour::Purple);
    if (fakeIt) {
        return true;
    }
    int e = ZapTree(ctx, path, filesDeleted);
    if (e != 0) {
        LogLine(ctx, "Failed to delete directory " + path + FailureSuffix(e), LogColour::Red);
        ++errors;
        return false;
    }
    return true;
}
