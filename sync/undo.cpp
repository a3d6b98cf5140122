// Undoing the last run of a task that keeps versions.
#include "sync/undo.h"

#include <algorithm>
#include <ctime>
#include <tuple>
#include <utility>
#include <vector>

#include "model/version_manifest.h"
#include "platform/file_system.h"
#include "sync/engine_support.h"
#include "sync/versions.h"
#include "util/texts.h"

namespace {

constexpr std::int64_t kNanosecondsPerSecondWide = 1000000000;

std::vector<std::string> SplitManifestPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = path.find('/', start);
        parts.push_back(path.substr(start, at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

// A manifest path is used below a destination only when no part of it can climb out.
bool SafeParts(const std::vector<std::string>& parts) {
    return std::none_of(parts.begin(), parts.end(), [](const std::string& part) {
        return part.empty() || part == "." || part == ".." || part.find(kPathSeparator) != std::string::npos;
    });
}

char EntryLetter(EntryKind kind) {
    return kind == EntryKind::Directory ? 'd' : kind == EntryKind::Symlink ? 'l' : 'f';
}

ManifestAction ActionOf(ManifestAction::Kind kind, const FileStatus& status, const std::string& path) {
    ManifestAction action;
    action.action = kind;
    action.entry = EntryLetter(status.kind);
    if (status.kind != EntryKind::Directory) {
        action.size = status.size;
    }
    action.mtimeNanoseconds = status.mtimeSeconds * kNanosecondsPerSecondWide + status.mtimeNanoseconds;
    action.path = path;
    return action;
}

// Whether the entry is still the one the run left. A directory's time changes with what is put
// in it, so only its kind counts.
bool StillAsLeft(const ManifestAction& action, const FileStatus& status) {
    if (EntryLetter(status.kind) != action.entry || status.kind == EntryKind::Other) {
        return false;
    }
    if (status.kind == EntryKind::Directory) {
        return true;
    }
    if (action.size && *action.size != status.size) {
        return false;
    }
    return !action.mtimeNanoseconds ||
           *action.mtimeNanoseconds == status.mtimeSeconds * kNanosecondsPerSecondWide + status.mtimeNanoseconds;
}

class CUndo {
public:
    CUndo(CRunContext& ctx, const Task& task, RunStats& stats)
        : ctx_(ctx), fs_(FsOf(ctx)), task_(task), stats_(stats) {}

    bool Run();

private:
    // One action of the manifest, with the parts of its path.
    struct Step {
        const ManifestAction* action;
        std::vector<std::string> parts;
    };

    bool FindLastRun();
    bool StaysInside(const std::string& manifestPath);
    std::vector<Step> PlanSteps(const std::vector<const ManifestAction*>& ordered);
    bool CheckAll(const std::vector<const ManifestAction*>& ordered);
    // Opens the parent of parts below root; with make, missing levels are made.
    FsError OpenParent(const DirectoryHandle& root, const std::vector<std::string>& parts, bool make,
                       DirectoryHandle& parent);
    FsError StatusBelow(const DirectoryHandle& root, const std::vector<std::string>& parts, FileStatus& status);
    std::string CheckStep(const Step& step);
    FsError MakeNewRun();
    FsError MoveBetween(const DirectoryHandle& fromRoot, const DirectoryHandle& toRoot,
                        const std::vector<std::string>& parts);
    bool DoStep(const Step& step);
    FsError WriteNewManifest();
    std::string Shown(const std::string& path) const;
    std::string VersionsPath(const std::string& runName) const {
        return JoinPath(JoinPath(destination_, kVersionsFolderName), runName);
    }
    void Fail(const std::string& text) { LogError(ctx_, text, stats_.errors); }

    CRunContext& ctx_;
    IFileSystem& fs_;
    const Task& task_;
    RunStats& stats_;
    std::string destination_;
    DirectoryHandle top_;
    DirectoryHandle versions_;
    std::string lastName_;
    DirectoryHandle last_;
    VersionManifest manifest_;
    std::string newName_;
    DirectoryHandle newRun_;
    VersionManifest undone_;
};

std::string CUndo::Shown(const std::string& path) const {
    std::string native = path;
    std::replace(native.begin(), native.end(), '/', kPathSeparator);
    return JoinPath(destination_, native);
}

// Entries under one that moves whole move with it. ordered: sorted by path.
std::vector<CUndo::Step> CUndo::PlanSteps(const std::vector<const ManifestAction*>& ordered) {
    std::vector<Step> steps;
    std::vector<std::string> moved;
    for (const ManifestAction* action : ordered) {
        const bool under = std::any_of(moved.begin(), moved.end(), [&](const std::string& top) {
            return action->path.size() > top.size() && action->path.compare(0, top.size(), top) == 0 &&
                   action->path[top.size()] == '/';
        });
        if (!under) {
            moved.push_back(action->path);
            steps.push_back(Step{action, SplitManifestPath(action->path)});
        }
    }
    return steps;
}

// Entries under one that moves whole are checked too: what moves must be what the run left.
bool CUndo::CheckAll(const std::vector<const ManifestAction*>& ordered) {
    std::vector<std::string> refused;
    for (const ManifestAction* action : ordered) {
        std::string why = CheckStep(Step{action, SplitManifestPath(action->path)});
        if (!why.empty()) {
            refused.push_back(std::move(why));
        }
    }
    if (refused.empty()) {
        return true;
    }
    Fail("Cannot undo the run " + VersionsPath(lastName_) + " of task " + task_.name +
         ": the destination changed since, nothing was undone");
    for (const std::string& why : refused) {
        Fail(why);
    }
    return false;
}

bool CUndo::Run() {
    destination_ = WithoutTrailingSeparators(task_.destination);
    if (!task_.KeepsVersions()) {
        LogLine(ctx_, "Task " + task_.name + " keeps no versions, nothing to undo", LogColour::Bold);
        return true;
    }
    if (FsError e = fs_.OpenDirectoryPath(SystemDirectoryPath(destination_), true, top_)) {
        Fail("Cannot open the destination " + destination_ + FailureSuffix(e));
        return false;
    }
    if (!FindLastRun()) {
        return stats_.errors == 0;
    }
    std::vector<const ManifestAction*> ordered;
    for (const ManifestAction& action : manifest_.actions) {
        ordered.push_back(&action);
    }
    std::sort(ordered.begin(), ordered.end(),
              [](const ManifestAction* a, const ManifestAction* b) { return a->path < b->path; });
    if (!CheckAll(ordered)) {
        return false;
    }
    const std::vector<Step> steps = PlanSteps(ordered);
    if (!task_.fakeIt) {
        if (FsError e = MakeNewRun()) {
            Fail("Failed to make a folder for kept versions in " + JoinPath(destination_, kVersionsFolderName) +
                 FailureSuffix(e));
            return false;
        }
    }
    LogLine(ctx_, "Undoing the run " + VersionsPath(lastName_) + " of task " + task_.name, LogColour::Bold);
    bool ok = true;
    for (const Step& step : steps) {
        ctx_.paused.WaitWhilePaused(ctx_.stopRequested);
        if (ctx_.stopRequested.load() != 0) {
            // What was undone so far is recorded below, so that it can itself be taken back.
            break;
        }
        ok = DoStep(step) && ok;
        PublishStats(ctx_, stats_);
    }
    if (!task_.fakeIt && !undone_.actions.empty()) {
        if (FsError e = WriteNewManifest()) {
            Fail("Failed to write the record of kept versions " + JoinPath(VersionsPath(newName_), kManifestName) +
                 FailureSuffix(e));
            ok = false;
        }
    }
    if (!task_.fakeIt) {
        FlushDestination(ctx_, top_, destination_, stats_);
    }
    return ok && stats_.errors == 0;
}

// A manifest is the destination's own file, so anyone who may write there may have written it.
bool CUndo::StaysInside(const std::string& manifestPath) {
    for (const ManifestAction& action : manifest_.actions) {
        if (!SafeParts(SplitManifestPath(action.path))) {
            Fail("Cannot undo with " + manifestPath + ": the path " + action.path + " leaves the destination");
            return false;
        }
    }
    return true;
}

bool CUndo::FindLastRun() {
    const std::string versionsPath = JoinPath(destination_, kVersionsFolderName);
    std::vector<RunFolder> folders;
    FsError e = ListRunFolders(fs_, top_, versions_, folders);
    if (e.Is(ErrorKind::NotFound)) {
        LogLine(ctx_, "Task " + task_.name + " has no kept run to undo", LogColour::Bold);
        return false;
    }
    if (e) {
        Fail("Cannot read " + versionsPath + FailureSuffix(e));
        return false;
    }
    for (const RunFolder& folder : folders) {
        DirectoryHandle run;
        if (fs_.OpenDirectoryAt(versions_, folder.name, run)) {
            continue;
        }
        std::string text;
        e = ReadManifestText(fs_, run, text);
        if (e.Is(ErrorKind::NotFound)) {
            continue;
        }
        const std::string path = JoinPath(VersionsPath(folder.name), kManifestName);
        std::string error;
        if (e) {
            Fail("Cannot read " + path + FailureSuffix(e));
            return false;
        }
        if (!ParseManifest(text, manifest_, error)) {
            std::string why = "Cannot undo with " + path;
            why += ": ";
            why += error;
            Fail(why);
            return false;
        }
        if (!StaysInside(path)) {
            return false;
        }
        lastName_ = folder.name;
        last_ = std::move(run);
        return true;
    }
    LogLine(ctx_, "Task " + task_.name + " has no kept run to undo", LogColour::Bold);
    return false;
}

FsError CUndo::OpenParent(const DirectoryHandle& root, const std::vector<std::string>& parts, bool make,
                          DirectoryHandle& parent) {
    static const MadeLevelFn kUnrecorded = [](const DirectoryHandle&, const std::string&, const std::string&) {};
    return OpenParentBelow(fs_, root, parts, parent, make ? &kUnrecorded : nullptr);
}

FsError CUndo::StatusBelow(const DirectoryHandle& root, const std::vector<std::string>& parts, FileStatus& status) {
    DirectoryHandle parent;
    FsError e = OpenParent(root, parts, false, parent);
    return e ? e : fs_.StatusAt(parent, parts.back(), false, status);
}

// Empty when the step can be undone; else the line naming the entry.
std::string CUndo::CheckStep(const Step& step) {
    const ManifestAction& action = *step.action;
    FileStatus status;
    const FsError inDestination = StatusBelow(top_, step.parts, status);
    if (action.action == ManifestAction::Kind::Deleted) {
        if (!inDestination.Is(ErrorKind::NotFound)) {
            return "  " + Shown(action.path) + " is taken";
        }
    } else if (inDestination) {
        return "  " + Shown(action.path) + " is gone" + FailureSuffix(inDestination);
    } else if (!StillAsLeft(action, status)) {
        return "  " + Shown(action.path) + " changed";
    }
    if (action.action != ManifestAction::Kind::Added) {
        FileStatus kept;
        if (const FsError e = StatusBelow(last_, step.parts, kept)) {
            return "  the kept version of " + Shown(action.path) + " is missing" + FailureSuffix(e);
        }
    }
    return {};
}

FsError CUndo::MakeNewRun() {
    std::tm local{};
    if (!LocalCalendarTime(std::time(nullptr), local)) {
        local = std::tm{};
        local.tm_year = 70;
        local.tm_mday = 1;
    }
    const std::string base =
        RunFolderName(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    // The undo must sort after the run it undoes, even when both fall in one second or the clock
    // went back.
    std::int64_t lastSeconds = 0;
    int lastSequence = 0;
    std::int64_t seconds = 0;
    int sequence = 0;
    ParseRunFolderName(lastName_, lastSeconds, lastSequence);
    ParseRunFolderName(base, seconds, sequence);
    std::string stem = seconds < lastSeconds ? lastName_.substr(0, base.size()) : base;
    const int first = seconds <= lastSeconds ? lastSequence + 1 : 1;
    for (int n = first; n < first + 1000; ++n) {
        newName_ = n == 1 ? stem : stem + "_" + std::to_string(n);
        FsError e = fs_.MakeDirectoryAt(versions_, newName_);
        if (!e) {
            return fs_.OpenDirectoryAt(versions_, newName_, newRun_);
        }
        if (!e.Is(ErrorKind::Exists)) {
            return e;
        }
    }
    return FsError::OfKind(ErrorKind::Exists);
}

FsError CUndo::MoveBetween(const DirectoryHandle& fromRoot, const DirectoryHandle& toRoot,
                           const std::vector<std::string>& parts) {
    DirectoryHandle from;
    DirectoryHandle to;
    FsError e = OpenParent(fromRoot, parts, false, from);
    if (!e) {
        e = OpenParent(toRoot, parts, true, to);
    }
    if (!e) {
        e = fs_.MoveAt(from, parts.back(), to, parts.back());
    }
    if (e.Is(ErrorKind::CrossDevice)) {
        FileStatus status;
        e = fs_.StatusAt(from, parts.back(), false, status);
        if (!e) {
            e = MoveAcross(fs_, from, parts.back(), status, to, parts.back());
        }
    }
    return e;
}

bool CUndo::DoStep(const Step& step) {
    const ManifestAction& action = *step.action;
    const std::string shown = Shown(action.path);
    const std::string keptIn = VersionsPath(task_.fakeIt ? std::string("...") : newName_);
    FileStatus status;
    if (action.action != ManifestAction::Kind::Deleted) {
        if (!task_.fakeIt) {
            StatusBelow(top_, step.parts, status);
            if (const FsError e = MoveBetween(top_, newRun_, step.parts)) {
                Fail("Failed to remove " + shown + FailureSuffix(e));
                return false;
            }
        }
        LogLine(ctx_, "Removed " + shown + " (kept in " + keptIn + ")", LogColour::Purple);
        ++stats_.deleted;
        if (action.action == ManifestAction::Kind::Added) {
            undone_.actions.push_back(ActionOf(ManifestAction::Kind::Deleted, status, action.path));
            return true;
        }
    }
    if (!task_.fakeIt) {
        if (const FsError e = MoveBetween(last_, top_, step.parts)) {
            Fail("Failed to restore " + shown + " from " + VersionsPath(lastName_) + FailureSuffix(e));
            if (action.action == ManifestAction::Kind::Replaced) {
                undone_.actions.push_back(ActionOf(ManifestAction::Kind::Deleted, status, action.path));
            }
            return false;
        }
        FileStatus restored;
        StatusBelow(top_, step.parts, restored);
        undone_.actions.push_back(ActionOf(action.action == ManifestAction::Kind::Replaced
                                               ? ManifestAction::Kind::Replaced
                                               : ManifestAction::Kind::Added,
                                           restored, action.path));
    }
    LogLine(ctx_, "Restored " + shown + " from " + VersionsPath(lastName_), LogColour::Green);
    ++stats_.newFiles;
    return true;
}

FsError CUndo::WriteNewManifest() {
    undone_.task = task_.name;
    undone_.source = manifest_.source;
    undone_.destination = destination_;
    undone_.started = newName_;
    return WriteManifestIn(fs_, newRun_, undone_);
}

} // namespace

bool UndoLastRun(CRunContext& ctx, const Task& task, RunStats& stats) {
    CUndo undo(ctx, task, stats);
    return undo.Run();
}
