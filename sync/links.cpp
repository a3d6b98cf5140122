// Source links mirrored as links.
#include "sync/links.h"

#include "sync/debug_log.h"
#include "sync/engine_support.h"
#include "sync/metadata.h"
#include "sync/tree_cursor.h"

bool SameLink(IFileSystem& fs, const DirectoryHandle* dir, const std::string& name, const SourceLink& link) {
    std::string target;
    return !link.readError && dir != nullptr && !fs.ReadLinkAt(*dir, name, target) && target == link.target;
}

CopyVerdict YCopyLink(CRunContext& ctx, CTreeCursor& destination, const std::string& name, const SourceLink& link,
                      const FileEntry& source, const std::string& sourcePath, const CopyOptions& options, bool giveAway,
                      RunStats& stats) {
    const std::string destinationPath = JoinPath(destination.Path(), name);
    if (ctx.debug) {
        DebugLog(ctx, "YCopyLink: " + sourcePath + " -> " + destinationPath);
    }
    FsError e = link.readError;
    if (!e) {
        LogLine(ctx, options.isNew ? "Adding file " + sourcePath : "Updating file " + destinationPath,
                LogColour::Green);
        const DirectoryHandle* dir = options.fakeIt ? nullptr : destination.Current(e);
        if (dir != nullptr) {
            e = FsOf(ctx).ReplaceWithLinkAt(*dir, name, link.target, link.seconds, link.nanoseconds);
            // The link's own owner; only the superuser can give one away.
            if (!e && giveAway && source.mode >= 0) {
                SetOwnerLike(ctx, *dir, name, destinationPath, FileIdentity{}, OwnerChange{source.owner, source.group},
                             stats);
            }
        }
    }
    if (!e) {
        return CopyVerdict::Copied;
    }
    *options.failure = "Failed to copy file " + sourcePath + " to " + destinationPath + FailureSuffix(e);
    return CopyVerdict::Failed;
}

SourceLink ReadSourceLinkNow(IFileSystem& fs, CTreeCursor& source, const std::string& name, FileEntry& entry) {
    SourceLink link;
    const DirectoryHandle* dir = source.Current(link.readError);
    FileStatus status;
    if (dir != nullptr && !(link.readError = fs.StatusAt(*dir, name, false, status)) &&
        !(link.readError = fs.ReadLinkAt(*dir, name, link.target))) {
        link.seconds = status.mtimeSeconds;
        link.nanoseconds = status.mtimeNanoseconds;
        SetEntryFromStatus(entry, status);
    }
    return link;
}
