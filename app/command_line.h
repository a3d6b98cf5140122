// Start-up parsing: the strict check of the arguments (help, version, refused switches), the
// command-line text into the start options, and the rebuilding of that text from argv.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "run/start_options.h"

// Parses the command line (the text after the program's path). Switches count wherever their
// text occurs, case-sensitively; "-letter:" takes the one character after its first occurrence,
// "." standing for the first character of programPath; "-file" skips one character and takes a
// quoted name or one ending at the next blank; "-maxdelete:" takes a whole number of files that
// ends at the next blank, anything else there sets error. Pure: no file is looked at.
StartOptions ParseCommandLine(const std::string& commandLine, const std::string& programPath);

// argv[1..] joined with single blanks, an argument containing a blank put in double quotes, so
// that `-file "My Jobs/a.job"` reaches the parser as one quoted name.
std::string JoinArguments(int argc, const char* const* argv);

// What the program is asked to do by its arguments.
enum class ArgumentsVerdict {
    Run,     // options hold the start options
    Help,    // print UsageText() on stdout, exit 0
    Version, // print VersionText() on stdout, exit 0
    Refused  // print error on stderr, exit 2; nothing runs
};

struct CheckedArguments {
    ArgumentsVerdict verdict = ArgumentsVerdict::Run;
    StartOptions options;
    std::string error; // for Refused: the message lines, without the "pemo: " prefix
};

// Reads argv[1..] strictly: every argument that begins with "-" must be a known switch spelt
// exactly (the value after "-file" is exempt), so that a typo such as "--dry-run" never starts a
// real mirror. Any other argument must name an existing job file (looked up through fs), which
// is then the job unless -file names one; only one may be given. The start options are those of ParseCommandLine, with
// the switches, the drive letter and the job file taken from whole arguments, so that a job path containing a switch's
// text does not turn that switch on.
CheckedArguments CheckArguments(const std::vector<std::string>& args, const std::string& programPath, IFileSystem& fs);

// One line per switch, for --help.
std::string UsageText();
// The program's name and version, for --version.
std::string VersionText();
