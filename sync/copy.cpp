// Copying one file for the engine: lock check, announcement, progress, pause, stop and the
// retry after clearing a read-only destination.
#include "sync/copy.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/file_system.h"
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

bool YCopyFileAt(CRunContext& ctx, const CopyEnd& source, const CopyEnd& destination, bool isNew, bool checkOpen,
                 CLargeNumber size, bool fakeIt, bool* stopped) {
    if (stopped != nullptr) {
        *stopped = false;
    }
    if (ctx.debug) {
        DebugLog(ctx, "YCopyFile: " + source.path + " -> " + destination.path);
    }
    IFileSystem& fs = FsOf(ctx);
    if (checkOpen) {
        bool locked = false;
        int e = source.dir != nullptr ? fs.CheckLockedAt(*source.dir, source.name, locked) : source.dirError;
        if (e != 0) {
            LogLine(ctx, "Failed to check lock on file " + source.path, LogColour::Red);
            return false;
        }
        if (locked) {
            LogLine(ctx, "Not copying locked file " + source.path, LogColour::Red);
            return false;
        }
    }
    if (isNew) {
        LogLine(ctx, "Adding file " + source.path, LogColour::Green);
    } else {
        LogLine(ctx, "Updating file " + destination.path, LogColour::Green);
    }
    ctx.activity = Copying;
    if (ctx.window != nullptr) {
        ctx.window->SetCurrentFileText(BaseName(source.path) + " (" + SizeText(size) + ")");
    }
    ctx.lastPercent = 0;
    if (fakeIt) {
        return true;
    }

    CopyProgressFn progress = [&ctx](std::uint64_t total, std::uint64_t transferred) {
        CopyProgress(ctx, total, transferred);
    };
    auto attempt = [&]() {
        if (source.dir == nullptr) {
            return CopyResult{CopyOutcome::Failed, source.dirError != 0 ? source.dirError : ENOENT};
        }
        if (destination.dir == nullptr) {
            return CopyResult{CopyOutcome::Failed, destination.dirError != 0 ? destination.dirError : ENOENT};
        }
        return fs.CopyFileAt(*source.dir, source.name, *destination.dir, destination.name, progress,
                             &ctx.stopRequested);
    };
    CopyResult result = attempt();
    if (result.outcome == CopyOutcome::Failed && (result.error == EACCES || result.error == EPERM)) {
        fs.SetNormalAttributesAt(*destination.dir, destination.name);
        result = attempt();
    }
    // A file written to while it was read is copied once more; a second change means it is
    // being written continuously, and a torn copy must not become the mirror.
    if (result.outcome == CopyOutcome::SourceChanged) {
        result = attempt();
    }

    if (ctx.window != nullptr) {
        ctx.window->SetPercentText("");
        ctx.window->SetFileProgress(0);
        ctx.window->SetCurrentFileText("");
    }
    ctx.activity = Working;

    if (result.outcome == CopyOutcome::SourceChanged) {
        LogLine(ctx, "File changed while being copied: " + source.path, LogColour::Red);
        return false;
    }
    if (result.outcome == CopyOutcome::Failed) {
        LogLine(ctx, "Failed to copy file " + source.path + " to " + destination.path + FailureSuffix(result.error),
                LogColour::Red);
        return false;
    }
    if (stopped != nullptr) {
        *stopped = result.outcome == CopyOutcome::Cancelled;
    }
    return true;
}

bool YCopyFile(CRunContext& ctx, const std::string& source, const std::string& destination, bool isNew, bool checkOpen,
               CLargeNumber size, bool fakeIt, bool* stopped) {
    IFileSystem& fs = FsOf(ctx);
    DirectoryHandle sourceDir;
    std::string sourceName;
    int sourceError = fs.OpenParent(source, sourceDir, sourceName);
    DirectoryHandle destinationDir;
    std::string destinationName;
    int destinationError = fakeIt ? 0 : fs.OpenParent(destination, destinationDir, destinationName);
    return YCopyFileAt(ctx, CopyEnd{sourceError == 0 ? &sourceDir : nullptr, sourceError, sourceName, source},
                       CopyEnd{destinationError == 0 && !fakeIt ? &destinationDir : nullptr, destinationError,
                               destinationName, destination},
                       isNew, checkOpen, size, fakeIt, stopped);
}
