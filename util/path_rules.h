// The Windows rules for path text, which job files and debug lines keep on every system: drive
// letters, network (UNC) paths and the long-path prefix.
#pragma once

#include <string>

// The long-path form: "\\?\" before the path, or "\\?\UNC\" in place of a network path's "\\".
std::string LongPath(const std::string& path);

// Whether path is a bare drive such as "C:", which is there while the drive is and is never made.
bool IsDrive(const std::string& path);

// The drive -letter:. stands for: the first character of the program's own path, read after a
// long-path prefix; none (empty) for a program on a network path, which has no drive letter.
std::string ProgramDriveLetter(const std::string& programPath);

// The folder of a Windows path, either slash separating: C:\ for a file in a drive's root (the
// bare C: would mean the drive's current folder), else the path before its last separator; ""
// when the path has no separator.
std::string WindowsDirectoryPartOf(const std::string& path);
// The part after the last separator (or after a drive's colon), or the whole path.
std::string WindowsNamePartOf(const std::string& path);
