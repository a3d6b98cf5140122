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
        if (static_cast<std::int64_t>(stats.deleted) + files <= ctx.maxDelete) {
            return true;
        }
        ctx.deletionLimitReached = true;
        LogError(ctx,
                 "Deletion limit of " + std::to_string(ctx.maxDelete) + " reached: nothing more is deleted in this run",
                 stats.errors);
    }
    LogLine(ctx, "Not deleting " + path + " (deletion limit)", LogColour::Purple);
    ++stats.saved;
    return false;
}
