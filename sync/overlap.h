// Where a task's source and destination overlap: a destination that holds the source would be
// emptied by the mirror, and one inside the source would be mirrored into itself.
#pragma once

#include <string>

#include "sync/run_context.h"

// False (logged Red, errors + 1) when the destination holds the source. Otherwise true, and skip
// receives the source-side path of a destination that lies inside the source (empty when it
// does not), which the walk then leaves out. Paths that cannot be resolved are let through: the
// walk reports them when it lists them.
bool CheckOverlap(CRunContext& ctx, const std::string& source, const std::string& destination, RunStats& stats,
                  std::string& skip);
