// Mirroring one source directory into one destination directory.
#pragma once

#include <cstdint>
#include <string>

#include "model/task.h"
#include "sync/fs_layer.h"
#include "sync/run_context.h"
#include "sync/time_rule.h"

// Whether SameFile's answer depends on the rule: one size, and times not equal to the nanosecond.
// Where it does not, no rule need be found.
bool TimesDecide(const FileEntry& d, const FileEntry& s);
// Equal sizes, and times the same under rule (an hour apart counting as the same with oneHour).
bool SameFile(const FileEntry& d, const FileEntry& s, bool onlyIfNewer, bool oneHour, const TimeRule& rule);

// The task supplies the switches (fakeIt, recurse, safeMode, checkOpen, excludeSystem,
// excludeHidden, onlyIfNewer, rename, excludeSystemDirs, excludeHiddenDirs, oneHour); its own
// paths and exclusion text are not used. Runs on the run thread; never throws.
void DoDirectory(CRunContext& ctx, std::string source, std::string destination, const std::string& exclusions,
                 const Task& task, RunStats& stats);
