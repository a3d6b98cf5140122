// The empty-source guard and the run's deletion limit.
#include "sync/deletion_guards.h"

#include <cstdint>
#include <vector>

#include "platform/file_system.h"
#include "sync/directory_reader.h"
#include "sync/engine_support.h"
#include "sync/tree_cursor.h"

namespace {

std::int64_t FilesInTree(CRunContext& ctx, const std::string& path) {
    CTreeCursor tree(FsOf(ctx));
    tree.Reset(SystemDirectoryPath(path), path, false);
    return CountTreeAt(ctx, tree);
}

std::int64_t Counted(const CRunContext& ctx, const RunStats& stats) {
    return static_cast<std::int64_t>(stats.deleted) + ctx.replacementsKept;
}

void HeldBack(CRunContext& ctx, const std::string& doing, const std::string& path, RunStats& stats) {
    if (!ctx.deletionLimitReached) {
        ctx.deletionLimitReached = true;
        LogError(ctx,
                 "Deletion limit of " + std::to_string(ctx.maxDelete) + " reached: nothing more is deleted in this run",
                 stats.errors);
    }
    LogLine(ctx, "Not " + doing + " " + path + " (deletion limit)", LogColour::Purple);
    ++stats.saved;
}

} // namespace

bool EmptySourceRefused(CRunContext& ctx, const Task& task, const std::string& source, const std::string& destination,
                        std::size_t sourceEntries, std::size_t destinationEntries, RunStats& stats) {
    if (!ctx.emptyGuard.load() || task.safeMode || sourceEntries != 0 || destinationEntries == 0) {
        return false;
    }
    LogError(ctx, "Not deleting anything in " + destination + ": the source " + source + " is empty (is it mounted?)",
             stats.errors);
    return true;
}

bool MayDelete(CRunContext& ctx, const std::string& path, bool isDirectory, RunStats& stats) {
    if (ctx.maxDelete < 0) {
        return true;
    }
    if (!ctx.deletionLimitReached) {
        const std::int64_t files = isDirectory ? FilesInTree(ctx, path) : 1;
        if (Counted(ctx, stats) + files <= ctx.maxDelete) {
            return true;
        }
    }
    HeldBack(ctx, "deleting", path, stats);
    return false;
}

bool MayReplaceKept(CRunContext& ctx, const RunStats& stats) {
    if (ctx.maxDelete < 0) {
        return true;
    }
    // The count only grows, so a refusal here stands until ReplacementHeldBack marks the limit.
    if (!ctx.deletionLimitReached && Counted(ctx, stats) + 1 <= ctx.maxDelete) {
        ++ctx.replacementsKept;
        return true;
    }
    return false;
}

void ReplacementHeldBack(CRunContext& ctx, const std::string& path, RunStats& stats) {
    HeldBack(ctx, "replacing", path, stats);
}
