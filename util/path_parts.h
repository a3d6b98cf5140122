// Splitting a path into the directory that holds its last component and that component, and
// joining them again, for files the program names by path (job, settings, units). "/" separates;
// on Windows "\" does too.
#pragma once

#include <string>

// "." for a bare name; the root itself ("/", and on Windows "C:\" or "\") for a name in a root.
std::string DirectoryPartOf(const std::string& path);
// The part after the last separator, or the whole path when it has none.
std::string NamePartOf(const std::string& path);
// directory and name with one separator between them (none added after a root that ends in one);
// name alone when directory is empty.
std::string JoinedPath(const std::string& directory, const std::string& name);
