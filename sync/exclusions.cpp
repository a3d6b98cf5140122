// Exclusion lists and attribute filters: normalising a task's exclusion text and testing
// directories and files against it.
#include "sync/exclusions.h"

#include <algorithm>
#include <vector>

#include "platform/file_system.h"
#include "sync/engine_support.h"

namespace {

std::vector<std::string_view> SplitAt(std::string_view list, char separator) {
    std::vector<std::string_view> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = list.find(separator, start);
        if (at == std::string_view::npos) {
            items.push_back(list.substr(start));
            return items;
        }
        items.push_back(list.substr(start, at - start));
        start = at + 1;
    }
}

std::vector<std::string_view> SplitItems(std::string_view list) {
    return SplitAt(list, ';');
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    return SplitAt(text, '\n');
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Marks a pattern item that matches directories only. A normalised item never ends with it
// otherwise: trailing separators are dropped, and on Windows every '/' becomes a separator.
constexpr char kDirectoryMark = '/';

bool HasSeparator(std::string_view item) {
    return item.find('/') != std::string_view::npos || item.find(kPathSeparator) != std::string_view::npos;
}

// A pattern item matches whole paths with "*" inside one level and "**" across levels.
bool IsPattern(std::string_view item) {
    return item.find("**") != std::string_view::npos && HasSeparator(item);
}

// A bare name ending in "/": a directory of that name at any depth below the source.
bool IsAnyDepthDirectory(std::string_view typed) {
    return typed.size() >= 2 && typed.back() == '/' && !HasSeparator(typed.substr(0, typed.size() - 1));
}

bool IsAbsolute(std::string_view item) {
    return StartsWith(item, "/") || StartsWith(item, "\\") || (item.size() >= 2 && item[1] == ':') ||
           StartsWith(item, "?:");
}

std::string UnderSource(std::string source, std::string_view rest) {
    if (source.empty() || source.back() != kPathSeparator) {
        source += kPathSeparator;
    }
    source += rest;
    return source;
}

using Reach = std::vector<char>; // per text position: whether the pattern so far can end there

void StepLiteral(char c, std::string_view text, const Reach& at, Reach& next) {
    for (std::size_t j = 0; j < text.size(); ++j) {
        next[j + 1] = static_cast<char>(at[j] != 0 && text[j] == c);
    }
}

void StepWithinLevel(std::string_view text, const Reach& at, Reach& next) {
    bool reached = false;
    for (std::size_t j = 0; j <= text.size(); ++j) {
        reached = reached || at[j] != 0;
        next[j] = static_cast<char>(reached);
        if (j < text.size() && text[j] == kPathSeparator) {
            reached = false;
        }
    }
}

void StepWholeLevels(std::string_view text, const Reach& at, Reach& next) {
    bool reached = false;
    for (std::size_t j = 0; j <= text.size(); ++j) {
        next[j] = static_cast<char>(at[j] != 0 || (reached && text[j - 1] == kPathSeparator));
        reached = reached || at[j] != 0;
    }
}

void StepAnything(const Reach& at, Reach& next) {
    bool reached = false;
    for (std::size_t j = 0; j < at.size(); ++j) {
        reached = reached || at[j] != 0;
        next[j] = static_cast<char>(reached);
    }
}

// "*" takes any run within one level, "**" followed by a separator any number of whole levels
// (none included), any other "**" anything; every other character stands for itself. The set of
// reachable text positions is carried through the pattern, so the cost stays pattern x text.
bool GlobMatches(std::string_view pattern, std::string_view text) {
    Reach at(text.size() + 1, 0);
    Reach next(text.size() + 1, 0);
    at[0] = 1;
    for (std::size_t p = 0; p < pattern.size();) {
        std::fill(next.begin(), next.end(), 0);
        if (pattern[p] != '*') {
            StepLiteral(pattern[p], text, at, next);
            ++p;
        } else if (pattern.compare(p, 2, "**") != 0) {
            StepWithinLevel(text, at, next);
            ++p;
        } else if (p + 2 < pattern.size() && pattern[p + 2] == kPathSeparator) {
            StepWholeLevels(text, at, next);
            p += 3;
        } else {
            StepAnything(at, next);
            p += 2;
        }
        at.swap(next);
    }
    return at[text.size()] != 0;
}

// Whether a lowered pattern item matches a lowered path; a directory-only item matches no file.
bool PatternMatches(std::string_view item, std::string_view path, bool directory) {
    if (EndsWith(item, std::string_view(&kDirectoryMark, 1))) {
        if (!directory) {
            return false;
        }
        item.remove_suffix(1);
    }
    return GlobMatches(item, path);
}

// One item of NormaliseExclusions.
std::string NormaliseItem(std::string item, const std::string& source, const std::string& driveLetter) {
    const bool anyDepth = IsAnyDepthDirectory(item);
    const bool directoryPattern = !anyDepth && IsPattern(item) && EndsWith(item, "/");
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
    } else if (anyDepth) {
        item = UnderSource(source, std::string("**") + kPathSeparator + item + kDirectoryMark);
    } else if (IsPattern(item) && !IsAbsolute(item)) {
        item = UnderSource(source, item);
    }
    if (directoryPattern) {
        item += kDirectoryMark;
    }
    // The letter is one character, which may take several bytes.
    if (StartsWith(item, "?:\\") && !driveLetter.empty()) {
        item.replace(0, 1, driveLetter);
    }
    return item;
}

} // namespace

std::string NormaliseExclusions(const std::string& exclusions, const std::string& source,
                                const std::string& driveLetter) {
    if (exclusions.empty()) {
        return std::string();
    }
    std::string result;
    for (std::string_view view : SplitItems(exclusions)) {
        result += NormaliseItem(std::string(view), source, driveLetter);
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
        if (IsPattern(item) && PatternMatches(item, dir, true)) {
            return ExclusionResult::ExcludedExactly;
        }
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
        if (IsPattern(item)) {
            if (full.empty()) {
                full = JoinPath(LowerAscii(dir), name);
            }
            if (PatternMatches(item, full, false)) {
                return false;
            }
        }
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

std::string DescribeExclusion(const std::string& item) {
    if (item.empty()) {
        return "Matches nothing";
    }
    if (item.find(';') != std::string::npos) {
        return "\";\" separates items: each part is an item of its own";
    }
    if (IsAnyDepthDirectory(item)) {
        return "Directories named \"" + item.substr(0, item.size() - 1) + "\" at any depth below the source";
    }
    const bool relative = StartsWith(item, "\\") ? !StartsWith(item, "\\\\") : !IsAbsolute(item);
    const std::string where = relative ? ", relative to the source" : ", absolute path";
    const bool path = HasSeparator(item) || StartsWith(item, "\\");
    if (path && item.find("**") != std::string::npos) {
        const bool directories = EndsWith(item, "/");
        return std::string(directories ? "Directories" : "Files and directories") +
               " matching the path pattern (* within one level, ** across levels)" + where;
    }
    std::string_view rest(item);
    const bool leading = StartsWith(rest, "*");
    if (leading) {
        rest.remove_prefix(1);
    }
    const bool trailing = EndsWith(rest, "*");
    if (trailing) {
        rest.remove_suffix(1);
    }
    if (!path) {
        if (leading && trailing) {
            return "Files whose name contains \"" + std::string(rest) + "\", in every directory";
        }
        if (leading) {
            return "Files whose name ends with \"" + std::string(rest) + "\", in every directory";
        }
        if (trailing) {
            return "Files whose name begins with \"" + std::string(rest) + "\", in every directory";
        }
        return "Files named \"" + item + "\" in every directory (end it with / for directories)";
    }
    if (relative && !StartsWith(item, "\\")) {
        return "Matches nothing: begin a path with \\ (relative to the source) or give a full path";
    }
    if (trailing && !leading) {
        return "Files and directories whose path begins with this" + where;
    }
    if (leading) {
        return "Matches nothing: a leading * belongs to a name without a path";
    }
    return "The file or directory with this path, and all below it" + where;
}

FsError AddIgnoreFileItems(IFileSystem& fs, const std::string& source, std::string& exclusions) {
    constexpr std::size_t kLargestIgnoreFile = std::size_t{1} << 20;
    DirectoryHandle top;
    if (fs.OpenDirectoryPath(SystemDirectoryPath(source), true, top)) {
        return FsError::OfKind(ErrorKind::NotFound);
    }
    std::string text;
    if (FsError e = ReadSmallFileAt(fs, top, kIgnoreFileName, kLargestIgnoreFile, text)) {
        return e;
    }
    if (StartsWith(text, "\xEF\xBB\xBF")) {
        text.erase(0, 3);
    }
    for (std::string_view line : SplitLines(text)) {
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos || line[first] == '#') {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
        for (std::string_view item : SplitItems(line)) {
            if (!item.empty()) {
                (exclusions.empty() ? exclusions : exclusions += ';').append(item);
            }
        }
    }
    return {};
}
