// Finding and starting a companion program, with the system's own calls.
#include "platform/posix/program_launch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "util/path_parts.h"

std::string FindCompanionProgram(const std::string& ownPath, const std::vector<std::string>& candidates) {
    if (ownPath.find('/') == std::string::npos) {
        return {};
    }
    const std::string folder = DirectoryPartOf(ownPath) + "/";
    for (const std::string& candidate : candidates) {
        if (candidate.empty()) {
            continue;
        }
        std::string path = candidate[0] == '/' ? candidate : folder + candidate;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

int ReplaceProcess(const std::string& program, char* const* argv) {
    ::execv(program.c_str(), argv);
    return errno;
}
