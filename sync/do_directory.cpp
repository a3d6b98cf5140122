// Mirroring one source directory into one destination directory, and the same-file test.
#include "sync/do_directory.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "sync/copy.h"
#include "sync/debug_log.h"
#include "sync/deletion_guards.h"
#include "sync/directory_reader.h"
#include "sync/engine_support.h"
#include "sync/exclusions.h"
#include "sync/level_reader.h"
#include "sync/metadata.h"
#include "sync/name_arena.h"
#include "sync/name_pairing.h"
#include "sync/overlap.h"
#include "sync/tree_cursor.h"
#include "sync/worker_pool.h"
#include "util/path_rules.h"
#include "util/texts.h"

bool TimesDecide(const FileEntry& d, const FileEntry& s) {
    return d.size == s.size && (d.modified != s.modified || d.modifiedNanoseconds != s.modifiedNanoseconds);
}

bool SameFile(const FileEntry& d, const FileEntry& s, bool onlyIfNewer, bool oneHour, const TimeRule& rule) {
    if (!(d.size == s.size)) {
        return false;
    }
    // Seconds beyond the hour and the window mean different times whatever the units: held
    // there, the difference in units cannot overflow.
    constexpr std::int64_t kFar = 3600 + 60;
    const std::int64_t perSecond = kNanosecondsPerSecond / rule.unitNanoseconds;
    const std::int64_t seconds = std::clamp<std::int64_t>(s.modified - d.modified, -kFar, kFar);
    std::int64_t diff = seconds * perSecond +
                        (s.modifiedNanoseconds / rule.unitNanoseconds - d.modifiedNanoseconds / rule.unitNanoseconds);
    if (oneHour && (diff == 3600 * perSecond || diff == -3600 * perSecond)) {
        diff = 0;
    }
    if (onlyIfNewer) {
        return diff <= rule.slack;
    }
    return diff >= -rule.slack && diff <= rule.slack && EqualNoCase(d.name, s.name);
}

namespace {

// The two listings of one level, and how their names pair up. The files' part is dropped once
// the files are done, before the walk descends, so a deep walk holds only the directory names of
// the levels above it.
struct Listings {
    ListedSide destination;
    ListedSide source;
    // False when the source listing broke off: what it did not list may still exist, so the
    // destination's extras here are not extras for certain.
    bool sourceComplete = true;

    // Filled by PairUp: the destination index of each source entry (-1 for a new one), and
    // which destination entries a source entry took (the others are the extras).
    std::vector<std::int32_t> filePair;
    std::vector<char> destinationFileKept;
    std::vector<std::int32_t> dirPair;
    std::vector<char> destinationDirKept;

    // Files and directories are paired apart, but a name one kind has exactly in the source is
    // never taken by a case variant of the other: the entry there is replaced, as on a change of
    // type. Both sides list in byte order, so a name is found by halving.
    void PairUp() {
        PairNames(source.files, destination.files, filePair, destinationFileKept, [this](std::string_view name) {
            return std::binary_search(source.dirs.begin(), source.dirs.end(), name);
        });
        PairNames(source.dirs, destination.dirs, dirPair, destinationDirKept, [this](std::string_view name) {
            auto at = std::lower_bound(source.files.begin(), source.files.end(), name,
                                       [](const FileEntry& file, std::string_view n) { return file.name < n; });
            return at != source.files.end() && at->name == name;
        });
    }

    void ReleaseFiles() {
        destination.ReleaseFiles();
        source.ReleaseFiles();
        std::vector<std::int32_t>().swap(filePair);
        std::vector<char>().swap(destinationFileKept);
    }
};

// The read-aheads of one subdirectory: its source and its destination side.
struct LevelAhead {
    std::shared_ptr<CReadAhead> source;
    std::shared_ptr<CReadAhead> destination;
};

// The handles of one level that its read-ahead jobs share, for as long as any of them holds one.
struct LevelHandles {
    std::weak_ptr<DirectoryHandle> source;
    std::weak_ptr<DirectoryHandle> destination;
};

// Subdirectories read ahead of the walk, per worker: enough to keep every worker busy while
// the walk mirrors small levels, few enough that their listings stay a small part of memory.
constexpr std::size_t kLevelsAheadPerThread = 2;
// Directory handles read-ahead jobs may hold at once, beside the cursors' own budget.
constexpr int kMostSharedHandles = 32;

// What the walk does with one source file, decided before any copy of its level starts.
enum class FilePlan : std::uint8_t { Excluded, Link, Same, Copy };

// A copy run on a worker, committed by the walk thread in listing order.
struct CopyJob {
    bool started = false; // false: a stop came first, and nothing was attempted
    CopyVerdict verdict = CopyVerdict::Stopped;
    CopyJournal journal;
    std::exception_ptr error; // thrown on the worker, thrown again on the walk thread
};

// Copies queued or running ahead of the one the walk commits next, per worker: enough to keep
// every worker busy while small files are committed, few enough to keep their state small.
constexpr std::size_t kCopiesAheadPerThread = 4;

// Drops one trailing separator, except from the root, which would otherwise become the empty path.
void TrimSeparator(std::string& path) {
    if (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
}

// One task's walk: what every level shares (context, task, exclusions, counters) and both trees'
// open directories along the current path. Each level goes through the phases in order:
// exclusion, listings, extras deleted, files copied, subdirectories. Runs on the run thread.
class CDirectoryWalker {
public:
    CDirectoryWalker(CRunContext& ctx, const Task& task, const std::string& exclusions, RunStats& stats)
        : ctx_(ctx), fs_(FsOf(ctx)), task_(task), exclusions_(exclusions), stats_(stats), source_(fs_),
          destination_(fs_), giveAway_(fs_.MayGiveAway()), times_(ctx, task.fakeIt) {}

    // Mirrors the task's source into its destination, top level first, once the two are known
    // not to overlap in a way the mirror would harm.
    void Run(std::string source, std::string destination);

private:
    enum class DestinationState { Listed, Empty, Abandoned };

    void MirrorLevel(bool top, const LevelAhead& ahead = {});
    bool Excluded(bool top);
    bool DestinationExists(bool top);
    DestinationState OpenDestination(bool top);
    FsError MakeDestinationLevel();
    bool ListDestination(bool top, Listings& lists, CReadAhead* ahead);
    bool ListSource(Listings& lists, CReadAhead* ahead);
    SideReading SourceReading() const;
    void ReportSide(const ListedSide& side, const std::string& directory, const char* label);
    bool ReadAhead(const Listings& lists, std::size_t index, LevelHandles& held, LevelAhead& ahead);
    std::shared_ptr<CReadAhead> QueueReading(CReadAhead::Opener open, SideReading how);
    std::shared_ptr<DirectoryHandle> SharedHandle(CTreeCursor& tree, std::weak_ptr<DirectoryHandle>& held);
    void DeleteExtraFiles(const Listings& lists);
    void RemoveLeftoverTemporary(const DirectoryHandle* dir, const FsError& dirError, const std::string& name,
                                 const std::string& path);
    void DeleteExtraDirectories(const Listings& lists);
    void CopyFiles(const Listings& lists);
    void CopyFilesInParallel(const Listings& lists);
    bool MirrorFile(const Listings& lists, std::size_t index);
    FilePlan PlanFile(const Listings& lists, std::size_t index);
    const TimeRule& LevelTimes();
    bool CarryOut(const Listings& lists, std::size_t index, FilePlan plan);
    void LogExcluded(const FileEntry& f);
    std::string CopyDestinationName(const Listings& lists, std::size_t index) const;
    bool CopyOne(const FileEntry& f, const std::string& destinationName, bool isNew);
    std::shared_ptr<CJobResult<CopyJob>> StartCopy(const FileEntry& f, const std::string& destinationName, bool isNew);
    bool CommitCopy(const FileEntry& f, const std::string& destinationName, bool isNew, CopyJob& job);
    void CountCopy(const FileEntry& f, const std::string& sourcePath, bool isNew, CopyVerdict verdict);
    void LinkInstead(const FileEntry& f, const std::string& destinationName, bool isNew);
    void MirrorLink(const Listings& lists, std::size_t index, const SourceLink& link);
    void LinkOne(const FileEntry& f, const SourceLink& link, const std::string& destinationName, bool isNew);
    void KeepSame(const FileEntry& f, const FileEntry& d, bool isLink = false);
    void Recurse(const Listings& lists);
    std::unique_ptr<FileStatus> ReadSourceLevel(bool top);
    bool IsDestinationTop(const FileStatus* source) const;
    bool KnowDestinationTop(const FileStatus* source);
    void OpenUpLevel(const FileStatus* source);
    void FinishLevel(const FileStatus* source);
    void FlushAtEnd(const std::string& destination);

    // Anything attempted on the destination's disk must be flushed before the task is done.
    void MarkWriting() { wroteDestination_ = wroteDestination_ || !task_.fakeIt; }

    CRunContext& ctx_;
    IFileSystem& fs_;
    const Task& task_;
    const std::string& exclusions_;
    RunStats& stats_;
    CTreeCursor source_;
    CTreeCursor destination_;
    // Which directory the destination's top is, once it is open: a source level that is this
    // very directory, under whatever path, is the destination inside the source and is left out.
    bool destinationKnown_ = false;
    std::uint64_t destinationDevice_ = 0;
    std::uint64_t destinationInode_ = 0;
    bool wroteDestination_ = false;
    // Whether owners can be given away (the superuser), asked once per walk.
    const bool giveAway_;
    // What the destination keeps of the times copies are given, asked once per task.
    CTaskTimes times_;
    std::optional<TimeRule> levelTimes_;
    // The status of the source directory of the level being opened, for a directory made for it.
    const FileStatus* levelSource_ = nullptr;
    // Directory handles held by read-ahead jobs; closed, and counted down, on whichever thread
    // drops the last job holding one.
    std::atomic<int> sharedHandles_{0};
    // Copies files and reads levels ahead on other threads when the run asks for more than one.
    // Declared last: its workers use the cursors' directories and are joined before those close.
    std::unique_ptr<CWorkerPool> pool_;
};

void CDirectoryWalker::Run(std::string source, std::string destination) {
    if (!CheckOverlap(ctx_, source, destination, stats_)) {
        return;
    }
    if (ctx_.debug) {
        DebugLog(ctx_, "DoDirectory entering: " + source);
    }
    if (ctx_.stopRequested.load() != 0) {
        return;
    }
    if (source.empty()) {
        LogError(ctx_, "Source path is empty, exiting", stats_.errors);
        return;
    }
    if (destination.empty()) {
        LogError(ctx_, "Destination path is empty, exiting", stats_.errors);
        return;
    }
    TrimSeparator(source);
    TrimSeparator(destination);
    // The task's own paths may be links the user chose; below them no link is followed.
    source_.Reset(SystemDirectoryPath(source), source, true);
    destination_.Reset(SystemDirectoryPath(destination), destination, true);
    // Fake-it copies only announce themselves: nothing to share out.
    if (ctx_.threads > 1 && !task_.fakeIt) {
        pool_ = std::make_unique<CWorkerPool>(ctx_.threads);
    }
    MirrorLevel(true);
    FlushAtEnd(destination);
}

// The level both cursors stand at; the caller has placed them and removes them again.
void CDirectoryWalker::MirrorLevel(bool top, const LevelAhead& ahead) {
    if (!top) {
        if (ctx_.debug) {
            DebugLog(ctx_, "DoDirectory entering: " + source_.Path());
        }
        if (ctx_.stopRequested.load() != 0) {
            return;
        }
    }
    if (Excluded(top)) {
        return;
    }
    // The top's source is read on a worker while the walk reads (or makes) the destination; every
    // level below was queued by its parent.
    std::shared_ptr<CReadAhead> topSource;
    if (top && pool_ != nullptr) {
        topSource =
            QueueReading([path = SystemDirectoryPath(source_.Path())](
                             IFileSystem& fs, DirectoryHandle& dir) { return fs.OpenDirectoryPath(path, true, dir); },
                         SourceReading());
    }
    const std::unique_ptr<FileStatus> sourceStatus = ReadSourceLevel(top);
    if (!top && IsDestinationTop(sourceStatus.get())) {
        if (ctx_.debug) {
            DebugLog(ctx_, "Leaving out the destination inside the source: " + source_.Path());
        }
        return;
    }
    // A fake-it run makes and changes nothing from it.
    const FileStatus* sourceLevel = task_.fakeIt ? nullptr : sourceStatus.get();
    levelSource_ = sourceLevel;
    // On the heap: a deep tree keeps one of these per level on the stack.
    auto lists = std::make_unique<Listings>();
    const bool listed = ListDestination(top, *lists, ahead.destination.get());
    levelSource_ = nullptr; // it lives only as long as this level
    if (!listed || (top && !KnowDestinationTop(sourceStatus.get())) ||
        !ListSource(*lists, top ? topSource.get() : ahead.source.get())) {
        return;
    }
    if (top && lists->sourceComplete &&
        EmptySourceRefused(ctx_, task_, source_.Path(), destination_.Path(), lists->source.entries,
                           lists->destination.files.size() + lists->destination.dirs.size(), stats_)) {
        return;
    }
    lists->PairUp();
    OpenUpLevel(sourceLevel);
    DeleteExtraFiles(*lists);
    DeleteExtraDirectories(*lists);
    CopyFiles(*lists);
    lists->ReleaseFiles();
    Recurse(*lists);
    // Only now: every entry made, renamed or removed in the directory changed its time.
    FinishLevel(sourceLevel);
    PublishStats(ctx_, stats_);
}

// True when the exclusion list leaves this level out: an exact match removes its destination
// (unless safe mode keeps it), a prefix match leaves it alone.
bool CDirectoryWalker::Excluded(bool top) {
    switch (DirectoryExclusion(exclusions_, source_.Path())) {
    case ExclusionResult::NotExcluded:
        return false;
    case ExclusionResult::ExcludedByPrefix:
        return true;
    case ExclusionResult::ExcludedExactly:
        break;
    }
    const std::string& destination = destination_.Path();
    if (!DestinationExists(top)) {
        return true;
    }
    if (task_.safeMode) {
        LogLine(ctx_, "Not deleting " + destination + " (safe mode)", LogColour::Purple);
    } else if (MayDelete(ctx_, destination, true, stats_)) { // else held back, logged and counted
        MarkWriting();
        if (top) {
            DeleteDirectory(ctx_, destination, stats_.deleted, stats_.errors, task_.fakeIt);
        } else {
            DeleteDirectoryAt(ctx_, destination_, destination, stats_.deleted, stats_.errors, task_.fakeIt);
        }
    }
    return true;
}

bool CDirectoryWalker::DestinationExists(bool top) {
    if (top) {
        return PathExists(ctx_, SystemDirectoryPath(destination_.Path()));
    }
    FsError e;
    const DirectoryHandle* parent = destination_.Parent(e);
    FileStatus status;
    return parent != nullptr && !fs_.StatusAt(*parent, destination_.Name(), false, status);
}

// Creates the destination level below its parent (never through a link), with the lines of
// YMakeDirectory. None, or the failure that makes the level unusable.
FsError CDirectoryWalker::MakeDestinationLevel() {
    const std::string& path = destination_.Path();
    if (ctx_.debug) {
        DebugLog(ctx_, "YMakeDirectory: " + path);
        DebugLog(ctx_, "CreateDirectory: " + path);
    }
    FsError e;
    const DirectoryHandle* parent = destination_.Parent(e);
    if (parent != nullptr) {
        wroteDestination_ = true;
        e = fs_.MakeDirectoryAt(*parent, destination_.Name());
    }
    if (!e) {
        LogLine(ctx_, "Created directory " + path, LogColour::Green);
        if (levelSource_ != nullptr) {
            PrepareNewDirectory(ctx_, *parent, destination_.Name(), path, *levelSource_, giveAway_, stats_);
        }
    } else if (ctx_.debug) {
        DebugLog(ctx_, "Failure in CreateDirectory: " + path);
    }
    if (ctx_.debug) {
        DebugLog(ctx_, "End of YMakeDirectory: " + path + kPathSeparator);
    }
    return e.Is(ErrorKind::Exists) ? FsError() : e;
}

// Reaches the destination level, creating it when it is missing.
CDirectoryWalker::DestinationState CDirectoryWalker::OpenDestination(bool top) {
    const std::string& destination = destination_.Path();
    FsError error;
    try {
        error = destination_.Open();
    } catch (const std::exception&) {
        LogError(ctx_, "Error opening destination: '" + destination + "'", stats_.errors);
        return DestinationState::Abandoned;
    }
    if (!error) {
        return DestinationState::Listed;
    }
    if (!error.Is(ErrorKind::NotFound) && !error.Is(ErrorKind::NotADirectory) &&
        !(!top && error.Is(ErrorKind::IsALink))) {
        LogError(ctx_, "Error reading destination directory \"" + destination + "\" (" + ErrorTextOf(error) + ")",
                 stats_.errors);
        return DestinationState::Abandoned;
    }
    if (IsDrive(destination) || task_.fakeIt) {
        return DestinationState::Empty;
    }
    FsError lastError;
    bool made = false;
    if (top) {
        wroteDestination_ = true;
        made = YMakeDirectory(ctx_, destination, lastError);
    } else {
        lastError = MakeDestinationLevel();
        made = !lastError;
    }
    // A file or a link standing at the destination's own name is "already there" to the
    // creation; it is still no directory to mirror into.
    if (made) {
        lastError = destination_.Open();
        made = !lastError;
        if (lastError.Is(ErrorKind::IsALink)) {
            lastError = FsError::OfKind(ErrorKind::NotADirectory);
        }
    }
    if (!made) {
        LogError(ctx_, "Unable to create \"" + destination + "\" - aborting (" + ErrorTextOf(lastError) + ")",
                 stats_.errors);
        return DestinationState::Abandoned;
    }
    return DestinationState::Empty;
}

// Lists the destination, creating it when missing. False when this level is done with.
bool CDirectoryWalker::ListDestination(bool top, Listings& lists, CReadAhead* ahead) {
    switch (OpenDestination(top)) {
    case DestinationState::Abandoned:
        return false;
    case DestinationState::Empty:
        return true;
    case DestinationState::Listed:
        break;
    }
    const std::string& destination = destination_.Path();
    CDirectoryReader reader(fs_, destination_);
    FsError error = reader.Open();
    if (!error) {
        error = TakeOrReadSide(fs_, *reader.Directory(), ahead, SideReading{}, lists.destination);
    }
    if (error) {
        LogError(ctx_, "Error reading destination directory \"" + destination + "\" (" + ErrorTextOf(error) + ")",
                 stats_.errors);
        return false;
    }
    ReportSide(lists.destination, destination, "DST");
    if (lists.destination.end) {
        LogError(ctx_, "Error getting destination file list: " + ErrorTextOf(lists.destination.end), stats_.errors);
    }
    return true;
}

bool CDirectoryWalker::ListSource(Listings& lists, CReadAhead* ahead) {
    const std::string& source = source_.Path();
    CDirectoryReader reader(fs_, source_);
    FsError error;
    try {
        error = reader.Open();
        if (!error) {
            error = TakeOrReadSide(fs_, *reader.Directory(), ahead, SourceReading(), lists.source);
        }
    } catch (const std::exception&) {
        LogError(ctx_,
                 "Error reading source directory: \"" + source + "\" (" + ErrorText(static_cast<std::uint32_t>(errno)) +
                     ")",
                 stats_.errors);
        return false;
    }
    if (error) {
        LogError(ctx_,
                 "Can't open source directory " + source + " with error " + std::to_string(error.code) + ": " +
                     ErrorTextOf(error) + "\n",
                 stats_.errors);
        return false;
    }
    ReportSide(lists.source, source, "SRC");
    if (lists.source.end) {
        LogError(ctx_, "Error getting source file list: " + ErrorTextOf(lists.source.end), stats_.errors);
        lists.sourceComplete = false;
    }
    return true;
}

SideReading CDirectoryWalker::SourceReading() const {
    return SideReading{
        .source = true, .excludeHiddenDirs = task_.excludeHiddenDirs, .excludeSystemDirs = task_.excludeSystemDirs};
}

// The lines that reading a side owes the log, in listing order.
void CDirectoryWalker::ReportSide(const ListedSide& side, const std::string& directory, const char* label) {
    for (std::size_t i = 0; i < side.files.size(); ++i) {
        const FileEntry& file = side.files[i];
        if (ctx_.debug) {
            DebugLog(ctx_, std::string(label) + " Enumerating: " + std::string(file.name));
        }
        // The entry's full path is only needed for the debug line; without one it is not built.
        if (side.Has(i, kStatFailed) ||
            !LogEntryStatus(ctx_, ctx_.debug ? JoinPath(directory, file.name) : std::string(), file)) {
            LogLine(ctx_, "Unable to stat " + JoinPath(directory, file.name), LogColour::Red);
        }
    }
}

// Destination files that no source file took. Nothing is deleted after a source listing that
// broke off: its missing names may still exist.
void CDirectoryWalker::DeleteExtraFiles(const Listings& lists) {
    if (!lists.sourceComplete) {
        return;
    }
    const std::string& destination = destination_.Path();
    for (std::size_t j = 0; j < lists.destination.files.size(); ++j) {
        if (lists.destinationFileKept[j]) {
            continue;
        }
        const std::string name(lists.destination.files[j].name);
        const std::string path = JoinPath(destination, name);
        // Fetched again for every file: a deep removal can have closed it for the descriptor budget.
        FsError dirError;
        const DirectoryHandle* dir = destination_.Current(dirError);
        // A copy interrupted before its rename left its temporary behind: the program's own
        // debris, never one of the user's files, so removed in every mode and never counted.
        if (lists.destination.Has(j, kTemporary)) {
            RemoveLeftoverTemporary(dir, dirError, name, path);
            continue;
        }
        if (task_.safeMode) {
            LogLine(ctx_, "Not deleting " + path + " (safe mode)", LogColour::Purple);
            ++stats_.saved;
            continue;
        }
        if (!MayDelete(ctx_, path, false, stats_)) {
            continue; // held back by the deletion limit, which logged and counted it
        }
        MarkWriting();
        if (YDeleteFileAt(ctx_, dir, dirError, name, path, task_.fakeIt)) {
            LogLine(ctx_, "Deleted " + name, LogColour::Purple);
            ++stats_.deleted;
        } else {
            LogError(ctx_, "Failed to delete file " + path, stats_.errors);
        }
    }
}

void CDirectoryWalker::RemoveLeftoverTemporary(const DirectoryHandle* dir, const FsError& dirError,
                                               const std::string& name, const std::string& path) {
    if (task_.fakeIt) {
        return;
    }
    if (ctx_.debug) {
        DebugLog(ctx_, "Removing leftover temporary " + path);
    }
    MarkWriting();
    const FsError e = dir != nullptr ? fs_.RemoveFileAt(*dir, name) : dirError;
    if (e && !e.Is(ErrorKind::NotFound)) {
        LogError(ctx_, "Failed to remove the leftover temporary file " + path + FailureSuffix(e), stats_.errors);
    }
}

void CDirectoryWalker::DeleteExtraDirectories(const Listings& lists) {
    if (!lists.sourceComplete) {
        return;
    }
    for (std::size_t j = 0; j < lists.destination.dirs.size(); ++j) {
        if (lists.destinationDirKept[j]) {
            continue;
        }
        destination_.Push(std::string(lists.destination.dirs[j]));
        const std::string& path = destination_.Path();
        if (task_.safeMode) {
            LogLine(ctx_, "Not deleting DIR " + path + " (safe mode)", LogColour::Purple);
        } else if (MayDelete(ctx_, path, true, stats_)) {
            MarkWriting();
            DeleteDirectoryAt(ctx_, destination_, path, stats_.deleted, stats_.errors, task_.fakeIt);
        }
        destination_.Pop();
    }
}

void CDirectoryWalker::CopyFiles(const Listings& lists) {
    // Found before the level's first line, so that both ways of copying log alike.
    levelTimes_.reset();
    for (std::size_t i = 0; i < lists.source.files.size() && !levelTimes_; ++i) {
        const std::int32_t pair = lists.filePair[i];
        if (pair >= 0 && TimesDecide(lists.destination.files[static_cast<std::size_t>(pair)], lists.source.files[i])) {
            LevelTimes();
        }
    }
    if (pool_ != nullptr) {
        CopyFilesInParallel(lists);
        return;
    }
    for (std::size_t i = 0; i < lists.source.files.size(); ++i) {
        if (!MirrorFile(lists, i)) {
            continue; // a copy cancelled by Stop made nothing and counts nowhere
        }
        const FileEntry& f = lists.source.files[i];
        ++stats_.sourceCount;
        stats_.sourceSize += f.size;
    }
}

// The copies run on the workers, a bounded number ahead; every line, counter and decision is
// made here, file by file in listing order, as the loop above makes them. All of the level's
// copies are committed before this returns, so nothing is written in the level afterwards.
void CDirectoryWalker::CopyFilesInParallel(const Listings& lists) {
    const std::size_t count = lists.source.files.size();
    std::vector<FilePlan> plans(count);
    for (std::size_t i = 0; i < count; ++i) {
        plans[i] = PlanFile(lists, i);
    }
    const std::size_t ahead = kCopiesAheadPerThread * static_cast<std::size_t>(pool_->Threads());
    std::deque<std::pair<std::size_t, std::shared_ptr<CJobResult<CopyJob>>>> started;
    std::size_t next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        for (; next < count && started.size() < ahead; ++next) {
            if (plans[next] == FilePlan::Copy) {
                started.emplace_back(next, StartCopy(lists.source.files[next], CopyDestinationName(lists, next),
                                                     lists.filePair[next] < 0));
            }
        }
        const FileEntry& f = lists.source.files[i];
        bool counts = true;
        if (plans[i] == FilePlan::Copy) {
            // Every earlier copy is committed, and this one was started before any later one.
            std::shared_ptr<CJobResult<CopyJob>> job = std::move(started.front().second);
            started.pop_front();
            counts = CommitCopy(f, CopyDestinationName(lists, i), lists.filePair[i] < 0, job->Wait());
        } else {
            counts = CarryOut(lists, i, ctx_.stopRequested.load() != 0 ? FilePlan::Excluded : plans[i]);
        }
        if (counts) {
            ++stats_.sourceCount;
            stats_.sourceSize += f.size;
        }
    }
}

// One source file: excluded, new, changed or the same. False when its copy was stopped.
bool CDirectoryWalker::MirrorFile(const Listings& lists, std::size_t index) {
    return CarryOut(lists, index, PlanFile(lists, index));
}

FilePlan CDirectoryWalker::PlanFile(const Listings& lists, std::size_t index) {
    const FileEntry& f = lists.source.files[index];
    // After a stop every remaining file of the directory is reported excluded. Reading a fifo or
    // a device could block the run or act on the device; such entries are left out as well.
    if (ctx_.stopRequested.load() != 0 || lists.source.Has(index, kSpecial) ||
        !IsIncluded(f, exclusions_, source_.Path(), task_.excludeSystem, task_.excludeHidden)) {
        return FilePlan::Excluded;
    }
    if (lists.source.LinkOf(index) != nullptr) {
        return FilePlan::Link;
    }
    const std::int32_t pair = lists.filePair[index];
    if (pair < 0) {
        return FilePlan::Copy;
    }
    const std::size_t j = static_cast<std::size_t>(pair);
    // A link in the destination is never the copy of a file, whatever its own size and time.
    const FileEntry& d = lists.destination.files[j];
    if (!lists.destination.Has(j, kListedLink) &&
        SameFile(d, f, task_.onlyIfNewer, task_.oneHour, TimesDecide(d, f) ? LevelTimes() : kWholeSecondTimes)) {
        return FilePlan::Same;
    }
    return FilePlan::Copy;
}

// Found only for a level with a pair that TimesDecide, so that a rescan with nothing changed
// neither probes nor asks for a directory's file system.
const TimeRule& CDirectoryWalker::LevelTimes() {
    if (!levelTimes_) {
        FsError dirError;
        levelTimes_ = times_.For(destination_.Current(dirError), destination_.Path(), source_.Path());
    }
    return *levelTimes_;
}

// False when the file's copy was stopped.
bool CDirectoryWalker::CarryOut(const Listings& lists, std::size_t index, FilePlan plan) {
    const FileEntry& f = lists.source.files[index];
    switch (plan) {
    case FilePlan::Excluded:
        LogExcluded(f);
        return true;
    case FilePlan::Link:
        MirrorLink(lists, index, *lists.source.LinkOf(index));
        return true;
    case FilePlan::Same:
        KeepSame(f, lists.destination.files[static_cast<std::size_t>(lists.filePair[index])]);
        return true;
    case FilePlan::Copy:
        break;
    }
    return CopyOne(f, CopyDestinationName(lists, index), lists.filePair[index] < 0);
}

void CDirectoryWalker::LogExcluded(const FileEntry& f) {
    LogLine(ctx_, "Excluded: " + JoinPath(source_.Path(), f.name), LogColour::Teal);
    ++stats_.skipped;
}

// A new file keeps its own name; a changed one is copied onto the entry it matched, so that a
// case variant is updated in place, never doubled.
std::string CDirectoryWalker::CopyDestinationName(const Listings& lists, std::size_t index) const {
    const std::int32_t pair = lists.filePair[index];
    return std::string(pair < 0 ? lists.source.files[index].name
                                : lists.destination.files[static_cast<std::size_t>(pair)].name);
}

// Copies f onto destinationName and counts it as new or changed. False when stopped.
bool CDirectoryWalker::CopyOne(const FileEntry& f, const std::string& destinationName, bool isNew) {
    const std::string sourceName(f.name);
    const std::string sourcePath = JoinPath(source_.Path(), sourceName);
    const std::string destinationPath = JoinPath(destination_.Path(), destinationName);
    FsError sourceError;
    const DirectoryHandle* sourceDir = source_.Current(sourceError);
    FsError destinationError;
    const DirectoryHandle* destinationDir = destination_.Current(destinationError);
    MarkWriting();
    const FileIdentity listed{f.device, f.inode};
    const CopyVerdict verdict = YCopyFileAt(
        ctx_, CopyEnd{sourceDir, sourceError, sourceName, sourcePath},
        CopyEnd{destinationDir, destinationError, destinationName, destinationPath}, CLargeNumber::FromUint64(f.size),
        CopyOptions{.isNew = isNew, .checkOpen = task_.checkOpen, .fakeIt = task_.fakeIt, .listed = listed});
    if (verdict == CopyVerdict::BecameLink) {
        LinkInstead(f, destinationName, isNew);
        return true;
    }
    CountCopy(f, sourcePath, isNew, verdict);
    return verdict != CopyVerdict::Stopped;
}

// A file listed as a file whose name holds a link by the time it is copied: mirrored as that link.
void CDirectoryWalker::LinkInstead(const FileEntry& f, const std::string& destinationName, bool isNew) {
    SourceLink link;
    FileEntry asLink = f;
    const std::string name(f.name);
    const DirectoryHandle* dir = source_.Current(link.readError);
    FileStatus status;
    if (dir != nullptr && !(link.readError = fs_.StatusAt(*dir, name, false, status)) &&
        !(link.readError = fs_.ReadLinkAt(*dir, name, link.target))) {
        link.seconds = status.mtimeSeconds;
        link.nanoseconds = status.mtimeNanoseconds;
        SetEntryFromStatus(asLink, status);
    }
    LinkOne(asLink, link, destinationName, isNew);
}

// Queues CopyOne's copy on a worker. The directories stay open until the level is left, which
// waits for every copy of the level.
std::shared_ptr<CJobResult<CopyJob>> CDirectoryWalker::StartCopy(const FileEntry& f, const std::string& destinationName,
                                                                 bool isNew) {
    auto result = std::make_shared<CJobResult<CopyJob>>();
    FsError sourceError;
    const DirectoryHandle* sourceDir = source_.Current(sourceError);
    FsError destinationError;
    const DirectoryHandle* destinationDir = destination_.Current(destinationError);
    MarkWriting();
    const FileIdentity listed{f.device, f.inode};
    pool_->Submit([&ctx = ctx_, result, sourceDir, sourceError, sourceName = std::string(f.name),
                   sourcePath = JoinPath(source_.Path(), f.name), destinationDir, destinationError, destinationName,
                   destinationPath = JoinPath(destination_.Path(), destinationName),
                   size = CLargeNumber::FromUint64(f.size),
                   options = CopyOptions{.isNew = isNew, .checkOpen = task_.checkOpen, .listed = listed}]() mutable {
        CopyJob job;
        // A paused run starts no copy; a stopped one starts none at all.
        while (ctx.paused.load() && ctx.stopRequested.load() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (ctx.stopRequested.load() == 0) {
            job.started = true;
            options.journal = &job.journal;
            try {
                job.verdict = YCopyFileAt(ctx, CopyEnd{sourceDir, sourceError, sourceName, sourcePath},
                                          CopyEnd{destinationDir, destinationError, destinationName, destinationPath},
                                          size, options);
            } catch (...) {
                job.error = std::current_exception();
            }
        }
        result->Set(std::move(job));
    });
    return result;
}

// CopyOne's lines and counting for a copy made on a worker. A copy that a stop kept from
// starting is reported as the sequential walk reports the files after a stop.
bool CDirectoryWalker::CommitCopy(const FileEntry& f, const std::string& destinationName, bool isNew, CopyJob& job) {
    if (!job.started) {
        LogExcluded(f);
        return true;
    }
    job.journal.Replay(ctx_);
    if (job.error) {
        std::rethrow_exception(job.error);
    }
    if (job.verdict == CopyVerdict::BecameLink) {
        LinkInstead(f, destinationName, isNew);
        return true;
    }
    CountCopy(f, JoinPath(source_.Path(), f.name), isNew, job.verdict);
    return job.verdict != CopyVerdict::Stopped;
}

void CDirectoryWalker::CountCopy(const FileEntry& f, const std::string& sourcePath, bool isNew, CopyVerdict verdict) {
    switch (verdict) {
    case CopyVerdict::Copied:
        if (isNew) {
            ++stats_.newFiles;
            stats_.bytesNew += f.size;
        } else {
            ++stats_.changed;
            stats_.bytesChanged += f.size;
        }
        break;
    case CopyVerdict::Failed:
        LogError(ctx_, (isNew ? "Failed to copy new file " : "Failed to update file ") + sourcePath, stats_.errors);
        break;
    case CopyVerdict::Stopped:
    case CopyVerdict::BecameLink:
        break;
    }
    PublishStats(ctx_, stats_);
}

// A source link: the same when the destination has a link with the same target text, else
// made anew over whatever has the name.
void CDirectoryWalker::MirrorLink(const Listings& lists, std::size_t index, const SourceLink& link) {
    const FileEntry& f = lists.source.files[index];
    const std::int32_t pair = lists.filePair[index];
    if (pair < 0) {
        LinkOne(f, link, std::string(f.name), true);
        return;
    }
    const std::size_t j = static_cast<std::size_t>(pair);
    const FileEntry& d = lists.destination.files[j];
    FsError dirError;
    const DirectoryHandle* dir = destination_.Current(dirError);
    std::string target;
    const std::string destinationName(d.name);
    if (!link.readError && lists.destination.Has(j, kListedLink) && dir != nullptr &&
        !fs_.ReadLinkAt(*dir, destinationName, target) && target == link.target) {
        KeepSame(f, d, true); // a link has no permissions of its own
        return;
    }
    LinkOne(f, link, destinationName, false);
}

// Puts the link at destinationName and counts it like a copied file.
void CDirectoryWalker::LinkOne(const FileEntry& f, const SourceLink& link, const std::string& destinationName,
                               bool isNew) {
    const std::string sourcePath = JoinPath(source_.Path(), f.name);
    const std::string destinationPath = JoinPath(destination_.Path(), destinationName);
    if (ctx_.debug) {
        DebugLog(ctx_, "YCopyLink: " + sourcePath + " -> " + destinationPath);
    }
    FsError e = link.readError;
    if (!e) {
        LogLine(ctx_, isNew ? "Adding file " + sourcePath : "Updating file " + destinationPath, LogColour::Green);
        if (!task_.fakeIt) {
            MarkWriting();
            const DirectoryHandle* dir = destination_.Current(e);
            if (dir != nullptr) {
                e = fs_.ReplaceWithLinkAt(*dir, destinationName, link.target, link.seconds, link.nanoseconds);
                // The link's own owner; only the superuser can give one away.
                if (!e && giveAway_ && f.mode >= 0) {
                    SetOwnerLike(ctx_, *dir, destinationName, destinationPath, FileIdentity{},
                                 OwnerChange{f.owner, f.group}, stats_);
                }
            }
        }
    }
    if (e) {
        LogLine(ctx_, "Failed to copy file " + sourcePath + " to " + destinationPath + FailureSuffix(e),
                LogColour::Red);
        LogError(ctx_, (isNew ? "Failed to copy new file " : "Failed to update file ") + sourcePath, stats_.errors);
    } else if (isNew) {
        ++stats_.newFiles;
        stats_.bytesNew += f.size;
    } else {
        ++stats_.changed;
        stats_.bytesChanged += f.size;
    }
    PublishStats(ctx_, stats_);
}

// A file found the same: a case-only rename when the task asks for it, and an owner or
// permission change alone mirrored without copying the content. A link's own owner is changed,
// never its target's; its permission bits are not (they would reach the target).
void CDirectoryWalker::KeepSame(const FileEntry& f, const FileEntry& d, bool isLink) {
    FsError dirError;
    const DirectoryHandle* dir = destination_.Current(dirError);
    std::string_view kept = d.name;
    if (task_.rename && !task_.fakeIt && d.name != f.name && dir != nullptr) {
        MarkWriting();
        if (!fs_.RenameAt(*dir, std::string(d.name), std::string(f.name))) {
            kept = f.name;
        }
    }
    if (!task_.fakeIt && dir != nullptr) {
        const std::string keptName(kept);
        if (KeepAttributes(ctx_, *dir, keptName, JoinPath(destination_.Path(), keptName), f, d, giveAway_, isLink,
                           stats_)) {
            MarkWriting();
        }
    }
    ++stats_.same;
}

void CDirectoryWalker::Recurse(const Listings& lists) {
    if (!task_.recurse) {
        return;
    }
    const std::size_t count = lists.source.dirs.size();
    // Upcoming subdirectories are read on the workers from handles of their own: the cursors may
    // close this level's directories for their budget while the walk is deeper down. The jobs
    // alone hold those handles, so none stays open below a level whose reading is done.
    // Subdirectory i's read-aheads wait in slot i % slots: no more than reach are ahead at once.
    std::vector<LevelAhead> ahead;
    LevelHandles held;
    std::size_t reach = 0;
    if (pool_ != nullptr && count > 0) {
        reach = kLevelsAheadPerThread * static_cast<std::size_t>(pool_->Threads());
        ahead.resize(std::min(count, reach + 1));
    }
    std::size_t next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (ctx_.stopRequested.load() != 0) {
            break;
        }
        // A subdirectory the walk has reached without its read-ahead (handles ran short) is read
        // by the walk itself.
        for (next = std::max(next, i); !ahead.empty() && next < count && next <= i + reach; ++next) {
            if (!ReadAhead(lists, next, held, ahead[next % ahead.size()])) {
                break; // read by the walk itself, as every level is with one thread
            }
        }
        const std::string_view name = lists.source.dirs[i];
        const std::int32_t pair = lists.dirPair[i];
        source_.Push(std::string(name));
        destination_.Push(std::string(pair >= 0 ? lists.destination.dirs[static_cast<std::size_t>(pair)] : name));
        if (ahead.empty()) {
            MirrorLevel(false);
        } else {
            LevelAhead& slot = ahead[i % ahead.size()];
            MirrorLevel(false, slot);
            slot = LevelAhead{};
        }
        destination_.Pop();
        source_.Pop();
    }
}

// Queues the reading of subdirectory index's two sides into ahead. An excluded one is not read,
// nor a destination the listing did not show. False when no handle of this level was to be had.
bool CDirectoryWalker::ReadAhead(const Listings& lists, std::size_t index, LevelHandles& held, LevelAhead& ahead) {
    const std::string name(lists.source.dirs[index]);
    const std::string path = JoinPath(source_.Path(), name);
    if (DirectoryExclusion(exclusions_, path) != ExclusionResult::NotExcluded) {
        return true;
    }
    auto in = [](std::shared_ptr<DirectoryHandle> parent, std::string entry) {
        return [parent = std::move(parent), entry = std::move(entry)](IFileSystem& fs, DirectoryHandle& dir) {
            return fs.OpenDirectoryAt(*parent, entry, dir);
        };
    };
    std::shared_ptr<DirectoryHandle> sourceParent = SharedHandle(source_, held.source);
    if (sourceParent == nullptr) {
        return false;
    }
    ahead.source = QueueReading(in(std::move(sourceParent), name), SourceReading());
    const std::int32_t pair = lists.dirPair[index];
    if (pair < 0) {
        return true;
    }
    if (std::shared_ptr<DirectoryHandle> destinationParent = SharedHandle(destination_, held.destination)) {
        ahead.destination = QueueReading(
            in(std::move(destinationParent), std::string(lists.destination.dirs[static_cast<std::size_t>(pair)])),
            SideReading{});
    }
    return true;
}

std::shared_ptr<CReadAhead> CDirectoryWalker::QueueReading(CReadAhead::Opener open, SideReading how) {
    auto reading = std::make_shared<CReadAhead>();
    pool_->Submit([reading, open = std::move(open), how = std::move(how), &fs = fs_, &stop = ctx_.stopRequested] {
        reading->Run(fs, open, how, stop);
    });
    return reading;
}

// A handle of the cursor's current level that lives as long as the jobs holding it: the one in
// held while a job still holds it, else a new one. Null when there is none to be had, or when as
// many are open as a deep walk may hold beside its cursors.
std::shared_ptr<DirectoryHandle> CDirectoryWalker::SharedHandle(CTreeCursor& tree,
                                                                std::weak_ptr<DirectoryHandle>& held) {
    if (std::shared_ptr<DirectoryHandle> handle = held.lock()) {
        return handle;
    }
    if (sharedHandles_.load() >= kMostSharedHandles) {
        return nullptr;
    }
    FsError e;
    const DirectoryHandle* dir = tree.Current(e);
    if (dir == nullptr) {
        return nullptr;
    }
    auto copy = std::make_unique<DirectoryHandle>();
    if (fs_.DuplicateDirectory(*dir, *copy)) {
        return nullptr;
    }
    ++sharedHandles_;
    std::shared_ptr<DirectoryHandle> shared(copy.release(), [count = &sharedHandles_](DirectoryHandle* handle) {
        delete handle;
        --*count;
    });
    held = shared;
    return shared;
}

// The source directory of the level, for its identity, owner, bits and time; null when it cannot
// be read (the listing then reports why).
std::unique_ptr<FileStatus> CDirectoryWalker::ReadSourceLevel(bool top) {
    auto status = std::make_unique<FileStatus>();
    FsError e;
    if (top) {
        // The user's chosen source may be a link to the directory.
        e = fs_.Status(SystemDirectoryPath(source_.Path()), true, *status);
    } else {
        const DirectoryHandle* parent = source_.Parent(e);
        if (parent != nullptr) {
            e = fs_.StatusAt(*parent, source_.Name(), false, *status);
        }
    }
    if (e || status->kind != EntryKind::Directory) {
        return nullptr;
    }
    return status;
}

bool CDirectoryWalker::IsDestinationTop(const FileStatus* source) const {
    return destinationKnown_ && source != nullptr && source->device == destinationDevice_ &&
           source->inode == destinationInode_;
}

// Notes which directory the open destination top is. False (logged Red, errors + 1) when it is
// the source's top itself, reached under another path.
bool CDirectoryWalker::KnowDestinationTop(const FileStatus* source) {
    FsError e;
    const DirectoryHandle* dir = destination_.Current(e);
    FileStatus status;
    if (dir == nullptr || fs_.DirectoryStatus(*dir, status)) {
        return true; // a fake-it run's missing destination holds nothing to leave out
    }
    destinationKnown_ = true;
    destinationDevice_ = status.device;
    destinationInode_ = status.inode;
    if (!IsDestinationTop(source)) {
        if (source != nullptr) {
            ctx_.sourceTopKnown = true;
            ctx_.sourceTopDevice = source->device;
            ctx_.sourceTopInode = source->inode;
        }
        return true;
    }
    LogError(ctx_,
             "Destination \"" + destination_.Path() + "\" contains the source \"" + source_.Path() + "\", exiting",
             stats_.errors);
    return false;
}

void CDirectoryWalker::OpenUpLevel(const FileStatus* source) {
    if (source == nullptr) {
        return;
    }
    FsError e;
    const DirectoryHandle* dir = destination_.Current(e);
    if (dir != nullptr && OpenUpDirectory(ctx_, *dir, destination_.Path(), *source, giveAway_)) {
        MarkWriting();
    }
}

void CDirectoryWalker::FinishLevel(const FileStatus* source) {
    if (source == nullptr) {
        return;
    }
    FsError e;
    const DirectoryHandle* dir = destination_.Current(e);
    if (dir != nullptr && FinishDirectory(ctx_, *dir, destination_.Path(), *source, giveAway_, stats_)) {
        MarkWriting();
    }
}

// Once per task, so that what the run reports done is on the disk, not only in its cache.
void CDirectoryWalker::FlushAtEnd(const std::string& destination) {
    if (!wroteDestination_ || task_.fakeIt) {
        return;
    }
    FsError e;
    const DirectoryHandle* dir = destination_.Current(e);
    if (dir != nullptr) {
        FlushDestination(ctx_, *dir, destination, stats_);
    }
}

} // namespace

void DoDirectory(CRunContext& ctx, std::string source, std::string destination, const std::string& exclusions,
                 const Task& task, RunStats& stats) {
    try {
        CDirectoryWalker(ctx, task, exclusions, stats).Run(std::move(source), std::move(destination));
    } catch (const std::exception& e) {
        LogError(ctx, std::string("Error while synchronising: ") + e.what(), stats.errors);
    }
    ctx.sourceTopKnown = false; // it belongs to this task alone
}
