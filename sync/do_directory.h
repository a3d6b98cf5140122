// Mirroring one source directory into one destination directory.
#pragma once

#include <cstdint>
#include <string>

#include "model/task.h"
#include "sync/fs_layer.h"
#include "sync/run_context.h"

// How many seconds two modification times may differ by and still be the same file: none where
// the destination's file system keeps times as they are set, 4 where it may round them.
inline constexpr std::int64_t kFineTimeTolerance = 0;
inline constexpr std::int64_t kCoarseTimeTolerance = 4;
// The tolerance for files in the destination directory, from its file system.
std::int64_t TimeTolerance(CRunContext& ctx, const std::string& destinationDirectory);

bool SameFile(const FileEntry& d, const FileEntry& s, bool onlyIfNewer, bool oneHour, std::int64_t tolerance);

// The task supplies the switches (fakeIt, recurse, safeMode, checkOpen, excludeSystem,
// excludeHidden, onlyIfNewer, rename, excludeSystemDirs, excludeHiddenDirs, oneHour); its own
// paths and exclusion text are not used. Runs on the run thread; never throws.
void DoDirectory(CRunContext& ctx, std::string source, std::string destination, const std::string& exclusions,
                 const Task& task, RunStats& stats);
