// Scheduling a job through systemd user units, or a crontab line where they cannot serve; and
// through Task Scheduler's schtasks.exe on Windows.
#include "app/job_schedule.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

#include "model/replace_file.h"
#include "model/settings.h"
#include "model/stdio_file_ex.h"
#include "platform/command_runner.h"
#include "platform/fs_error.h"
#include "util/path_parts.h"
#include "util/path_rules.h"
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
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
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

// What a command that did not succeed is reported with.
std::string CommandFailure(const std::vector<std::string>& argv, int status, const std::string& output) {
    std::string command;
    for (const std::string& word : argv) {
        command += (command.empty() ? "" : " ") + word;
    }
    if (status == kCommandTimedOut) {
        return command + " did not answer within " + std::to_string(kCommandTimeout.count()) + " seconds";
    }
    return status == kCommandNotStarted ? "Could not start " + command : command + " failed: " + FirstLine(output);
}

// The job's name made safe for a unit or task name, and a hash of its whole path.
std::string SafeNameAndHash(std::string stem, const std::string& jobPath) {
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
    return safe + "-" + hex;
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
    return "pemo-" + SafeNameAndHash(NamePartOf(jobPath), jobPath);
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

std::string CJobScheduler::AskingText() const {
    return "Asking the service manager...";
}

std::string CJobScheduler::ManualText() const {
    return "The systemd user manager is not running, so no timer can be set up. To run this job with cron, "
           "add this line to your crontab (crontab -e):";
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
    error = CommandFailure(argv, status, output);
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

namespace {

const char* const kTaskWeekdays[] = {"MON", "TUE", "WED", "THU", "FRI", "SAT", "SUN"};
const char* const kXmlWeekdays[] = {"<Monday", "<Tuesday",  "<Wednesday", "<Thursday",
                                    "<Friday", "<Saturday", "<Sunday"};
// Task Scheduler's result for a task that has not run yet.
const char* const kNotRunYet = "267011";

bool AbsoluteWindowsPath(const std::string& path) {
    const bool drive = path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' &&
                       (path[2] == '\\' || path[2] == '/');
    return drive || path.compare(0, 2, "\\\\") == 0;
}

// A word for a command line read by the C runtime's rules (schtasks' own): quoted when it has a
// blank or a quote, a quote escaped with a backslash and the backslashes before a quote doubled.
std::string CommandWord(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) {
        return word;
    }
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

// The fields of the first line of CSV output.
std::vector<std::string> CsvFields(const std::string& text) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            fields.emplace_back();
        } else if (!quoted && (c == '\n' || c == '\r')) {
            break;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// schtasks may answer in UTF-16 when its output is not a console; the markers read are ASCII.
std::string WithoutNuls(std::string text) {
    std::erase(text, '\0');
    return text;
}

} // namespace

bool SchedulableWindowsPath(const std::string& path) {
    if (!AbsoluteWindowsPath(path)) {
        return false;
    }
    for (std::size_t i = 0; i < path.size();) {
        const long cp = DecodeUtf8(path, i);
        if (cp < 0 || cp == '\n' || cp == '\r' || cp == 0 || cp == '"' || cp == '%') {
            return false;
        }
    }
    return true;
}

CWindowsJobScheduler::CWindowsJobScheduler(ICommandRunner& commandRunner, std::string program)
    : runner(commandRunner), programPath(std::move(program)) {}

bool CWindowsJobScheduler::Schtasks(const std::vector<std::string>& arguments, std::string& output,
                                    std::string& error) const {
    std::vector<std::string> argv = {"schtasks"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const int status = runner.Run(argv, output, kCommandTimeout);
    output = WithoutNuls(std::move(output));
    if (status == 0) {
        return true;
    }
    error = CommandFailure(argv, status, output);
    if (status > 0 && FirstLine(output).empty()) {
        error += "exit status " + std::to_string(status);
    }
    return false;
}

bool CWindowsJobScheduler::ManagerRunning() {
    std::string output, error;
    return Schtasks({"/Query", "/FO", "CSV", "/NH"}, output, error);
}

std::string CWindowsJobScheduler::TaskName(const std::string& jobPath) {
    return "Pemo\\" + SafeNameAndHash(WindowsNamePartOf(jobPath), jobPath);
}

std::vector<std::string> CWindowsJobScheduler::CreateCommand(const std::string& jobPath,
                                                             const JobSchedule& schedule) const {
    std::vector<std::string> words = {"/Create", "/SC", schedule.weekly ? "WEEKLY" : "DAILY"};
    if (schedule.weekly) {
        words.insert(words.end(), {"/D", kTaskWeekdays[schedule.weekday]});
    }
    // A task starts in the system folder; pushd enters the job's, a network one included (cd
    // cannot), so that the run log and summary are written beside the job as from a cron line.
    const std::string run = "cmd /c pushd \"" + WindowsDirectoryPartOf(jobPath) + "\" && \"" + programPath +
                            "\" -auto -file \"" + jobPath + "\"";
    words.insert(words.end(), {"/ST", TwoDigits(schedule.hour) + ":" + TwoDigits(schedule.minute), "/TN",
                               TaskName(jobPath), "/TR", run, "/F"});
    return words;
}

bool CWindowsJobScheduler::Install(const std::string& jobPath, const JobSchedule& schedule, std::string& error) {
    if (!SchedulableWindowsPath(jobPath) || !SchedulableWindowsPath(programPath)) {
        error = "The job's path cannot be given to a scheduled task: it must be absolute, without \"%\" or line "
                "breaks.";
        return false;
    }
    if (!ValidSchedule(schedule)) {
        error = "The time of day is not valid.";
        return false;
    }
    std::string output;
    return Schtasks(CreateCommand(jobPath, schedule), output, error);
}

bool CWindowsJobScheduler::Remove(const std::string& jobPath, std::string& error) {
    std::string output;
    const std::vector<std::string> query = {"schtasks", "/Query", "/TN", TaskName(jobPath)};
    const int status = runner.Run(query, output, kCommandTimeout);
    if (status == kCommandNotStarted || status == kCommandTimedOut) {
        error = CommandFailure(query, status, output);
        return false;
    }
    // schtasks says a task is missing only through its exit status.
    return status != 0 || Schtasks({"/Delete", "/TN", TaskName(jobPath), "/F"}, output, error);
}

std::optional<JobSchedule> CWindowsJobScheduler::Current(const std::string& jobPath) const {
    std::string output, error;
    // An answer without a task definition is no task, whatever the exit status says.
    if (!Schtasks({"/Query", "/TN", TaskName(jobPath), "/XML"}, output, error) ||
        output.find("<Task") == std::string::npos) {
        return std::nullopt;
    }
    // The task's definition names its elements alike in every language, unlike the listings.
    JobSchedule schedule;
    const std::size_t start = output.find("<StartBoundary>");
    int hour = 0, minute = 0;
    if (start != std::string::npos &&
        std::sscanf(output.c_str() + start, "<StartBoundary>%*d-%*d-%*dT%d:%d", &hour, &minute) == 2) {
        schedule.hour = hour;
        schedule.minute = minute;
    }
    const std::size_t days = output.find("<DaysOfWeek>");
    if (output.find("<ScheduleByWeek>") != std::string::npos && days != std::string::npos) {
        std::size_t first = std::string::npos;
        for (int day = 0; day < 7; ++day) {
            const std::size_t at = output.find(kXmlWeekdays[day], days);
            if (at < first) {
                first = at;
                schedule.weekly = true;
                schedule.weekday = day;
            }
        }
    }
    // A task changed by hand into something else is still the job's: shown with what could be read.
    return ValidSchedule(schedule) ? schedule : JobSchedule{};
}

std::string CWindowsJobScheduler::NextRun(const std::string& jobPath) {
    std::string output, error;
    if (!Schtasks({"/Query", "/TN", TaskName(jobPath), "/FO", "CSV", "/NH", "/V"}, output, error)) {
        return {};
    }
    // Columns come in the same order in every language: host, task, next run time, status,
    // logon mode, last run time, last result, ...
    const std::vector<std::string> fields = CsvFields(output);
    return fields.size() > 2 && fields[2] != "N/A" ? fields[2] : std::string();
}

std::string CWindowsJobScheduler::LastResult(const std::string& jobPath) {
    std::string output, error;
    if (!Schtasks({"/Query", "/TN", TaskName(jobPath), "/FO", "CSV", "/NH", "/V"}, output, error)) {
        return {};
    }
    const std::vector<std::string> fields = CsvFields(output);
    if (fields.size() <= 6 || fields[6].empty() || fields[6] == kNotRunYet) {
        return {};
    }
    return "exit status " + fields[6] + " at " + fields[5];
}

std::string CWindowsJobScheduler::CrontabLine(const std::string& jobPath, const JobSchedule& schedule) const {
    std::string line = "schtasks";
    for (const std::string& word : CreateCommand(jobPath, schedule)) {
        line += " " + CommandWord(word);
    }
    return line;
}

std::string CWindowsJobScheduler::AskingText() const {
    return "Asking Task Scheduler...";
}

std::string CWindowsJobScheduler::ManualText() const {
    return "Task Scheduler does not answer, so no task can be set up. To set it up later, type this command in a "
           "command prompt:";
}

std::shared_ptr<IJobScheduler> NativeJobScheduler(ICommandRunner& runner, IFileSystem& fs, const std::string& program,
                                                  std::string& error) {
#ifdef _WIN32
    (void)fs;
    (void)error;
    return std::make_shared<CWindowsJobScheduler>(runner, program);
#else
    const std::string configHome = UserConfigDirectory();
    if (configHome.empty()) {
        error = "Neither XDG_CONFIG_HOME nor HOME is set, so there is no place for a timer.";
        return nullptr;
    }
    return std::make_shared<CJobScheduler>(runner, fs, configHome, program);
#endif
}
