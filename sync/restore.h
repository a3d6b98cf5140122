// Restoring a file or folder of a destination as it was at an earlier time, from the versions
// that runs kept of it. Copied out, never moved: the kept versions stay.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/task.h"
#include "platform/file_system.h"
#include "sync/run_context.h"
#include "sync/versions.h"

// One kept version of a path: the run folder that holds it and what the entry was.
struct KeptVersion {
    RunFolder run;
    FileStatus status;
};

// Every kept version of relative (destination-relative, native separators), oldest first. A
// destination that kept nothing has none; error is set when a folder could not be read (the
// versions found elsewhere are still returned).
std::vector<KeptVersion> ListKeptVersions(IFileSystem& fs, const std::string& destination, const std::string& relative,
                                          FsError& error);

// Restores relative as it was at `at` (seconds, local calendar time as in run folder names) into
// the destination (into empty) or into the folder into, as into/<last name>. The state at a time
// is what the first run since then kept of the path; when no run since kept it, the destination
// already holds that state and nothing changes. In the destination what is there now is kept
// first, in a run folder of its own, so that -undo takes the restore back; in another folder a
// name that is taken is refused. A failure leaves the target as it was. Logs through ctx like a
// run; with task.fakeIt logs and changes nothing. False on refusal or failure (counted in
// stats.errors). atSequence tells run folders of the same second apart, as their _N suffix does:
// a run folder's name as the time is what the path was just before that folder was made.
bool RestoreVersion(CRunContext& ctx, const Task& task, const std::string& relative, std::int64_t at,
                    const std::string& into, RunStats& stats, int atSequence = 1);

// A calendar time as CalendarSeconds counts it, as "YYYY-MM-DD HH:MM:SS".
std::string CalendarText(std::int64_t seconds);
