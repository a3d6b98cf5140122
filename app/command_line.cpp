// Start-up parsing of the command-line text, by substring search as the command line has always
// been read (no tokenising).
#include "app/command_line.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>
#include <unistd.h>

namespace {

bool Contains(const std::string& text, const char* what) {
    return text.find(what) != std::string::npos;
}

// The UTF-8 character starting at text[at] (one byte for anything malformed).
std::string CharacterAt(const std::string& text, std::size_t at) {
    std::size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80 && end - at < 4) {
        ++end;
    }
    return text.substr(at, end - at);
}

// The value of -maxdelete: up to the next blank; false unless it is a whole number, 0 or more.
// A number too large to hold is no limit at all in practice and is held as the largest.
bool ParseMaxDelete(const std::string& line, std::size_t at, std::int64_t& value) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    if (end == at) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < end; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9') {
            return false;
        }
        const int digit = c - '0';
        value = value > (INT64_MAX - digit) / 10 ? INT64_MAX : value * 10 + digit;
    }
    return true;
}

} // namespace

StartOptions ParseCommandLine(const std::string& commandLine, const std::string& programPath) {
    const std::string& line = commandLine;
    StartOptions options;
    options.show = Contains(line, "-show");
    options.runAll = Contains(line, "-runall");
    options.stay = Contains(line, "-stay");
    options.shutdown = Contains(line, "-shutdown");
    options.ignoreErrors = Contains(line, "-ignoreerrors");
    options.dateLog = Contains(line, "-datelog");
    options.logExclusions = Contains(line, "-logexclusions");
    options.noBalloon = Contains(line, "-noballoon");
    options.autoRun = Contains(line, "-auto");
    options.showDetLog = Contains(line, "-showdetlog");

    static constexpr std::string_view kLetter = "-letter:";
    if (const std::size_t at = line.find(kLetter); at != std::string::npos) {
        const std::size_t next = at + kLetter.size();
        if (next < line.size()) {
            options.driveLetter = CharacterAt(line, next);
        }
        if (options.driveLetter == "." && !programPath.empty()) {
            options.driveLetter = CharacterAt(programPath, 0);
        }
    }

    static constexpr std::string_view kMaxDelete = "-maxdelete";
    if (const std::size_t at = line.find(kMaxDelete); at != std::string::npos) {
        const std::size_t colon = at + kMaxDelete.size();
        if (colon >= line.size() || line[colon] != ':' || !ParseMaxDelete(line, colon + 1, options.maxDelete)) {
            const std::size_t end = std::min(line.find(' ', at), line.size());
            options.maxDelete = -1;
            options.error = "-maxdelete needs a whole number of files, 0 or more, as in -maxdelete:100 (not \"" +
                            line.substr(at, end - at) + "\")";
        }
    }

    std::string name;
    if (const std::size_t p = line.find("-file"); p != std::string::npos) {
        // The character at p+5 is skipped whatever it is; p+6 decides the form.
        const std::size_t start = p + 6;
        if (start < line.size()) {
            if (line[start] == '"') {
                const std::size_t close = line.find('"', start + 1);
                if (close != std::string::npos) {
                    name = line.substr(start + 1, close - start - 1);
                }
            } else {
                const std::size_t blank = line.find(' ', start + 1);
                name = line.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
            }
        }
    }
    options.startJobFile = name.empty() ? "default.job" : name;
    return options;
}

std::string JoinArguments(int argc, const char* const* argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            line += ' ';
        }
        const std::string argument = argv[i] ? argv[i] : "";
        if (argument.find(' ') != std::string::npos) {
            line += '"' + argument + '"';
        } else {
            line += argument;
        }
    }
    return line;
}

std::string OwnProgramPath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}
