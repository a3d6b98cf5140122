// Owners, permission bits and directory times of the mirror.
#include "sync/metadata.h"

#include "sync/debug_log.h"
#include "sync/engine_support.h"

namespace {

// The directory itself, reached through its own open handle.
const std::string kItself = ".";
constexpr std::uint32_t kOwnerWrite = 0200;
constexpr std::uint32_t kOwnerAll = 0700;

// A refusal the system makes by policy (not the owner, an attribute the file system cannot
// hold) keeps what is there; anything else is a fault the run reports.
bool Refused(const FsError& e) {
    return e.Is(ErrorKind::AccessDenied) || e.Is(ErrorKind::NotSupported);
}

void Report(CRunContext& ctx, const FsError& e, const std::string& what, const std::string& path, RunStats& stats) {
    if (!e) {
        return;
    }
    if (Refused(e)) {
        if (ctx.debug) {
            DebugLog(ctx, "Kept the " + what + " of " + path + FailureSuffix(e));
        }
        return;
    }
    LogError(ctx, "Failed to set the " + what + " of " + path + FailureSuffix(e), stats.errors);
}

} // namespace

OwnerChange OwnerToGive(IFileSystem& fs, bool giveAway, std::uint32_t sourceOwner, std::uint32_t sourceGroup,
                        std::uint32_t destinationOwner, std::uint32_t destinationGroup) {
    OwnerChange change;
    if (giveAway) {
        if (sourceOwner != destinationOwner) {
            change.owner = sourceOwner;
        }
        if (sourceGroup != destinationGroup) {
            change.group = sourceGroup;
        }
    } else if (sourceGroup != destinationGroup && fs.MayUseGroup(sourceGroup)) {
        change.group = sourceGroup;
    }
    return change;
}

bool SetOwnerLike(CRunContext& ctx, const DirectoryHandle& dir, const std::string& name, const std::string& path,
                  const OwnerChange& change, RunStats& stats) {
    if (ctx.debug) {
        DebugLog(ctx, "SetOwner: " + path);
    }
    const FsError e = FsOf(ctx).SetOwnerAt(dir, name, change.owner, change.group);
    Report(ctx, e, "owner", path, stats);
    return !e;
}

void PrepareNewDirectory(CRunContext& ctx, const DirectoryHandle& parent, const std::string& name,
                         const std::string& path, const FileStatus& source, bool giveAway, RunStats& stats) {
    IFileSystem& fs = FsOf(ctx);
    // What the new directory was given is not asked: no id is -1, so every one the rule allows
    // is set.
    const OwnerChange change =
        OwnerToGive(fs, giveAway, source.owner, source.group, IFileSystem::kKeepOwner, IFileSystem::kKeepOwner);
    if (change.Any()) {
        SetOwnerLike(ctx, parent, name, path, change, stats);
    }
    // Until its contents are in, nobody but its owner gets more than the source allows.
    if (ctx.debug) {
        DebugLog(ctx, "SetMode: " + path);
    }
    Report(ctx, fs.SetModeAt(parent, name, source.mode | kOwnerAll), "permissions", path, stats);
}

bool OpenUpDirectory(CRunContext& ctx, const DirectoryHandle& dir, const std::string& path, const FileStatus& source,
                     bool giveAway) {
    // Permission bits do not hold the superuser back, and a writable source leaves the
    // destination's own choice alone.
    if (giveAway || (source.mode & kOwnerWrite) != 0) {
        return false;
    }
    IFileSystem& fs = FsOf(ctx);
    FileStatus now;
    if (fs.StatusAt(dir, kItself, false, now) || (now.mode & kOwnerWrite) != 0) {
        return false;
    }
    if (ctx.debug) {
        DebugLog(ctx, "SetMode: " + path);
    }
    // A refusal shows in the writes that follow.
    fs.SetModeAt(dir, kItself, now.mode | kOwnerWrite);
    return true;
}

bool FinishDirectory(CRunContext& ctx, const DirectoryHandle& dir, const std::string& path, const FileStatus& source,
                     bool giveAway, RunStats& stats) {
    IFileSystem& fs = FsOf(ctx);
    FileStatus now;
    if (const FsError e = fs.StatusAt(dir, kItself, false, now)) {
        Report(ctx, e, "attributes", path, stats);
        return false;
    }
    bool changed = false;
    const OwnerChange change = OwnerToGive(fs, giveAway, source.owner, source.group, now.owner, now.group);
    bool ownerSet = false;
    if (change.Any()) {
        changed = true;
        ownerSet = SetOwnerLike(ctx, dir, kItself, path, change, stats);
    }
    // A change of owner may clear set-id bits, so the bits are set again after one.
    if (now.mode != source.mode || ownerSet) {
        changed = true;
        if (ctx.debug) {
            DebugLog(ctx, "SetMode: " + path);
        }
        Report(ctx, fs.SetModeAt(dir, kItself, source.mode), "permissions", path, stats);
    }
    if (now.mtimeSeconds != source.mtimeSeconds || now.mtimeNanoseconds != source.mtimeNanoseconds) {
        changed = true;
        if (ctx.debug) {
            DebugLog(ctx, "SetTime: " + path);
        }
        Report(ctx, fs.SetLinkTimeAt(dir, kItself, source.mtimeSeconds, source.mtimeNanoseconds), "time", path, stats);
    }
    return changed;
}
