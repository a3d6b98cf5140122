// Scheduling a job: the unit files on disk, the commands sent to the user's service manager
// through a recording runner (the real manager is never touched), and the crontab fallback.
#include "app/job_schedule.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "support/recording_command_runner.h"
#include "support/temp_dir.h"

namespace {

const char* const kProgram = "/usr/bin/pemo";

#ifndef _WIN32
TEST(JobSchedule, InstallWritesBothUnitsAndEnablesTheTimer) {
    TempDir dir;
    CRecordingCommandRunner runner;
    CJobScheduler scheduler(runner, NativeFileSystem(), dir / "config", kProgram);
    const std::string job = "/home/me/My Jobs/nightly.job";
    JobSchedule daily;
    daily.hour = 2;
    daily.minute = 5;
    std::string error;
    ASSERT_TRUE(scheduler.Install(job, daily, error)) << error;

    const std::string unit = CJobScheduler::UnitName(job);
    EXPECT_EQ(scheduler.TimerPath(job), dir / ("config/systemd/user/" + unit + ".timer"));
    EXPECT_EQ(ReadFileBytes(scheduler.ServicePath(job)), "[Unit]\n"
                                                         "Description=Pemo job nightly.job\n"
                                                         "\n"
                                                         "[Service]\n"
                                                         "Type=oneshot\n"
                                                         "WorkingDirectory=/home/me/My Jobs\n"
                                                         "ExecStart=\"/usr/bin/pemo\" -auto -file \"/home/me/My "
                                                         "Jobs/nightly.job\"\n");
    const std::string timer = ReadFileBytes(scheduler.TimerPath(job));
    EXPECT_NE(timer.find("\nOnCalendar=*-*-* 02:05:00\n"), std::string::npos) << timer;
    EXPECT_NE(timer.find("\nPersistent=true\n"), std::string::npos);
    EXPECT_NE(timer.find("\nWantedBy=timers.target\n"), std::string::npos);
    EXPECT_EQ(runner.commands,
              (std::vector<std::string>{"systemctl --user daemon-reload", "systemctl --user enable " + unit + ".timer",
                                        "systemctl --user restart " + unit + ".timer"}));

    ASSERT_TRUE(scheduler.Current(job).has_value());
    EXPECT_FALSE(scheduler.Current(job)->weekly);
    EXPECT_EQ(scheduler.Current(job)->hour, 2);
    EXPECT_EQ(scheduler.Current(job)->minute, 5);
}
#endif

#ifndef _WIN32
TEST(JobSchedule, ChangingAndRemovingASchedule) {
    TempDir dir;
    CRecordingCommandRunner runner;
    CJobScheduler scheduler(runner, NativeFileSystem(), dir / "config", kProgram);
    const std::string job = "/srv/jobs/weekly.job";
    std::string error;
    JobSchedule schedule;
    ASSERT_TRUE(scheduler.Install(job, schedule, error)) << error;
    schedule.weekly = true;
    schedule.weekday = 6;
    schedule.hour = 23;
    schedule.minute = 59;
    ASSERT_TRUE(scheduler.Install(job, schedule, error)) << error;
    EXPECT_NE(ReadFileBytes(scheduler.TimerPath(job)).find("OnCalendar=Sun *-*-* 23:59:00\n"), std::string::npos);
    ASSERT_TRUE(scheduler.Current(job).has_value());
    EXPECT_TRUE(scheduler.Current(job)->weekly);
    EXPECT_EQ(scheduler.Current(job)->weekday, 6);

    runner.commands.clear();
    ASSERT_TRUE(scheduler.Remove(job, error)) << error;
    EXPECT_FALSE(FileExists(scheduler.TimerPath(job)));
    EXPECT_FALSE(FileExists(scheduler.ServicePath(job)));
    EXPECT_FALSE(scheduler.Current(job).has_value());
    const std::string unit = CJobScheduler::UnitName(job);
    EXPECT_EQ(runner.commands, (std::vector<std::string>{"systemctl --user disable --now " + unit + ".timer",
                                                         "systemctl --user daemon-reload"}));
    // A job without a timer: nothing to do, nothing asked of the manager.
    runner.commands.clear();
    EXPECT_TRUE(scheduler.Remove(job, error));
    EXPECT_TRUE(runner.commands.empty());
}
#endif

// A working folder ending in "\\" must not swallow ExecStart, and a unit written by the window
// program starts the command-line one, as a server with only the command-line package has no other.
#ifndef _WIN32
TEST(JobSchedule, UnitsOfTheWindowProgramStartTheCommandLineOneWhateverTheFolder) {
    TempDir dir;
    WriteFileBytes(dir / "pemo", "#!/bin/sh\n");
    chmod((dir / "pemo").c_str(), 0755);
    CRecordingCommandRunner runner;
    CJobScheduler scheduler(runner, NativeFileSystem(), dir / "config", dir / "pemo-window");
    const std::string job = dir / "jobs\\/n\\", verify = "systemd-analyze verify '" + scheduler.ServicePath(job) + "'";
    std::string error;
    ASSERT_TRUE(scheduler.Install(job, JobSchedule{}, error)) << error;
    EXPECT_NE(scheduler.CrontabLine(job, JobSchedule{}).find(" '" + dir / "pemo' -auto"), std::string::npos);
    if (std::system("systemd-analyze --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "systemd-analyze is not installed: the unit was not verified";
    }
    EXPECT_EQ(std::system((verify + " >/dev/null 2>&1").c_str()), 0) << ReadFileBytes(scheduler.ServicePath(job));
}
#endif

#ifndef _WIN32
TEST(JobSchedule, AwkwardPathsAreQuotedOrRefused) {
    TempDir dir;
    CRecordingCommandRunner runner;
    CJobScheduler scheduler(runner, NativeFileSystem(), dir / "config", "/opt/pemo 2/pemo");
    const std::string job = "/home/me/100% \"safe\" $HOME\\it's.job";
    const std::string service = scheduler.ServiceText(job);
    EXPECT_NE(service.find("WorkingDirectory=/home/me\n"), std::string::npos) << service;
    EXPECT_NE(
        service.find("ExecStart=\"/opt/pemo 2/pemo\" -auto -file \"/home/me/100%% \\\"safe\\\" $$HOME\\\\it's.job\""),
        std::string::npos)
        << service;
    EXPECT_EQ(scheduler.CrontabLine(job, JobSchedule{}),
              "30 2 * * * cd '/home/me' && '/opt/pemo 2/pemo' -auto -file '100\\% \"safe\" $HOME\\it'\\''s.job'");
    // Two jobs of the same name in different folders get different units.
    EXPECT_NE(CJobScheduler::UnitName("/a/nightly.job"), CJobScheduler::UnitName("/b/nightly.job"));
    EXPECT_EQ(CJobScheduler::UnitName("/a/my job!.job").rfind("pemo-my_job_-", 0), 0u);

    std::string error;
    for (const char* bad : {"relative.job", "/a/line\nbreak.job", "/a/\xff\xfe.job"}) {
        EXPECT_FALSE(scheduler.Install(bad, JobSchedule{}, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    JobSchedule late;
    late.hour = 24;
    EXPECT_FALSE(scheduler.Install("/a/b.job", late, error));
    EXPECT_TRUE(runner.commands.empty());
}
#endif

TEST(JobSchedule, ManagerStateNextRunAndLastResult) {
    TempDir dir;
    CRecordingCommandRunner runner;
    CJobScheduler scheduler(runner, NativeFileSystem(), dir / "config", kProgram);
    const std::string job = "/srv/jobs/n.job";
    const std::string unit = CJobScheduler::UnitName(job);

    runner.answers["systemctl --user is-system-running"] = {1, "degraded\n"};
    EXPECT_TRUE(scheduler.ManagerRunning());
    runner.answers["systemctl --user is-system-running"] = {1, "offline\n"};
    EXPECT_FALSE(scheduler.ManagerRunning());
    runner.answers["systemctl --user is-system-running"] = {-1, ""};
    EXPECT_FALSE(scheduler.ManagerRunning());

    runner.answers["systemctl --user show " + unit + ".timer"] = {
        0, "NextElapseUSecRealtime=Wed 2026-12-09 02:30:00 UTC\n"};
    EXPECT_EQ(scheduler.NextRun(job), "Wed 2026-12-09 02:30:00 UTC");
    runner.answers["systemctl --user show " + unit + ".service"] = {
        0, "Result=exit-code\nExecMainStatus=1\nExecMainExitTimestamp=Tue 2026-12-08 02:30:04 UTC\n"};
    EXPECT_EQ(scheduler.LastResult(job), "exit-code, exit status 1 at Tue 2026-12-08 02:30:04 UTC");
    runner.answers["systemctl --user show " + unit + ".service"] = {
        0, "Result=success\nExecMainStatus=0\nExecMainExitTimestamp=\n"};
    EXPECT_EQ(scheduler.LastResult(job), "");

    // A manager that refuses a command: the failure is said, with what it printed.
    runner.answers["systemctl --user enable"] = {1, "Failed to enable unit: Access denied\n"};
    std::string error;
    EXPECT_FALSE(scheduler.Install(job, JobSchedule{}, error));
    EXPECT_EQ(error, "systemctl --user enable " + unit + ".timer failed: Failed to enable unit: Access denied");
    // One that does not answer in time.
    runner.answers["systemctl --user daemon-reload"] = {kCommandTimedOut, ""};
    EXPECT_FALSE(scheduler.Install(job, JobSchedule{}, error));
    EXPECT_EQ(error, "systemctl --user daemon-reload did not answer within 15 seconds");
}

TEST(JobSchedule, AnUnwritableUnitFolderIsReported) {
    TempDir dir;
    WriteFileBytes(dir / "config", "a file where the folder should be");
    CRecordingCommandRunner runner;
    CJobScheduler scheduler(runner, NativeFileSystem(), dir / "config", kProgram);
    std::string error;
    EXPECT_FALSE(scheduler.Install("/srv/jobs/n.job", JobSchedule{}, error));
    EXPECT_NE(error.find("Could not create"), std::string::npos) << error;
    EXPECT_TRUE(runner.commands.empty());
}

// The Windows twin, portable over the runner: the schtasks commands, and reading its answers.
TEST(JobSchedule, WindowsTaskIsCreatedReadAndRemovedThroughSchtasks) {
    CRecordingCommandRunner runner;
    CWindowsJobScheduler scheduler(runner, "C:\\Program Files\\Pemo\\pemo.exe");
    const std::string job = "\\\\srv\\backup\\nightly.job", task = CWindowsJobScheduler::TaskName(job);
    EXPECT_EQ(task.rfind("Pemo\\nightly-", 0), 0u);
    JobSchedule sunday{true, 6, 23, 5};
    std::string error;
    ASSERT_TRUE(scheduler.Install(job, sunday, error)) << error;
    const std::string run =
        "cmd /c pushd \"\\\\srv\\backup\" && \"C:\\Program Files\\Pemo\\pemo.exe\" -auto -file \"" + job + "\"";
    EXPECT_EQ(runner.commands, (std::vector<std::string>{"schtasks /Create /SC WEEKLY /D SUN /ST 23:05 /TN " + task +
                                                         " /TR " + run + " /F"}));
    EXPECT_EQ(scheduler.CrontabLine("C:\\n.job", JobSchedule{}),
              "schtasks /Create /SC DAILY /ST 02:30 /TN " + CWindowsJobScheduler::TaskName("C:\\n.job") +
                  " /TR \"cmd /c pushd \\\"C:\\\\\\\" && \\\"C:\\Program Files\\Pemo\\pemo.exe\\\" -auto -file "
                  "\\\"C:\\n.job\\\"\" /F");

    runner.answers["schtasks /Query /TN " + task + " /XML"] = {0, ""};
    EXPECT_FALSE(scheduler.Current(job).has_value());
    runner.answers["schtasks /Query /TN " + task + " /XML"] = {
        0, "<Task><Triggers><CalendarTrigger><StartBoundary>2026-12-09T23:05:00</StartBoundary><ScheduleByWeek>"
           "<DaysOfWeek><Sunday /></DaysOfWeek></ScheduleByWeek></CalendarTrigger></Triggers></Task>"};
    ASSERT_TRUE(scheduler.Current(job).has_value());
    EXPECT_TRUE(scheduler.Current(job)->weekly);
    EXPECT_EQ(scheduler.Current(job)->weekday, 6);
    EXPECT_EQ(scheduler.Current(job)->minute, 5);
    runner.answers["schtasks /Query /TN " + task + " /FO"] = {
        0, "\"HOST\",\"\\" + task +
               "\",\"12/13/2026 11:05:00 PM\",\"Ready\",\"Interactive only\","
               "\"12/6/2026 11:05:02 PM\",\"2\",\"me\",\"cmd /c pushd \"\"x\"\", y\"\r\n"};
    EXPECT_EQ(scheduler.NextRun(job), "12/13/2026 11:05:00 PM");
    EXPECT_EQ(scheduler.LastResult(job), "exit status 2 at 12/6/2026 11:05:02 PM");
    runner.answers["schtasks /Query /TN " + task + " /FO"].second =
        "\"H\",\"T\",\"N/A\",\"R\",\"I\",\"N/A\",\"267011\"";
    EXPECT_EQ(scheduler.NextRun(job), "");
    EXPECT_EQ(scheduler.LastResult(job), "");

    runner.commands.clear();
    ASSERT_TRUE(scheduler.Remove(job, error)) << error;
    runner.answers["schtasks /Query /TN " + task] = {1, "ERROR: The system cannot find the file specified.\r\n"};
    ASSERT_TRUE(scheduler.Remove(job, error)) << error;
    EXPECT_FALSE(scheduler.Current(job).has_value());
    EXPECT_EQ(runner.commands,
              (std::vector<std::string>{"schtasks /Query /TN " + task, "schtasks /Delete /TN " + task + " /F",
                                        "schtasks /Query /TN " + task, "schtasks /Query /TN " + task + " /XML"}));

    runner.commands.clear();
    for (const char* bad : {"nightly.job", "C:nightly.job", "C:\\100% sure.job"}) {
        EXPECT_FALSE(scheduler.Install(bad, JobSchedule{}, error)) << bad;
    }
    EXPECT_TRUE(runner.commands.empty());
    runner.answers["schtasks /Create"] = {1, "ERROR: Access is denied.\r\n"};
    EXPECT_FALSE(scheduler.Install(job, JobSchedule{}, error));
    EXPECT_EQ(error.substr(error.size() - 33), " failed: ERROR: Access is denied.");
}

} // namespace
