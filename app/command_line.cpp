// Start-up parsing: the command-line text by substring search, the way its switches are
// recognised, and the strict reading of the argument vector that the program starts from.
#include "app/command_line.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "app/window_title.h"
#include "model/version_manifest.h"
#include "util/path_rules.h"
#include "util/utf8.h"

namespace {

bool Contains(const std::string& text, const char* what) {
    return text.find(what) != std::string::npos;
}

// The UTF-8 character starting at text[at] (one byte for anything malformed).
std::string CharacterAt(const std::string& text, std::size_t at) {
    return text.substr(at, Utf8CharacterEnd(text, at) - at);
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

// The switches that are on or off, as their exact spellings.
constexpr std::string_view kSwitches[] = {"-show",    "-runall",        "-stay",      "-shutdown", "-ignoreerrors",
                                          "-datelog", "-logexclusions", "-noballoon", "-auto",     "-showdetlog",
                                          "-fakeit",  "-verbose",       "-quiet",     "-undo"};
constexpr std::string_view kLetterSwitch = "-letter:";
constexpr std::string_view kMaxDeleteSwitch = "-maxdelete:";
constexpr std::string_view kTaskSwitch = "-task:";

bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The switches of -restore that take the next argument as their value.
bool TakesValue(const std::string& arg) {
    return arg == "-file" || arg == "-restore" || arg == "-at" || arg == "-to";
}

bool IsHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h" || arg == "-?";
}

bool IsWholeNumber(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

CheckedArguments Refuse(const std::string& what) {
    CheckedArguments result;
    result.verdict = ArgumentsVerdict::Refused;
    result.error = what + "\nRun 'pemo --help' for the list of switches; nothing was run.";
    return result;
}

} // namespace

// Kept whole: one flat test per switch, in reading order.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
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
    options.fakeIt = Contains(line, "-fakeit");
    options.verbose = Contains(line, "-verbose");
    options.quiet = Contains(line, "-quiet");

    static constexpr std::string_view kLetter = "-letter:";
    if (const std::size_t at = line.find(kLetter); at != std::string::npos) {
        const std::size_t next = at + kLetter.size();
        if (next < line.size()) {
            options.driveLetter = CharacterAt(line, next);
        }
        if (options.driveLetter == "." && !programPath.empty()) {
            options.driveLetter = ProgramDriveLetter(programPath);
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

// Kept whole: one flat case per switch: the grammar reads best in one place.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
CheckedArguments CheckArguments(const std::vector<std::string>& args, const std::string& programPath, IFileSystem& fs) {
    // Help and version first: whatever else is given, asking for them runs nothing.
    bool version = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (TakesValue(args[i])) {
            ++i; // a path or a time, however it is spelt
        } else if (IsHelp(args[i])) {
            CheckedArguments help;
            help.verdict = ArgumentsVerdict::Help;
            return help;
        } else if (args[i] == "--version") {
            version = true;
        }
    }
    if (version) {
        CheckedArguments result;
        result.verdict = ArgumentsVerdict::Version;
        return result;
    }

    std::vector<std::string> on;
    std::string letter;
    bool letterSeen = false;
    std::string file;
    bool fileSeen = false;
    std::int64_t maxDelete = -1;
    std::string positionalJob;
    std::string taskName;
    bool taskSeen = false;
    // -restore, -at and -to: the value each was given, by its switch.
    std::vector<std::pair<std::string, std::string>> restoreValues;
    auto valueOf = [&restoreValues](const char* name) -> const std::string* {
        for (const auto& [key, value] : restoreValues) {
            if (key == name) {
                return &value;
            }
        }
        return nullptr;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty() || arg[0] != '-') {
            // A job handed over by a file manager or the desktop entry ("pemo FILE.job"). Any other
            // word is a mistyped job or switch: run in its place, default.job would mirror (and
            // delete) what nobody asked for.
            FileStatus st;
            if (arg.empty() || fs.Status(arg, true, st) || st.kind == EntryKind::Directory) {
                return Refuse("\"" + arg + "\" is no switch, and no job file of that name exists");
            }
            if (!positionalJob.empty()) {
                // A refusal ends the loop: the message is built once.
                // NOLINTNEXTLINE(performance-inefficient-string-concatenation)
                return Refuse("\"" + arg + "\": one job at a time (\"" + positionalJob + "\" is named already)");
            }
            positionalJob = arg;
            continue;
        }
        if (std::find(std::begin(kSwitches), std::end(kSwitches), arg) != std::end(kSwitches)) {
            on.push_back(arg);
        } else if (arg == "-file") {
            if (i + 1 >= args.size()) {
                return Refuse("\"-file\" needs the path of a job file after it");
            }
            if (!fileSeen) {
                file = args[i + 1];
                fileSeen = true;
            }
            ++i;
        } else if (StartsWith(arg, "-file:")) {
            if (arg.size() == 6) {
                return Refuse("\"-file:\" needs the path of a job file after the colon");
            }
            if (!fileSeen) {
                file = arg.substr(6);
                fileSeen = true;
            }
        } else if (StartsWith(arg, kLetterSwitch)) {
            const std::string value = arg.substr(kLetterSwitch.size());
            if (value.empty() || CharacterAt(value, 0).size() != value.size()) {
                return Refuse("\"" + arg + "\": -letter: takes exactly one character, e.g. -letter:E");
            }
            if (!letterSeen) {
                letter = value;
                letterSeen = true;
            }
        } else if (StartsWith(arg, kMaxDeleteSwitch)) {
            std::int64_t value = 0;
            if (!IsWholeNumber(arg.substr(kMaxDeleteSwitch.size())) ||
                !ParseMaxDelete(arg, kMaxDeleteSwitch.size(), value)) {
                return Refuse("-maxdelete needs a whole number of files, 0 or more, as in -maxdelete:100 (not \"" +
                              arg + "\")");
            }
            if (maxDelete < 0) {
                maxDelete = value;
            }
        } else if (arg == "-restore" || arg == "-at" || arg == "-to") {
            static const char* const kNeeds[] = {"the path of a file or folder to restore",
                                                 "a time: YYYY-MM-DD, \"YYYY-MM-DD HH:MM[:SS]\" or a run folder's name",
                                                 "the folder to restore into"};
            const std::size_t which = arg == "-restore" ? 0 : arg == "-at" ? 1 : 2;
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return Refuse("\"" + arg + "\" needs " + kNeeds[which] + " after it");
            }
            const std::string& value = args[++i];
            if (const std::string* earlier = valueOf(arg.c_str()); earlier != nullptr && *earlier != value) {
                std::string why = "\"" + arg;
                why += " " + value + "\": ";
                why += arg + " is given once (\"" + *earlier + "\" already)";
                return Refuse(why);
            }
            restoreValues.emplace_back(arg, value);
        } else if (StartsWith(arg, kTaskSwitch)) {
            if (arg.size() == kTaskSwitch.size()) {
                return Refuse("\"-task:\" needs the name of a task of the job after the colon");
            }
            if (taskSeen && taskName != arg.substr(kTaskSwitch.size())) {
                return Refuse("\"" + arg + "\": one task at a time");
            }
            taskName = arg.substr(kTaskSwitch.size());
            taskSeen = true;
        } else {
            return Refuse("unknown switch \"" + arg + "\"");
        }
    }

    // ParseCommandLine reads every value; the whole arguments then decide what a substring of a
    // job path could otherwise have turned on.
    std::vector<const char*> argv{"pemo"};
    for (const auto& arg : args) {
        argv.push_back(arg.c_str());
    }
    CheckedArguments result;
    StartOptions& o = result.options;
    o = ParseCommandLine(JoinArguments(static_cast<int>(argv.size()), argv.data()), programPath);
    auto has = [&on](const char* name) { return std::find(on.begin(), on.end(), name) != on.end(); };
    o.showDetLog = has("-showdetlog");
    o.show = has("-show") || o.showDetLog;
    o.runAll = has("-runall");
    o.stay = has("-stay");
    o.shutdown = has("-shutdown");
    o.ignoreErrors = has("-ignoreerrors");
    o.dateLog = has("-datelog");
    o.logExclusions = has("-logexclusions");
    o.noBalloon = has("-noballoon");
    o.autoRun = has("-auto");
    o.fakeIt = has("-fakeit");
    o.verbose = has("-verbose");
    o.quiet = has("-quiet");
    o.undo = has("-undo");
    o.taskName = taskName;
    if (o.undo && !o.autoRun) {
        return Refuse("-undo works without a window only: pemo -auto -undo -file JOB");
    }
    if (const std::string* path = valueOf("-restore"); path != nullptr) {
        o.restore = true;
        o.restorePath = *path;
    }
    if (const std::string* at = valueOf("-at"); at != nullptr) {
        o.restoreAtGiven = true;
        if (!ParseRestoreTime(*at, o.restoreAt, o.restoreAtSequence)) {
            return Refuse("\"-at " + *at +
                          "\": give the time as YYYY-MM-DD, \"YYYY-MM-DD HH:MM\", \"YYYY-MM-DD HH:MM:SS\" or a run "
                          "folder's name such as 2026-01-31_18-30-00");
        }
    }
    if (const std::string* to = valueOf("-to"); to != nullptr) {
        o.restoreTo = *to;
    }
    if (o.restore && !o.autoRun) {
        return Refuse("-restore works without a window only: pemo -auto -restore PATH -file JOB");
    }
    if (o.restore && o.undo) {
        return Refuse("-undo and -restore are two commands: give one of them");
    }
    if ((o.restoreAtGiven || valueOf("-to") != nullptr) && !o.restore) {
        return Refuse("-at and -to choose the time and the folder of -restore PATH");
    }
    if (valueOf("-to") != nullptr && !o.restoreAtGiven) {
        return Refuse("-to needs -at TIME: without a time -restore only lists the kept versions");
    }
    if (taskSeen && !o.undo && !o.restore) {
        return Refuse("-task: chooses the task of -undo or -restore; a run takes the job's enabled tasks");
    }
    if (o.verbose && o.quiet) {
        return Refuse("-verbose and -quiet ask for opposite things: choose one");
    }
    o.driveLetter = letter == "." && !programPath.empty() ? ProgramDriveLetter(programPath) : letter;
    if (fileSeen && !positionalJob.empty()) {
        return Refuse("\"" + positionalJob + "\": one job at a time (-file names \"" + file + "\")");
    }
    if (!fileSeen) {
        file = positionalJob;
    }
    o.startJobFile = file.empty() ? "default.job" : file;
    // From the whole argument: a job path containing "-maxdelete" says nothing about the limit.
    o.maxDelete = maxDelete;
    o.error.clear();
    return result;
}

std::string UsageText() {
    return "Usage: pemo [switches]\n"
           "Keeps mirror copies of directories as a job file lists them; opens the window unless -auto.\n"
           "  -file JOB        the job file to load (also -file:JOB, or an existing JOB alone);\n"
           "                   default.job when not given\n"
           "  -auto            run all enabled tasks at once, without a window (for cron), then exit\n"
           "  -fakeit          change nothing: report what a run would do (the job is not saved)\n"
           "  -verbose         with -auto, print each change on stdout: + new, > changed, - deleted,\n"
           "                   * excluded; then the run's totals\n"
           "  -quiet           with -auto, print nothing on stdout (failures still go to stderr)\n"
           "  -runall          run all enabled tasks at start, then close 10 s after the run\n"
           "  -show            with -runall, show the window during the run\n"
           "  -stay            stay open after the start-up run\n"
           "  -shutdown        switch the machine off after the run, unless it counted errors\n"
           "  -ignoreerrors    with -shutdown, switch off even after errors\n"
           "  -datelog         name the run log logYYYYMMDD-HHMMSS.html instead of log.html\n"
           "  -logexclusions   write excluded files and directories to the run log\n"
           "  -noballoon       show no notification when a run ends\n"
           "  -showdetlog      open the run log when a run ends (implies -show)\n"
           "  -undo            with -auto, undo the last run of every enabled task that keeps versions\n"
           "                   (with -fakeit, only report what it would do)\n"
           "  -restore PATH    with -auto, list the kept versions of PATH (a file or folder in a task's\n"
           "                   destination or source, or relative to -task's destination)\n"
           "  -at TIME         with -restore, put PATH back as it was at TIME: YYYY-MM-DD,\n"
           "                   \"YYYY-MM-DD HH:MM[:SS]\" or a run folder's name; what is there now is kept\n"
           "                   (-undo takes the restore back; with -fakeit, only report)\n"
           "  -to FOLDER       with -at, restore into FOLDER instead of the destination\n"
           "  -task:T          with -undo or -restore, only the task named T\n"
           "  -letter:X        X replaces a leading ? in task paths (. = the program's own first character)\n"
           "  -maxdelete:N     delete at most N files in this run; what is left over is kept and reported\n"
           "  --help, -h, -?   print this list and exit\n"
           "  --version        print the version and exit\n"
           "Exit status: 0 clean run, 1 errors or a stopped run, 2 could not start.\n";
}

std::string VersionText() {
    return std::string(kProgramTitle) + "\n";
}
