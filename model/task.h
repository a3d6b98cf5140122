// The Task record: one synchronisation task of a job.
#pragma once

#include <cstdint>
#include <string>

// The retention a task made in the window starts with.
inline constexpr std::int32_t kDefaultVersionDays = 30;

// What a task does with a link in its source: makes the same link in the destination, leaves it
// out, or copies the file it points to (only one inside the source).
enum class LinkPolicy : std::int32_t { Mirror = 0, Skip = 1, CopyTarget = 2 };

struct Task {
    std::string name;
    std::string source;
    std::string destination;
    std::string exclusions;
    bool enabled = true;
    bool recurse = true;
    bool safeMode = false;
    bool checkOpen = false;
    bool fakeIt = false;
    bool excludeHidden = false;
    bool excludeSystem = false;
    bool onlyIfNewer = false;
    bool rename = false;
    bool excludeSystemDirs = false;
    bool excludeHiddenDirs = false;
    bool oneHour = false;
    // The task runs only while its destination lies on a mounted file system other than the
    // system's root, so that an absent removable disk is not filled in on the system disk.
    bool mustBeMounted = false;
    LinkPolicy linkPolicy = LinkPolicy::Mirror;
    // Keep what a run deletes or overwrites: for this many days (0 = off), and at most this many
    // versions of one file (0 = no limit).
    std::int32_t versionDays = 0;
    std::int32_t versionCount = 0;
    std::int32_t lastRun = -1;         // seconds since 1970 UTC; -1 = never run
    std::uint32_t colour = 0x00FFFFFF; // 0x00BBGGRR

    bool KeepsVersions() const { return versionDays > 0; }

    bool operator==(const Task&) const = default;
};
