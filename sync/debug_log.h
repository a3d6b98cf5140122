// The debug log "debug.log": one UTF-16 line per call, appended and closed each time.
#pragma once

#include <string>

#include "sync/run_context.h"

// Callers test ctx.debug first. Callable from any thread; lines never interleave.
// The file is written through the context's file system.
void DebugLog(CRunContext& ctx, const std::string& text);
