// The window program's entry: the wxWidgets application that builds the controller over the
// wx shell and runs the start-up of the window program.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <wx/app.h>
#include <wx/init.h>

#include "app/command_line.h"
#include "app/desktop_entry.h"
#include "app/main_frame.h"
#include "platform/terminal.h"
#include "run/system_power_port.h"
#include "ui/desktop_main.h"
#include "ui/desktop_power.h"
#include "ui/wx_shell.h"

namespace {

// The process exit status, set when the program ends; 2 while it has not started.
int desktopExitStatus = 2;

class CPemoApp : public wxApp {
public:
    CPemoApp(StartOptions startOptions, IFileSystem& fileSystem) : options(std::move(startOptions)), fs(fileSystem) {}

    bool OnInit() override {
        SetAppName("pemo");
        SetAppDisplayName("Pemo");
        power = std::make_unique<CDesktopPowerPort>(systemPower);
        shell = std::make_unique<CWxShell>();
        frame = std::make_unique<CMainFrame>(*shell, *power, fs);
        shell->AttachFrame(*frame);
        return StartDesktop(*frame, *shell, options);
    }

    int OnRun() override {
        const int result = wxApp::OnRun();
        shell->LoopEnded();
        return result;
    }

    int OnExit() override {
        shell->LoopEnded();
        desktopExitStatus = frame->ExitStatus();
        // The controller joins its workers before the shell they post to goes away.
        frame.reset();
        shell.reset();
        power.reset();
        return wxApp::OnExit();
    }

private:
    StartOptions options;
    IFileSystem& fs;
    CSystemPowerPort systemPower;
    std::unique_ptr<CDesktopPowerPort> power;
    std::unique_ptr<CWxShell> shell;
    std::unique_ptr<CMainFrame> frame;
};

} // namespace

int RunDesktop(int argc, char** argv, const StartOptions& options, IFileSystem& fs) {
    if (!HasGraphicalDisplay()) {
        std::fputs("pemo: no display to open the window on; run a job unattended with -auto\n", stderr);
        return 2;
    }
    wxApp::SetInstance(new CPemoApp(options, fs));
    wxEntry(argc, argv);
    return desktopExitStatus;
}
