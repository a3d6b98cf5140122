// The main-window fixture.
#include "main_window_support.h"

#include <wx/button.h>
#include <wx/statusbr.h>

#include "model/job_file.h"
#include "ui/desktop_main.h"
#include "ui/hscroll_list_box.h"

namespace {

class CIgnoringPort : public IMessagePort {
public:
    void MessageBox(const std::string& text) override { last = text; }
    std::string last;
};

} // namespace

Task MakeTask(const std::string& name, const std::string& source, const std::string& destination) {
    Task task;
    task.name = name;
    task.source = source;
    task.destination = destination;
    return task;
}

void MainWindowTest::SetUp() {
    cwd.emplace(dir.Path().string());
    jobFile = dir.File("nightly.job");
}

void MainWindowTest::TearDown() {
    if (frame) {
        frame->Run().Abandon();
        PumpUntil([this] { return !frame->Run().State().running; }, std::chrono::seconds(30));
        PumpEvents(std::chrono::milliseconds(50));
        if (shell->Dialog()) {
            shell->DestroyDialog();
        }
        frame.reset();
    }
    PumpEvents(std::chrono::milliseconds(50));
    shell.reset();
    cwd.reset();
}

void MainWindowTest::Start(const std::vector<Task>& tasks, StartOptions options) {
    TaskList list;
    for (const Task& t : tasks) {
        list.push_back(std::make_unique<Task>(t));
    }
    CIgnoringPort port;
    std::string path;
    ASSERT_TRUE(SaveJob(jobFile, list, path, port, NativeFileSystem())) << port.last;

    shell = std::make_unique<CWxShell>();
    shell->showMessage = [this](const std::string& text) { messages.push_back(text); };
    shell->endProgram = [this] { ++programEnds; };
    shell->openPath = [this](const std::string& p) { opened.push_back(p); };
    frame = std::make_unique<CMainFrame>(*shell, power, NativeFileSystem());
    frame->SetSettingsPlace(dir.Path().string(), dir.File("user-settings.conf"));
    shell->AttachFrame(*frame);
    if (options.startJobFile.empty()) {
        options.startJobFile = jobFile;
    }
    ASSERT_TRUE(StartDesktop(*frame, *shell, options));
    dlg = shell->Dialog();
    dlg->runQuestion = [this](const std::string& question) {
        questions.push_back(question);
        return answer;
    };
    ASSERT_NE(dlg, nullptr);
    dlg->Move(0, 0);
    PumpEvents(std::chrono::milliseconds(100));
}

std::vector<Task> MainWindowTest::JobOnDisk() {
    TaskList list;
    std::string path;
    CIgnoringPort port;
    LoadJob(jobFile, list, path, port, NativeFileSystem());
    std::vector<Task> tasks;
    for (const auto& t : list) {
        tasks.push_back(*t);
    }
    return tasks;
}

std::vector<std::string> MainWindowTest::PaneLines() {
    std::vector<std::string> lines;
    for (unsigned i = 0; i < dlg->LogPane()->GetCount(); ++i) {
        lines.push_back(dlg->LogPane()->GetString(i).utf8_string());
    }
    return lines;
}

std::string MainWindowTest::Status(int field) {
    return dlg->Status()->GetStatusText(field).utf8_string();
}

bool MainWindowTest::Enabled(int id) {
    return dlg->Button(id)->IsEnabled();
}

bool MainWindowTest::WaitForIdle(std::chrono::milliseconds limit) {
    const bool ended =
        PumpUntil([this] { return !frame->Run().State().running && Enabled(CPemoDlg::IdRunAll); }, limit);
    PumpEvents(std::chrono::milliseconds(100));
    return ended;
}
