// Moving a window start into its job's folder.
#include "app/window_folder.h"

#include "platform/process.h"

std::string EnterJobFolder(const std::string& jobFile, IFileSystem& fs) {
    const std::size_t slash = jobFile.rfind('/');
    if (slash == std::string::npos || slash + 1 == jobFile.size()) {
        return jobFile;
    }
    const std::string name = jobFile.substr(slash + 1);
    std::string folder;
    // Resolved before the move: a relative folder means something else once we are inside it.
    if (fs.CanonicalPath(slash == 0 ? "/" : jobFile.substr(0, slash), folder) || folder.empty()) {
        return jobFile;
    }
    if (ChangeCurrentDirectory(folder)) {
        return jobFile;
    }
    return (folder.back() == '/' ? folder : folder + "/") + name;
}
