// The debug log "debug.log": one UTF-16 line per call, appended and closed each time.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "sync/run_context.h"

// Callers test ctx.debug first. Callable from any thread; lines never interleave.
// The file is written through fs.
void DebugLog(CRunContext& ctx, const std::string& text, IFileSystem& fs = NativeFileSystem());
