// The counting pre-pass: how many bytes a task's source holds, measured while enumerating.
#include "sync/count.h"

#include <memory>
#include <vector>

#include "platform/file_system.h"
#include "sync/engine_support.h"
#include "sync/exclusions.h"
#include "sync/fs_layer.h"

namespace {

CLargeNumber CountLevel(CRunContext& ctx, const std::string& path, const std::string& list, bool excludeSystem,
                        bool excludeHidden, bool recurse, bool top) {
    CLargeNumber total;
    if (ctx.stopRequested.load() != 0) {
        return CLargeNumber();
    }
    if (DirectoryExclusion(list, path) != ExclusionResult::NotExcluded) {
        return CLargeNumber();
    }
    IFileSystem& fs = FsOf(ctx);
    // Subdirectories are counted after the level's stream is closed, so depth costs no descriptors.
    std::vector<std::string> subdirectories;
    try {
        int error = 0;
        std::unique_ptr<IDirectoryStream> stream = fs.OpenDirectory(SystemDirectoryPath(path), top, error);
        if (!stream) {
            return CLargeNumber();
        }
        DirEntry entry;
        while (stream->Next(entry)) {
            if (ctx.stopRequested.load() != 0) {
                return CLargeNumber();
            }
            if (entry.kind == EntryKind::Directory) {
                if (recurse) {
                    subdirectories.push_back(entry.name);
                }
                continue;
            }
            std::string child = JoinPath(path, entry.name);
            FileStatus status;
            if (fs.Status(child, true, status) != 0) {
                continue;
            }
            // A link to a directory is left out of the mirror, so it is left out of the count.
            if (status.kind == EntryKind::Directory) {
                continue;
            }
            FileEntry file;
            if (FillEntryFromStatus(file, ctx, child, status)) {
                total += file.size;
            }
        }
    } catch (const std::exception&) {
        return CLargeNumber();
    }
    for (const std::string& name : subdirectories) {
        if (ctx.stopRequested.load() != 0) {
            return CLargeNumber();
        }
        total += CountLevel(ctx, JoinPath(path, name), list, excludeSystem, excludeHidden, true, false);
    }
    if (ctx.stopRequested.load() != 0) {
        return CLargeNumber();
    }
    return total;
}

} // namespace

CLargeNumber CountDirectory(CRunContext& ctx, const std::string& path, const std::string& list, bool excludeSystem,
                            bool excludeHidden, bool recurse) {
    return CountLevel(ctx, path, list, excludeSystem, excludeHidden, recurse, true);
}

CLargeNumber FileSizeOf(CRunContext& ctx, const std::string& path) {
    FileEntry entry;
    if (entry.YStat(ctx, path)) {
        return entry.size;
    }
    return CLargeNumber();
}
