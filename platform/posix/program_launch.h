// Finding and starting a program installed with this one (the window program beside the
// command-line one).
#pragma once

#include <string>
#include <vector>

// The first candidate that names an executable regular file. A relative candidate is taken from
// the folder of ownPath (this program's own path), an absolute one as it stands. Empty when none
// does, or when ownPath has no folder.
std::string FindCompanionProgram(const std::string& ownPath, const std::vector<std::string>& candidates);

// Replaces this process with program, passing argv (null-terminated) and the environment
// unchanged, so the caller's exit status and process id become the program's. Returns only on
// failure, with the system's error code.
int ReplaceProcess(const std::string& program, char* const* argv);
