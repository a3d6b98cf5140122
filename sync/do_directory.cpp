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
#include "sync/tree_cursor.h"
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
    // Parallel to destinationFiles: a regular file named as this program's copy temporaries.
    std::vector<char> destinationIsTemporary;
    std::vector<std::string> destinationDirs;
    std::vector<FileEntry> sourceFiles;
    std::vector<std::string> sourceDirs;
    // False when the source listing broke off: what it did not list may still exist, so the
    // destination's extras here are not extras for certain.
    bool sourceComplete = true;
    // Every entry the source listed, those left out of the listings above included.
    std::size_t sourceEntries = 0;
};

// One task's walk: both trees' open directories along the current path, and what the levels
// share.
struct Walk {
    Walk(CRunContext& context, const std::string& exclusionList, const Task& theTask, RunStats& runStats)
        : ctx(context), fs(FsOf(context)), exclusions(exclusionList), task(theTask), stats(runStats), source(fs),
          destination(fs) {}

    CRunContext& ctx;
    IFileSystem& fs;
    const std::string& exclusions;
    const Task& task;
    RunStats& stats;
    CTreeCursor source;
    CTreeCursor destination;
    // The source-side path of a destination inside the source, left out of the mirror.
    std::string skip;
    // Whether anything was attempted on the destination's disk, which must then be flushed.
    bool wroteDestination = false;
};

void MarkWriting(Walk& w) {
    w.wroteDestination = w.wroteDestination || !w.task.fakeIt;
}

bool IsDrive(const std::string& path) {
    return path.size() == 2 && path[1] == ':';
}

// Creates the destination level below its parent (never through a link), with the lines of
// YMakeDirectory. 0, or the errno that makes the level unusable.
int MakeDestinationLevel(Walk& w) {
    CRunContext& ctx = w.ctx;
    const std::string& path = w.destination.Path();
    if (ctx.debug) {
        DebugLog(ctx, "YMakeDirectory: " + path);
        DebugLog(ctx, "CreateDirectory: " + path);
    }
    int e = 0;
    const DirectoryHandle* parent = w.destination.Parent(e);
    if (parent != nullptr) {
        w.wroteDestination = true;
        e = w.fs.MakeDirectoryAt(*parent, w.destination.Name());
    }
    if (e == 0) {
        LogLine(ctx, "Created directory " + path, LogColour::Green);
    } else if (ctx.debug) {
        DebugLog(ctx, "Failure in CreateDirectory: " + path);
    }
    if (ctx.debug) {
        DebugLog(ctx, "End of YMakeDirectory: " + path + kPathSeparator);
    }
    return e == EEXIST ? 0 : e;
}

void RemoveLeftoverTemporary(Walk& w, const DirectoryHandle* dir, int dirError, const std::string& name,
                             const std::string& path) {
    if (w.task.fakeIt) {
        return;
    }
    if (w.ctx.debug) {
        DebugLog(w.ctx, "Removing leftover temporary " + path);
    }
    MarkWriting(w);
    int e = dir != nullptr ? w.fs.RemoveFileAt(*dir, name) : dirError;
    if (e != 0 && e != ENOENT) {
        LogLine(w.ctx, "Failed to remove the leftover temporary file " + path + FailureSuffix(e), LogColour::Red);
        ++w.stats.errors;
    }
}

// Lists the destination, creating it when missing. False when this directory is done with.
bool ListDestination(Walk& w, bool top, Listings& lists) {
    CRunContext& ctx = w.ctx;
    const std::string& destination = w.destination.Path();
    int error = 0;
    try {
        error = w.destination.Open();
    } catch (const std::exception&) {
        LogLine(ctx, "Error opening destination: '" + destination + "'", LogColour::Red);
        ++w.stats.errors;
        return false;
    }
    if (error != 0) {
        if (error == ENOENT || error == ENOTDIR || (!top && error == ELOOP)) {
            if (IsDrive(destination) || w.task.fakeIt) {
                return true;
            }
            int lastError = 0;
            bool made = false;
            if (top) {
                w.wroteDestination = true;
                made = YMakeDirectory(ctx, destination, lastError);
            } else {
                lastError = MakeDestinationLevel(w);
                made = lastError == 0;
            }
            // A file or a link standing at the destination's own name is "already there" to the
            // creation; it is still no directory to mirror into.
            if (made) {
                lastError = w.destination.Open();
                made = lastError == 0;
                if (lastError == ELOOP) {
                    lastError = ENOTDIR;
                }
            }
            if (!made) {
                LogLine(ctx,
                        "Unable to create \"" + destination + "\" - aborting (" +
                            ErrorText(static_cast<std::uint32_t>(lastError)) + ")",
                        LogColour::Red);
                ++w.stats.errors;
                return false;
            }
            return true;
        }
        LogLine(ctx,
                "Error reading destination directory \"" + destination + "\" (" +
                    ErrorText(static_cast<std::uint32_t>(error)) + ")",
                LogColour::Red);
        ++w.stats.errors;
        return false;
    }
    const DirectoryHandle* dir = w.destination.Current(error);
    std::unique_ptr<IDirectoryStream> stream = dir != nullptr ? w.fs.ListDirectory(*dir, error) : nullptr;
    if (!stream) {
        LogLine(ctx,
                "Error reading destination directory \"" + destination + "\" (" +
                    ErrorText(static_cast<std::uint32_t>(error)) + ")",
                LogColour::Red);
        ++w.stats.errors;
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
        FileStatus status;
        if (w.fs.StatusAt(*dir, entry.name, false, status) != 0 ||
            !FillEntryFromStatus(file, ctx, JoinPath(destination, entry.name), status)) {
            LogLine(ctx, "Unable to stat " + JoinPath(destination, entry.name), LogColour::Red);
        }
        lists.destinationFiles.push_back(std::move(file));
        lists.destinationIsLink.push_back(entry.kind == EntryKind::Symlink ? 1 : 0);
        lists.destinationIsTemporary.push_back(entry.kind == EntryKind::File && IsTemporaryCopyName(entry.name));
    }
    if (stream->Error() != 0) {
        LogLine(ctx, "Error getting destination file list: " + ErrorText(static_cast<std::uint32_t>(stream->Error())),
                LogColour::Red);
    }
    return true;
}

bool ListSource(Walk& w, Listings& lists) {
    CRunContext& ctx = w.ctx;
    const std::string& source = w.source.Path();
    const DirectoryHandle* dir = nullptr;
    std::unique_ptr<IDirectoryStream> stream;
    int error = 0;
    try {
        error = w.source.Open();
        if (error == 0) {
            dir = w.source.Current(error);
        }
        if (dir != nullptr) {
            stream = w.fs.ListDirectory(*dir, error);
        }
    } catch (const std::exception&) {
        LogLine(ctx,
                "Error reading source directory: \"" + source + "\" (" + ErrorText(static_cast<std::uint32_t>(errno)) +
                    ")",
                LogColour::Red);
        ++w.stats.errors;
        return false;
    }
    if (!stream) {
        LogLine(ctx,
                "Can't open source directory " + source + " with error " + std::to_string(error) + ": " +
                    ErrorText(static_cast<std::uint32_t>(error)) + "\n",
                LogColour::Red);
        ++w.stats.errors;
        return false;
    }
    DirEntry entry;
    while (stream->Next(entry)) {
        ++lists.sourceEntries;
        if (entry.kind == EntryKind::Directory) {
            // The destination itself, where it lies inside the source, is not mirrored into itself.
            if (!w.skip.empty() && JoinPath(source, entry.name) == w.skip) {
                continue;
            }
            if (!(w.task.excludeHiddenDirs && entry.hidden) && !(w.task.excludeSystemDirs && entry.system)) {
                lists.sourceDirs.push_back(entry.name);
            }
            continue;
        }
        FileStatus status;
        int statError = w.fs.StatusAt(*dir, entry.name, true, status);
        // A link to a directory is the reparse point of this system: left out.
        if (entry.kind == EntryKind::Symlink && statError == 0 && status.kind == EntryKind::Directory) {
            continue;
        }
        FileEntry file;
        file.name = entry.name;
        if (ctx.debug) {
            DebugLog(ctx, "SRC Enumerating: " + entry.name);
        }
        if (statError != 0 || !FillEntryFromStatus(file, ctx, JoinPath(source, entry.name), status)) {
            LogLine(ctx, "Unable to stat " + JoinPath(source, entry.name), LogColour::Red);
        }
        lists.sourceFiles.push_back(std::move(file));
    }
    if (stream->Error() != 0) {
        LogLine(ctx, "Error getting source file list: " + ErrorText(static_cast<std::uint32_t>(stream->Error())),
                LogColour::Red);
        ++w.stats.errors;
        lists.sourceComplete = false;
    }
    return true;
}

// Mirrors the level both cursors stand at; the caller has placed them and removes them again.
void DoLevel(Walk& w, bool top) {
    CRunContext& ctx = w.ctx;
    const Task& task = w.task;
    RunStats& stats = w.stats;
    const std::string& source = w.source.Path();
    const std::string& destination = w.destination.Path();
    if (!top) {
        if (ctx.debug) {
            DebugLog(ctx, "DoDirectory entering: " + source);
        }
        if (ctx.stopRequested.load() != 0) {
            return;
        }
    }

    switch (DirectoryExclusion(w.exclusions, source)) {
    case ExclusionResult::ExcludedExactly: {
        bool exists = false;
        if (top) {
            exists = PathExists(ctx, SystemDirectoryPath(destination));
        } else {
            int e = 0;
            const DirectoryHandle* parent = w.destination.Parent(e);
            FileStatus status;
            exists = parent != nullptr && w.fs.StatusAt(*parent, w.destination.Name(), false, status) == 0;
        }
        if (exists) {
            if (task.safeMode) {
                LogLine(ctx, "Not deleting " + destination + " (safe mode)", LogColour::Purple);
            } else if (!MayDelete(ctx, destination, true, stats)) {
                // held back by the deletion limit, which logged and counted it
            } else if (top) {
                MarkWriting(w);
                DeleteDirectory(ctx, destination, stats.deleted, stats.errors, task.fakeIt);
            } else {
                MarkWriting(w);
                DeleteDirectoryAt(ctx, w.destination, destination, stats.deleted, stats.errors, task.fakeIt);
            }
        }
        return;
    }
    case ExclusionResult::ExcludedByPrefix:
        return;
    case ExclusionResult::NotExcluded:
        break;
    }

    // On the heap: a deep tree keeps one of these per level on the stack.
    auto listings = std::make_unique<Listings>();
    Listings& lists = *listings;
    if (!ListDestination(w, top, lists)) {
        return;
    }
    if (!ListSource(w, lists)) {
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

    // The destination's directory is fetched again after every step that may have walked below
    // it: a deep removal can have closed it for the descriptor budget.
    int dirError = 0;
    const bool deleteExtras = lists.sourceComplete;
    for (std::size_t j = 0; j < lists.destinationFiles.size(); ++j) {
        if (destinationFileKept[j] || !deleteExtras) {
            continue;
        }
        const std::string& name = lists.destinationFiles[j].name;
        std::string path = JoinPath(destination, name);
        const DirectoryHandle* dir = w.destination.Current(dirError);
        // A copy interrupted before its rename left its temporary behind: the program's own
        // debris, never one of the user's files, so removed in every mode and never counted.
        if (lists.destinationIsTemporary[j]) {
            RemoveLeftoverTemporary(w, dir, dirError, name, path);
            continue;
        }
        if (task.safeMode) {
            LogLine(ctx, "Not deleting " + path + " (safe mode)", LogColour::Purple);
            ++stats.saved;
            continue;
        }
        if (!MayDelete(ctx, path, false, stats)) {
            continue; // held back by the deletion limit, which logged and counted it
        }
        MarkWriting(w);
        if (YDeleteFileAt(ctx, dir, dirError, name, path, task.fakeIt)) {
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
        w.destination.Push(lists.destinationDirs[j]);
        const std::string& path = w.destination.Path();
        if (task.safeMode) {
            LogLine(ctx, "Not deleting DIR " + path + " (safe mode)", LogColour::Purple);
        } else if (MayDelete(ctx, path, true, stats)) {
            MarkWriting(w);
            DeleteDirectoryAt(ctx, w.destination, path, stats.deleted, stats.errors, task.fakeIt);
        }
        w.destination.Pop();
    }

    for (std::size_t i = 0; i < lists.sourceFiles.size(); ++i) {
        const FileEntry& f = lists.sourceFiles[i];
        bool stopped = false;
        std::string sourcePath = JoinPath(source, f.name);
        if (ctx.stopRequested.load() != 0 ||
            !IsIncluded(f, w.exclusions, source, task.excludeSystem, task.excludeHidden)) {
            LogLine(ctx, "Excluded: " + sourcePath, LogColour::Teal);
            ++stats.skipped;
        } else {
            int sourceError = 0;
            const DirectoryHandle* sourceDir = w.source.Current(sourceError);
            const DirectoryHandle* destinationDir = w.destination.Current(dirError);
            const CopyEnd from{sourceDir, sourceError, f.name, sourcePath};
            if (filePair[i] < 0) {
                const std::string destinationPath = JoinPath(destination, f.name);
                MarkWriting(w);
                if (YCopyFileAt(ctx, from, CopyEnd{destinationDir, dirError, f.name, destinationPath}, true,
                                task.checkOpen, f.size, task.fakeIt, &stopped)) {
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
                    const std::string* kept = &d.name;
                    if (task.rename && !task.fakeIt && d.name != f.name && destinationDir != nullptr) {
                        MarkWriting(w);
                        if (w.fs.RenameAt(*destinationDir, d.name, f.name) == 0) {
                            kept = &f.name;
                        }
                    }
                    // A permission change alone is mirrored without copying the content.
                    if (!task.fakeIt && destinationDir != nullptr && f.mode >= 0 && d.mode != f.mode) {
                        MarkWriting(w);
                        SetModeLike(ctx, *destinationDir, *kept, JoinPath(destination, *kept),
                                    static_cast<std::uint32_t>(f.mode), stats);
                    }
                    ++stats.same;
                } else {
                    // Onto the entry it matched, so a case variant is updated in place, never doubled.
                    const std::string destinationPath = JoinPath(destination, d.name);
                    MarkWriting(w);
                    if (YCopyFileAt(ctx, from, CopyEnd{destinationDir, dirError, d.name, destinationPath}, false,
                                    task.checkOpen, f.size, task.fakeIt, &stopped)) {
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
        w.source.Push(name);
        w.destination.Push(destinationName);
        DoLevel(w, false);
        w.destination.Pop();
        w.source.Pop();
    }

    PublishStats(ctx, stats);
}

// Drops one trailing separator, except from the root, which would otherwise become the empty path.
void TrimSeparator(std::string& path) {
    if (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
}

// The task's own level: the checks of its paths, then the walk from there.
void DoTop(Walk& w, std::string source, std::string destination) {
    CRunContext& ctx = w.ctx;
    if (ctx.debug) {
        DebugLog(ctx, "DoDirectory entering: " + source);
    }
    if (ctx.stopRequested.load() != 0) {
        return;
    }
    if (source.empty()) {
        LogLine(ctx, "Source path is empty, exiting", LogColour::Red);
        ++w.stats.errors;
        return;
    }
    if (destination.empty()) {
        LogLine(ctx, "Destination path is empty, exiting", LogColour::Red);
        ++w.stats.errors;
        return;
    }
    TrimSeparator(source);
    TrimSeparator(destination);
    // The task's own paths may be links the user chose; below them no link is followed.
    w.source.Reset(SystemDirectoryPath(source), source, true);
    w.destination.Reset(SystemDirectoryPath(destination), destination, true);
    DoLevel(w, true);

    // Once per task, so that what the run reports done is on the disk, not only in its cache.
    if (w.wroteDestination && !w.task.fakeIt) {
        int e = 0;
        const DirectoryHandle* dir = w.destination.Current(e);
        if (dir != nullptr) {
            FlushDestination(ctx, *dir, destination, w.stats);
        }
    }
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
// the missing rest appended. False when it cannot be worked out. The ancestor is found by
// halving over the separators (a prefix resolves only if every shorter one does), so a path of
// any length costs a few dozen resolutions, not one per component.
bool ResolvedPath(IFileSystem& fs, const std::string& path, std::string& resolved) {
    std::string canonical;
    int e = fs.CanonicalPath(SystemDirectoryPath(path), canonical);
    if (e == 0) {
        resolved = canonical;
        return true;
    }
    auto missing = [](int error) { return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG; };
    if (!missing(e)) {
        return false;
    }
    std::vector<std::size_t> separators;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == kPathSeparator) {
            separators.push_back(i);
        }
    }
    // Look for the last separator whose prefix resolves.
    std::size_t low = 0;
    std::size_t high = separators.size();
    std::string found;
    std::size_t restFrom = std::string::npos;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const std::size_t at = separators[middle];
        std::string prefixCanonical;
        e = fs.CanonicalPath(at == 0 ? std::string(1, kPathSeparator) : path.substr(0, at), prefixCanonical);
        if (e == 0) {
            found = std::move(prefixCanonical);
            restFrom = at;
            low = middle + 1;
        } else if (missing(e)) {
            high = middle;
        } else {
            return false;
        }
    }
    std::string rest;
    if (restFrom == std::string::npos) {
        // Not even the first component exists: a relative path hangs below the current directory.
        if (fs.CanonicalPath(".", found) != 0) {
            return false;
        }
        rest = std::string(1, kPathSeparator) + path;
    } else {
        rest = path.substr(restFrom);
    }
    if (found.size() == 1 && found[0] == kPathSeparator && !rest.empty()) {
        found.clear();
    }
    resolved = found + rest;
    return true;
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
        Walk walk(ctx, exclusions, task, stats);
        if (!CheckOverlap(ctx, source, destination, stats, walk.skip)) {
            return;
        }
        DoTop(walk, std::move(source), std::move(destination));
    } catch (const std::exception& e) {
        LogLine(ctx, std::string("Error while synchronising: ") + e.what(), LogColour::Red);
        ++stats.errors;
    }
}
