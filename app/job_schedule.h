// Scheduling a job: the scheduler the window's Schedule dialog asks, and its systemd backend, a user
// timer and service that run `pemo -auto -file JOB` in the job's folder daily or weekly, or, where
// no user service manager runs, the crontab line to the same effect. Toolkit-free.
#pragma once

#include <optional>
#include <string>

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
// files and fixed settings, from any thread.
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
