// Mirroring one source directory into one destination directory, and the same-file test.
#include "sync/do_directory.h"

#include <cerrno>
#include <exception>
#include <memory>
#include <unordered_set>
#include <vector>

#include "platform/file_system.h"
#include "sync/copy.h"
#include "sync/debug_log.h"
#include "sync/deletion_guards.h"
#include "sync/engine_support.h"
#include "sync/exclusions.h"
#include "util/texts.h"

std::int64_t TimeTolerance(CRunContext& ctx, const std::string& destinationDirectory) {
    return FsOf(ctx).KeepsFineTimes(SystemDirectoryPath(destinationDirectory)) ? kFineTimeTolerance
                                                                               : kCoarseTimeTolerance;
}

bool SameFile(const FileEntry& d, const FileEntry& s, bool onlyIfNewer, bool oneHour, std::int64_t tolerance) {
    if (!(d.size == s.size)) {
        return false;
    }
    std::int64_t diff = s.modified - d.modified;
    if (oneHour && (diff == 3600 || diff == -3600)) {
        diff = 0;
    }
    if (onlyIfNewer) {
        return diff <= tolerance;
    }
    return diff >= -tolerance && diff <= tolerance && EqualNoCase(d.name, s.name);
}

namespace {

const std::string& NameOf(const FileEntry& entry) {
    return entry.name;
}
const std::string& NameOf(const std::string& name) {
    return name;
}

std::size_t FoldedHash(std::string_view name) {
    std::size_t h = 1469598103934665603ull;
    for (char c : name) {
        h = (h ^ static_cast<unsigned char>(FoldAscii(c))) * 1099511628211ull;
    }
    return h;
}

// Pairs each source entry with at most one destination entry and each destination entry with
// at most one source entry: the destination entry of exactly the same name first, else the
// first unpaired one that equals it with ASCII letters folded, in listing order. Destination
// entries left unpaired are the extras. One hash index on the folded names keeps this linear.
template <class Source, class Destination>
void PairNames(const std::vector<Source>& source, const std::vector<Destination>& destination,
               std::vector<std::int32_t>& pairOfSource, std::vector<char>& destinationPaired) {
    pairOfSource.assign(source.size(), -1);
    destinationPaired.assign(destination.size(), 0);
    if (source.empty() || destination.empty()) {
        return;
    }
    // The set holds the first destination index of every folded name; later entries of the
    // same folded name hang off it in listing order through next. Index -1 stands for the
    // name being looked up.
    const std::string* probe = nullptr;
    auto nameAt = [&](std::int32_t i) -> std::string_view {
        return i < 0 ? std::string_view(*probe) : std::string_view(NameOf(destination[static_cast<std::size_t>(i)]));
    };
    auto hash = [&](std::int32_t i) { return FoldedHash(nameAt(i)); };
    auto equal = [&](std::int32_t a, std::int32_t b) { return EqualNoCase(nameAt(a), nameAt(b)); };
    std::unordered_set<std::int32_t, decltype(hash), decltype(equal)> firsts(destination.size() * 2, hash, equal);
    std::vector<std::int32_t> next(destination.size(), -1);
    std::vector<std::int32_t> last(destination.size(), -1);
    for (std::int32_t j = 0; j < static_cast<std::int32_t>(destination.size()); ++j) {
        auto [it, inserted] = firsts.insert(j);
        if (inserted) {
            last[static_cast<std::size_t>(j)] = j;
        } else {
            std::int32_t head = *it;
            next[static_cast<std::size_t>(last[static_cast<std::size_t>(head)])] = j;
            last[static_cast<std::size_t>(head)] = j;
        }
    }
    auto headOf = [&](const std::string& name) -> std::int32_t {
        probe = &name;
        auto it = firsts.find(-1);
        return it == firsts.end() ? -1 : *it;
    };
    std::vector<std::int32_t> heads(source.size(), -1);
    bool anyVariant = false;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const std::string& name = NameOf(source[i]);
        heads[i] = headOf(name);
        for (std::int32_t j = heads[i]; j >= 0; j = next[static_cast<std::size_t>(j)]) {
            if (NameOf(destination[static_cast<std::size_t>(j)]) == name) {
                pairOfSource[i] = j;
                destinationPaired[static_cast<std::size_t>(j)] = 1;
                break;
            }
        }
        anyVariant = anyVariant || (pairOfSource[i] < 0 && heads[i] >= 0);
    }
    if (!anyVariant) {
        return;
    }
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (pairOfSource[i] >= 0) {
            continue;
        }
        for (std::int32_t j = heads[i]; j >= 0; j = next[static_cast<std::size_t>(j)]) {
            if (!destinationPaired[static_cast<std::size_t>(j)]) {
                pairOfSource[i] = j;
                destinationPaired[static_cast<std::size_t>(j)] = 1;
                break;
            }
        }
    }
}

struct Listings {
    std::vector<FileEntry> destinationFiles;
    std::vector<char> destinationIsLink; // parallel to destinationFiles
    std::vector<std::string> destinationDirs;
    std::vector<FileEntry> sourceFiles;
    std::vector<std::string> sourceDirs;
    // False when the source listing broke off: what it did not list may still exist, so the
    // destination's extras here are not extras for certain.
    bool sourceComplete = true;
    // Every entry the source listed, those left out of the listings above included.
    std::size_t sourceEntries = 0;
};

bool IsDrive(const std::string& path) {
    return path.size() == 2 && path[1] == ':';
}

bool IsDirectory(CRunContext& ctx, const std::string& path, bool followLink, int& error) {
    FileStatus st;
    error = FsOf(ctx).Status(SystemDirectoryPath(path), followLink, st);
    if (error == 0 && st.kind != EntryKind::Directory) {
        error = ENOTDIR;
    }
    return error == 0;
}

// Lists the destination, creating it when missing. False when this directory is done with.
bool ListDestination(CRunContext& ctx, const std::string& destination, const Task& task, bool top, RunStats& stats,
                     Listings& lists) {
    IFileSystem& fs = FsOf(ctx);
    std::unique_ptr<IDirectoryStream> stream;
    int error = 0;
    try {
        stream = fs.OpenDirectory(SystemDirectoryPath(destination), top, error);
    } catch (const std::exception&) {
        LogLine(ctx, "Error opening destination: '" + destination + "'", LogColour::Red);
        ++stats.errors;
        return false;
    }
    if (!stream) {
        if (error == ENOENT || error == ENOTDIR) {
            if (IsDrive(destination) || task.fakeIt) {
                return true;
            }
            int lastError = 0;
            bool made = YMakeDirectory(ctx, destination, lastError);
            // A file or a link standing at the destination's own name is "already there" to the
            // walk; it is still no directory to mirror into.
            if (made && !IsDirectory(ctx, destination, top, lastError)) {
                made = false;
            }
            if (!made) {
                LogLine(ctx,
                        "Unable to create \"" + destination + "\" - aborting (" +
                            ErrorText(static_cast<std::uint32_t>(lastError)) + ")",
                        LogColour::Red);
                ++stats.errors;
                return false;
            }
            return true;
        }
        LogLine(ctx,
                "Error reading destination directory \"" + destination + "\" (" +
                    ErrorText(static_cast<std::uint32_t>(error)) + ")",
                LogColour::Red);
        ++stats.errors;
        return false;
    }
    DirEntry entry;
    while (stream->Next(entry)) {
        if (entry.kind == EntryKind::Directory) {
            lists.destinationDirs.push_back(entry.name);
            continue;
        }
        // Links, whatever they point to, are files here: the engine never enters them.
        FileEntry file;
        file.name = entry.name;
        if (ctx.debug) {
            DebugLog(ctx, "DST Enumerating: " + entry.name);
        }
        std::string path = JoinPath(destination, entry.name);
        if (!YStatEntry(file, ctx, path, false)) {
            LogLine(ctx, "Unable to stat " + path, LogColour::Red);
        }
        lists.destinationFiles.push_back(std::move(file));
        lists.destinationIsLink.push_back(entry.kind == EntryKind::Symlink ? 1 : 0);
    }
    if (stream->Error() != 0) {
        LogLine(ctx, "Error getting destination file list: " + ErrorText(static_cast<std::uint32_t>(stream->Error())),
                LogColour::Red);
    }
    return true;
}

bool ListSource(CRunContext& ctx, const std::string& source, const Task& task, bool top, const std::string& skip,
                RunStats& stats, Listings& lists) {
    IFileSystem& fs = FsOf(ctx);
    std::unique_ptr<IDirectoryStream> stream;
    int error = 0;
    try {
        stream = fs.OpenDirectory(SystemDirectoryPath(source), top, error);
    } catch (const std::exception&) {
        LogLine(ctx,
                "Error reading source directory: \"" + source + "\" (" + ErrorText(static_cast<std::uint32_t>(errno)) +
                    ")",
                LogColour::Red);
        ++stats.errors;
        return false;
    }
    if (!stream) {
        LogLine(ctx,
                "Can't open source directory " + source + " with error " + std::to_string(error) + ": " +
                    ErrorText(static_cast<std::uint32_t>(error)) + "\n",
                LogColour::Red);
        ++stats.errors;
        return false;
    }
    DirEntry entry;
    while (stream->Next(entry)) {
        ++lists.sourceEntries;
        if (entry.kind == EntryKind::Directory) {
            // The destination itself, where it lies inside the source, is not mirrored into itself.
            if (!skip.empty() && JoinPath(source, entry.name) == skip) {
                continue;
            }
            if (!(task.excludeHiddenDirs && entry.hidden) && !(task.excludeSystemDirs && entry.system)) {
                lists.sourceDirs.push_back(entry.name);
            }
            continue;
        }
        std::string path = JoinPath(source, entry.name);
        FileStatus status;
        int statError = fs.Status(path, true, status);
        // A link to a directory is the reparse point of this system: left out.
        if (entry.kind == EntryKind::Symlink && statError == 0 && status.kind == EntryKind::Directory) {
            continue;
        }
        FileEntry file;
        file.name = entry.name;
        if (ctx.debug) {
            DebugLog(ctx, "SRC Enumerating: " + entry.name);
        }
        if (statError != 0 || !FillEntryFromStatus(file, ctx, path, status)) {
            LogLine(ctx, "Unable to stat " + path, LogColour::Red);
        }
        lists.sourceFiles.push_back(std::move(file));
    }
    if (stream->Error() != 0) {
        LogLine(ctx, "Error getting source file list: " + ErrorText(static_cast<std::uint32_t>(stream->Error())),
                LogColour::Red);
        ++stats.errors;
        lists.sourceComplete = false;
    }
    return true;
}

// Drops one trailing separator, except from the root, which would otherwise become the empty path.
void TrimSeparator(std::string& path) {
    if (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
}

void DoLevel(CRunContext& ctx, std::string source, std::string destination, const std::string& exclusions,
             const Task& task, RunStats& stats, bool top, const std::string& skip) {
    if (ctx.debug) {
        DebugLog(ctx, "DoDirectory entering: " + source);
    }
    if (ctx.stopRequested.load() != 0) {
        return;
    }
    if (source.empty()) {
        LogLine(ctx, "Source path is empty, exiting", LogColour::Red);
        ++stats.errors;
        return;
    }
    if (destination.empty()) {
        LogLine(ctx, "Destination path is empty, exiting", LogColour::Red);
        ++stats.errors;
        return;
    }
    TrimSeparator(source);
    TrimSeparator(destination);

    switch (DirectoryExclusion(exclusions, source)) {
    case ExclusionResult::ExcludedExactly:
        if (PathExists(ctx, SystemDirectoryPath(destination))) {
            if (task.safeMode) {
                LogLine(ctx, "Not deleting " + destination + " (safe mode)", LogColour::Purple);
            } else if (MayDelete(ctx, destination, true, stats)) {
                DeleteDirectory(ctx, destination, stats.deleted, stats.errors, task.fakeIt);
            }
        }
        return;
    case ExclusionResult::ExcludedByPrefix:
        return;
    case ExclusionResult::NotExcluded:
        break;
    }

    Listings lists;
    if (!ListDestination(ctx, destination, task, top, stats, lists)) {
        return;
    }
    if (!ListSource(ctx, source, task, top, skip, stats, lists)) {
        return;
    }
    if (top && lists.sourceComplete &&
        EmptySourceRefused(ctx, task, source, destination, lists.sourceEntries,
                           lists.destinationFiles.size() + lists.destinationDirs.size(), stats)) {
        return;
    }

    // Asked once per directory: a destination tree may hold mount points of other file systems.
    const std::int64_t tolerance = TimeTolerance(ctx, destination);
    std::vector<std::int32_t> filePair;
    std::vector<char> destinationFileKept;
    PairNames(lists.sourceFiles, lists.destinationFiles, filePair, destinationFileKept);
    std::vector<std::int32_t> dirPair;
    std::vector<char> destinationDirKept;
    PairNames(lists.sourceDirs, lists.destinationDirs, dirPair, destinationDirKept);

    const bool deleteExtras = lists.sourceComplete;
    for (std::size_t j = 0; j < lists.destinationFiles.size(); ++j) {
        if (destinationFileKept[j] || !deleteExtras) {
            continue;
        }
        const std::string& name = lists.destinationFiles[j].name;
        std::string path = JoinPath(destination, name);
        if (task.safeMode) {
            LogLine(ctx, "Not deleting " + path + " (safe mode)", LogColour::Purple);
            ++stats.saved;
        } else if (!MayDelete(ctx, path, false, stats)) {
            // held back by the deletion limit, which logged and counted it
        } else if (YDeleteFile(ctx, path, task.fakeIt)) {
            LogLine(ctx, "Deleted " + name, LogColour::Purple);
            ++stats.deleted;
        } else {
            LogLine(ctx, "Failed to delete file " + path, LogColour::Red);
            ++stats.errors;
        }
    }

    for (std::size_t j = 0; j < lists.destinationDirs.size(); ++j) {
        if (destinationDirKept[j] || !deleteExtras) {
            continue;
        }
        std::string path = JoinPath(destination, lists.destinationDirs[j]);
        if (task.safeMode) {
            LogLine(ctx, "Not deleting DIR " + path + " (safe mode)", LogColour::Purple);
        } else if (MayDelete(ctx, path, true, stats)) {
            DeleteDirectory(ctx, path, stats.deleted, stats.errors, task.fakeIt);
        }
    }

    for (std::size_t i = 0; i < lists.sourceFiles.size(); ++i) {
        const FileEntry& f = lists.sourceFiles[i];
        bool stopped = false;
        std::string sourcePath = JoinPath(source, f.name);
        if (ctx.stopRequested.load() != 0 ||
            !IsIncluded(f, exclusions, source, task.excludeSystem, task.excludeHidden)) {
            LogLine(ctx, "Excluded: " + sourcePath, LogColour::Teal);
            ++stats.skipped;
        } else if (filePair[i] < 0) {
            if (YCopyFile(ctx, sourcePath, JoinPath(destination, f.name), true, task.checkOpen, f.size, task.fakeIt,
                          &stopped)) {
                if (!stopped) {
                    ++stats.newFiles;
                    stats.bytesNew += f.size;
                }
            } else {
                LogLine(ctx, "Failed to copy new file " + sourcePath, LogColour::Red);
                ++stats.errors;
            }
            PublishStats(ctx, stats);
        } else {
            const std::size_t j = static_cast<std::size_t>(filePair[i]);
            const FileEntry& d = lists.destinationFiles[j];
            // A link in the destination is never the copy of a file, whatever its own size and time.
            bool same = !lists.destinationIsLink[j] && SameFile(d, f, task.onlyIfNewer, task.oneHour, tolerance);
            if (same) {
                if (task.rename && !task.fakeIt && d.name != f.name) {
                    FsOf(ctx).RenamePath(JoinPath(destination, d.name), JoinPath(destination, f.name));
                }
                ++stats.same;
            } else {
                // Onto the entry it matched, so a case variant is updated in place, never doubled.
                if (YCopyFile(ctx, sourcePath, JoinPath(destination, d.name), false, task.checkOpen, f.size,
                              task.fakeIt, &stopped)) {
                    if (!stopped) {
                        ++stats.changed;
                        stats.bytesChanged += f.size;
                    }
                } else {
                    LogLine(ctx, "Failed to update file " + sourcePath, LogColour::Red);
                    ++stats.errors;
                }
                PublishStats(ctx, stats);
            }
        }
        if (stopped) {
            continue; // a copy cancelled by Stop made nothing and counts nowhere
        }
        ++stats.sourceCount;
        stats.sourceSize += f.size;
    }

    for (std::size_t i = 0; i < lists.sourceDirs.size(); ++i) {
        if (ctx.stopRequested.load() != 0) {
            break;
        }
        if (!task.recurse) {
            continue;
        }
        const std::string& name = lists.sourceDirs[i];
        const std::string& destinationName =
            dirPair[i] >= 0 ? lists.destinationDirs[static_cast<std::size_t>(dirPair[i])] : name;
        DoLevel(ctx, JoinPath(source, name), JoinPath(destination, destinationName), exclusions, task, stats, false,
                skip);
    }

    PublishStats(ctx, stats);
}

bool IsInside(const std::string& inner, const std::string& outer) {
    if (outer.size() == 1 && outer[0] == kPathSeparator) {
        return inner.size() > 1;
    }
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           inner[outer.size()] == kPathSeparator;
}

std::string StripSeparator(std::string path) {
    if (!path.empty() && path.back() == kPathSeparator) {
        path.pop_back();
    }
    return path;
}

// The resolved form of a path that may not exist yet: its deepest existing ancestor resolved,
// the missing rest appended. False when it cannot be worked out.
bool ResolvedPath(IFileSystem& fs, std::string path, std::string& resolved) {
    std::string rest;
    for (;;) {
        std::string canonical;
        int e = fs.CanonicalPath(SystemDirectoryPath(path), canonical);
        if (e == 0) {
            if (canonical.size() == 1 && canonical[0] == kPathSeparator && !rest.empty()) {
                canonical.clear();
            }
            resolved = canonical + rest;
            return true;
        }
        if (e != ENOENT && e != ENOTDIR) {
            return false;
        }
        std::size_t sep = path.rfind(kPathSeparator);
        if (sep == std::string::npos) {
            rest = std::string(1, kPathSeparator) + path + rest;
            path = ".";
            continue;
        }
        rest = path.substr(sep) + rest;
        path.resize(sep);
    }
}

// Where source and destination overlap: false (logged) when the destination holds the source,
// which the mirror would delete; otherwise skip receives the source-side path of a destination
// that lies inside the source, so that it is not copied into itself level after level.
bool CheckOverlap(CRunContext& ctx, const std::string& source, const std::string& destination, RunStats& stats,
                  std::string& skip) {
    if (source.empty() || destination.empty() || ctx.stopRequested.load() != 0) {
        return true; // reported, or not, by the level itself
    }
    IFileSystem& fs = FsOf(ctx);
    const std::string plainSource = StripSeparator(source);
    std::string resolvedSource;
    std::string resolvedDestination;
    if (fs.CanonicalPath(SystemDirectoryPath(plainSource), resolvedSource) != 0 ||
        !ResolvedPath(fs, StripSeparator(destination), resolvedDestination)) {
        return true; // a source that cannot be resolved is reported when it is listed
    }
    if (resolvedSource == resolvedDestination || IsInside(resolvedSource, resolvedDestination)) {
        LogLine(ctx, "Destination \"" + destination + "\" contains the source \"" + source + "\", exiting",
                LogColour::Red);
        ++stats.errors;
        return false;
    }
    if (IsInside(resolvedDestination, resolvedSource)) {
        std::size_t from = resolvedSource.size() == 1 ? 1 : resolvedSource.size() + 1;
        skip = JoinPath(plainSource, resolvedDestination.substr(from));
    }
    return true;
}

} // namespace

void DoDirectory(CRunContext& ctx, std::string source, std::string destination, const std::string& exclusions,
                 const Task& task, RunStats& stats) {
    try {
        std::string skip;
        if (!CheckOverlap(ctx, source, destination, stats, skip)) {
            return;
        }
        // The task's own paths may be links the user chose; below them no link is followed.
        DoLevel(ctx, std::move(source), std::move(destination), exclusions, task, stats, true, skip);
    } catch (const std::exception& e) {
        LogLine(ctx, std::string("Error while synchronising: ") + e.what(), LogColour::Red);
        ++stats.errors;
    }
}
