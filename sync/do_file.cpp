// Bringing a single source file up to date in its destination directory.
#include "sync/do_file.h"

#include "platform/file_system.h"
#include "sync/copy.h"
#include "sync/do_directory.h"
#include "sync/engine_support.h"
#include "sync/fs_layer.h"

void DoFile(CRunContext& ctx, const std::string& source, std::string destination, const Task& task, RunStats& stats) {
    const std::string name = BaseName(source);
    const std::string tail = std::string(1, kPathSeparator) + name;
    // A destination naming the target file itself is cut back to its directory.
    if (destination.size() >= tail.size() &&
        EqualNoCase(std::string_view(destination).substr(destination.size() - tail.size()), tail)) {
        destination.resize(destination.size() - tail.size());
    }
    if (!task.fakeIt) {
        YMakeDirectory(ctx, destination);
    }
    if (!destination.empty() && destination.back() == kPathSeparator) {
        destination.pop_back();
    }

    FileEntry s;
    const bool sourceRead = s.YStat(ctx, source);
    if (!sourceRead) {
        LogLine(ctx, "Unable to stat " + source, LogColour::Red);
    }
    const std::string target = JoinPath(destination, name);
    FileEntry d;
    FileStatus targetStatus;
    bool targetIsLink = false;
    if (FsOf(ctx).Status(target, false, targetStatus) == 0) {
        targetIsLink = targetStatus.kind == EntryKind::Symlink;
        FillEntryFromStatus(d, ctx, target, targetStatus);
    }
    // An unreadable source compares equal to a missing target (both empty); it must go on to
    // the copy and be counted as the failure it is, not as the same file.
    if (sourceRead && !targetIsLink &&
        SameFile(d, s, task.onlyIfNewer, task.oneHour, TimeTolerance(ctx, destination))) {
        ++stats.same;
        return;
    }
    const bool existed = IsRegularFile(ctx, target);
    bool stopped = false;
    if (YCopyFile(ctx, source, target, !existed, task.checkOpen, s.size, task.fakeIt, &stopped)) {
        if (stopped) {
            return; // nothing was copied, so nothing is counted; the stop is what the log reports
        }
        if (existed) {
            ++stats.changed;
            stats.bytesChanged += s.size;
        } else {
            ++stats.newFiles;
            stats.bytesNew += s.size;
        }
        stats.sourceSize += s.size;
        ++stats.sourceCount;
    } else {
        LogLine(ctx, "Failed to copy file " + source, LogColour::Red);
        ++stats.errors;
    }
}
