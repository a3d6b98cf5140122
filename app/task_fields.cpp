// Field checks and exclusion-list rules of the task editor.
#include "app/task_fields.h"

#include <algorithm>

namespace {

std::string CommonProblem(const std::string& text, const char* what) {
    if (text.find('<') != std::string::npos) {
        return std::string("The \"<\" character can't be used in ") + what;
    }
    if (text.find_first_of("\r\n") != std::string::npos) {
        return std::string("A line break can't be used in ") + what;
    }
    return {};
}

} // namespace

std::string PathProblem(const std::string& text) {
    if (text.find('%') != std::string::npos) {
        return "The Percent character can't be used in a path";
    }
    return CommonProblem(text, "a path");
}

std::string NameProblem(const std::string& text) {
    return CommonProblem(text, "a name");
}

std::string ExclusionProblem(const std::string& text) {
    return CommonProblem(text, "an exclusion");
}

std::vector<std::string> SplitExclusions(const std::string& text) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(';', start);
        std::string entry = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!entry.empty()) {
            entries.push_back(std::move(entry));
        }
        if (end == std::string::npos) {
            return entries;
        }
        start = end + 1;
    }
}

std::string JoinExclusions(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries) {
        if (!text.empty()) {
            text += ';';
        }
        text += entry;
    }
    return text;
}

bool AddPendingExclusion(std::vector<std::string>& entries, const std::string& pending) {
    if (pending.empty() || std::find(entries.begin(), entries.end(), pending) != entries.end()) {
        return false;
    }
    entries.push_back(pending);
    return true;
}

bool IsRemovableMountPath(const std::string& destination) {
    for (const std::string root : {"/media", "/run/media", "/mnt"}) {
        if (destination.compare(0, root.size(), root) == 0 &&
            (destination.size() == root.size() || destination[root.size()] == '/')) {
            return true;
        }
    }
    return false;
}
