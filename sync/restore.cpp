// Restoring a path of a destination from the versions its runs kept.
#include "sync/restore.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <set>
#include <utility>

#include "model/version_manifest.h"
#include "sync/engine_support.h"
#include "sync/metadata.h"

namespace {

// Deeper trees than this are not restored; the target stays as it was.
constexpr int kDeepestRestore = 256;

// A path that names an entry below the destination, outside its versions area, without climbing.
bool UsableParts(const std::vector<std::string>& parts) {
    if (parts.empty() || parts.front() == kVersionsFolderName) {
        return false;
    }
    return std::none_of(parts.begin(), parts.end(), [](const std::string& part) {
        return part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos;
    });
}

bool Absent(const FsError& e) {
    return e.Is(ErrorKind::NotFound) || e.Is(ErrorKind::NotADirectory) || e.Is(ErrorKind::IsALink);
}

// How a run folder's record touches a path.
enum class Touch {
    None,  // not at all
    Whole, // it or a directory above it was kept there whole
    Added, // the run added it or a directory above it
    Below  // only entries below it changed
};

// The record's path for relative parts: '/' between levels.
std::string RecordPath(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) {
        path += path.empty() ? part : "/" + part;
    }
    return path;
}

bool IsBelow(const std::string& path, const std::string& above) {
    return path.size() > above.size() && path.compare(0, above.size(), above) == 0 && path[above.size()] == '/';
}

std::string NativeOf(const std::string& recordPath) {
    std::string native = recordPath;
    std::replace(native.begin(), native.end(), '/', kPathSeparator);
    return native;
}

// A directory a restore below it changes, with its status from before, given back at the end.
struct SavedDirectory {
    std::vector<std::string> parts;
    FileStatus status;
};

Touch TouchOf(const VersionManifest& manifest, const std::string& path, std::vector<std::string>& below) {
    Touch touch = Touch::None;
    for (const ManifestAction& action : manifest.actions) {
        if (action.path == path || IsBelow(path, action.path)) {
            return action.action == ManifestAction::Kind::Added ? Touch::Added : Touch::Whole;
        }
        if (IsBelow(action.path, path)) {
            below.push_back(action.path);
            touch = Touch::Below;
        }
    }
    return touch;
}

// One run folder as the search sees it: its record (when it has one) and whether it holds the
// path whole, with the kept entry's parent and status.
struct FolderView {
    bool recorded = false;
    Touch touch = Touch::None;
    bool holds = false;
    DirectoryHandle parent;
    FileStatus status;
};

// Reads what the run folder holds of parts. A folder without a record (a run cut short before it
// wrote one) counts by what it holds. A failure other than the path's absence is returned.
FsError ViewFolder(IFileSystem& fs, const DirectoryHandle& versions, const RunFolder& folder,
                   const std::vector<std::string>& parts, std::vector<std::string>& below, FolderView& view) {
    DirectoryHandle run;
    FsError e = fs.OpenDirectoryAt(versions, folder.name, run);
    std::string text;
    if (!e) {
        e = ReadManifestText(fs, run, text);
    }
    VersionManifest manifest;
    std::string why;
    if (!e) {
        if (!ParseManifest(text, manifest, why)) {
            return FsError::OfKind(ErrorKind::NotSupported);
        }
        view.recorded = true;
        view.touch = TouchOf(manifest, RecordPath(parts), below);
    } else if (!e.Is(ErrorKind::NotFound)) {
        return e;
    }
    if (view.recorded && view.touch != Touch::Whole) {
        return {};
    }
    e = OpenParentBelow(fs, run, parts, view.parent, nullptr);
    if (!e) {
        e = fs.StatusAt(view.parent, parts.back(), false, view.status);
    }
    view.holds = !e;
    return e && !Absent(e) ? e : FsError();
}

class CRestore {
public:
    CRestore(CRunContext& ctx, const Task& task, RunStats& stats, int atSequence)
        : ctx_(ctx), fs_(FsOf(ctx)), task_(task), stats_(stats),
          destination_(WithoutTrailingSeparators(task.destination)), atSequence_(atSequence) {}

    bool Run(const std::string& relative, std::int64_t at, const std::string& into);

private:
    enum class Found { Kept, Current, Absent, Failed };
    Found FindVersion(std::int64_t at);
    bool FromCurrent(const std::string& into, std::int64_t at);
    bool CopyOut(const std::string& into);
    bool IntoDestination();
    bool PutBack(CVersionKeeper& keeper);
    bool RestoreBelow(std::int64_t at);
    bool RestoreOneBelow(const std::string& path, std::int64_t at, CVersionKeeper& keeper, bool& whole);
    bool TakeAway(CVersionKeeper& keeper, const std::string& when);
    std::vector<SavedDirectory> SaveDirectories(const std::vector<std::string>& paths, std::size_t fromDepth);
    void GiveBackDirectories(const std::vector<SavedDirectory>& saved);
    bool IntoFolder(const std::string& into);
    bool OutsideTheTrees(const std::string& into);
    // Copies the kept entry to a temporary name in dir, then moves it to name there; what the
    // caller does between the two (keeping what name holds) is beforeMove. Nothing is left under
    // the temporary name on failure.
    FsError CopyInto(const DirectoryHandle& dir, const std::string& name, const std::string& shown,
                     const std::function<FsError(const std::string&)>& beforeMove);
    bool ChangedBelow(const std::string& folder, std::vector<std::string>& paths);
    FsError OverlayBelow(const DirectoryHandle& dir, const std::string& temporary, const std::string& shown);
    FsError CopyEntry(const DirectoryHandle& from, const std::string& name, const FileStatus& status,
                      const DirectoryHandle& to, const std::string& toName, const std::string& shown, int depth);
    FsError CopyDirectory(const DirectoryHandle& from, const std::string& name, const FileStatus& status,
                          const DirectoryHandle& to, const std::string& toName, const std::string& shown, int depth);
    const std::string& RunPath() const { return from_; }
    void Fail(const std::string& text) { LogError(ctx_, text, stats_.errors); }

    CRunContext& ctx_;
    IFileSystem& fs_;
    const Task& task_;
    RunStats& stats_;
    std::string destination_;
    int atSequence_;
    std::string relative_;
    std::vector<std::string> parts_;
    std::string shown_;
    DirectoryHandle top_;
    // Where the version restored is taken from: its run folder, or the destination itself.
    std::string from_;
    std::vector<std::string> below_;
    // A folder restored elsewhere whose entries changed below it: the time, and the depth of the
    // folder.
    std::int64_t overlayAt_ = 0;
    std::size_t overlayDepth_ = 0;
    // The run folder that added the path since the time asked for.
    std::string addedBy_;
    DirectoryHandle keptParent_;
    FileStatus kept_;
    bool giveAway_ = false;
};

bool CRestore::Run(const std::string& relative, std::int64_t at, const std::string& into) {
    relative_ = relative;
    parts_ = SplitRelative(relative);
    shown_ = JoinPath(destination_, relative);
    if (!UsableParts(parts_)) {
        Fail("Cannot restore \"" + relative + "\": name a file or folder inside the destination " + destination_);
        return false;
    }
    if (FsError e = fs_.OpenDirectoryPath(SystemDirectoryPath(destination_), true, top_)) {
        Fail("Cannot open the destination " + destination_ + FailureSuffix(e));
        return false;
    }
    if (!into.empty() && !OutsideTheTrees(into)) {
        return false;
    }
    const Found found = FindVersion(at);
    if (found == Found::Failed) {
        return false;
    }
    const std::string when = CalendarText(at);
    if (found == Found::Absent) {
        LogLine(ctx_, shown_ + " did not exist at " + when + ": the run " + addedBy_ + " added it, nothing to restore",
                LogColour::Bold);
        return true;
    }
    return found == Found::Current ? FromCurrent(into, at) : CopyOut(into);
}

bool CRestore::CopyOut(const std::string& into) {
    giveAway_ = fs_.MayGiveAway();
    const bool ok = into.empty() ? IntoDestination() : IntoFolder(into);
    return ok && stats_.errors == 0;
}

// No run since at kept the path whole: the destination holds it as it was, but for what runs
// since changed below it.
bool CRestore::FromCurrent(const std::string& into, std::int64_t at) {
    const std::string when = CalendarText(at);
    if (!below_.empty()) {
        if (into.empty()) {
            return RestoreBelow(at) && stats_.errors == 0;
        }
        overlayAt_ = at;
        overlayDepth_ = parts_.size();
    }
    if (into.empty()) {
        LogLine(ctx_, shown_ + " is as it was at " + when + ": no run since then kept an earlier version of it",
                LogColour::Bold);
        return true;
    }
    // What the destination holds now is that state, and is what a copy elsewhere takes.
    from_ = destination_;
    FsError e = OpenParentBelow(fs_, top_, parts_, keptParent_, nullptr);
    if (!e) {
        e = fs_.StatusAt(keptParent_, parts_.back(), false, kept_);
    }
    if (Absent(e)) {
        LogLine(ctx_, shown_ + " did not exist at " + when + " and does not now, nothing to restore", LogColour::Bold);
        return true;
    }
    if (e) {
        Fail("Cannot read " + shown_ + FailureSuffix(e));
        return false;
    }
    return CopyOut(into);
}

// The first run since at that kept the path whole kept it as it was at at. A version that an
// undo took back out of its folder was back in the destination from that undo on: the undo's own
// folder (the next one with a record) holds what the undone run had left, and is passed over.
CRestore::Found CRestore::FindVersion(std::int64_t at) {
    DirectoryHandle versions;
    std::vector<RunFolder> folders;
    const std::string versionsPath = JoinPath(destination_, kVersionsFolderName);
    if (FsError e = ListRunFolders(fs_, top_, versions, folders); e && !e.Is(ErrorKind::NotFound)) {
        Fail("Cannot read " + versionsPath + FailureSuffix(e));
        return Found::Failed;
    }
    std::vector<std::string> below;
    bool passUndo = false;
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        if (folder->seconds < at || (folder->seconds == at && folder->sequence < atSequence_)) {
            continue;
        }
        FolderView view;
        if (FsError e = ViewFolder(fs_, versions, *folder, parts_, below, view)) {
            Fail("Cannot read the kept versions in " + JoinPath(versionsPath, folder->name) + FailureSuffix(e));
            return Found::Failed;
        }
        if (view.recorded && passUndo) {
            passUndo = false;
            continue;
        }
        if (view.touch == Touch::Added) {
            addedBy_ = JoinPath(versionsPath, folder->name);
            return Found::Absent;
        }
        if (view.holds) {
            from_ = JoinPath(versionsPath, folder->name);
            keptParent_ = std::move(view.parent);
            kept_ = view.status;
            return Found::Kept;
        }
        passUndo = view.recorded && view.touch == Touch::Whole;
    }
    below_ = std::move(below);
    return Found::Current;
}

bool CRestore::IntoDestination() {
    LogLine(ctx_, "Restoring " + shown_ + " from " + RunPath(), LogColour::Bold);
    CVersionKeeper keeper(ctx_, task_, task_.source, destination_, std::time(nullptr), stats_);
    keeper.SetTop(top_);
    const bool ok = PutBack(keeper);
    keeper.Finish();
    if (!task_.fakeIt) {
        FlushDestination(ctx_, top_, destination_, stats_);
    }
    return ok;
}

// Every entry below the folder that a run since changed goes back to how it was then, all kept
// in one run folder, so that one undo takes the whole restore back. A failure stops the restore;
// what was done until then stays recorded for the undo.
bool CRestore::RestoreBelow(std::int64_t at) {
    const std::string folder = shown_;
    const std::size_t depth = parts_.size();
    std::vector<std::string> paths;
    if (!ChangedBelow(folder, paths)) {
        return false;
    }
    LogLine(ctx_, "Restoring " + folder + " as it was at " + CalendarText(at) + ", the entries changed below it",
            LogColour::Bold);
    CVersionKeeper keeper(ctx_, task_, task_.source, destination_, std::time(nullptr), stats_);
    keeper.SetTop(top_);
    giveAway_ = fs_.MayGiveAway();
    const std::vector<SavedDirectory> saved =
        task_.fakeIt ? std::vector<SavedDirectory>() : SaveDirectories(paths, depth);
    std::vector<std::string> done;
    bool ok = true;
    for (const std::string& path : paths) {
        const bool covered =
            std::any_of(done.begin(), done.end(), [&path](const std::string& above) { return IsBelow(path, above); });
        bool whole = false;
        if (!covered && !(ok = RestoreOneBelow(path, at, keeper, whole))) {
            break;
        }
        if (whole) {
            done.push_back(path);
        }
    }
    GiveBackDirectories(saved);
    keeper.Finish();
    if (!task_.fakeIt) {
        FlushDestination(ctx_, top_, destination_, stats_);
    }
    if (ok) {
        LogLine(ctx_, "Restored " + folder + " as it was at " + CalendarText(at), LogColour::Green);
    }
    return ok;
}

// The changed paths below the folder, once each, parents first. A record is read from the
// destination, which others may write: a path in it that climbs or names the versions area is
// refused before anything changes.
bool CRestore::ChangedBelow(const std::string& folder, std::vector<std::string>& paths) {
    paths = below_;
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    const auto odd = std::find_if(paths.begin(), paths.end(),
                                  [](const std::string& path) { return !UsableParts(SplitRelative(NativeOf(path))); });
    if (odd != paths.end()) {
        Fail("Cannot restore " + folder + ": a record of kept versions names \"" + *odd + "\" below it");
        return false;
    }
    return true;
}

// Lays over the copy of the folder as it is now (temporary in dir) what runs since changed below
// it, as it was at the time, and gives its directories the times the destination's have.
FsError CRestore::OverlayBelow(const DirectoryHandle& dir, const std::string& temporary, const std::string& shown) {
    std::vector<std::string> paths;
    DirectoryHandle root;
    if (!ChangedBelow(shown_, paths)) {
        return FsError::OfKind(ErrorKind::NotSupported);
    }
    if (FsError e = fs_.OpenDirectoryAt(dir, temporary, root)) {
        return e;
    }
    const std::vector<SavedDirectory> saved = SaveDirectories(paths, overlayDepth_);
    const MadeLevelFn made = [](const DirectoryHandle&, const std::string&, const std::string&) {};
    const std::string from = from_;
    std::vector<std::string> done;
    for (const std::string& path : paths) {
        if (std::any_of(done.begin(), done.end(), [&path](const std::string& above) { return IsBelow(path, above); })) {
            continue;
        }
        relative_ = NativeOf(path);
        parts_ = SplitRelative(relative_);
        shown_ = JoinPath(destination_, relative_);
        const Found found = FindVersion(overlayAt_);
        if (found == Found::Failed) {
            return FsError::OfKind(ErrorKind::Interrupted);
        }
        if (found == Found::Current) {
            continue;
        }
        done.push_back(path);
        const std::vector<std::string> inside(parts_.begin() + static_cast<std::ptrdiff_t>(overlayDepth_),
                                              parts_.end());
        DirectoryHandle parent;
        FsError e = OpenParentBelow(fs_, root, inside, parent, &made);
        if (!e) {
            e = RemoveTreeAt(fs_, parent, inside.back());
            e = Absent(e) ? FsError() : e;
        }
        if (!e && found == Found::Kept) {
            e = CopyEntry(keptParent_, parts_.back(), kept_, parent, inside.back(),
                          JoinPath(shown, NativeOf(RecordPath(inside))), 0);
        }
        if (e) {
            return e;
        }
    }
    from_ = from;
    for (auto level = saved.rbegin(); level != saved.rend(); ++level) {
        const std::vector<std::string> inside(level->parts.begin() + static_cast<std::ptrdiff_t>(overlayDepth_),
                                              level->parts.end());
        DirectoryHandle parent;
        DirectoryHandle sub;
        if (inside.empty()) {
            FinishDirectory(ctx_, root, shown, level->status, giveAway_, stats_);
        } else if (!OpenParentBelow(fs_, root, inside, parent, nullptr) &&
                   !fs_.OpenDirectoryAt(parent, inside.back(), sub)) {
            FinishDirectory(ctx_, sub, JoinPath(shown, NativeOf(RecordPath(inside))), level->status, giveAway_, stats_);
        }
    }
    return {};
}

// Restores one entry below the folder by the rule of a single path; whole tells that it, and so
// everything below it, is done.
bool CRestore::RestoreOneBelow(const std::string& path, std::int64_t at, CVersionKeeper& keeper, bool& whole) {
    relative_ = NativeOf(path);
    parts_ = SplitRelative(relative_);
    shown_ = JoinPath(destination_, relative_);
    switch (FindVersion(at)) {
    case Found::Failed:
        return false;
    case Found::Kept:
        whole = true;
        return PutBack(keeper);
    case Found::Absent:
        whole = true;
        return TakeAway(keeper, CalendarText(at));
    case Found::Current:
        break;
    }
    return true;
}

// An entry a run added since is kept in the restore's run folder, which takes it away.
bool CRestore::TakeAway(CVersionKeeper& keeper, const std::string& when) {
    DirectoryHandle parent;
    FileStatus now;
    FsError e = OpenParentBelow(fs_, top_, parts_, parent, nullptr);
    if (!e) {
        e = fs_.StatusAt(parent, parts_.back(), false, now);
    }
    if (Absent(e)) {
        return true;
    }
    if (e) {
        Fail("Failed to remove " + shown_ + FailureSuffix(e));
        return false;
    }
    if (!keeper.Keep(&parent, parts_.back(), relative_, shown_, LogColour::Purple)) {
        ++stats_.errors; // the keeper logged why
        return false;
    }
    ++stats_.deleted;
    LogLine(ctx_, "Removed " + shown_ + ": it did not exist at " + when, LogColour::Purple);
    return true;
}

// The directories between the folder and the changed entries, whose times the restore's own
// changes would otherwise move.
std::vector<SavedDirectory> CRestore::SaveDirectories(const std::vector<std::string>& paths, std::size_t fromDepth) {
    std::set<std::vector<std::string>> levels;
    for (const std::string& path : paths) {
        const std::vector<std::string> parts = SplitRelative(NativeOf(path));
        for (std::size_t n = fromDepth; n < parts.size(); ++n) {
            levels.emplace(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(n));
        }
    }
    std::vector<SavedDirectory> saved;
    for (const std::vector<std::string>& level : levels) {
        DirectoryHandle parent;
        SavedDirectory dir{level, {}};
        if (!OpenParentBelow(fs_, top_, level, parent, nullptr) &&
            !fs_.StatusAt(parent, level.back(), false, dir.status) && dir.status.kind == EntryKind::Directory) {
            saved.push_back(std::move(dir));
        }
    }
    return saved;
}

// Deepest first, so that giving a directory its time back does not move its parent's.
void CRestore::GiveBackDirectories(const std::vector<SavedDirectory>& saved) {
    for (auto level = saved.rbegin(); level != saved.rend(); ++level) {
        DirectoryHandle parent;
        DirectoryHandle dir;
        if (!OpenParentBelow(fs_, top_, level->parts, parent, nullptr) &&
            !fs_.OpenDirectoryAt(parent, level->parts.back(), dir)) {
            FinishDirectory(ctx_, dir, JoinPath(destination_, NativeOf(RecordPath(level->parts))), level->status,
                            giveAway_, stats_);
        }
    }
}

// Puts the kept entry found back at the path, keeping what is there first.
bool CRestore::PutBack(CVersionKeeper& keeper) {
    DirectoryHandle parent;
    const MadeLevelFn made = [&keeper](const DirectoryHandle& dir, const std::string& name,
                                       const std::string& relative) { keeper.Left(&dir, name, relative, false); };
    FsError e = OpenParentBelow(fs_, top_, parts_, parent, task_.fakeIt ? nullptr : &made);
    bool replaced = false;
    if (task_.fakeIt) {
        FileStatus now;
        replaced = !e && !fs_.StatusAt(parent, parts_.back(), false, now);
        if (replaced) {
            keeper.Keep(&parent, parts_.back(), relative_, shown_, LogColour::Purple);
        }
        e = Absent(e) ? FsError() : e;
    } else if (!e) {
        e = CopyInto(parent, parts_.back(), shown_, [&](const std::string&) {
            FileStatus now;
            const FsError there = fs_.StatusAt(parent, parts_.back(), false, now);
            replaced = !there;
            if (there && !there.Is(ErrorKind::NotFound)) {
                return there;
            }
            // The keeper logs its own failure line.
            return replaced && !keeper.Keep(&parent, parts_.back(), relative_, shown_, LogColour::Purple)
                       ? FsError::OfKind(ErrorKind::Interrupted)
                       : FsError();
        });
    }
    if (e) {
        Fail("Failed to restore " + shown_ + " from " + RunPath() + FailureSuffix(e));
    } else {
        keeper.Left(&parent, parts_.back(), relative_, replaced);
        LogLine(ctx_, "Restored " + shown_ + " from " + RunPath(), LogColour::Green);
    }
    return !e;
}

// What the user names as the folder to restore into must not let a restore write to the source
// or among the kept versions.
bool CRestore::OutsideTheTrees(const std::string& into) {
    std::string target;
    if (FsError e = fs_.CanonicalPath(into, target)) {
        Fail("Cannot restore into " + into + FailureSuffix(e));
        return false;
    }
    const auto inside = [&](const std::string& path) {
        std::string tree;
        if (path.empty() || fs_.CanonicalPath(path, tree)) {
            return false;
        }
        return target == tree || (target.size() > tree.size() && target.compare(0, tree.size(), tree) == 0 &&
                                  (target[tree.size()] == kPathSeparator || tree.back() == kPathSeparator));
    };
    if (inside(task_.source)) {
        Fail("Cannot restore into " + into + ": it lies in the source " + task_.source + ", which is never written");
        return false;
    }
    if (inside(JoinPath(destination_, kVersionsFolderName))) {
        Fail("Cannot restore into " + into + ": it lies among the kept versions");
        return false;
    }
    return true;
}

bool CRestore::IntoFolder(const std::string& into) {
    const std::string shown = JoinPath(into, parts_.back());
    DirectoryHandle dir;
    FsError e = fs_.OpenDirectoryPath(into, true, dir);
    FileStatus now;
    if (!e) {
        e = fs_.StatusAt(dir, parts_.back(), false, now);
        if (!e) {
            Fail("Cannot restore " + shown_ + " into " + into + ": " + shown + " exists already, nothing was restored");
            return false;
        }
        e = e.Is(ErrorKind::NotFound) ? FsError() : e;
    }
    if (!e && !task_.fakeIt) {
        const std::string folder = shown_;
        const std::string name = parts_.back(); // the overlay moves parts_ on
        e = CopyInto(dir, name, shown, [&](const std::string& temporary) {
            return overlayDepth_ == 0 ? FsError() : OverlayBelow(dir, temporary, shown);
        });
        shown_ = folder;
        if (!e) {
            e = fs_.FlushFileSystem(dir);
        }
    }
    if (e) {
        Fail("Failed to restore " + shown_ + " into " + into + FailureSuffix(e));
        return false;
    }
    LogLine(ctx_, "Restored " + shown_ + " as " + shown + " from " + RunPath(), LogColour::Green);
    return true;
}

FsError CRestore::CopyInto(const DirectoryHandle& dir, const std::string& name, const std::string& shown,
                           const std::function<FsError(const std::string&)>& beforeMove) {
    const std::string temporary = NewTemporaryCopyName();
    FsError e = CopyEntry(keptParent_, parts_.back(), kept_, dir, temporary, shown, 0);
    if (!e) {
        e = beforeMove(temporary);
    }
    if (!e) {
        e = fs_.MoveAt(dir, temporary, dir, name);
    }
    if (e) {
        RemoveTreeAt(fs_, dir, temporary);
    }
    return e;
}

FsError CRestore::CopyEntry(const DirectoryHandle& from, const std::string& name, const FileStatus& status,
                            const DirectoryHandle& to, const std::string& toName, const std::string& shown, int depth) {
    if (ctx_.stopRequested.load() != 0) {
        return FsError::OfKind(ErrorKind::Interrupted);
    }
    if (status.kind == EntryKind::Directory) {
        return CopyDirectory(from, name, status, to, toName, shown, depth);
    }
    if (FsError e = CopyLeafAt(fs_, from, name, status, to, toName, &ctx_.stopRequested)) {
        return e;
    }
    if (status.kind == EntryKind::File) {
        ++stats_.newFiles;
        stats_.bytesNew += status.size;
    }
    return {};
}

FsError CRestore::CopyDirectory(const DirectoryHandle& from, const std::string& name, const FileStatus& status,
                                const DirectoryHandle& to, const std::string& toName, const std::string& shown,
                                int depth) {
    if (depth > kDeepestRestore) {
        return FsError::OfKind(ErrorKind::NameTooLong);
    }
    DirectoryHandle in;
    FsError e = fs_.OpenDirectoryAt(from, name, in);
    if (!e) {
        e = fs_.MakeDirectoryAt(to, toName);
    }
    if (e) {
        return e;
    }
    PrepareNewDirectory(ctx_, to, toName, shown, status, giveAway_, stats_);
    DirectoryHandle out;
    std::vector<DirEntry> entries;
    e = fs_.OpenDirectoryAt(to, toName, out);
    if (!e) {
        e = ReadAllEntries(fs_, in, entries);
    }
    for (std::size_t i = 0; i < entries.size() && !e; ++i) {
        FileStatus entry;
        e = fs_.StatusAt(in, entries[i].name, false, entry);
        if (!e) {
            e = CopyEntry(in, entries[i].name, entry, out, entries[i].name, JoinPath(shown, entries[i].name),
                          depth + 1);
        }
    }
    if (!e) {
        FinishDirectory(ctx_, out, shown, status, giveAway_, stats_);
    }
    return e;
}

} // namespace

std::vector<KeptVersion> ListKeptVersions(IFileSystem& fs, const std::string& destination, const std::string& relative,
                                          FsError& error) {
    error = FsError();
    std::vector<KeptVersion> found;
    const std::vector<std::string> parts = SplitRelative(relative);
    DirectoryHandle top;
    DirectoryHandle versions;
    std::vector<RunFolder> folders;
    if (!UsableParts(parts)) {
        error = FsError::OfKind(ErrorKind::NotFound);
        return found;
    }
    if (FsError e = fs.OpenDirectoryPath(SystemDirectoryPath(WithoutTrailingSeparators(destination)), true, top)) {
        error = e;
        return found;
    }
    if (FsError e = ListRunFolders(fs, top, versions, folders)) {
        error = e.Is(ErrorKind::NotFound) ? FsError() : e;
        return found;
    }
    std::vector<std::string> below;
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        FolderView view;
        const FsError e = ViewFolder(fs, versions, *folder, parts, below, view);
        if (view.holds) {
            found.push_back(KeptVersion{*folder, view.status});
        } else if (e && !error) {
            error = e;
        }
    }
    return found;
}

bool RestoreVersion(CRunContext& ctx, const Task& task, const std::string& relative, std::int64_t at,
                    const std::string& into, RunStats& stats, int atSequence) {
    CRestore restore(ctx, task, stats, atSequence);
    return restore.Run(relative, at, into);
}

std::string CalendarText(std::int64_t seconds) {
    // Days to a civil date, counting in 400-year eras from 0000-03-01.
    constexpr std::int64_t kDay = 86400;
    std::int64_t days = seconds / kDay;
    std::int64_t rest = seconds % kDay;
    if (rest < 0) {
        rest += kDay;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const std::int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}
