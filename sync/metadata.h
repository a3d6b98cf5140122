// What a restore needs besides content: the owner, group, permission bits and modification time
// of the entries that mirror a source, carried as far as this process may.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "sync/run_context.h"

// The ids to give a destination entry; kKeepOwner where nothing changes.
struct OwnerChange {
    std::uint32_t owner = IFileSystem::kKeepOwner;
    std::uint32_t group = IFileSystem::kKeepOwner;
    bool Any() const { return owner != IFileSystem::kKeepOwner || group != IFileSystem::kKeepOwner; }
};

// What of the source's ownership an existing destination entry lacks: all of it when this
// process may give files away (giveAway), else only a group the process belongs to.
OwnerChange OwnerToGive(IFileSystem& fs, bool giveAway, std::uint32_t sourceOwner, std::uint32_t sourceGroup,
                        std::uint32_t destinationOwner, std::uint32_t destinationGroup);

// Sets the ids on name itself (never through a link), only while it is the expected entry (see
// IFileSystem::SetOwnerCheckedAt). A refusal by the system (not permitted, ids the file system
// cannot hold) keeps what is there silently: a user cannot give files away. Another entry under
// the name, or another failure, is a Red line and an error. True when the ids were set.
bool SetOwnerLike(CRunContext& ctx, const DirectoryHandle& dir, const std::string& name, const std::string& path,
                  const FileIdentity& expected, const OwnerChange& change, RunStats& stats);

struct FileEntry;
// A destination file found the same as its source: the source's owner and bits, set on the
// very entry listed (never a link's target, nor a file put under the name since: that is left
// alone with a Red line and an error). A link keeps its bits, which would reach its target.
// Nothing is asked of the system when nothing differs. True when it tried to change something.
bool KeepAttributes(CRunContext& ctx, const DirectoryHandle& dir, const std::string& name, const std::string& path,
                    const FileEntry& source, const FileEntry& destination, bool giveAway, bool isLink, RunStats& stats);

// A directory just made for a source directory: its owner, and the source's permission bits
// widened so that its owner can fill it. The exact bits wait for FinishDirectory.
void PrepareNewDirectory(CRunContext& ctx, const DirectoryHandle& parent, const std::string& name,
                         const std::string& path, const FileStatus& source, bool giveAway, RunStats& stats);

// An existing destination directory whose source is read-only to its owner was left read-only
// by an earlier run; an unprivileged run makes it writable to its owner until FinishDirectory.
// True when it changed something.
bool OpenUpDirectory(CRunContext& ctx, const DirectoryHandle& dir, const std::string& path, const FileStatus& source,
                     bool giveAway);

// Once everything inside the directory is done: its owner, permission bits and modification
// time become the source's. A failure the system refuses by policy is kept silently; another
// is a Red line and an error. True when it changed or tried to change something.
bool FinishDirectory(CRunContext& ctx, const DirectoryHandle& dir, const std::string& path, const FileStatus& source,
                     bool giveAway, RunStats& stats);
