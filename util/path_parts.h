// Splitting a "/"-separated path into the directory that holds its last component and that
// component, for files the program names by path (job, settings, units).
#pragma once

#include <string>

// "." for a bare name, "/" for a name in the root.
std::string DirectoryPartOf(const std::string& path);
// The part after the last "/", or the whole path when it has none.
std::string NamePartOf(const std::string& path);
