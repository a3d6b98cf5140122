// The Task record: one synchronisation task of a job.
#pragma once

#include <cstdint>
#include <string>

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
    std::int32_t lastRun = -1;         // seconds since 1970 UTC; -1 = never run
    std::uint32_t colour = 0x00FFFFFF; // 0x00BBGGRR

    bool operator==(const Task&) const = default;
};
