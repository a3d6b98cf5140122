// Source links mirrored as links: compared by their target text, made anew over whatever holds
// the name, and given the source link's owner and time.
#pragma once

#include <string>

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
