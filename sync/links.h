// Source links mirrored as links: compared by their target text, made anew over whatever holds
// the name, and given the source link's owner and time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sync/copy.h"
#include "sync/level_reader.h"
#include "sync/run_context.h"

class CTreeCursor;
struct FileEntry;

// True when name in dir (null: not open) is a link holding link's target text.
bool SameLink(IFileSystem& fs, const DirectoryHandle* dir, const std::string& name, const SourceLink& link);

// Puts link at name in the destination's current level, with its lines, and gives it the owner of
// the source entry when this process may give owners away. Copied (fake-it only announces), or
// Failed with its Red line in *options.failure for the caller to log and count.
CopyVerdict YCopyLink(CRunContext& ctx, CTreeCursor& destination, const std::string& name, const SourceLink& link,
                      const FileEntry& source, const std::string& sourcePath, const CopyOptions& options, bool giveAway,
                      RunStats& stats);

// The link that holds name in the source's current level, though it was listed as a file: its
// target and time, and its status in entry.
SourceLink ReadSourceLinkNow(IFileSystem& fs, CTreeCursor& source, const std::string& name, FileEntry& entry);

// Where a source link leads when the file it points to is copied in its place.
struct LinkTarget {
    enum class Kind { File, Directory, Special, Missing, Outside, Failed };
    Kind kind = Kind::Failed;
    DirectoryHandle dir; // a File's directory
    std::string name;    // a File's name in dir
    FileStatus status;   // a File's status
    FsError error;       // of a Failed one
};

// Follows the link holding target in the source level level (its names below the source's top)
// one name at a time from the source's top, never looking at anything outside the source: a
// target that leads out (an absolute path elsewhere, ".." above the top, through further links)
// is Outside without a look at where it would lead. Every directory on the way is opened without
// following a link, so a link swapped in meanwhile is read as a link, not passed through.
LinkTarget ResolveLinkTarget(IFileSystem& fs, const std::string& top, const std::vector<std::string>& level,
                             const std::string& target);

// The names of path, split at its separators; empty ones (doubled or trailing separators) left out.
std::vector<std::string> PathNames(std::string_view path);
