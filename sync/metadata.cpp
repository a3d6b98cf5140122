// Owners, permission bits and directory times of the mirror.
#include "sync/metadata.h"

#include <functional>

#include "sync/debug_log.h"
#include "sync/engine_support.h"
#include "sync/fs_layer.h"

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
    if (e.Is(ErrorKind::Replaced)) {
        LogError(ctx, "Left " + path + " as it is: replaced since it was listed", stats.errors);
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

namespace {

// SetOwnerLike, telling the failure.
FsError SetOwnerOf(CRunContext& ctx, const DirectoryHandle& dir, const std::string& name, const std::string& path,
                   const FileIdentity& expected, const OwnerChange& change, RunStats& stats) {
    if (ctx.debug) {
        DebugLog(ctx, "SetOwner: " + path);
    }
    const FsError e = FsOf(ctx).SetOwnerAt(dir, name, expected, change.owner, change.group);
    Report(ctx, e, "owner", path, stats);
    return e;
}

// Gives name the owner change, then, unless that failed other than by a refusal, its permission
// bits: bitsFor the ids it then has, when they differ from mode or an owner was set, as a change
// of owner may clear set-id bits. The failure of the bits, none when they were not tried (tried).
FsError SetOwnerThenMode(CRunContext& ctx, const DirectoryHandle& dir, const std::string& name, const std::string& path,
                         const FileIdentity& expected, const OwnerChange& change, std::uint32_t owner,
                         std::uint32_t group, std::uint32_t mode,
                         const std::function<std::uint32_t(std::uint32_t owner, std::uint32_t group)>& bitsFor,
                         bool& tried, RunStats& stats) {
    tried = false;
    bool ownerSet = false;
    if (change.Any()) {
        const FsError e = SetOwnerOf(ctx, dir, name, path, expected, change, stats);
        if (e && !Refused(e)) {
            return FsError(); // reported once; the bits would fail the same way
        }
        ownerSet = !e;
        if (ownerSet) {
            owner = change.owner != IFileSystem::kKeepOwner ? change.owner : owner;
            group = change.group != IFileSystem::kKeepOwner ? change.group : group;
        }
    }
    const std::uint32_t bits = bitsFor(owner, group);
    if (bits == mode && !ownerSet) {
        return FsError();
    }
    tried = true;
    if (ctx.debug) {
        DebugLog(ctx, "SetMode: " + path);
    }
    return FsOf(ctx).SetModeAt(dir, name, expected, bits);
}

} // namespace

bool SetOwnerLike(CRunContext& ctx, const DirectoryHandle& dir, const std::string& name, const std::string& path,
                  const FileIdentity& expected, const OwnerChange& change, RunStats& stats) {
    return !SetOwnerOf(ctx, dir, name, path, expected, change, stats);
}

bool KeepAttributes(CRunContext& ctx, const DirectoryHandle& dir, const std::string& name, const std::string& path,
                    const FileEntry& source, const FileEntry& destination, bool giveAway, bool isLink,
                    RunStats& stats) {
    // Both statuses read: the owners are known.
    if (source.mode < 0 || destination.mode < 0) {
        return false;
    }
    IFileSystem& fs = FsOf(ctx);
    const FileIdentity listed{destination.device, destination.inode};
    const OwnerChange change =
        OwnerToGive(fs, giveAway, source.owner, source.group, destination.owner, destination.group);
    if (isLink) {
        if (change.Any()) {
            SetOwnerOf(ctx, dir, name, path, listed, change, stats);
        }
        return change.Any();
    }
    bool tried = false;
    const FsError e = SetOwnerThenMode(
        ctx, dir, name, path, listed, change, destination.owner, destination.group,
        static_cast<std::uint32_t>(destination.mode),
        [&source](std::uint32_t owner, std::uint32_t group) {
            return BitsToGive(static_cast<std::uint32_t>(source.mode), source.owner, source.group, owner, group);
        },
        tried, stats);
    if (e.Is(ErrorKind::Replaced)) {
        Report(ctx, e, "permissions", path, stats);
    } else if (e && !e.Is(ErrorKind::NotSupported)) {
        LogError(ctx, "Failed to set the permissions of " + path + FailureSuffix(e), stats.errors);
    }
    return change.Any() || tried;
}

void PrepareNewDirectory(CRunContext& ctx, const DirectoryHandle& parent, const std::string& name,
                         const std::string& path, const FileStatus& source, bool giveAway, RunStats& stats) {
    IFileSystem& fs = FsOf(ctx);
    // Changed only while its name holds the directory this process made, so the bits go first:
    // once given away it is no longer recognisably the one made.
    // Until its contents are in, nobody but its owner gets more than the source allows.
    if (ctx.debug) {
        DebugLog(ctx, "SetMode: " + path);
    }
    const FsError e = fs.SetModeAt(parent, name, FileIdentity{}, source.mode | kOwnerAll);
    Report(ctx, e, "permissions", path, stats);
    if (e.Is(ErrorKind::Replaced)) {
        return;
    }
    // What the new directory was given is not asked: no id is -1, so every one the rule allows
    // is set.
    const OwnerChange change =
        OwnerToGive(fs, giveAway, source.owner, source.group, IFileSystem::kKeepOwner, IFileSystem::kKeepOwner);
    if (change.Any()) {
        SetOwnerLike(ctx, parent, name, path, FileIdentity{}, change, stats);
    }
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
    fs.SetModeAt(dir, kItself, FileIdentity::Of(now), now.mode | kOwnerWrite);
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
    const OwnerChange change = OwnerToGive(fs, giveAway, source.owner, source.group, now.owner, now.group);
    bool tried = false;
    const FsError e = SetOwnerThenMode(
        ctx, dir, kItself, path, FileIdentity::Of(now), change, now.owner, now.group, now.mode,
        [&source](std::uint32_t, std::uint32_t) { return source.mode; }, tried, stats);
    Report(ctx, e, "permissions", path, stats);
    bool changed = change.Any() || tried;
    if (now.mtimeSeconds != source.mtimeSeconds || now.mtimeNanoseconds != source.mtimeNanoseconds) {
        changed = true;
        if (ctx.debug) {
            DebugLog(ctx, "SetTime: " + path);
        }
        Report(ctx, fs.SetLinkTimeAt(dir, kItself, source.mtimeSeconds, source.mtimeNanoseconds), "time", path, stats);
    }
    return changed;
}
