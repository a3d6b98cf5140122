// The counting pre-pass: how many bytes a task's source holds.
#pragma once

#include <string>

#include "sync/run_context.h"
#include "util/large_number.h"

// The bytes below path that the mirror may visit: every readable file, excluded and hidden ones
// included; only directories the exclusion list leaves out are skipped. 0 when stopped or when
// path cannot be listed. Runs on the counting thread; logs nothing but debug lines.
CLargeNumber CountDirectory(CRunContext& ctx, const std::string& path, const std::string& list, bool recurse);
CLargeNumber FileSizeOf(CRunContext& ctx, const std::string& path);
