// The counting pre-pass: how many bytes a task's source holds, measured while enumerating.
#include "sync/count.h"

#include <exception>
#include <vector>

#include "platform/file_system.h"
#include "sync/directory_reader.h"
#include "sync/engine_support.h"
#include "sync/exclusions.h"
#include "sync/fs_layer.h"
#include "sync/tree_cursor.h"

namespace {

// Counts the level the cursor stands at; levels below the top are opened relative to their
// parent without following a link.
CLargeNumber CountLevel(CRunContext& ctx, CTreeCursor& tree, const std::string& list, bool recurse) {
    CLargeNumber total;
    if (ctx.stopRequested.load() != 0) {
        return CLargeNumber();
    }
    if (DirectoryExclusion(list, tree.Path()) != ExclusionResult::NotExcluded) {
        return CLargeNumber();
    }
    // Subdirectories are counted after the level's listing is closed; the cursor bounds the
    // descriptors the levels above hold.
    std::vector<std::string> subdirectories;
    try {
        CDirectoryReader reader(FsOf(ctx), tree);
        if (reader.OpenAndList()) {
            return CLargeNumber();
        }
        DirEntry entry;
        while (reader.Next(entry)) {
            if (ctx.stopRequested.load() != 0) {
                return CLargeNumber();
            }
            if (entry.kind == EntryKind::Directory) {
                if (recurse) {
                    subdirectories.push_back(entry.name);
                }
                continue;
            }
            // A link counts as the mirror copies it: its own size, the length of its target text.
            FileStatus status;
            if (reader.StatusOf(entry.name, false, status)) {
                continue;
            }
            // Left out of the mirror, so left out of the count: a fifo, socket or device.
            if (status.kind == EntryKind::Directory || status.kind == EntryKind::Other) {
                continue;
            }
            FileEntry file;
            if (FillEntryFromStatus(file, ctx, JoinPath(tree.Path(), entry.name), status)) {
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
        tree.Push(name);
        total += CountLevel(ctx, tree, list, true);
        tree.Pop();
    }
    if (ctx.stopRequested.load() != 0) {
        return CLargeNumber();
    }
    return total;
}

} // namespace

CLargeNumber CountDirectory(CRunContext& ctx, const std::string& path, const std::string& list, bool recurse) {
    CTreeCursor tree(FsOf(ctx));
    tree.Reset(SystemDirectoryPath(path), path, true);
    return CountLevel(ctx, tree, list, recurse);
}

CLargeNumber FileSizeOf(CRunContext& ctx, const std::string& path) {
    FileEntry entry;
    if (entry.YStat(ctx, path)) {
        return CLargeNumber::FromUint64(entry.size);
    }
    return CLargeNumber();
}
