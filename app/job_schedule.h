// Scheduling a job: the scheduler the window's Schedule dialog asks, and its systemd backend, a user
// timer and service that run `pemo -auto -file JOB` in the job's folder daily or weekly, or, where
// no user service manager runs, the crontab line to the same effect; and its Windows twin, a task
// of Task Scheduler set up through schtasks.exe. Toolkit-free.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

class ICommandRunner;
class IFileSystem;

struct JobSchedule {
    bool weekly = false;
    int weekday = 0; // 0 Monday ... 6 Sunday, when weekly
    int hour = 2;
    int minute = 30;
};

// The command-line program "pemo" that goes with program (itself when it is that one).
std::string UnattendedProgramPath(const std::string& program);

// The system's scheduler as the Schedule dialog uses it. Every call but Current and CrontabLine
// may wait on the system's service manager, each command at most a bounded time: callers keep
// them off the user-interface thread, one at a time. Current and CrontabLine only read the unit
// files and fixed settings, from any thread; on Windows Current asks schtasks, which normally
// answers at once.
class IJobScheduler {
public:
    virtual ~IJobScheduler() = default;
    // Whether the system's scheduler answers; without it only the crontab line is offered.
    virtual bool ManagerRunning() = 0;
    // Sets up the job to run on the schedule. False with a message in error when it cannot.
    virtual bool Install(const std::string& jobPath, const JobSchedule& schedule, std::string& error) = 0;
    // Takes the job's schedule away. Removing a job that has none is no error.
    virtual bool Remove(const std::string& jobPath, std::string& error) = 0;
    // The job's schedule, if it has one.
    virtual std::optional<JobSchedule> Current(const std::string& jobPath) const = 0;
    // The next run, as the system prints it; empty when none is known.
    virtual std::string NextRun(const std::string& jobPath) = 0;
    // The last run's outcome; empty when the job has not run yet.
    virtual std::string LastResult(const std::string& jobPath) = 0;
    // The line that runs the job on the schedule from the user's crontab.
    virtual std::string CrontabLine(const std::string& jobPath, const JobSchedule& schedule) const = 0;
    // What the dialog says above CrontabLine when the scheduler does not answer.
    virtual std::string ManualText() const = 0;
    // What the dialog says while the scheduler is asked.
    virtual std::string AskingText() const = 0;
};

// The systemd user units, and the crontab line where no user service manager runs. Each command
// it runs is given a time limit; one that does not answer in time fails with a message.
class CJobScheduler : public IJobScheduler {
public:
    // configHome: $XDG_CONFIG_HOME or ~/.config; program: the absolute path of this program. The
    // timer starts the command-line program: program itself, or when that is the window program,
    // the command-line one installed with it (UnattendedProgramPath). The units are read and
    // written through fs.
    CJobScheduler(ICommandRunner& runner, IFileSystem& fs, std::string configHome, const std::string& program);

    // Whether the user's service manager answers; without it only the crontab line is offered.
    bool ManagerRunning() override;

    // The unit name for a job (without ".service" or ".timer"): "pemo-" + the job's name made
    // safe + "-" + a hash of its absolute path, so that two jobs of one name stay apart.
    static std::string UnitName(const std::string& jobPath);

    // Writes both units, reloads the manager and enables and starts the timer. False with a
    // message in error when a unit cannot be written or a command fails.
    bool Install(const std::string& jobPath, const JobSchedule& schedule, std::string& error) override;
    // Stops and disables the timer and removes both units. Removing a job that has none is no error.
    bool Remove(const std::string& jobPath, std::string& error) override;
    // The schedule in the job's timer unit, if it has one.
    std::optional<JobSchedule> Current(const std::string& jobPath) const override;
    // The manager's next elapse time of the timer, as it prints it; empty when none is known.
    std::string NextRun(const std::string& jobPath) override;
    // The last run's outcome, e.g. "success, exit status 0 at Tue 2026-12-08 02:30:04 UTC";
    // empty when the job has not run yet.
    std::string LastResult(const std::string& jobPath) override;

    std::string ServicePath(const std::string& jobPath) const;
    std::string TimerPath(const std::string& jobPath) const;
    std::string ServiceText(const std::string& jobPath) const;
    std::string TimerText(const std::string& jobPath, const JobSchedule& schedule) const;
    // The crontab line, e.g. "30 2 * * 1 cd '/home/me/jobs' && '/usr/bin/pemo' -auto -file 'nightly.job'".
    std::string CrontabLine(const std::string& jobPath, const JobSchedule& schedule) const override;
    std::string ManualText() const override;
    std::string AskingText() const override;

private:
    bool Systemctl(const std::string& verb, const std::string& unit, std::string& error);
    std::string ShowProperty(const std::string& unit, const std::string& property);

    ICommandRunner& runner;
    IFileSystem& fs;
    std::string unitDirectory;
    std::string programPath;
};

// Whether a path can be written into a unit file and a crontab line (UTF-8, no line break).
bool SchedulablePath(const std::string& path);

// Task Scheduler through schtasks.exe: one task per job in the folder "Pemo", run as the user who
// set it up, only while that user is logged on. The task runs the program with -auto in the job's
// folder, where the run writes its logs. Each command is given a time limit. Current asks
// schtasks too, so it waits as the other calls do.
class CWindowsJobScheduler : public IJobScheduler {
public:
    // program: the absolute path of this program, which the task starts.
    CWindowsJobScheduler(ICommandRunner& runner, std::string program);

    // Whether schtasks answers.
    bool ManagerRunning() override;
    // "Pemo\" + the job's name made safe and a hash of its path, as UnitName makes it.
    static std::string TaskName(const std::string& jobPath);
    // Creates the task, or replaces the job's task.
    bool Install(const std::string& jobPath, const JobSchedule& schedule, std::string& error) override;
    bool Remove(const std::string& jobPath, std::string& error) override;
    std::optional<JobSchedule> Current(const std::string& jobPath) const override;
    std::string NextRun(const std::string& jobPath) override;
    // The exit status of the last run and its time, e.g. "exit status 0 at 12/8/2026 2:30:04 AM".
    std::string LastResult(const std::string& jobPath) override;
    // The schtasks command line that creates the task, to be typed in a command prompt.
    std::string CrontabLine(const std::string& jobPath, const JobSchedule& schedule) const override;
    std::string ManualText() const override;
    std::string AskingText() const override;
    // The words of the schtasks command that creates the task.
    std::vector<std::string> CreateCommand(const std::string& jobPath, const JobSchedule& schedule) const;

private:
    bool Schtasks(const std::vector<std::string>& arguments, std::string& output, std::string& error) const;

    ICommandRunner& runner;
    std::string programPath;
};

// Whether a path can be given to the task's command: an absolute Windows path (drive or network)
// of UTF-8 text without line breaks, quotes or "%", which the command prompt would expand.
bool SchedulableWindowsPath(const std::string& path);

// The system's scheduler for this program (program: its absolute path); null, with the reason in
// error, when the system gives it no place to keep its schedules.
std::shared_ptr<IJobScheduler> NativeJobScheduler(ICommandRunner& runner, IFileSystem& fs, const std::string& program,
                                                  std::string& error);
