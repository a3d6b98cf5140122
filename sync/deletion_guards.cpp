// The empty-source guard and the run's deletion limit.
#include "sync/deletion_guards.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file_system.h"
#include "sync/engine_support.h"

namespace {

// The non-directories in the tree below path, links as themselves: what ZapDir would delete and
// count. A level that cannot be listed adds what was listed of it; ZapDir stops at it anyway.
std::int64_t FilesInTree(CRunContext& ctx, const std::string& path) {
    IFileSystem& fs = FsOf(ctx);
    std::int64_t files = 0;
    std::vector<std::string> pending{path};
    while (!pending.empty()) {
        const std::string dir = std::move(pending.back());
        pending.pop_back();
        int error = 0;
        std::unique_ptr<IDirectoryStream> stream = fs.OpenDirectory(SystemDirectoryPath(dir), false, error);
        if (!stream) {
            continue;
        }
        DirEntry entry;
        while (stream->Next(entry)) {
            if (entry.kind == EntryKind::Directory) {
                pending.push_back(JoinPath(dir, entry.name));
            } else {
                ++files;
            }
        }
    }
    return files;
}

} // namespace

bool EmptySourceRefused(CRunContext& ctx, const Task& task, const std::string& source, const std::string& destination,
                        std::size_t sourceEntries, std::size_t destinationEntries, RunStats& stats) {
    if (!ctx.emptyGuard.load() || task.safeMode || sourceEntries != 0 || destinationEntries == 0) {
        return false;
    }
    LogLine(ctx, "Not deleting anything in " + destination + ": the source " + source + " is empty (is it mounted?)",
            LogColour::Red);
    ++stats.errors;
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
        LogLine(ctx,
                "Deletion limit of " + std::to_string(ctx.maxDelete) + " reached: nothing more is deleted in this run",
                LogColour::Red);
        ++stats.errors;
    }
    LogLine(ctx, "Not deleting " + path + " (deletion limit)", LogColour::Purple);
    ++stats.saved;
    return false;
}
