// The routines through which the engine inspects and changes single paths, with their run-log
// and debug lines. All file-system access goes through the context's IFileSystem.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs_error.h"
#include "sync/run_context.h"
#include "util/large_number.h"

// One file as the engine compares it. The name is not owned: in a listing it lies in the
// listing's name arena, elsewhere in a string the caller keeps alive.
struct FileEntry {
    std::string_view name;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // seconds since 1970 UTC
    // Which file the status was read of, so that what is done later acts on that very file.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint32_t owner = 0; // user and group ids, read with the mode
    std::uint32_t group = 0;
    std::int32_t modifiedNanoseconds = 0; // the part of modified's second, 0 to 999,999,999
    // Permission bits, set-id bits included; -1 until the status is read. Sixteen bits keep an
    // entry at 64 bytes: a listing of millions of files holds one per file on each side.
    std::int16_t mode = -1;
    bool system = false;
    bool hidden = false;

    // Fills size, modified, system and hidden from the path's status; false (entry unchanged)
    // when the status cannot be read.
    bool YStat(CRunContext& ctx, const std::string& path);
};

bool PathExists(CRunContext& ctx, const std::string& path);
bool IsRegularFile(CRunContext& ctx, const std::string& path);
bool YMakeDirectory(CRunContext& ctx, const std::string& path);
bool YDeleteFile(CRunContext& ctx, const std::string& path, bool fakeIt);
bool DeleteDirectory(CRunContext& ctx, const std::string& path, std::int32_t& filesDeleted, std::int32_t& errors,
                     bool fakeIt);
// Removes a tree depth first, links as links; none or the failure of the step that failed.
FsError ZapDir(CRunContext& ctx, const std::string& path, std::int32_t& filesDeleted);

// As YStat, but followLink false reads a link as itself: the engine reads
// destination entries so, and never judges a destination by what a link points to.
bool YStatEntry(FileEntry& entry, CRunContext& ctx, const std::string& path, bool followLink);
// The walk's forms of the routines above: a name in an open directory (null with dirError when
// it could not be opened) or the current level of a tree cursor; path is the full path shown in
// the log (taken by value: a cursor's own path changes while it walks).
class DirectoryHandle;
class CTreeCursor;
bool YDeleteFileAt(CRunContext& ctx, const DirectoryHandle* dir, const FsError& dirError, const std::string& name,
                   const std::string& path, bool fakeIt);
bool DeleteDirectoryAt(CRunContext& ctx, CTreeCursor& tree, const std::string& path, std::int32_t& filesDeleted,
                       std::int32_t& errors, bool fakeIt);
// As YMakeDirectory; lastError receives the failure of the last level that counted.
bool YMakeDirectory(CRunContext& ctx, const std::string& path, FsError& lastError);
