// The unattended restore of -auto -restore: one path of a task's destination as it was at a time,
// or the list of its kept versions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/file_system.h"
#include "run/start_options.h"

// Restores options.restorePath (in a task's destination, in its source and then mapped to the
// destination, or relative to -task's destination) as it was at options.restoreAt, into the
// destination or options.restoreTo; without a time lists the kept versions of the path. Returns
// the exit status: 0 done (or nothing to do), 1 refused or failed, 2 the job, task or path
// cannot be used.
int RunRestore(const StartOptions& options, IFileSystem& fs, std::FILE* out, std::FILE* err);
