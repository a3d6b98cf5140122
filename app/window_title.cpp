// The window title rule and job file naming.
#include "app/window_title.h"

bool HasJobExtension(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return tail == ".job";
}

std::string WithJobExtension(const std::string& path) {
    return HasJobExtension(path) ? path : path + ".job";
}

std::string TitleForJobPath(const std::string& path) {
    if (path.empty()) {
        return kProgramTitle;
    }
    std::string name = path;
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    if (HasJobExtension(name)) {
        name.resize(name.size() - 4);
    }
    return name + " - " + kProgramTitle;
}
