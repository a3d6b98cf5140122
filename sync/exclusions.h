// Exclusion lists and attribute filters: which source directories and files take part.
#pragma once

#include <string>

#include "sync/fs_layer.h"

enum class ExclusionResult { NotExcluded, ExcludedExactly, ExcludedByPrefix };

std::string NormaliseExclusions(const std::string& exclusions, const std::string& source,
                                const std::string& driveLetter);
ExclusionResult DirectoryExclusion(const std::string& list, const std::string& path);
bool IsIncluded(const FileEntry& file, const std::string& list, const std::string& dir, bool excludeSystem,
                bool excludeHidden);
// What one typed exclusion item will match, in a few words for the task editor.
std::string DescribeExclusion(const std::string& item);

// The exclusion items a source keeps in its top folder, one a line, "#" starting a comment line.
inline constexpr const char* kIgnoreFileName = ".pemoignore";
// Adds the items of source's ignore file to a task's list. NotFound when the source has none (or
// cannot be opened: the walk reports that); NotSupported for a link, a special file or one over a
// MiB, which are never read. The list is unchanged on a failure.
FsError AddIgnoreFileItems(IFileSystem& fs, const std::string& source, std::string& exclusions);
