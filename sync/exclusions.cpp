// Exclusion lists and attribute filters: normalising a task's exclusion text and testing
// directories and files against it.
#include "sync/exclusions.h"

#include <algorithm>
#include <vector>

#include "platform/file_system.h"
#include "sync/engine_support.h"

namespace {

std::vector<std::string_view> SplitItems(std::string_view list) {
    std::vector<std::string_view> items;
    std::size_t start = 0;
    for (;;) {
        std::size_t semi = list.find(';', start);
        if (semi == std::string_view::npos) {
            items.push_back(list.substr(start));
            return items;
        }
        items.push_back(list.substr(start, semi - start));
        start = semi + 1;
    }
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

std::string NormaliseExclusions(const std::string& exclusions, const std::string& source,
                                const std::string& driveLetter) {
    if (exclusions.empty()) {
        return std::string();
    }
    std::string result;
    for (std::string_view view : SplitItems(exclusions)) {
        std::string item(view);
        // Windows takes '/' for its separator wherever a path is typed, so an item does too.
        if constexpr (kPathSeparator != '/') {
            std::replace(item.begin(), item.end(), '/', kPathSeparator);
        }
        if (!item.empty() && (item.back() == '\\' || item.back() == kPathSeparator)) {
            item.pop_back();
        }
        // A source-relative item keeps its Windows spelling in job files; its backslashes are
        // read as this system's separator.
        if (item.size() >= 1 && item[0] == '\\' && !(item.size() >= 2 && item[1] == '\\')) {
            for (char& c : item) {
                if (c == '\\') {
                    c = kPathSeparator;
                }
            }
            item.insert(0, source);
        }
        // The letter is one character, which may take several bytes.
        if (StartsWith(item, "?:\\") && !driveLetter.empty()) {
            item.replace(0, 1, driveLetter);
        }
        result += item;
        result += ';';
    }
    result.pop_back();
    return result;
}

ExclusionResult DirectoryExclusion(const std::string& list, const std::string& path) {
    // An empty path is no directory; were it tested, the empty item of any list would match it.
    if (path.empty()) {
        return ExclusionResult::NotExcluded;
    }
    const std::string lowered = LowerAscii(list);
    const std::string dir = LowerAscii(path);
    if ((";" + lowered + ";").find(";" + dir + ";") != std::string::npos) {
        return ExclusionResult::ExcludedExactly;
    }
    for (std::string_view item : SplitItems(lowered)) {
        if (!EndsWith(item, "*")) {
            continue;
        }
        item.remove_suffix(1);
        if (StartsWith(dir, item)) {
            return ExclusionResult::ExcludedByPrefix;
        }
    }
    return ExclusionResult::NotExcluded;
}

// Kept whole: one flat test per kind of exclusion, in the order they decide.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
bool IsIncluded(const FileEntry& file, const std::string& list, const std::string& dir, bool excludeSystem,
                bool excludeHidden) {
    if (excludeHidden && file.hidden) {
        return false;
    }
    if (excludeSystem && file.system) {
        return false;
    }
    if (list.empty()) {
        return true;
    }
    const std::string lowered = LowerAscii(list);
    const std::string name = LowerAscii(file.name);
    std::string full; // dir + separator + name, built only when an item needs it
    for (std::string_view item : SplitItems(lowered)) {
        bool leading = StartsWith(item, "*");
        if (leading) {
            item.remove_prefix(1);
        }
        bool trailing = EndsWith(item, "*");
        if (trailing) {
            item.remove_suffix(1);
        }
        const bool hasSeparator = item.find(kPathSeparator) != std::string_view::npos;
        if (hasSeparator && full.empty()) {
            full = JoinPath(LowerAscii(dir), name);
        }
        if (leading && trailing) {
            if (name.find(item) != std::string::npos) {
                return false;
            }
        } else if (leading) {
            if (EndsWith(name, item)) {
                return false;
            }
        } else if (trailing) {
            if (StartsWith(name, item) || (hasSeparator && StartsWith(full, item))) {
                return false;
            }
        } else {
            if (name == item || (hasSeparator && full == item)) {
                return false;
            }
        }
    }
    return true;
}
