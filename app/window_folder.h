// Where a window start works: the run log, summary.log, pemo.ini and debug.log are written to the
// current directory, and a window started from the desktop would otherwise put them in the home
// folder, far from the job they belong to.
#pragma once

#include <string>

#include "platform/file_system.h"

// Makes the folder of jobFile the current directory and returns the job's path from there on
// (absolute). A job named without a folder (default.job when none is named) is already in the
// current directory: nothing moves. When the folder cannot be entered the current directory
// stays, and jobFile comes back unchanged so that loading it reports what is wrong with it.
// Called once, before the job or the settings are read; -auto never calls it, since a cron line
// chooses its own directory.
std::string EnterJobFolder(const std::string& jobFile, IFileSystem& fs);
