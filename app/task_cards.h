// The texts of the main window's task list and status bar, computed from the job without
// widgets: one card per task, and the counts below the list.
#pragma once

#include <string>

#include "model/task.h"

// The last-run time in the strftime format, or "" for a task that never ran (lastRun -1) or a
// time that cannot be formatted.
std::string LastRunText(std::int32_t lastRun, const std::string& dateTimeFormat);
// The card's five lines: name, source, destination, exclusions, last run.
std::string TaskCardText(const Task& task, const std::string& dateTimeFormat);
// The status bar's fields: "Tasks: 2, disabled: 1", and the drive letter's.
std::string TaskCountText(int tasks, int disabled);
std::string DriveLetterText(const std::string& driveLetter);
