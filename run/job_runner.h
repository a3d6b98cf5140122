// RunJob: the body of the run thread. One run of all enabled tasks (task null) or of one task,
// with its HTML log frame, statistics, summary line, saved job and end-of-run actions.
#pragma once

#include <string>

#include "model/task.h"

class CRunControl;

void RunJob(CRunControl& frame, Task* task);

// The working form of a task path: a leading "?" stands for the variable drive letter.
std::string WithDriveLetter(const std::string& path, const std::string& driveLetter);

// The local time of the current second in the strftime format, at most 127 characters; empty
// when the conversion or the formatting fails.
std::string FormattedNow(const std::string& format);
