// Scheduling a job through systemd user units, or a crontab line where they cannot serve.
#include "app/job_schedule.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

#include "model/replace_file.h"
#include "model/stdio_file_ex.h"
#include "platform/command_runner.h"
#include "platform/fs_error.h"
#include "util/path_parts.h"
#include "util/utf8.h"

namespace {

// How long one command may keep the dialog's worker waiting: a user bus that does not answer must
// not hold the schedule for ever.
constexpr std::chrono::seconds kCommandTimeout{15};

const char* const kWeekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

// "%" starts a specifier in every unit setting; "$" a variable in a command line. A line that
// ends in an odd number of backslashes goes on in the next one, so a plain value never does.
std::string UnitEscape(const std::string& text, bool command) {
    std::string out;
    for (char c : text) {
        if (c == '%') {
            out += "%%";
        } else if (command && c == '$') {
            out += "$$";
        } else if (command && (c == '\\' || c == '"')) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    const std::size_t kept = out.find_last_not_of('\\');
    if (!command && (out.size() - (kept == std::string::npos ? 0 : kept + 1)) % 2 == 1) {
        out += '\\';
    }
    return out;
}

// A directory for WorkingDirectory: one ending in a backslash is given a slash, which names the
// same directory and ends the line.
std::string UnitDirectory(std::string directory) {
    if (!directory.empty() && directory.back() == '\\') {
        directory += '/';
    }
    return UnitEscape(directory, false);
}

// A word for sh in single quotes; cron turns a bare "%" into a line break, so it is escaped.
std::string CronWord(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else if (c == '%') {
            out += "\\%";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string Calendar(const JobSchedule& schedule) {
    std::string day = schedule.weekly ? std::string(kWeekdays[schedule.weekday]) + " " : "";
    return day + "*-*-* " + TwoDigits(schedule.hour) + ":" + TwoDigits(schedule.minute) + ":00";
}

bool ValidSchedule(const JobSchedule& schedule) {
    return schedule.hour >= 0 && schedule.hour < 24 && schedule.minute >= 0 && schedule.minute < 60 &&
           (!schedule.weekly || (schedule.weekday >= 0 && schedule.weekday < 7));
}

// The first line of a command's output, without its line end.
std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string PropertyOf(const std::string& output, const std::string& name) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, name.size() + 1, name + "=") == 0) {
            return line.substr(name.size() + 1);
        }
    }
    return {};
}

void WriteUnit(IFileSystem& fs, const std::string& path, const std::string& text) {
    ReplaceFile(
        path, CStdioFileEx::modeCreate | CStdioFileEx::modeWrite,
        [&](CStdioFileEx& file) {
            file.codePage = "UTF-8";
            file.WriteString(text);
        },
        fs);
}

} // namespace

bool SchedulablePath(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return false;
    }
    for (std::size_t i = 0; i < path.size();) {
        const long cp = DecodeUtf8(path, i);
        if (cp < 0 || cp == '\n' || cp == '\r' || cp == 0) {
            return false;
        }
    }
    return true;
}

std::string UnattendedProgramPath(const std::string& program) {
    if (NamePartOf(program) == "pemo") {
        return program;
    }
    // The window program: a timer must start the command-line one, which needs no display and is
    // all a server with the command-line package has.
    const std::string found = FindCompanionProgram(program, {"pemo", PEMO_CLI_RELATIVE});
    return found.empty() ? DirectoryPartOf(program) + "/pemo" : found;
}

CJobScheduler::CJobScheduler(ICommandRunner& commandRunner, IFileSystem& fileSystem, std::string configHome,
                             const std::string& program)
    : runner(commandRunner), fs(fileSystem), unitDirectory(std::move(configHome) + "/systemd/user"),
      programPath(UnattendedProgramPath(program)) {}

bool CJobScheduler::ManagerRunning() {
    std::string output;
    const int status = runner.Run({"systemctl", "--user", "is-system-running"}, output, kCommandTimeout);
    if (status < 0) {
        return false;
    }
    // "degraded" (some unit failed) still schedules; "offline" or a bus error does not.
    const std::string state = FirstLine(output);
    return state == "running" || state == "degraded" || state == "starting" || state == "initializing";
}

std::string CJobScheduler::UnitName(const std::string& jobPath) {
    std::string stem = NamePartOf(jobPath);
    if (stem.size() > 4 && stem.compare(stem.size() - 4, 4, ".job") == 0) {
        stem.resize(stem.size() - 4);
    }
    std::string safe;
    for (char c : stem) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '.' || c == '-';
        if (safe.size() < 40) {
            safe += plain ? c : '_';
        }
    }
    std::uint32_t hash = 2166136261u;
    for (char c : jobPath) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", hash);
    return "pemo-" + safe + "-" + hex;
}

std::string CJobScheduler::ServicePath(const std::string& jobPath) const {
    return unitDirectory + "/" + UnitName(jobPath) + ".service";
}

std::string CJobScheduler::TimerPath(const std::string& jobPath) const {
    return unitDirectory + "/" + UnitName(jobPath) + ".timer";
}

std::string CJobScheduler::ServiceText(const std::string& jobPath) const {
    return "[Unit]\n"
           "Description=Pemo job " +
           UnitEscape(NamePartOf(jobPath), false) +
           "\n"
           "\n"
           "[Service]\n"
           "Type=oneshot\n"
           "WorkingDirectory=" +
           UnitDirectory(DirectoryPartOf(jobPath)) + "\nExecStart=\"" + UnitEscape(programPath, true) +
           "\" -auto -file \"" + UnitEscape(jobPath, true) + "\"\n";
}

std::string CJobScheduler::TimerText(const std::string& jobPath, const JobSchedule& schedule) const {
    return "[Unit]\n"
           "Description=Run the Pemo job " +
           UnitEscape(NamePartOf(jobPath), false) +
           "\n"
           "\n"
           "[Timer]\n"
           "OnCalendar=" +
           Calendar(schedule) +
           "\n"
           "Persistent=true\n"
           "\n"
           "[Install]\n"
           "WantedBy=timers.target\n";
}

std::string CJobScheduler::CrontabLine(const std::string& jobPath, const JobSchedule& schedule) const {
    const std::string day = schedule.weekly ? std::to_string((schedule.weekday + 1) % 7) : "*";
    return std::to_string(schedule.minute) + " " + std::to_string(schedule.hour) + " * * " + day + " cd " +
           CronWord(DirectoryPartOf(jobPath)) + " && " + CronWord(programPath) + " -auto -file " +
           CronWord(NamePartOf(jobPath));
}

bool CJobScheduler::Systemctl(const std::string& verb, const std::string& unit, std::string& error) {
    std::vector<std::string> argv = {"systemctl", "--user"};
    std::istringstream words(verb);
    for (std::string word; words >> word;) {
        argv.push_back(word);
    }
    if (!unit.empty()) {
        argv.push_back(unit);
    }
    std::string output;
    const int status = runner.Run(argv, output, kCommandTimeout);
    if (status == 0) {
        return true;
    }
    std::string command;
    for (const std::string& word : argv) {
        command += (command.empty() ? "" : " ") + word;
    }
    if (status == kCommandTimedOut) {
        error = command + " did not answer within " + std::to_string(kCommandTimeout.count()) + " seconds";
    } else {
        error = status == kCommandNotStarted ? "Could not start " + command : command + " failed: " + FirstLine(output);
    }
    return false;
}

bool CJobScheduler::Install(const std::string& jobPath, const JobSchedule& schedule, std::string& error) {
    if (!SchedulablePath(jobPath) || !SchedulablePath(programPath)) {
        error = "The job's path cannot be written into a timer: it must be absolute UTF-8 text without line breaks.";
        return false;
    }
    if (!ValidSchedule(schedule)) {
        error = "The time of day is not valid.";
        return false;
    }
    if (!MakeDirectoryTree(unitDirectory, fs)) {
        error = "Could not create " + unitDirectory;
        return false;
    }
    try {
        WriteUnit(fs, ServicePath(jobPath), ServiceText(jobPath));
        WriteUnit(fs, TimerPath(jobPath), TimerText(jobPath, schedule));
    } catch (const CFileException& e) {
        error = "Error saving " + e.fileName + "\n\n" + e.ErrorText();
        return false;
    }
    const std::string timer = UnitName(jobPath) + ".timer";
    // A changed timer is only read again after the reload; restart applies the new time at once.
    return Systemctl("daemon-reload", "", error) && Systemctl("enable", timer, error) &&
           Systemctl("restart", timer, error);
}

bool CJobScheduler::Remove(const std::string& jobPath, std::string& error) {
    const std::string timer = UnitName(jobPath) + ".timer";
    // Both files go, whichever of them is missing.
    const bool hadTimer = RemoveFileIfPresent(TimerPath(jobPath), fs);
    const bool hadService = RemoveFileIfPresent(ServicePath(jobPath), fs);
    if (!hadTimer && !hadService) {
        return true;
    }
    // The files are gone first, so a failing manager cannot leave a timer that comes back.
    std::string ignored;
    Systemctl("disable --now", timer, ignored);
    return Systemctl("daemon-reload", "", error);
}

std::optional<JobSchedule> CJobScheduler::Current(const std::string& jobPath) const {
    CStdioFileEx file(fs);
    if (!file.Open(TimerPath(jobPath), CStdioFileEx::modeRead)) {
        return std::nullopt;
    }
    std::string line;
    try {
        while (file.ReadString(line)) {
            if (line.compare(0, 11, "OnCalendar=") != 0) {
                continue;
            }
            JobSchedule schedule;
            std::string rest = line.substr(11);
            for (int day = 0; day < 7; ++day) {
                if (rest.compare(0, 4, std::string(kWeekdays[day]) + " ") == 0) {
                    schedule.weekly = true;
                    schedule.weekday = day;
                    rest.erase(0, 4);
                }
            }
            if (std::sscanf(rest.c_str(), "*-*-* %d:%d", &schedule.hour, &schedule.minute) == 2 &&
                ValidSchedule(schedule)) {
                return schedule;
            }
            return std::nullopt;
        }
    } catch (const CFileException&) {
    }
    return std::nullopt;
}

std::string CJobScheduler::ShowProperty(const std::string& unit, const std::string& property) {
    std::string output;
    if (runner.Run({"systemctl", "--user", "show", unit, "-p", property}, output, kCommandTimeout) != 0) {
        return {};
    }
    return PropertyOf(output, property);
}

std::string CJobScheduler::NextRun(const std::string& jobPath) {
    std::string next = ShowProperty(UnitName(jobPath) + ".timer", "NextElapseUSecRealtime");
    return next == "n/a" ? std::string() : next;
}

std::string CJobScheduler::LastResult(const std::string& jobPath) {
    std::string output;
    const std::string service = UnitName(jobPath) + ".service";
    if (runner.Run({"systemctl", "--user", "show", service, "-p", "Result", "-p", "ExecMainStatus", "-p",
                    "ExecMainExitTimestamp"},
                   output, kCommandTimeout) != 0) {
        return {};
    }
    const std::string ended = PropertyOf(output, "ExecMainExitTimestamp");
    if (ended.empty() || ended == "n/a") {
        return {};
    }
    return PropertyOf(output, "Result") + ", exit status " + PropertyOf(output, "ExecMainStatus") + " at " + ended;
}
