// Copying one file for the engine: lock check, announcement, progress, pause, stop and the
// retry after clearing a read-only destination.
#include "sync/copy.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "sync/debug_log.h"
#include "sync/engine_support.h"
#include "util/texts.h"

void CopyProgress(CRunContext& ctx, std::uint64_t total, std::uint64_t transferred) {
    if (total != 0) {
        std::uint64_t whole = transferred * 100 / total;
        // A source that grew while being copied would pass 100.
        int percent = whole > 100 ? 100 : static_cast<int>(whole);
        if (percent != ctx.lastPercent.load()) {
            if (ctx.window != nullptr) {
                char text[16];
                std::snprintf(text, sizeof text, "%02i%%", percent);
                ctx.window->SetPercentText(text);
                ctx.window->SetFileProgress(percent);
            }
            ctx.lastPercent = percent;
        }
    }
    while (ctx.paused.load() && ctx.stopRequested.load() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

bool YCopyFile(CRunContext& ctx, const std::string& source, const std::string& destination, bool isNew, bool checkOpen,
               CLargeNumber size, bool fakeIt, bool* stopped) {
    if (stopped != nullptr) {
        *stopped = false;
    }
    if (ctx.debug) {
        DebugLog(ctx, "YCopyFile: " + source + " -> " + destination);
    }
    IFileSystem& fs = FsOf(ctx);
    if (checkOpen) {
        bool locked = false;
        int e = fs.CheckLocked(source, locked);
        if (e != 0) {
            LogLine(ctx, "Failed to check lock on file " + source, LogColour::Red);
            return false;
        }
        if (locked) {
            LogLine(ctx, "Not copying locked file " + source, LogColour::Red);
            return false;
        }
    }
    if (isNew) {
        LogLine(ctx, "Adding file " + source, LogColour::Green);
    } else {
        LogLine(ctx, "Updating file " + destination, LogColour::Green);
    }
    ctx.activity = Copying;
    if (ctx.window != nullptr) {
        ctx.window->SetCurrentFileText(BaseName(source) + " (" + SizeText(size) + ")");
    }
    ctx.lastPercent = 0;
    if (fakeIt) {
        return true;
    }

    CopyProgressFn progress = [&ctx](std::uint64_t total, std::uint64_t transferred) {
        CopyProgress(ctx, total, transferred);
    };
    CopyResult result = fs.CopyFileContent(source, destination, progress, &ctx.stopRequested);
    if (result.outcome == CopyOutcome::Failed && (result.error == EACCES || result.error == EPERM)) {
        fs.SetNormalAttributes(destination);
        result = fs.CopyFileContent(source, destination, progress, &ctx.stopRequested);
    }

    if (ctx.window != nullptr) {
        ctx.window->SetPercentText("");
        ctx.window->SetFileProgress(0);
        ctx.window->SetCurrentFileText("");
    }
    ctx.activity = Working;

    if (result.outcome == CopyOutcome::Failed) {
        LogLine(ctx, "Failed to copy file " + source + " to " + destination + FailureSuffix(result.error),
                LogColour::Red);
        return false;
    }
    if (stopped != nullptr) {
        *stopped = result.outcome == CopyOutcome::Cancelled;
    }
    return true;
}
