// The main window's title and the ".job" naming of job files chosen in the window.
#pragma once

#include <string>

inline constexpr const char* kProgramTitle = "Pemo v" PEMO_VERSION;

// kProgramTitle, or the job file's name without its directory and final ".job" before it.
std::string TitleForJobPath(const std::string& path);
// True when the name ends in ".job", in any case.
bool HasJobExtension(const std::string& path);
// The name as the file dialogs take it: ".job" appended unless it ends in it already.
std::string WithJobExtension(const std::string& path);
