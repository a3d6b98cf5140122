// Names on destinations that do not hold every name the source may: file systems that fold
// case, and those that refuse some characters (FAT, exFAT, NTFS as other systems use them).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct FsError;

// The name with every letter of the common scripts (Latin, Greek, Cyrillic) folded to its simple
// lower case; other bytes, and bytes that are no valid UTF-8, kept as they are.
std::string FoldCase(std::string_view name);
// A hash of FoldCase(name), without building it.
std::uint64_t FoldedCaseHash(std::string_view name);
// The names (of one directory, any order) that fold to one name with an earlier one in byte
// order: each as (first, other), in byte order of the other.
std::vector<std::pair<std::string, std::string>> CaseConflicts(const std::vector<std::string_view>& names);
// The name with its ASCII letters' case flipped; false when it has none.
bool FlipAsciiCase(std::string_view name, std::string& flipped);

// True for a name that FAT, exFAT or NTFS may refuse: one of " * / : < > ? \ | or a control
// character in it, a trailing dot or space, or a device name of those systems (CON, NUL, COM1...).
bool NameForeignSystemsRefuse(std::string_view name);
// Whether a failure to create name on the destination is that destination refusing the name
// itself: a failure of the kind such file systems give, for a name they refuse.
bool DestinationRefusedName(std::string_view name, const FsError& error);
// The Red line of such a refusal, for the source path whose copy it stops.
std::string RefusedNameLine(const std::string& sourcePath, std::string_view name);
