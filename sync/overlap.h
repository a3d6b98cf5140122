// Where a task's source and destination overlap: a destination that holds the source would be
// emptied by the mirror, and one inside the source would be mirrored into itself.
#pragma once

#include <string>

#include "sync/run_context.h"

// False (logged Red, errors + 1) when the destination holds the source. A destination inside the
// source is no overlap here: the walk knows it by its identity and leaves it out. Paths that
// cannot be resolved are let through: the walk reports them when it lists them.
bool CheckOverlap(CRunContext& ctx, const std::string& source, const std::string& destination, RunStats& stats);
