// The Windows path rules as plain text operations.
#include "util/path_rules.h"

#include <string_view>

#include "util/utf8.h"

std::string LongPath(const std::string& path) {
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        return "\\\\?\\UNC\\" + path.substr(2);
    }
    return "\\\\?\\" + path;
}

bool IsDrive(const std::string& path) {
    return path.size() == 2 && path[1] == ':';
}

std::string ProgramDriveLetter(const std::string& programPath) {
    std::string_view path = programPath;
    if (path.starts_with("\\\\?\\") && !path.starts_with("\\\\?\\UNC\\")) {
        path.remove_prefix(4);
    }
    if (path.empty() || path.starts_with("\\\\")) {
        return "";
    }
    return std::string(path.substr(0, Utf8CharacterEnd(path, 0)));
}

namespace {

std::size_t LastSeparator(const std::string& path) {
    return path.find_last_of("\\/");
}

} // namespace

std::string WindowsDirectoryPartOf(const std::string& path) {
    const std::size_t separator = LastSeparator(path);
    if (separator == std::string::npos) {
        return "";
    }
    if (separator == 2 && path[1] == ':') {
        return path.substr(0, 3);
    }
    return path.substr(0, separator == 0 ? 1 : separator);
}

std::string WindowsNamePartOf(const std::string& path) {
    std::size_t separator = LastSeparator(path);
    if (separator == std::string::npos && path.size() >= 2 && path[1] == ':') {
        separator = 1;
    }
    return separator == std::string::npos ? path : path.substr(separator + 1);
}
