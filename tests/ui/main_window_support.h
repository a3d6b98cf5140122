// The main-window fixture: the real controller over the wx shell, started on a scripted job in a
// temporary directory that is the process's current directory for the test.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/main_frame.h"
#include "gui_test_support.h"
#include "model/task.h"
#include "run/power_port.h"
#include "support/current_directory.h"
#include "ui/pemo_dlg.h"
#include "ui/wx_shell.h"

// Records the power port's calls; never touches the machine.
class CRecordingPower : public IPowerPort {
public:
    void SetSleepInhibited(bool inhibited) override { inhibitedNow = inhibited; }
    void SimulateKeyPress() override { ++keyPresses; }
    void ShutdownMachine() override { ++shutdowns; }
    bool inhibitedNow = false;
    int keyPresses = 0;
    int shutdowns = 0;
};

Task MakeTask(const std::string& name, const std::string& source = "", const std::string& destination = "");

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the tasks to the job file and starts the window program on it.
    void Start(const std::vector<Task>& tasks, StartOptions options = {});
    // The tasks the job file on disk holds now.
    std::vector<Task> JobOnDisk();
    std::vector<std::string> PaneLines();
    std::string Status(int field);
    bool Enabled(int id);
    // Waits for the run started last to end and its posts to arrive.
    bool WaitForIdle(std::chrono::milliseconds limit = std::chrono::seconds(30));

    CGuiTempDir dir;
    std::string jobFile;
    std::optional<ScopedCurrentDirectory> cwd; // the job's folder while the test runs
    CRecordingPower power;
    std::unique_ptr<CWxShell> shell;
    std::unique_ptr<CMainFrame> frame;
    CPemoDlg* dlg = nullptr;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool answer = true;
    std::vector<std::string> opened;
    int programEnds = 0;
};
