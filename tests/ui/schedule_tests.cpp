// The schedule dialog over a recording command runner: what Save and Remove write and ask of the
// user's service manager, what the dialog says, and the crontab line where no manager runs.
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/menu.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "main_window_support.h"
#include "tests/support/recording_command_runner.h"
#include "ui/schedule_dlg.h"

namespace {

class ScheduleTest : public ::testing::Test {
protected:
    void Open(bool managerRunning) {
        runner.answers["systemctl --user is-system-running"] = {managerRunning ? 0 : 1,
                                                                managerRunning ? "running\n" : "offline\n"};
        dialog = new YScheduleDlg(nullptr, schedulerOwner, job);
        dialog->Show();
        Settle();
    }
    void Settle() {
        ASSERT_TRUE(PumpUntil([&] { return !dialog->Busy(); }));
    }
    void TearDown() override {
        if (dialog) {
            dialog->Destroy();
            PumpEvents(std::chrono::milliseconds(10));
        }
    }
    template <typename T>
    T* Control(int id) {
        return dynamic_cast<T*>(dialog->FindWindow(id));
    }

    CGuiTempDir dir;
    CRecordingCommandRunner runner;
    std::shared_ptr<CJobScheduler> schedulerOwner =
        std::make_shared<CJobScheduler>(runner, NativeFileSystem(), dir.File("config"), "/usr/bin/pemo");
    CJobScheduler& scheduler = *schedulerOwner;
    std::string job = dir.File("nightly.job");
    YScheduleDlg* dialog = nullptr;
};

} // namespace

TEST_F(ScheduleTest, SaveWritesTheTimerAndShowsTheNextRun) {
    const std::string unit = CJobScheduler::UnitName(job);
    runner.answers["systemctl --user show " + unit + ".timer"] = {
        0, "NextElapseUSecRealtime=Sun 2026-12-13 23:59:00 UTC\n"};
    Open(true);
    EXPECT_EQ(dialog->StatusText(), "Not scheduled.");
    EXPECT_FALSE(dialog->FindWindow(YScheduleDlg::IdRemove)->IsEnabled());
    EXPECT_EQ(dialog->FindWindow(YScheduleDlg::IdCrontab), nullptr);
    EXPECT_FALSE(dialog->FindWindow(YScheduleDlg::IdWeekday)->IsEnabled()); // daily by default

    Control<wxChoice>(YScheduleDlg::IdFrequency)->SetSelection(1);
    Control<wxChoice>(YScheduleDlg::IdWeekday)->SetSelection(6);
    Control<wxSpinCtrl>(YScheduleDlg::IdHour)->SetValue(23);
    Control<wxSpinCtrl>(YScheduleDlg::IdMinute)->SetValue(59);
    dialog->Save();
    Settle();
    EXPECT_NE(ReadFileBytes(scheduler.TimerPath(job)).find("OnCalendar=Sun *-*-* 23:59:00\n"), std::string::npos);
    EXPECT_NE(ReadFileBytes(scheduler.ServicePath(job)).find("-auto -file \"" + job + "\""), std::string::npos);
    EXPECT_EQ(dialog->StatusText(), "Next run: Sun 2026-12-13 23:59:00 UTC\nLast run: not yet");
    EXPECT_TRUE(dialog->FindWindow(YScheduleDlg::IdRemove)->IsEnabled());

    dialog->Remove();
    Settle();
    EXPECT_EQ(ReadFileBytes(scheduler.TimerPath(job)), "");
    EXPECT_EQ(dialog->StatusText(), "Not scheduled.");
    EXPECT_FALSE(dialog->FindWindow(YScheduleDlg::IdRemove)->IsEnabled());
}

TEST_F(ScheduleTest, AnExistingTimerIsShownAndAFailureSaid) {
    std::string error;
    JobSchedule weekly;
    weekly.weekly = true;
    weekly.weekday = 2;
    weekly.hour = 4;
    weekly.minute = 15;
    ASSERT_TRUE(scheduler.Install(job, weekly, error));
    runner.answers["systemctl --user restart"] = {1, "Failed to restart: Unit is masked.\n"};
    Open(true);
    EXPECT_EQ(Control<wxChoice>(YScheduleDlg::IdFrequency)->GetSelection(), 1);
    EXPECT_EQ(Control<wxChoice>(YScheduleDlg::IdWeekday)->GetSelection(), 2);
    EXPECT_EQ(Control<wxSpinCtrl>(YScheduleDlg::IdHour)->GetValue(), 4);
    EXPECT_EQ(Control<wxSpinCtrl>(YScheduleDlg::IdMinute)->GetValue(), 15);
    dialog->Save();
    Settle();
    EXPECT_NE(dialog->StatusText().find("failed: Failed to restart: Unit is masked."), std::string::npos)
        << dialog->StatusText();
    EXPECT_EQ(Control<wxStaticText>(YScheduleDlg::IdStatus)->GetLabel().utf8_string().find("Unit is masked"),
              dialog->StatusText().find("Unit is masked"));
}

TEST_F(ScheduleTest, WithoutAManagerTheCrontabLineIsOffered) {
    Open(false);
    EXPECT_FALSE(dialog->FindWindow(YScheduleDlg::IdSave)->IsEnabled());
    EXPECT_NE(dialog->StatusText().find("crontab"), std::string::npos);
    auto* line = Control<wxTextCtrl>(YScheduleDlg::IdCrontab);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->GetValue().utf8_string(),
              "30 2 * * * cd '" + dir.Path().string() + "' && '/usr/bin/pemo' -auto -file 'nightly.job'");
    auto* hour = Control<wxSpinCtrl>(YScheduleDlg::IdHour);
    hour->SetValue(5);
    wxSpinEvent changed(wxEVT_SPINCTRL, YScheduleDlg::IdHour);
    changed.SetEventObject(hour);
    hour->GetEventHandler()->ProcessEvent(changed);
    EXPECT_EQ(line->GetValue().utf8_string().rfind("30 5 * * * ", 0), 0u);
    // Nothing was written or asked beyond the manager's state.
    EXPECT_EQ(ReadFileBytes(scheduler.TimerPath(job)), "");
    EXPECT_EQ(runner.commands, (std::vector<std::string>{"systemctl --user is-system-running"}));
}

TEST_F(MainWindowTest, ToolsScheduleOpensTheDialogOnTheJobsAbsolutePath) {
    Start({MakeTask("A")});
    CRecordingCommandRunner runner;
    dlg->scheduleRunner = &runner;
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    std::string shownFor;
    dlg->runSchedule = [&](YScheduleDlg& schedule) {
        PumpUntil([&] { return !schedule.Busy(); });
        schedule.Save();
        PumpUntil([&] { return !schedule.Busy(); });
        shownFor = schedule.GetChildren().GetFirst()->GetData()->GetLabel().utf8_string();
    };
    // Through the menu bar's command, as a click on Tools > Schedule... sends it.
    ASSERT_NE(dlg->GetMenuBar()->FindItem(CPemoDlg::IdMenuSchedule), nullptr);
    wxCommandEvent click(wxEVT_MENU, CPemoDlg::IdMenuSchedule);
    dlg->GetEventHandler()->ProcessEvent(click);
    unsetenv("XDG_CONFIG_HOME");
    const std::string absolute = jobFile;
    EXPECT_EQ(shownFor, "Run " + absolute + " unattended:");
    const std::string unit = CJobScheduler::UnitName(absolute);
    EXPECT_NE(ReadFileBytes(dir.File("config/systemd/user/" + unit + ".service")).find(absolute), std::string::npos);
}

TEST_F(ScheduleTest, AManagerThatDoesNotAnswerNeverHoldsTheWindow) {
    // Answers only when released, as a hung user bus answers only at the command's time limit.
    struct CHungRunner : CRecordingCommandRunner {
        int Run(const std::vector<std::string>& argv, std::string& output, std::chrono::milliseconds timeout) override {
            answered.wait_for(std::chrono::seconds(10));
            return CRecordingCommandRunner::Run(argv, output, timeout);
        }
        std::shared_future<void> answered;
    } hung;
    std::promise<void> answer;
    hung.answered = answer.get_future().share();
    hung.answers["systemctl --user is-system-running"] = {0, "running\n"};

    const auto start = std::chrono::steady_clock::now();
    dialog = new YScheduleDlg(
        nullptr, std::make_shared<CJobScheduler>(hung, NativeFileSystem(), dir.File("config"), "/usr/bin/pemo"), job);
    dialog->Show();
    PumpEvents();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(dialog->Busy());
    EXPECT_FALSE(dialog->FindWindow(YScheduleDlg::IdSave)->IsEnabled());
    dialog->Save(); // refused while the first answer is awaited
    answer.set_value();
    Settle();
    EXPECT_EQ(dialog->StatusText(), "Not scheduled.");
    EXPECT_TRUE(dialog->FindWindow(YScheduleDlg::IdSave)->IsEnabled());
    EXPECT_EQ(hung.commands, (std::vector<std::string>{"systemctl --user is-system-running"}));
}
