// Path splitting.
#include "util/path_parts.h"

#include <string_view>

namespace {

// A POSIX name may hold a backslash; Windows takes either slash.
#if defined(_WIN32)
constexpr const char* kSeparators = "/\\";
constexpr char kSeparator = '\\';
#else
constexpr const char* kSeparators = "/";
constexpr char kSeparator = '/';
#endif

} // namespace

std::string DirectoryPartOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(kSeparators);
    if (slash == std::string::npos) {
        return ".";
    }
    // "C:" alone names the drive's current directory, not its root, so a root keeps its separator.
    if (slash == 0 || (kSeparator == '\\' && path[slash - 1] == ':')) {
        return path.substr(0, slash + 1);
    }
    return path.substr(0, slash);
}

std::string NamePartOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinedPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) {
        return name;
    }
    if (std::string_view(kSeparators).find(directory.back()) != std::string_view::npos) {
        return directory + name;
    }
    return directory + kSeparator + name;
}
