// ReplaceFile: writes a file the user cares about through a temporary file in the same directory
// that is renamed over the old one, so a failure part-way never costs the old content.
#pragma once

#include <functional>
#include <string>

#include "model/stdio_file_ex.h"

// Opens a fresh temporary sibling of path with `flags` (create and write are added), lets
// `write` fill it, forces it to disk and renames it over path (through a symbolic link, onto the
// link's target; with modeNoFollow in flags a link at path is refused with symbolicLink). The new file keeps the old
// one's permission bits. On any failure throws CFileException naming path; the temporary file is removed and the old
// file is untouched. The temporary is named "." + name + ".pemo-save-" + PID + "-" + N + ".tmp" and flock-ed while it
// is written. Each save first removes the temporaries of that form for the same file left by saves that were killed
// (their process gone and their lock free). Every step goes through fs.
void ReplaceFile(const std::string& path, unsigned flags, const std::function<void(CStdioFileEx&)>& write,
                 IFileSystem& fs);

// Creates dir and its missing parents (mode 0700, as for the user's own configuration). True when
// dir is a directory afterwards.
bool MakeDirectoryTree(const std::string& dir, IFileSystem& fs);
// Removes a file. True when one was removed, false when there was none or it could not be.
bool RemoveFileIfPresent(const std::string& path, IFileSystem& fs);
