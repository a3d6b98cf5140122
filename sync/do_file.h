// Bringing a single source file up to date in its destination.
#pragma once

#include <string>

#include "model/task.h"
#include "sync/run_context.h"

// Uses the task's fakeIt, checkOpen, onlyIfNewer and oneHour switches.
void DoFile(CRunContext& ctx, const std::string& source, std::string destination, const Task& task, RunStats& stats);
