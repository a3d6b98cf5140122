// Undoing a task's last run from its kept versions: what the run added or left over replaced
// entries moves into a new run folder, and what it kept moves back.
#pragma once

#include "model/task.h"
#include "sync/run_context.h"

// Undoes the newest run folder of the task's destination that has a manifest, after checking
// that every entry it names is still as the run left it; when one is not, nothing changes and the
// entries are named. The new folder's manifest undoes the undo. With fakeIt the lines are logged
// and nothing changes. Runs on the run thread; false when the task was refused or failed (each
// failure is counted in stats.errors).
bool UndoLastRun(CRunContext& ctx, const Task& task, RunStats& stats);
