// Moving a window start into its job's folder.
#include "app/window_folder.h"

#include "platform/process.h"
#include "util/path_parts.h"

std::string EnterJobFolder(const std::string& jobFile, IFileSystem& fs) {
    const std::string name = NamePartOf(jobFile);
    if (name.empty() || name == jobFile) {
        return jobFile;
    }
    std::string folder;
    // Resolved before the move: a relative folder means something else once we are inside it.
    if (fs.CanonicalPath(DirectoryPartOf(jobFile), folder) || folder.empty()) {
        return jobFile;
    }
    if (ChangeCurrentDirectory(folder)) {
        return jobFile;
    }
    return JoinedPath(folder, name);
}
