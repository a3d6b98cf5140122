// How the modification times of a source file and of its copy are compared, and what a task's
// destination keeps of the times its copies are given, found out once per task.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "sync/run_context.h"

inline constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// Two times are the same when, each cut down to whole units, they differ by at most slack units.
struct TimeRule {
    std::int64_t unitNanoseconds = kNanosecondsPerSecond; // divides a second, or is one
    std::int64_t slack = 0;
};

// Where a file system is known to keep times as they are set: whole seconds.
inline constexpr TimeRule kWholeSecondTimes{kNanosecondsPerSecond, 0};
// Where it may round them, as FAT does to two seconds: 4 seconds either way.
inline constexpr TimeRule kCoarseTimes{kNanosecondsPerSecond, 4};

// The time a probe sets: an odd second, so that two-second rounding shows, and nine non-zero
// digits of 6 to 8, so that the trailing zeros of what stays give the unit kept and a rounding
// shows by moving up without a carry.
inline constexpr FileTime kProbeTime{1234567891, 876876876};

// The rule for a destination on which kProbeTime, once set, read back as kept; none when what
// was set did not stay.
std::optional<TimeRule> RuleFromProbe(const FileTime& kept);

// The rule of one task's destination: probed in the first directory asked about, and kept for
// every directory of that file system; one elsewhere (a mount point below the destination) or
// in fake-it mode, which writes nothing, goes by the file systems' types. Only the run thread
// calls it. A probe that fails falls back to the types and fails nothing.
class CTaskTimes {
public:
    CTaskTimes(CRunContext& ctx, bool fakeIt);

    // The rule for files in the destination directory at path, open as dir (null when it is not),
    // copied from the source directory at source.
    TimeRule For(const DirectoryHandle* dir, const std::string& path, const std::string& source);

private:
    TimeRule ByType(const std::string& path);
    TimeRule Probe(const DirectoryHandle& dir, const std::string& path);

    CRunContext& ctx_;
    const bool fakeIt_;
    // The unit the source's times are taken to have, found with the first rule.
    std::int64_t sourceUnit_ = 0;
    bool probed_ = false;
    std::uint64_t probedDevice_ = 0;
    TimeRule probedRule_;
};
