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
