// The record a run leaves in its folder of kept versions: what it added, replaced and deleted,
// so that the run can be undone. Text, UTF-8, one item a line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The folder, at the top of a destination, that holds the kept versions; and the manifest's name
// inside each run's folder.
inline constexpr std::string_view kVersionsFolderName = ".pemo-versions";
inline constexpr std::string_view kManifestName = ".pemo-manifest";

struct ManifestAction {
    enum class Kind : char { Added = 'A', Replaced = 'R', Deleted = 'D' };
    Kind action = Kind::Added;
    char entry = 'f'; // 'f' file, 'd' directory, 'l' link
    // For Added and Replaced the entry the run left in the destination, for Deleted the kept one.
    std::optional<std::uint64_t> size;
    std::optional<std::int64_t> mtimeNanoseconds; // since 1970 UTC
    std::string path;                             // relative to the destination, '/' between levels

    bool operator==(const ManifestAction&) const = default;
};

struct VersionManifest {
    std::string task;
    std::string source;
    std::string destination;
    std::string started; // the run folder's time, YYYY-MM-DD_HH-MM-SS
    std::vector<ManifestAction> actions;

    bool operator==(const VersionManifest&) const = default;
};

// The whole text of a manifest.
std::string FormatManifest(const VersionManifest& manifest);
// Reads a manifest's text; false with error set (the line and what is wrong) when it is not one.
// Unknown keys are skipped, so that a later writer may add some.
bool ParseManifest(std::string_view text, VersionManifest& manifest, std::string& error);

// A name or path as the manifest holds it: bytes below 0x20, 0x7f and '%' as %XX (upper hex).
std::string EncodeManifestField(std::string_view text);
// The reverse; false when a '%' is not followed by two hex digits.
bool DecodeManifestField(std::string_view text, std::string& decoded);

// The folder name of a run started at the given local time, YYYY-MM-DD_HH-MM-SS.
std::string RunFolderName(int year, int month, int day, int hour, int minute, int second);
// Seconds since 1970 of a calendar time counted as if it were UTC: local times compare so.
std::int64_t CalendarSeconds(int year, int month, int day, int hour, int minute, int second);
// Whether name is a run folder's name; its time (as CalendarSeconds) goes to seconds, and its
// _N suffix, 1 without one, to sequence.
bool ParseRunFolderName(std::string_view name, std::int64_t& seconds, int& sequence);

// A time as -at takes it: "YYYY-MM-DD" (the start of that day), "YYYY-MM-DD HH:MM" or
// "YYYY-MM-DD HH:MM:SS" (local time), or a run folder's name. seconds as CalendarSeconds counts
// them, and sequence the _N of a run folder's name (1 for any other form); false when text is
// none of these or no real date.
bool ParseRestoreTime(const std::string& text, std::int64_t& seconds, int& sequence);
