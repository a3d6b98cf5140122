// The running program's own process and whether another one still exists.
#pragma once

#include <string>

#include "platform/fs_error.h"

long CurrentProcessId();
// True unless the system says no process has the id (one of another user counts as existing).
bool ProcessExists(long pid);

// Makes path the process's current directory, where the files named without a folder (the run
// log, summary.log, pemo.ini) are written.
FsError ChangeCurrentDirectory(const std::string& path);
