// The task editor's rules without its widgets: which typed values the job file cannot hold, and
// how the exclusion list is split, joined and completed by a value left typed in its entry field.
#pragma once

#include <string>
#include <vector>

// The warning for a value that cannot be confirmed, or "" when it is fine. Paths refuse "%"; every
// field refuses "<" and line breaks, which the job file cannot hold inside a value.
std::string PathProblem(const std::string& text);
std::string NameProblem(const std::string& text);
std::string ExclusionProblem(const std::string& text);

// Splits "a;;b;" into its non-empty entries and joins entries back with ";".
std::vector<std::string> SplitExclusions(const std::string& text);
std::string JoinExclusions(const std::vector<std::string>& entries);

// An item typed but not added (OK pressed, or Enter in another field) is kept, not dropped; one
// that the list holds already (copied back by a double click) is not doubled. True when pending
// was added.
bool AddPendingExclusion(std::vector<std::string>& entries, const std::string& pending);

// Whether a destination lies where removable disks are mounted (/media, /run/media, /mnt): a new
// task writing there runs only while its disk is mounted, unless the user says otherwise.
bool IsRemovableMountPath(const std::string& destination);
