// Comparing modification times at the finest unit both sides keep, and the per-task probe.
#include "sync/time_rule.h"

#include <algorithm>

#include "sync/debug_log.h"
#include "sync/engine_support.h"

std::optional<TimeRule> RuleFromProbe(const FileTime& kept) {
    const FileTime set = kProbeTime;
    if (kept.nanoseconds < 0 || kept.nanoseconds >= kNanosecondsPerSecond || kept.seconds < set.seconds - 2 ||
        kept.seconds > set.seconds + 2) {
        return std::nullopt;
    }
    const std::int64_t offset =
        (kept.seconds - set.seconds) * kNanosecondsPerSecond + (kept.nanoseconds - set.nanoseconds);
    if (kept.nanoseconds == 0 && kept.seconds != set.seconds) {
        // Two-second steps (FAT), or whole seconds rounded.
        if (offset < -2 * kNanosecondsPerSecond || offset > 2 * kNanosecondsPerSecond) {
            return std::nullopt;
        }
        return kCoarseTimes;
    }
    std::int64_t unit = 1;
    if (kept.nanoseconds == 0) {
        unit = kNanosecondsPerSecond;
    } else {
        while (kept.nanoseconds % (unit * 10) == 0) {
            unit *= 10;
        }
    }
    if (offset <= -unit || offset >= unit) {
        return std::nullopt;
    }
    // A time kept above the one set was rounded, not cut: a copy may then sit one unit above.
    return TimeRule{unit, offset > 0 ? 1 : 0};
}

CTaskTimes::CTaskTimes(CRunContext& ctx, bool fakeIt) : ctx_(ctx), fakeIt_(fakeIt) {}

TimeRule CTaskTimes::For(const DirectoryHandle* dir, const std::string& path, const std::string& source) {
    if (sourceUnit_ == 0) {
        // The source cannot be written to find out: nanoseconds only on a type known to keep
        // them, whole seconds elsewhere, so that a network or FUSE source whose sub-second parts
        // come and go is not copied again for them.
        sourceUnit_ = FsOf(ctx_).KeepsFineTimes(SystemDirectoryPath(source)) ? 1 : kNanosecondsPerSecond;
    }
    FileStatus status;
    if (fakeIt_ || dir == nullptr || FsOf(ctx_).DirectoryStatus(*dir, status)) {
        return ByType(path);
    }
    if (!probed_) {
        probed_ = true;
        probedDevice_ = status.device;
        probedRule_ = Probe(*dir, path);
    }
    return status.device == probedDevice_ ? probedRule_ : ByType(path);
}

TimeRule CTaskTimes::ByType(const std::string& path) {
    return FsOf(ctx_).KeepsFineTimes(SystemDirectoryPath(path)) ? kWholeSecondTimes : kCoarseTimes;
}

TimeRule CTaskTimes::Probe(const DirectoryHandle& dir, const std::string& path) {
    FileTime kept;
    const FsError error = FsOf(ctx_).ProbeTimesAt(dir, kProbeTime, kept);
    if (error) {
        if (ctx_.debug) {
            DebugLog(ctx_, "Time probe failed in " + path + ": " + ErrorTextOf(error));
        }
        return ByType(path);
    }
    const std::optional<TimeRule> rule = RuleFromProbe(kept);
    if (!rule) {
        LogLine(ctx_,
                "The destination " + path +
                    " does not keep the modification times copies are given: unchanged files may be copied again",
                LogColour::Red);
        return kCoarseTimes;
    }
    if (ctx_.debug) {
        DebugLog(ctx_, "Time probe in " + path + ": unit " + std::to_string(rule->unitNanoseconds) + " ns, slack " +
                           std::to_string(rule->slack));
    }
    return TimeRule{std::max(rule->unitNanoseconds, sourceUnit_), rule->slack};
}
