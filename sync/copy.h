// Copying one file for the engine: lock check, announcement, progress, pause, stop and retry.
#pragma once

#include <string>

#include "sync/run_context.h"
#include "util/large_number.h"

// True when copied, in fake-it mode and when stopped by the user; false (already logged Red)
// when the file was locked, the lock check failed or the copy failed.
bool YCopyFile(CRunContext& ctx, const std::string& source, const std::string& destination, bool isNew,
               bool checkOpen, CLargeNumber size, bool fakeIt);
