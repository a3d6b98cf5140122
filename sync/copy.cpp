// Copying one file for the engine: lock check, announcement, progress, pause, stop and the
// retry after clearing a read-only destination.
#include "sync/copy.h"

#include <cstdio>

#include "platform/file_system.h"
#include "sync/debug_log.h"
#include "sync/engine_support.h"
#include "sync/foreign_names.h"
#include "util/texts.h"

namespace {

// The whole percentage of a copy; a source that grew while being copied would pass 100.
int PercentOf(std::uint64_t total, std::uint64_t transferred) {
    const std::uint64_t whole = transferred * 100 / total;
    return whole > 100 ? 100 : static_cast<int>(whole);
}

void ShowPercentIn(IProgressSink& window, int percent) {
    char text[16];
    std::snprintf(text, sizeof text, "%02i%%", percent);
    window.SetPercentText(text);
    window.SetFileProgress(percent);
}

// The file label, or with an empty one the end of the copy: percentage and label cleared.
void ShowFileIn(IProgressSink& window, const std::string& label) {
    if (label.empty()) {
        window.SetPercentText("");
        window.SetFileProgress(0);
    }
    window.SetCurrentFileText(label);
}

} // namespace

void CopyProgress(CRunContext& ctx, std::uint64_t total, std::uint64_t transferred) {
    if (total != 0) {
        const int percent = PercentOf(total, transferred);
        if (percent != ctx.lastPercent.load()) {
            if (ctx.window != nullptr) {
                ShowPercentIn(*ctx.window, percent);
            }
            ctx.lastPercent = percent;
        }
    }
    ctx.paused.WaitWhilePaused(ctx.stopRequested);
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

void CopyJournal::ShowFile(const std::string& label) {
    std::lock_guard<std::mutex> lock(mutex_);
    label_ = label;
    percent_ = 0;
    if (window_ != nullptr) {
        ShowFileIn(*window_, label);
    }
}

void CopyJournal::ShowPercent(int percent) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (percent == percent_) {
        return;
    }
    percent_ = percent;
    if (window_ != nullptr) {
        ShowPercentIn(*window_, percent);
    }
}

void CopyJournal::Watch(IProgressSink* window) {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = window;
    if (window_ == nullptr || label_.empty()) {
        return;
    }
    window_->SetCurrentFileText(label_);
    if (percent_ != 0) {
        ShowPercentIn(*window_, percent_);
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

// A failure: its Red line, for the caller when it asked for it.
CopyVerdict Fail(CRunContext& ctx, const CopyOptions& options, const std::string& text) {
    if (options.failure != nullptr) {
        *options.failure = text;
    } else {
        Say(ctx, options, text, LogColour::Red);
    }
    return CopyVerdict::Failed;
}

// The current-file label; an empty one ends the copy's display.
void ShowFile(CRunContext& ctx, const CopyOptions& options, const std::string& label) {
    if (options.journal != nullptr) {
        options.journal->ShowFile(label);
    } else if (ctx.window != nullptr) {
        ShowFileIn(*ctx.window, label);
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
        return Fail(ctx, options, "Not copying " + source.path + ": replaced since it was listed");
    }
    if (options.checkOpen) {
        bool locked = true;
        FsError e = openError ? FsError() : fs.CheckOpenFileLocked(in, locked);
        if (e) {
            return Fail(ctx, options, "Failed to check lock on file " + source.path);
        }
        if (locked) {
            return Fail(ctx, options, "Not copying locked file " + source.path);
        }
    }
    if (options.isNew) {
        Say(ctx, options, "Adding file " + source.path, LogColour::Green);
    } else {
        Say(ctx, options, "Updating file " + destination.path, LogColour::Green);
    }
    ctx.activity = Copying;
    ShowFile(ctx, options, BaseName(source.path) + " (" + SizeText(size) + ")");
    if (options.journal == nullptr) {
        ctx.lastPercent = 0;
    }
    if (options.fakeIt) {
        return CopyVerdict::Copied;
    }

    std::uint64_t moved = 0; // by the attempt under way; a new attempt starts again from 0
    CopyProgressFn progress = [&ctx, &moved, journal = options.journal](std::uint64_t total,
                                                                        std::uint64_t transferred) {
        if (transferred < moved) {
            moved = 0;
        }
        if (transferred > moved && ctx.window != nullptr) {
            ctx.window->AddBytesCopied(transferred - moved);
        }
        moved = transferred;
        if (journal == nullptr) {
            CopyProgress(ctx, total, transferred);
            return;
        }
        if (total != 0) {
            journal->ShowPercent(PercentOf(total, transferred));
        }
        ctx.paused.WaitWhilePaused(ctx.stopRequested);
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

    ShowFile(ctx, options, "");
    ctx.activity = Working;

    switch (result.outcome) {
    case CopyOutcome::SourceChanged:
        return Fail(ctx, options, "File changed while being copied: " + source.path);
    case CopyOutcome::Failed:
        if (!openError && destination.dir != nullptr && DestinationRefusedName(destination.name, result.error)) {
            return Fail(ctx, options, RefusedNameLine(source.path, destination.name));
        }
        return Fail(ctx, options,
                    "Failed to copy file " + source.path + " to " + destination.path + FailureSuffix(result.error));
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
