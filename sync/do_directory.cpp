// Mirroring one source directory into one destination directory, and the same-file test.
#include "sync/do_directory.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "sync/copy.h"
#include "sync/debug_log.h"
#include "sync/deletion_guards.h"
#include "sync/directory_reader.h"
#include "sync/engine_support.h"
#include "sync/exclusions.h"
#include "sync/foreign_names.h"
#include "sync/level_reader.h"
#include "sync/links.h"
#include "sync/metadata.h"
#include "sync/name_arena.h"
#include "sync/name_pairing.h"
#include "sync/overlap.h"
#include "sync/tree_cursor.h"
#include "sync/versions.h"
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

    // Source names left out because the destination cannot tell them from a kept one: the
    // destination entries they fold to are no extras, whatever the pairing left unpaired.
    std::vector<std::string> foldedAway;

    void KeepFoldedAway() {
        for (const std::string& name : foldedAway) {
            const std::string folded = FoldCase(name);
            for (std::size_t j = 0; j < destination.files.size(); ++j) {
                if (FoldCase(destination.files[j].name) == folded) {
                    destinationFileKept[j] = 1;
                }
            }
            for (std::size_t j = 0; j < destination.dirs.size(); ++j) {
                if (FoldCase(destination.dirs[j]) == folded) {
                    destinationDirKept[j] = 1;
                }
            }
        }
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

// Subdirectories read ahead of the walk, per worker: enough to keep every worker busy while
// the walk mirrors small levels, few enough that their listings stay a small part of memory.
constexpr std::size_t kLevelsAheadPerThread = 2;
// Directory handles read-ahead jobs may hold at once, beside the cursors' own budget.
constexpr int kMostSharedHandles = 32;

// The readings of one level's subdirectories, queued on the workers a bounded number ahead of
// the one the walk enters: subdirectory i's wait in slot i % slots. The jobs read from handles of
// their own, as the cursors may close this level's directories for their budget while the walk
// is deeper down; the jobs alone hold those handles, so none stays open below a level whose
// reading is done. Walk thread only.
class CLevelReadAhead {
public:
    // Queues the readings of subdirectory index into ahead; false when no handle was to be had.
    using Reader = std::function<bool(std::size_t index, LevelAhead& ahead)>;

    // Reads nothing ahead without workers (threads 0).
    CLevelReadAhead(IFileSystem& fs, std::atomic<int>& sharedHandles, int threads, std::size_t count)
        : fs_(fs), sharedHandles_(sharedHandles), count_(count),
          reach_(kLevelsAheadPerThread * static_cast<std::size_t>(threads)) {
        if (reach_ > 0 && count > 0) {
            slots_.resize(std::min(count, reach_ + 1));
        }
    }

    // Subdirectory index's readings, once those up to reach beyond it are queued. A subdirectory
    // the walk reaches without its readings (handles ran short) is read by the walk itself.
    LevelAhead Take(std::size_t index, const Reader& read) {
        if (slots_.empty()) {
            return {};
        }
        for (next_ = std::max(next_, index); next_ < count_ && next_ <= index + reach_; ++next_) {
            if (!read(next_, slots_[next_ % slots_.size()])) {
                break;
            }
        }
        return std::exchange(slots_[index % slots_.size()], LevelAhead{});
    }

    // A handle of the tree's current level that lives as long as the jobs holding it: the one
    // this level shares while a job still holds it, else a new one. Null when there is none to be
    // had, or when as many are open as a deep walk may hold beside its cursors.
    std::shared_ptr<DirectoryHandle> Share(CTreeCursor& tree, bool source) {
        std::weak_ptr<DirectoryHandle>& held = source ? heldSource_ : heldDestination_;
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
        // Closed, and counted down, on whichever thread drops the last job holding it.
        std::shared_ptr<DirectoryHandle> shared(copy.release(), [count = &sharedHandles_](DirectoryHandle* handle) {
            delete handle;
            --*count;
        });
        held = shared;
        return shared;
    }

private:
    IFileSystem& fs_;
    std::atomic<int>& sharedHandles_;
    std::size_t count_;
    std::size_t reach_;
    std::size_t next_ = 0;
    std::vector<LevelAhead> slots_;
    std::weak_ptr<DirectoryHandle> heldSource_;
    std::weak_ptr<DirectoryHandle> heldDestination_;
};

// What the walk does with one source file, decided before any copy of its level starts.
// Held: a replacement the deletion limit held back.
enum class FilePlan : std::uint8_t { Excluded, Link, Same, Copy, Held };

// One file's copy, made on a worker or on the walk thread, committed by the walk in listing order.
struct CopyJob {
    bool started = false; // false: a stop came first, and nothing was attempted
    CopyVerdict verdict = CopyVerdict::Stopped;
    std::string failure; // Failed: the Red line to log and count
    CopyJournal journal; // a worker's lines and progress
    // Set when the copy was written beside the file it replaces, to be put in place at its commit.
    std::string staged;
    std::exception_ptr error; // thrown by the copy, thrown again by the commit
    CJobResult<bool> finished;
};

// What one copy needs of the walk, taken on the walk thread.
struct CopyOrder {
    const DirectoryHandle* sourceDir = nullptr;
    FsError sourceError;
    std::string sourceName;
    std::string sourcePath;
    const DirectoryHandle* destinationDir = nullptr;
    FsError destinationError;
    std::string destinationName;
    std::string destinationPath;
    CLargeNumber size;
    CopyOptions options;
};

// Makes the copy, unless a stop comes first; a paused run starts none. On the thread that runs it.
void RunCopy(CRunContext& ctx, CopyOrder& order, CopyJob& job) {
    ctx.paused.WaitWhilePaused(ctx.stopRequested);
    if (ctx.stopRequested.load() == 0) {
        job.started = true;
        order.options.failure = &job.failure;
        try {
            job.verdict = YCopyFileAt(
                ctx, CopyEnd{order.sourceDir, order.sourceError, order.sourceName, order.sourcePath},
                CopyEnd{order.destinationDir, order.destinationError, order.destinationName, order.destinationPath},
                order.size, order.options);
        } catch (...) {
            job.error = std::current_exception();
        }
    }
    job.finished.Set(true);
}

// Copies queued or running ahead of the one the walk commits next, per worker: enough to keep
// every worker busy while small files are committed, few enough to keep their state small.
constexpr std::size_t kCopiesAheadPerThread = 4;

// Drops one trailing separator, except from the root, which would otherwise become the empty path.
void TrimSeparator(std::string& path) {
    if (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
}

// Takes name out of a side's listing, as if it had not been listed; true when it was there.
bool DropListed(ListedSide& side, std::string_view name) {
    const auto dir = std::find(side.dirs.begin(), side.dirs.end(), name);
    if (dir != side.dirs.end()) {
        side.dirs.erase(dir);
        --side.entries;
        return true;
    }
    const auto file =
        std::find_if(side.files.begin(), side.files.end(), [name](const FileEntry& f) { return f.name == name; });
    if (file == side.files.end()) {
        return false;
    }
    const auto index = static_cast<std::size_t>(file - side.files.begin());
    side.files.erase(file);
    side.flags.erase(side.flags.begin() + static_cast<std::ptrdiff_t>(index));
    std::erase_if(side.links, [index](const SourceLink& link) { return link.index == index; });
    for (SourceLink& link : side.links) {
        if (link.index > index) {
            --link.index;
        }
    }
    --side.entries;
    return true;
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
    bool ReadAhead(const Listings& lists, std::size_t index, CLevelReadAhead& level, LevelAhead& into);
    std::shared_ptr<CReadAhead> QueueReading(CReadAhead::Opener open, SideReading how);
    void DeleteExtraFiles(const Listings& lists);
    void RemoveLeftoverTemporary(const DirectoryHandle* dir, const FsError& dirError, const std::string& name,
                                 const std::string& path);
    void DeleteExtraDirectories(const Listings& lists);
    void CopyFiles(const Listings& lists);
    FilePlan PlanFile(const Listings& lists, std::size_t index);
    const TimeRule& LevelTimes();
    bool Commit(const Listings& lists, std::size_t index, FilePlan plan, CopyJob* job);
    std::string CopyDestinationName(const Listings& lists, std::size_t index) const;
    std::shared_ptr<CopyJob> StartCopy(const Listings& lists, std::size_t index);
    void CountCopy(const FileEntry& f, bool isNew, CopyVerdict verdict, const std::string& failure);
    void MirrorLink(const Listings& lists, std::size_t index, const SourceLink& link);
    void LinkOne(const FileEntry& f, const SourceLink& link, const std::string& destinationName, bool isNew);
    void CopyLinkTarget(const Listings& lists, std::size_t index, const SourceLink& link);
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

    void LeaveOutReserved(bool top, Listings& lists);
    void LeaveOutCaseConflicts(Listings& lists);
    bool MirroredEntry(const Listings& lists, std::size_t index) const;
    bool DestinationFoldsCase(const Listings& lists);
    std::string Relative(const std::string& path) const;
    bool KeepDeleted(const DirectoryHandle* dir, const FsError& dirError, const std::string& name,
                     const std::string& path);
    void KeepDirectory(const std::string& path);
    bool PlaceStaged(const std::string& staged, const std::string& name);
    void AddedHere(const DirectoryHandle* dir, const std::string& name, const std::string& path, bool replaced);

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
    // Whether the destination takes names differing only in case for one, found once per task
    // when a level first has such names.
    std::optional<bool> foldsCase_;
    // The status of the source directory of the level being opened, for a directory made for it.
    const FileStatus* levelSource_ = nullptr;
    // Directory handles held by read-ahead jobs, of every level.
    std::atomic<int> sharedHandles_{0};
    // The destination's top as the walk shows it, and the keeper of what the run deletes or
    // overwrites there when the task keeps versions.
    std::string destinationTop_;
    std::string sourceTop_;
    std::unique_ptr<CVersionKeeper> keeper_;
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
    // Fake-it copies only announce themselves, and its levels are few to read: the walk does both.
    if (ctx_.threads > 1 && !task_.fakeIt) {
        pool_ = std::make_unique<CWorkerPool>(ctx_.threads);
    }
    destinationTop_ = destination;
    sourceTop_ = source;
    if (task_.KeepsVersions()) {
        keeper_ = std::make_unique<CVersionKeeper>(ctx_, task_, source, destination, std::time(nullptr), stats_);
    }
    MirrorLevel(true);
    if (keeper_ != nullptr) {
        keeper_->Finish();
    }
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
    // The top's source is read on a worker while the walk reads (or makes) the destination; a
    // level below was queued by its parent unless handles ran short, and is then read here.
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
    LeaveOutReserved(top, *lists);
    if (top && keeper_ != nullptr) {
        FsError e;
        if (const DirectoryHandle* dir = destination_.Current(e)) {
            keeper_->SetTop(*dir);
        }
        keeper_->Retain();
    }
    if (top && lists->sourceComplete &&
        EmptySourceRefused(ctx_, task_, source_.Path(), destination_.Path(), lists->source.entries,
                           lists->destination.files.size() + lists->destination.dirs.size(), stats_)) {
        return;
    }
    LeaveOutCaseConflicts(*lists);
    lists->PairUp();
    lists->KeepFoldedAway();
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
    const ExclusionResult exclusion = DirectoryExclusion(exclusions_, source_.Path());
    if (exclusion == ExclusionResult::NotExcluded) {
        return false;
    }
    LogLine(ctx_, "Excluded: " + source_.Path(), LogColour::Teal);
    ReportChange(ctx_, '*', source_.Path() + kPathSeparator);
    if (exclusion == ExclusionResult::ExcludedByPrefix) {
        return true;
    }
    const std::string& destination = destination_.Path();
    if (!DestinationExists(top)) {
        return true;
    }
    if (task_.safeMode) {
        LogLine(ctx_, "Not deleting " + destination + " (safe mode)", LogColour::Purple);
    } else if (top && PathExists(ctx_, JoinPath(SystemDirectoryPath(destination), kVersionsFolderName))) {
        LogLine(ctx_, "Not deleting " + destination + ": it holds kept versions", LogColour::Purple);
    } else if (MayDelete(ctx_, destination, true, stats_)) { // else held back, logged and counted
        MarkWriting();
        if (top) {
            DeleteDirectory(ctx_, destination, stats_.deleted, stats_.errors, task_.fakeIt);
        } else if (keeper_ != nullptr) {
            KeepDirectory(destination);
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
        AddedHere(parent, destination_.Name(), path, false);
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
    if (!made && !top && DestinationRefusedName(destination_.Name(), lastError)) {
        LogError(ctx_, RefusedNameLine(source_.Path(), destination_.Name()), stats_.errors);
        return DestinationState::Abandoned;
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
    } catch (const std::exception& e) {
        const auto* system = dynamic_cast<const std::system_error*>(&e);
        const FsError thrown =
            system != nullptr ? FsError::FromSystem(system->code().value()) : FsError::OfKind(ErrorKind::Other);
        LogError(ctx_, "Error reading source directory: \"" + source + "\" (" + ErrorTextOf(thrown) + ")",
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
        if (keeper_ != nullptr ? KeepDeleted(dir, dirError, name, path)
                               : YDeleteFileAt(ctx_, dir, dirError, name, path, task_.fakeIt)) {
            LogLine(ctx_, "Deleted " + name, LogColour::Purple);
            ++stats_.deleted;
            ReportChange(ctx_, '-', path);
        } else {
            ++stats_.errors; // its one Red line, with the reason, is logged by the deletion
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
            if (keeper_ != nullptr) {
                KeepDirectory(path);
            } else {
                DeleteDirectoryAt(ctx_, destination_, path, stats_.deleted, stats_.errors, task_.fakeIt);
            }
        }
        destination_.Pop();
    }
}

// Plan, execute, commit: every file's plan is made first; copies run on the workers, a bounded
// number ahead, or without workers on this thread when their turn comes; every line, counter
// and decision is made here, file by file in listing order, whatever the thread count. All of
// the level's copies are committed before this returns, so nothing is written in it afterwards.
void CDirectoryWalker::CopyFiles(const Listings& lists) {
    // Found before the level's first line, so that its lines do not depend on the plans' order.
    levelTimes_.reset();
    const std::size_t count = lists.source.files.size();
    for (std::size_t i = 0; i < count && !levelTimes_; ++i) {
        const std::int32_t pair = lists.filePair[i];
        if (pair >= 0 && TimesDecide(lists.destination.files[static_cast<std::size_t>(pair)], lists.source.files[i])) {
            LevelTimes();
        }
    }
    std::vector<FilePlan> plans(count);
    for (std::size_t i = 0; i < count; ++i) {
        plans[i] = PlanFile(lists, i);
    }
    const std::size_t ahead = pool_ == nullptr ? 0 : kCopiesAheadPerThread * static_cast<std::size_t>(pool_->Threads());
    std::deque<std::shared_ptr<CopyJob>> queued;
    std::size_t next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        for (; next < count && queued.size() < ahead; ++next) {
            if (plans[next] == FilePlan::Copy) {
                queued.push_back(StartCopy(lists, next));
            }
        }
        std::shared_ptr<CopyJob> job;
        if (plans[i] == FilePlan::Copy && pool_ == nullptr) {
            job = StartCopy(lists, i); // made here, at its turn
        } else if (plans[i] == FilePlan::Copy) {
            // Every earlier copy is committed, and this one was queued before any later one.
            job = std::move(queued.front());
            queued.pop_front();
        }
        if (Commit(lists, i, plans[i], job.get())) {
            ++stats_.sourceCount;
            stats_.sourceSize += lists.source.files[i].size;
        }
    }
}

// Reading a fifo or a device could block the run or act on the device: such entries are left
// out as excluded ones are.
FilePlan CDirectoryWalker::PlanFile(const Listings& lists, std::size_t index) {
    const FileEntry& f = lists.source.files[index];
    if (lists.source.Has(index, kSpecial) ||
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
    return keeper_ == nullptr || MayReplaceKept(ctx_, stats_) ? FilePlan::Copy : FilePlan::Held;
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

// One file's lines and counters; job is its copy when the plan is one. False when the copy was
// stopped: it made nothing and counts nowhere.
bool CDirectoryWalker::Commit(const Listings& lists, std::size_t index, FilePlan plan, CopyJob* job) {
    const FileEntry& f = lists.source.files[index];
    if (job != nullptr) {
        job->journal.Watch(ctx_.window);
        job->finished.Wait();
    }
    // After a stop every remaining file of the level is reported excluded, a copy that the stop
    // kept from starting too.
    if (job != nullptr ? !job->started : ctx_.stopRequested.load() != 0) {
        plan = FilePlan::Excluded;
    }
    const bool isNew = lists.filePair[index] < 0;
    switch (plan) {
    case FilePlan::Excluded:
        LogLine(ctx_, "Excluded: " + JoinPath(source_.Path(), f.name), LogColour::Teal);
        ++stats_.skipped;
        if (ctx_.stopRequested.load() == 0) {
            ReportChange(ctx_, '*', JoinPath(source_.Path(), f.name));
        }
        return true;
    case FilePlan::Link:
        MirrorLink(lists, index, *lists.source.LinkOf(index));
        return true;
    case FilePlan::Same:
        KeepSame(f, lists.destination.files[static_cast<std::size_t>(lists.filePair[index])]);
        return true;
    case FilePlan::Held:
        ReplacementHeldBack(ctx_, JoinPath(destination_.Path(), CopyDestinationName(lists, index)), stats_);
        return true;
    case FilePlan::Copy:
        break;
    }
    job->journal.Replay(ctx_);
    if (job->error) {
        std::rethrow_exception(job->error);
    }
    if (job->verdict == CopyVerdict::BecameLink) {
        // Listed as a file, its name holds a link by the time it is copied: mirrored as that link.
        FileEntry asLink = f;
        const SourceLink link = ReadSourceLinkNow(fs_, source_, std::string(f.name), asLink);
        LinkOne(asLink, link, CopyDestinationName(lists, index), isNew);
        return true;
    }
    if (job->verdict == CopyVerdict::Copied && keeper_ != nullptr) {
        const std::string name = CopyDestinationName(lists, index);
        FsError dirError;
        const DirectoryHandle* dir = destination_.Current(dirError);
        if (!job->staged.empty() && !PlaceStaged(job->staged, name)) {
            ++stats_.errors; // its Red line is logged
            return true;
        }
        if (task_.fakeIt && !isNew) {
            keeper_->Keep(dir, name, Relative(JoinPath(destination_.Path(), name)), JoinPath(destination_.Path(), name),
                          LogColour::Green);
        }
        AddedHere(dir, name, JoinPath(destination_.Path(), name), !isNew);
    }
    CountCopy(f, isNew, job->verdict, job->failure);
    return job->verdict != CopyVerdict::Stopped;
}

// A new file keeps its own name; a changed one is copied onto the entry it matched, so that a
// case variant is updated in place, never doubled.
std::string CDirectoryWalker::CopyDestinationName(const Listings& lists, std::size_t index) const {
    const std::int32_t pair = lists.filePair[index];
    return std::string(pair < 0 ? lists.source.files[index].name
                                : lists.destination.files[static_cast<std::size_t>(pair)].name);
}

// The copy of file index onto its destination name: queued on a worker, or made here and now
// when there are none. The directories stay open until the level is left, which waits for every
// copy of the level.
std::shared_ptr<CopyJob> CDirectoryWalker::StartCopy(const Listings& lists, std::size_t index) {
    const FileEntry& f = lists.source.files[index];
    auto job = std::make_shared<CopyJob>();
    CopyOrder order;
    order.sourceDir = source_.Current(order.sourceError);
    order.sourceName = std::string(f.name);
    order.sourcePath = JoinPath(source_.Path(), f.name);
    order.destinationDir = destination_.Current(order.destinationError);
    order.destinationName = CopyDestinationName(lists, index);
    order.destinationPath = JoinPath(destination_.Path(), order.destinationName);
    // A file that replaces a kept one is written beside it: the old one moves away only once the
    // new one is complete.
    if (keeper_ != nullptr && !task_.fakeIt && lists.filePair[index] >= 0) {
        job->staged = NewTemporaryCopyName();
        order.destinationName = job->staged;
    }
    order.size = CLargeNumber::FromUint64(f.size);
    order.options = CopyOptions{.isNew = lists.filePair[index] < 0,
                                .checkOpen = task_.checkOpen,
                                .fakeIt = task_.fakeIt,
                                .listed = FileIdentity{f.device, f.inode}};
    MarkWriting();
    if (pool_ == nullptr) {
        RunCopy(ctx_, order, *job);
        return job;
    }
    order.options.journal = &job->journal;
    pool_->Submit([&ctx = ctx_, job, order = std::move(order)]() mutable { RunCopy(ctx, order, *job); });
    return job;
}

// A copy or a link: newFiles or changed, or failure's Red line and an error.
void CDirectoryWalker::CountCopy(const FileEntry& f, bool isNew, CopyVerdict verdict, const std::string& failure) {
    switch (verdict) {
    case CopyVerdict::Copied:
        if (isNew) {
            ++stats_.newFiles;
            stats_.bytesNew += f.size;
        } else {
            ++stats_.changed;
            stats_.bytesChanged += f.size;
        }
        ReportChange(ctx_, isNew ? '+' : '>', JoinPath(source_.Path(), f.name));
        break;
    case CopyVerdict::Failed:
        LogError(ctx_, failure, stats_.errors);
        break;
    case CopyVerdict::Skipped:
        LogLine(ctx_, failure, LogColour::Purple);
        ++stats_.skipped;
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
    if (task_.linkPolicy == LinkPolicy::Skip) {
        CountCopy(f, false, CopyVerdict::Skipped,
                  "Not copying link " + JoinPath(source_.Path(), f.name) + ": the task leaves links out");
        return;
    }
    if (task_.linkPolicy == LinkPolicy::CopyTarget && !link.readError) {
        CopyLinkTarget(lists, index, link);
        return;
    }
    const std::int32_t pair = lists.filePair[index];
    if (pair < 0) {
        LinkOne(f, link, std::string(f.name), true);
        return;
    }
    const std::size_t j = static_cast<std::size_t>(pair);
    const FileEntry& d = lists.destination.files[j];
    FsError dirError;
    const std::string destinationName(d.name);
    if (lists.destination.Has(j, kListedLink) && SameLink(fs_, destination_.Current(dirError), destinationName, link)) {
        KeepSame(f, d, true); // a link has no permissions of its own
        return;
    }
    if (keeper_ != nullptr && !MayReplaceKept(ctx_, stats_)) {
        ReplacementHeldBack(ctx_, JoinPath(destination_.Path(), destinationName), stats_);
        return;
    }
    LinkOne(f, link, destinationName, false);
}

// The file a source link points to, copied in its place when it lies inside the source. One
// that leads out is refused, so that a link nobody checked never copies what its owner cannot read.
void CDirectoryWalker::CopyLinkTarget(const Listings& lists, std::size_t index, const SourceLink& link) {
    const FileEntry& f = lists.source.files[index];
    const std::string path = JoinPath(source_.Path(), f.name);
    LinkTarget target = ResolveLinkTarget(
        fs_, sourceTop_, PathNames(std::string_view(source_.Path()).substr(sourceTop_.size())), link.target);
    switch (target.kind) {
    case LinkTarget::Kind::File:
        break;
    case LinkTarget::Kind::Outside:
        LogError(ctx_, "Not copying link " + path + ": it points outside the source (" + link.target + ")",
                 stats_.errors);
        return;
    case LinkTarget::Kind::Failed:
        LogError(ctx_, "Failed to follow link " + path + FailureSuffix(target.error), stats_.errors);
        return;
    case LinkTarget::Kind::Directory:
    case LinkTarget::Kind::Special:
    case LinkTarget::Kind::Missing:
        CountCopy(f, false, CopyVerdict::Skipped,
                  "Not copying link " + path +
                      (target.kind == LinkTarget::Kind::Missing ? ": it points to nothing" : ": it points to no file"));
        return;
    }
    FileEntry pointed = f;
    SetEntryFromStatus(pointed, target.status);
    const std::int32_t pair = lists.filePair[index];
    const bool isNew = pair < 0;
    if (!isNew) {
        const std::size_t j = static_cast<std::size_t>(pair);
        const FileEntry& d = lists.destination.files[j];
        if (!lists.destination.Has(j, kListedLink) &&
            SameFile(d, pointed, task_.onlyIfNewer, task_.oneHour,
                     TimesDecide(d, pointed) ? LevelTimes() : kWholeSecondTimes)) {
            KeepSame(pointed, d);
            return;
        }
    }
    MarkWriting();
    const std::string destinationName = CopyDestinationName(lists, index);
    const std::string destinationPath = JoinPath(destination_.Path(), destinationName);
    FsError dirError;
    const DirectoryHandle* dir = destination_.Current(dirError);
    if (keeper_ != nullptr && !isNew &&
        !keeper_->Keep(dir, destinationName, Relative(destinationPath), destinationPath, LogColour::Green)) {
        ++stats_.errors; // its Red line is logged
        return;
    }
    std::string failure;
    CopyVerdict verdict = YCopyFileAt(ctx_, CopyEnd{&target.dir, {}, target.name, path},
                                      CopyEnd{task_.fakeIt ? nullptr : dir, dirError, destinationName, destinationPath},
                                      CLargeNumber::FromUint64(pointed.size),
                                      CopyOptions{.isNew = isNew,
                                                  .checkOpen = task_.checkOpen,
                                                  .fakeIt = task_.fakeIt,
                                                  .listed = FileIdentity::Of(target.status),
                                                  .journal = nullptr,
                                                  .failure = &failure});
    if (verdict == CopyVerdict::BecameLink) {
        verdict = CopyVerdict::Failed;
        failure = "Not copying link " + path + ": what it points to was replaced since it was followed";
    }
    if (verdict == CopyVerdict::Copied && keeper_ != nullptr) {
        AddedHere(destination_.Current(dirError), destinationName, destinationPath, !isNew);
    }
    CountCopy(pointed, isNew, verdict, failure);
}

void CDirectoryWalker::LinkOne(const FileEntry& f, const SourceLink& link, const std::string& destinationName,
                               bool isNew) {
    if (!link.readError) {
        MarkWriting();
    }
    FsError dirError;
    const DirectoryHandle* dir = destination_.Current(dirError);
    const std::string path = JoinPath(destination_.Path(), destinationName);
    if (keeper_ != nullptr && !isNew && !link.readError &&
        !keeper_->Keep(dir, destinationName, Relative(path), path, LogColour::Green)) {
        ++stats_.errors; // its Red line is logged
        return;
    }
    std::string failure;
    const CopyVerdict verdict = YCopyLink(
        ctx_, destination_, destinationName, link, f, JoinPath(source_.Path(), f.name),
        CopyOptions{.isNew = isNew, .fakeIt = task_.fakeIt, .listed = {}, .journal = nullptr, .failure = &failure},
        giveAway_, stats_);
    if (verdict == CopyVerdict::Copied && keeper_ != nullptr) {
        AddedHere(destination_.Current(dirError), destinationName, path, !isNew);
    }
    CountCopy(f, isNew, verdict, failure);
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
    CLevelReadAhead ahead(fs_, sharedHandles_, pool_ == nullptr ? 0 : pool_->Threads(), count);
    const CLevelReadAhead::Reader read = [&](std::size_t index, LevelAhead& into) {
        return ReadAhead(lists, index, ahead, into);
    };
    for (std::size_t i = 0; i < count && ctx_.stopRequested.load() == 0; ++i) {
        const LevelAhead readings = ahead.Take(i, read);
        const std::string_view name = lists.source.dirs[i];
        const std::int32_t pair = lists.dirPair[i];
        source_.Push(std::string(name));
        destination_.Push(std::string(pair >= 0 ? lists.destination.dirs[static_cast<std::size_t>(pair)] : name));
        MirrorLevel(false, readings);
        destination_.Pop();
        source_.Pop();
    }
}

// Queues the reading of subdirectory index's two sides into into. An excluded one is not read,
// nor a destination the listing did not show. False when no handle of this level was to be had.
bool CDirectoryWalker::ReadAhead(const Listings& lists, std::size_t index, CLevelReadAhead& level, LevelAhead& into) {
    const std::string name(lists.source.dirs[index]);
    if (DirectoryExclusion(exclusions_, JoinPath(source_.Path(), name)) != ExclusionResult::NotExcluded) {
        return true;
    }
    auto in = [](std::shared_ptr<DirectoryHandle> parent, std::string entry) {
        return [parent = std::move(parent), entry = std::move(entry)](IFileSystem& fs, DirectoryHandle& dir) {
            return fs.OpenDirectoryAt(*parent, entry, dir);
        };
    };
    std::shared_ptr<DirectoryHandle> sourceParent = level.Share(source_, true);
    if (sourceParent == nullptr) {
        return false;
    }
    into.source = QueueReading(in(std::move(sourceParent), name), SourceReading());
    const std::int32_t pair = lists.dirPair[index];
    if (pair < 0) {
        return true;
    }
    if (std::shared_ptr<DirectoryHandle> destinationParent = level.Share(destination_, false)) {
        into.destination = QueueReading(
            in(std::move(destinationParent), std::string(lists.destination.dirs[static_cast<std::size_t>(pair)])),
            SideReading{});
    }
    return true;
}

std::shared_ptr<CReadAhead> CDirectoryWalker::QueueReading(CReadAhead::Opener open, SideReading how) {
    auto reading = std::make_shared<CReadAhead>();
    pool_->Submit([reading, open = std::move(open), how, &fs = fs_, &stop = ctx_.stopRequested] {
        reading->Run(fs, open, how, stop);
    });
    return reading;
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

// The versions folder is the keeper's alone, in every mode: never mirrored into, listed as an
// extra, counted or deleted. A source entry of a reserved name at the top is not copied.
void CDirectoryWalker::LeaveOutReserved(bool top, Listings& lists) {
    if (!top) {
        return;
    }
    std::vector<std::string_view> reserved{kVersionsFolderName};
    if (task_.KeepsVersions()) {
        reserved.push_back(kManifestName);
    }
    for (const std::string_view name : reserved) {
        if (DropListed(lists.source, name)) {
            LogLine(ctx_,
                    "Not copying " + JoinPath(source_.Path(), name) + ": the name " + std::string(name) +
                        " is kept for versions",
                    LogColour::Red);
        }
    }
    DropListed(lists.destination, kVersionsFolderName);
}

// Source names of one level that fold to one name are one name to a destination that folds case:
// the first in byte order is mirrored, every other one is left out with a Red line naming both,
// so that neither is copied over the other on every run.
void CDirectoryWalker::LeaveOutCaseConflicts(Listings& lists) {
    const std::size_t files = lists.source.files.size();
    std::vector<std::string_view> names;
    names.reserve(files + lists.source.dirs.size());
    // Every name first: the exclusions are matched only in a level that has such names at all.
    std::vector<std::pair<std::string, std::string>> conflicts;
    for (const bool mirroredOnly : {false, true}) {
        names.clear();
        for (std::size_t i = 0; i < files + lists.source.dirs.size(); ++i) {
            if (!mirroredOnly || MirroredEntry(lists, i)) {
                names.push_back(i < files ? lists.source.files[i].name : lists.source.dirs[i - files]);
            }
        }
        conflicts = CaseConflicts(names);
        if (conflicts.empty()) {
            return;
        }
    }
    if (!DestinationFoldsCase(lists)) {
        return;
    }
    for (const auto& [kept, left] : conflicts) {
        LogError(ctx_,
                 "Not copying " + JoinPath(source_.Path(), left) + ": the destination does not tell its name from " +
                     JoinPath(source_.Path(), kept) + " (it ignores case); only the first is copied",
                 stats_.errors);
        lists.foldedAway.push_back(left);
        DropListed(lists.source, left);
    }
}

// Whether source entry index (files first, then directories) would be mirrored at all.
bool CDirectoryWalker::MirroredEntry(const Listings& lists, std::size_t index) const {
    const std::size_t files = lists.source.files.size();
    if (index >= files) {
        return DirectoryExclusion(exclusions_, JoinPath(source_.Path(), lists.source.dirs[index - files])) ==
               ExclusionResult::NotExcluded;
    }
    return !lists.source.Has(index, kSpecial) &&
           IsIncluded(lists.source.files[index], exclusions_, source_.Path(), task_.excludeSystem, task_.excludeHidden);
}

// Looks up a listed name with its letters' case flipped: found although not listed, the
// destination folds case. An empty destination is asked with a probe file of the program's
// temporary form, removed at once (a fake-it run writes none and takes the names as distinct).
bool CDirectoryWalker::DestinationFoldsCase(const Listings& lists) {
    if (foldsCase_) {
        return *foldsCase_;
    }
    FsError e;
    const DirectoryHandle* dir = destination_.Current(e);
    if (dir == nullptr) {
        return false;
    }
    const auto listed = [&](const std::string& name) {
        return std::binary_search(lists.destination.dirs.begin(), lists.destination.dirs.end(), name) ||
               std::any_of(lists.destination.files.begin(), lists.destination.files.end(),
                           [&](const FileEntry& f) { return f.name == name; });
    };
    std::string flipped;
    FileStatus status;
    const auto probe = [&](std::string_view name) {
        if (!FlipAsciiCase(name, flipped) || listed(flipped)) {
            return false;
        }
        const FsError found = fs_.StatusAt(*dir, flipped, false, status);
        if (!found || found.Is(ErrorKind::NotFound)) {
            foldsCase_ = !found;
        }
        return foldsCase_.has_value();
    };
    for (const FileEntry& f : lists.destination.files) {
        if (probe(f.name)) {
            return *foldsCase_;
        }
    }
    for (const std::string_view name : lists.destination.dirs) {
        if (probe(name)) {
            return *foldsCase_;
        }
    }
    if (task_.fakeIt) {
        return false;
    }
    const std::string name = NewTemporaryCopyName();
    FileHandle file;
    MarkWriting();
    if (fs_.OpenFileAt(*dir, name,
                       FileOpenMode{.access = FileAccess::Write, .create = true, .exclusive = true, .noFollow = true},
                       file)) {
        return false;
    }
    fs_.CloseFile(file);
    probe(name);
    fs_.RemoveFileAt(*dir, name);
    return foldsCase_.value_or(false);
}

std::string CDirectoryWalker::Relative(const std::string& path) const {
    const std::size_t skip =
        destinationTop_.size() + (!destinationTop_.empty() && destinationTop_.back() == kPathSeparator ? 0 : 1);
    return path.size() > skip ? path.substr(skip) : path;
}

bool CDirectoryWalker::KeepDeleted(const DirectoryHandle* dir, const FsError& dirError, const std::string& name,
                                   const std::string& path) {
    if (dir == nullptr && !task_.fakeIt) {
        LogLine(ctx_, "Failed to delete file " + path + FailureSuffix(dirError), LogColour::Red);
        return false;
    }
    return keeper_->Keep(dir, name, Relative(path), path, LogColour::Purple);
}

// A directory the run deletes moves whole; its files count as deleted.
void CDirectoryWalker::KeepDirectory(const std::string& path) {
    LogLine(ctx_, "Deleting directory " + path, LogColour::Purple);
    const std::int32_t files = CountTreeAt(ctx_, destination_);
    FsError e;
    const DirectoryHandle* parent = destination_.Parent(e);
    if (parent == nullptr && !task_.fakeIt) {
        LogError(ctx_, "Failed to delete directory " + path + FailureSuffix(e), stats_.errors);
        return;
    }
    const std::string name = destination_.Name();
    if (!keeper_->Keep(parent, name, Relative(path), path, LogColour::Purple)) {
        ++stats_.errors; // its Red line is logged
        return;
    }
    stats_.deleted += files;
}

// The copy written beside name takes its place once the old file is kept. A failure between
// leaves the old one in the versions folder and says so.
bool CDirectoryWalker::PlaceStaged(const std::string& staged, const std::string& name) {
    const std::string path = JoinPath(destination_.Path(), name);
    FsError e;
    const DirectoryHandle* dir = destination_.Current(e);
    if (dir == nullptr) {
        LogLine(ctx_, "Failed to copy file to " + path + FailureSuffix(e), LogColour::Red);
        return false;
    }
    if (!keeper_->Keep(dir, name, Relative(path), path, LogColour::Green)) {
        fs_.RemoveFileAt(*dir, staged);
        return false;
    }
    e = fs_.MoveAt(*dir, staged, *dir, name);
    if (e) {
        LogLine(ctx_,
                "Failed to put the new copy of " + path + " in place; its previous version is kept in " +
                    keeper_->RunFolderPath() + FailureSuffix(e),
                LogColour::Red);
        fs_.RemoveFileAt(*dir, staged);
        return false;
    }
    return true;
}

void CDirectoryWalker::AddedHere(const DirectoryHandle* dir, const std::string& name, const std::string& path,
                                 bool replaced) {
    if (keeper_ != nullptr) {
        keeper_->Left(dir, name, Relative(path), replaced);
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
