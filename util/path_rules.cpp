// The Windows path rules as plain text operations.
#include "util/path_rules.h"

std::string LongPath(const std::string& path) {
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        return "\\\\?\\UNC\\" + path.substr(2);
    }
    return "\\\\?\\" + path;
}

bool IsDrive(const std::string& path) {
    return path.size() == 2 && path[1] == ':';
}
