// Guards against mass deletion: a task whose source lists nothing (an unmounted drive looks
// exactly so) deletes nothing, and a run deletes at most -maxdelete:N files.
#pragma once

#include <cstddef>
#include <string>

#include "model/task.h"
#include "sync/run_context.h"

// At a task's top level: true (logged Red, errors + 1) when the source listed no entry at all
// while the destination holds some, and the emptyGuard setting is on; the task then does nothing
// more. Safe mode deletes nothing anyway and is let through.
bool EmptySourceRefused(CRunContext& ctx, const Task& task, const std::string& source, const std::string& destination,
                        std::size_t sourceEntries, std::size_t destinationEntries, RunStats& stats);

// Whether a destination extra may be deleted under the run's limit. Files are what count, as in
// `deleted`: a file counts 1, a directory the files of its whole tree, so a directory that would
// take the run past the limit is kept whole. The first refusal logs the Red limit line (errors +
// 1) and from then on nothing more is deleted in the run; each refused extra, file or directory,
// gets the Purple line "Not deleting " + path + " (deletion limit)" and adds 1 to `saved`.
bool MayDelete(CRunContext& ctx, const std::string& path, bool isDirectory, RunStats& stats);
// Whether a file the run replaces while keeping versions may be replaced under the limit: its
// old version leaves the mirror as a deleted file does, so it counts as one deletion. Decided
// ahead of the file's lines, which ReplacementHeldBack then writes for a refusal.
bool MayReplaceKept(CRunContext& ctx, const RunStats& stats);
// The lines of a replacement the limit held back, as MayDelete writes them for a deletion
// ("Not replacing " + path + " (deletion limit)"), and saved + 1.
void ReplacementHeldBack(CRunContext& ctx, const std::string& path, RunStats& stats);
