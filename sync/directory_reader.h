// CDirectoryReader: the one way the engine lists a directory, for mirroring, counting, tree
// removal and the deletion limit. It reads the level a tree cursor stands at, so every level
// below the top is reached relative to its parent and never through a link.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/fs_error.h"

class CTreeCursor;

// Reads one level, entry by entry, in the file system's order. Lives no longer than the cursor
// stays at that level: it keeps the level's directory for the status queries.
class CDirectoryReader {
public:
    CDirectoryReader(IFileSystem& fs, CTreeCursor& tree);
    // Reads a directory already open, apart from any walk (a level read ahead of it); Open then
    // has nothing left to do.
    CDirectoryReader(IFileSystem& fs, const DirectoryHandle& dir);
    CDirectoryReader(const CDirectoryReader&) = delete;
    CDirectoryReader& operator=(const CDirectoryReader&) = delete;

    // Reaches the cursor's current level. A failure here means the level itself could not be
    // reached (missing, not a directory, a link); List's means it was reached but not listed.
    FsError Open();
    // Starts the listing of the level Open reached.
    FsError List();
    // Open, then List.
    FsError OpenAndList();
    // The next entry; false at the end of the listing or when it broke off (see End).
    bool Next(DirEntry& entry);
    // What ended the listing: none when it ran to its end.
    FsError End() const;
    // The whole level, for walks that close the listing before descending. None, or the first
    // failure (entries then holds what was read before it).
    FsError ReadAll(std::vector<DirEntry>& entries);

    // An entry's status, looked up in the level that is being read.
    FsError StatusOf(const std::string& name, bool followLink, FileStatus& status);
    // The open level; null before Open succeeded.
    const DirectoryHandle* Directory() const { return dir_; }

private:
    IFileSystem& fs_;
    CTreeCursor* tree_ = nullptr;
    const DirectoryHandle* dir_ = nullptr;
    std::unique_ptr<IDirectoryStream> stream_;
};
