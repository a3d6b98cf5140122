// The counting pre-pass: how many bytes a task's source holds.
#pragma once

#include <string>

#include "sync/run_context.h"
#include "util/large_number.h"

CLargeNumber CountDirectory(CRunContext& ctx, const std::string& path, const std::string& list, bool excludeSystem,
                            bool excludeHidden, bool recurse);
CLargeNumber FileSizeOf(CRunContext& ctx, const std::string& path);
