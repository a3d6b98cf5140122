// The versions browser's model: the run folders a task's destination keeps, with what each run
// did, read through the file system from the destination's versions area only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/task.h"
#include "model/version_manifest.h"
#include "platform/file_system.h"

// One run folder of the versions area.
struct KeptRun {
    std::string name;         // YYYY-MM-DD_HH-MM-SS, _N when one second had several
    std::int64_t seconds = 0; // its time, as CalendarSeconds counts
    int sequence = 1;         // its _N, telling folders of one second apart
    int added = 0;
    int replaced = 0;
    int deleted = 0;
    std::vector<ManifestAction> entries; // sorted by path
    // Why the folder's record could not be read; empty when it was (or it has none).
    std::string problem;
};

// The run folders of the task's destination, newest first. A destination without a versions
// area has none. False with error set when the destination or its versions area cannot be read.
bool ListKeptRuns(IFileSystem& fs, const Task& task, const std::string& driveLetter, std::vector<KeptRun>& runs,
                  std::string& error);

// The browser's line for a run: its time and what it did.
std::string KeptRunText(const KeptRun& run);
// The browser's line for an entry of a run: the path and what happened to it.
std::string KeptEntryText(const ManifestAction& action);
// Whether the run folder holds the entry as it was before that run (it replaced or deleted it).
bool HoldsEarlierVersion(const ManifestAction& action);
