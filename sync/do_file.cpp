// Bringing a single source file up to date in its destination directory.
#include "sync/do_file.h"

#include <ctime>
#include <memory>

#include "platform/file_system.h"
#include "sync/copy.h"
#include "sync/deletion_guards.h"
#include "sync/do_directory.h"
#include "sync/engine_support.h"
#include "sync/fs_layer.h"
#include "sync/metadata.h"
#include "sync/time_rule.h"
#include "sync/versions.h"

namespace {

// A destination naming the target file itself is cut back to its directory.
void CutToDirectory(std::string& destination, const std::string& name) {
    const std::string tail = std::string(1, kPathSeparator) + name;
    if (destination.size() >= tail.size() &&
        EqualNoCase(std::string_view(destination).substr(destination.size() - tail.size()), tail)) {
        destination.resize(destination.size() - tail.size());
    }
}

// The keeper of a task with versions, its retention done; null without.
std::unique_ptr<CVersionKeeper> StartKeeper(CRunContext& ctx, const Task& task, const std::string& source,
                                            const std::string& destination, const DirectoryHandle& dir,
                                            RunStats& stats) {
    if (!task.KeepsVersions()) {
        return nullptr;
    }
    auto keeper = std::make_unique<CVersionKeeper>(ctx, task, source, destination, std::time(nullptr), stats);
    if (dir.IsOpen()) {
        keeper->SetTop(dir);
    }
    keeper->Retain();
    return keeper;
}

// Where the copy is written: beside a target that is to be kept, else over it.
std::string StagedName(const CVersionKeeper* keeper, bool existed, bool fakeIt, const std::string& name) {
    return keeper != nullptr && existed && !fakeIt ? NewTemporaryCopyName() : name;
}

// The old target kept and the staged copy renamed into its place; the entry the run left recorded
// and the manifest written. True without a keeper.
bool KeepAndPlace(CRunContext& ctx, CVersionKeeper* keeperOrNull, const DirectoryHandle& dir, const std::string& staged,
                  const std::string& name, const std::string& target, bool existed, bool fakeIt) {
    if (keeperOrNull == nullptr) {
        return true;
    }
    CVersionKeeper& keeper = *keeperOrNull;
    if (existed && !keeper.Keep(&dir, name, name, target, LogColour::Green)) {
        FsOf(ctx).RemoveFileAt(dir, staged);
        return false;
    }
    if (existed && !fakeIt) {
        if (const FsError e = FsOf(ctx).MoveAt(dir, staged, dir, name)) {
            LogLine(ctx,
                    "Failed to put the new copy of " + target + " in place; its previous version is kept in " +
                        keeper.RunFolderPath() + FailureSuffix(e),
                    LogColour::Red);
            FsOf(ctx).RemoveFileAt(dir, staged);
            return false;
        }
    }
    keeper.Left(&dir, name, name, existed);
    keeper.Finish();
    return true;
}

// The counters of a file copied, and the flush that makes it last.
void CountCopied(CRunContext& ctx, const DirectoryHandle& dir, const std::string& source,
                 const std::string& destination, std::uint64_t size, bool existed, bool fakeIt, RunStats& stats) {
    if (existed) {
        ++stats.changed;
        stats.bytesChanged += size;
        ReportChange(ctx, '>', source);
    } else {
        ++stats.newFiles;
        stats.bytesNew += size;
        ReportChange(ctx, '+', source);
    }
    stats.sourceSize += size;
    ++stats.sourceCount;
    if (!fakeIt) {
        FlushDestination(ctx, dir, destination, stats);
    }
}

} // namespace

void DoFile(CRunContext& ctx, const std::string& source, std::string destination, const Task& task, RunStats& stats) {
    const std::string name = BaseName(source);
    CutToDirectory(destination, name);
    if (!task.fakeIt) {
        YMakeDirectory(ctx, destination);
    }
    if (!destination.empty() && destination.back() == kPathSeparator) {
        destination.pop_back();
    }

    IFileSystem& fs = FsOf(ctx);
    FileEntry s;
    const bool sourceRead = s.YStat(ctx, source);
    if (!sourceRead) {
        LogLine(ctx, "Unable to stat " + source, LogColour::Red);
    }
    // The target is looked at and written relative to its directory, opened once.
    const std::string target = JoinPath(destination, name);
    DirectoryHandle targetDir;
    const FsError targetDirError = fs.OpenDirectoryPath(SystemDirectoryPath(destination), true, targetDir);
    FileEntry d;
    FileStatus targetStatus;
    bool targetIsLink = false;
    bool existed = false;
    if (!targetDirError && !fs.StatusAt(targetDir, name, false, targetStatus)) {
        targetIsLink = targetStatus.kind == EntryKind::Symlink;
        FileStatus followed;
        existed = targetStatus.kind == EntryKind::File ||
                  (targetIsLink && !fs.StatusAt(targetDir, name, true, followed) && followed.kind == EntryKind::File);
        FillEntryFromStatus(d, ctx, target, targetStatus);
    }
    // An unreadable source compares equal to a missing target (both empty); it must go on to
    // the copy and be counted as the failure it is, not as the same file.
    if (sourceRead && !targetIsLink &&
        SameFile(d, s, task.onlyIfNewer, task.oneHour,
                 TimesDecide(d, s)
                     ? CTaskTimes(ctx, task.fakeIt).For(targetDirError ? nullptr : &targetDir, destination, source)
                     : kWholeSecondTimes)) {
        ++stats.same;
        if (!task.fakeIt && !targetDirError) {
            KeepAttributes(ctx, targetDir, name, target, s, d, fs.MayGiveAway(), false, stats);
        }
        return;
    }
    std::unique_ptr<CVersionKeeper> keeper = StartKeeper(ctx, task, source, destination, targetDir, stats);
    if (keeper != nullptr && existed && !MayReplaceKept(ctx, stats)) {
        ReplacementHeldBack(ctx, target, stats);
        return;
    }
    // The old file moves away only once its replacement is complete beside it.
    const std::string staged = StagedName(keeper.get(), existed, task.fakeIt, name);
    DirectoryHandle sourceDir;
    std::string sourceName;
    const FsError sourceDirError = fs.OpenParent(source, sourceDir, sourceName);
    std::string failure = "Failed to copy file " + source;
    const CopyVerdict verdict =
        YCopyFileAt(ctx, CopyEnd{sourceDirError ? nullptr : &sourceDir, sourceDirError, sourceName, source},
                    CopyEnd{targetDirError ? nullptr : &targetDir, targetDirError, staged, target},
                    CLargeNumber::FromUint64(s.size),
                    CopyOptions{.isNew = !existed,
                                .checkOpen = task.checkOpen,
                                .fakeIt = task.fakeIt,
                                .listed = FileIdentity{s.device, s.inode},
                                .followLink = true,
                                .journal = nullptr,
                                .failure = &failure});
    switch (verdict) {
    case CopyVerdict::Stopped:
    case CopyVerdict::Skipped: // only a link is
        return;                // nothing was copied, so nothing is counted; the stop is what the log reports
    case CopyVerdict::Failed:
    case CopyVerdict::BecameLink: // a link named by the user is followed
        LogError(ctx, failure, stats.errors);
        return;
    case CopyVerdict::Copied:
        if (!KeepAndPlace(ctx, keeper.get(), targetDir, staged, name, target, existed, task.fakeIt)) {
            ++stats.errors; // its Red line is logged
            return;
        }
        CountCopied(ctx, targetDir, source, destination, s.size, existed, task.fakeIt, stats);
        return;
    }
}
