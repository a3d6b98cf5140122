// The unattended undo of -auto -undo: the job's tasks, one after another, each back to where it
// stood before its last run.
#pragma once

#include <cstdio>

#include "platform/file_system.h"
#include "run/start_options.h"

// Undoes the last run of each enabled task of the job (only options.taskName's when given) and
// returns the exit status: 0 when every task was undone or had nothing to undo, 1 when one was
// refused or failed, 2 when the job could not be read or has no task of that name. Lines go to
// out (failures to err as well), none to out with options.quiet.
int RunUndo(const StartOptions& options, IFileSystem& fs, std::FILE* out, std::FILE* err);
