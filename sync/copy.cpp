// Copying one file for the engine: lock check, announcement, progress, pause, stop and the
// retry after clearing a read-only destination.
#include "sync/copy.h"

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

void CopyJournal::Replay(CRunContext& ctx) const {
    for (const Line& line : lines) {
        if (line.debug) {
            DebugLog(ctx, line.text);
        } else {
            LogLine(ctx, line.text, line.colour);
        }
    }
}

namespace {

void Say(CRunContext& ctx, const CopyOptions& options, const std::string& text, LogColour colour) {
    if (options.journal != nullptr) {
        options.journal->lines.push_back(CopyJournal::Line{false, text, colour});
    } else {
        LogLine(ctx, text, colour);
    }
}

void Trace(CRunContext& ctx, const CopyOptions& options, const std::string& text) {
    if (!ctx.debug) {
        return;
    }
    if (options.journal != nullptr) {
        options.journal->lines.push_back(CopyJournal::Line{true, text, LogColour::Bold});
    } else {
        DebugLog(ctx, text);
    }
}

} // namespace

// Kept whole: the steps of one copy and the outcome of each, in the order they happen.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
CopyVerdict YCopyFileAt(CRunContext& ctx, const CopyEnd& source, const CopyEnd& destination, const CLargeNumber& size,
                        const CopyOptions& options) {
    Trace(ctx, options, "YCopyFile: " + source.path + " -> " + destination.path);
    IFileSystem& fs = FsOf(ctx);
    // One open serves the lock check and the copy, so both see the file that was listed.
    FileHandle in;
    FsError openError;
    if (options.checkOpen || !options.fakeIt) {
        openError = source.dir != nullptr
                        ? fs.OpenCopySourceAt(*source.dir, source.name, options.listed, options.followLink, in)
                        : source.dirError;
    }
    if (openError.Is(ErrorKind::IsALink) && !options.followLink) {
        return CopyVerdict::BecameLink;
    }
    if (openError.Is(ErrorKind::Replaced)) {
        Say(ctx, options, "Not copying " + source.path + ": replaced since it was listed", LogColour::Red);
        return CopyVerdict::Failed;
    }
    if (options.checkOpen) {
        bool locked = true;
        FsError e = openError ? FsError() : fs.CheckOpenFileLocked(in, locked);
        if (e) {
            Say(ctx, options, "Failed to check lock on file " + source.path, LogColour::Red);
            return CopyVerdict::Failed;
        }
        if (locked) {
            Say(ctx, options, "Not copying locked file " + source.path, LogColour::Red);
            return CopyVerdict::Failed;
        }
    }
    if (options.isNew) {
        Say(ctx, options, "Adding file " + source.path, LogColour::Green);
    } else {
        Say(ctx, options, "Updating file " + destination.path, LogColour::Green);
    }
    ctx.activity = Copying;
    if (ctx.window != nullptr) {
        ctx.window->SetCurrentFileText(BaseName(source.path) + " (" + SizeText(size) + ")");
    }
    ctx.lastPercent = 0;
    if (options.fakeIt) {
        return CopyVerdict::Copied;
    }

    CopyProgressFn progress = [&ctx](std::uint64_t total, std::uint64_t transferred) {
        CopyProgress(ctx, total, transferred);
    };
    auto attempt = [&]() {
        if (openError) {
            return CopyResult{CopyOutcome::Failed, openError};
        }
        if (destination.dir == nullptr) {
            return CopyResult{CopyOutcome::Failed,
                              destination.dirError ? destination.dirError : FsError::OfKind(ErrorKind::NotFound)};
        }
        return fs.CopyOpenFileAt(in, *destination.dir, destination.name, progress, &ctx.stopRequested);
    };
    CopyResult result = attempt();
    // Only a refusal of the destination itself can be cured by its attributes; a directory that
    // could not even be opened has nothing to reset.
    if (result.outcome == CopyOutcome::Failed && result.error.Is(ErrorKind::AccessDenied) && !openError &&
        destination.dir != nullptr) {
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

    switch (result.outcome) {
    case CopyOutcome::SourceChanged:
        Say(ctx, options, "File changed while being copied: " + source.path, LogColour::Red);
        return CopyVerdict::Failed;
    case CopyOutcome::Failed:
        Say(ctx, options,
            "Failed to copy file " + source.path + " to " + destination.path + FailureSuffix(result.error),
            LogColour::Red);
        return CopyVerdict::Failed;
    case CopyOutcome::Cancelled:
        return CopyVerdict::Stopped;
    case CopyOutcome::Copied:
        break;
    }
    return CopyVerdict::Copied;
}

bool YCopyFile(CRunContext& ctx, const std::string& source, const std::string& destination, bool isNew, bool checkOpen,
               const CLargeNumber& size, bool fakeIt, bool* stopped) {
    IFileSystem& fs = FsOf(ctx);
    DirectoryHandle sourceDir;
    std::string sourceName;
    const FsError sourceError = fs.OpenParent(source, sourceDir, sourceName);
    DirectoryHandle destinationDir;
    std::string destinationName;
    const FsError destinationError = fakeIt ? FsError() : fs.OpenParent(destination, destinationDir, destinationName);
    const CopyVerdict verdict = YCopyFileAt(
        ctx, CopyEnd{sourceError ? nullptr : &sourceDir, sourceError, sourceName, source},
        CopyEnd{destinationError || fakeIt ? nullptr : &destinationDir, destinationError, destinationName, destination},
        size, CopyOptions{.isNew = isNew, .checkOpen = checkOpen, .fakeIt = fakeIt, .listed = {}, .followLink = true});
    if (stopped != nullptr) {
        *stopped = verdict == CopyVerdict::Stopped;
    }
    return verdict != CopyVerdict::Failed;
}
