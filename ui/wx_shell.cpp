// The window program's shell port: timers, posting to the user-interface thread, message boxes,
// the desktop, and the run window carried out by the main dialog and the tray icon.
#include "ui/wx_shell.h"

#include <chrono>
#include <future>

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>
#include <wx/timer.h>

// Windows' headers, which the toolkit's bring in, turn MessageBox into MessageBoxW; the ports'
// method of that name must keep it.
#ifdef MessageBox
#undef MessageBox
#endif

#include "app/main_frame.h"
#include "ui/about_dlg.h"
#include "ui/list_box_ebx.h"
#include "ui/pemo_dlg.h"
#include "ui/shell_open.h"
#include "ui/system_tray.h"

class CShellTimer : public wxTimer {
public:
    explicit CShellTimer(std::function<void()> tick) : onTick(std::move(tick)) {}
    void Notify() override {
        // Copied first: the tick may replace or stop this very timer.
        auto tick = onTick;
        tick();
    }

private:
    std::function<void()> onTick;
};

namespace {

// Runs work on the user-interface thread: at once when called there, otherwise posted in order.
void OnUiThread(const std::function<void()>& work) {
    if (wxIsMainThread()) {
        work();
    } else if (wxTheApp) {
        wxTheApp->CallAfter(work);
    }
}

} // namespace

// The run window: each change is applied on the user-interface thread to whatever
// window exists then, so a late post after the dialog has gone does nothing.
class CWxShell::CWindow : public IRunWindow {
public:
    explicit CWindow(CWxShell& owner) : shell(owner) {}

    void AddPaneLine(const std::string& text) override {
        Dialog([text](CPemoDlg& d) { d.AddPaneLine(text); });
    }
    void SetRunningControls() override {
        Dialog([](CPemoDlg& d) { d.SetRunningControls(); });
    }
    void SetIdleControls() override {
        Dialog([](CPemoDlg& d) { d.SetIdleControls(); });
    }
    void RefreshTaskList() override {
        Dialog([](CPemoDlg& d) { d.RefreshTaskList(); });
    }
    void SetProgressState(const RunStats& stats, DateTime startTime) override {
        // Kept at once under the dialog's lock, so the next refresh on any thread sees it.
        if (CPemoDlg* d = shell.dialog) {
            d->SetProgressState(stats, startTime);
        }
    }
    void UpdateProgress() override {
        Dialog([](CPemoDlg& d) { d.UpdateProgress(); });
    }
    void SetCurrentFileText(const std::string& text) override {
        Dialog([text](CPemoDlg& d) { d.SetCurrentFileText(text); });
    }
    void SetPercentText(const std::string& text) override {
        Dialog([text](CPemoDlg& d) { d.SetPercentText(text); });
    }
    void SetFileProgress(int percent) override {
        Dialog([percent](CPemoDlg& d) { d.SetFileProgress(percent); });
    }
    void SetProgressCaption(const std::string& text) override {
        Dialog([text](CPemoDlg& d) { d.SetProgressCaption(text); });
    }
    void SetCountText(const std::string& text) override {
        Dialog([text](CPemoDlg& d) { d.SetCountText(text); });
    }
    void StartRunIndicator() override { SetTrayIcon(iconWorking); }
    void StopRunIndicator() override { SetTrayIcon(iconIdle); }
    void SetTrayIcon(int iconId) override {
        OnUiThread([this, iconId] {
            if (shell.tray) {
                shell.tray->SetIconId(iconId);
            }
        });
    }
    void ShowBalloon(const std::string& title, const std::string& text) override {
        OnUiThread([this, title, text] {
            if (shell.tray) {
                shell.tray->ShowBalloon(title, text);
            }
        });
    }

private:
    void Dialog(std::function<void(CPemoDlg&)> change) {
        OnUiThread([this, change = std::move(change)] {
            if (CPemoDlg* d = shell.dialog) {
                change(*d);
            }
        });
    }

    CWxShell& shell;
};

CWxShell::CWxShell() : window(std::make_unique<CWindow>(*this)) {
    showMessage = [this](const std::string& text) {
        CPemoDlg* owner = dialog;
        wxMessageBox(wxString::FromUTF8(text), "Pemo", wxOK | wxICON_EXCLAMATION,
                     owner && owner->IsShown() ? owner : nullptr);
    };
    endProgram = [] {
        if (wxTheApp) {
            wxTheApp->ExitMainLoop();
        }
    };
    openPath = [](const std::string& path) { ShellOpen(path); };
}

CWxShell::~CWxShell() {
    timers.clear();
    tray.reset();
}

void CWxShell::AttachFrame(CMainFrame& owner) {
    frame = &owner;
}

bool CWxShell::AskAboutLines(const std::string& title, const std::vector<std::string>& lines,
                             const std::string& question) {
    CPemoDlg* shown = dialog;
    return shown != nullptr && !ended && shown->runLinesQuestion(title, lines, question);
}

void CWxShell::MessageBox(const std::string& text) {
    // Once the event loop has ended nobody can answer: a report then returns at once, so that a
    // worker still ending does not wait for ever.
    if (ended || !wxTheApp) {
        return;
    }
    if (wxIsMainThread()) {
        showMessage(text);
        return;
    }
    // The worker waits for the user's OK; the user-interface thread never waits for the worker.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> answered = done->get_future();
    wxTheApp->CallAfter([this, text, done] {
        if (!ended) {
            showMessage(text);
        }
        done->set_value();
    });
    while (answered.wait_for(std::chrono::milliseconds(100)) == std::future_status::timeout) {
        if (ended) {
            return;
        }
    }
}

void CWxShell::StartTimer(int id, int periodMs, std::function<void()> onTick) {
    OnUiThread([this, id, periodMs, onTick = std::move(onTick)]() mutable {
        auto timer = std::make_unique<CShellTimer>(std::move(onTick));
        timer->Start(periodMs);
        std::unique_ptr<CShellTimer>& slot = timers[id];
        if (slot) {
            // Deleted later: this may run inside the replaced timer's own tick.
            slot->Stop();
            wxTheApp->CallAfter([replaced = slot.release()] { delete replaced; });
        }
        slot = std::move(timer);
    });
}

void CWxShell::StopTimer(int id) {
    OnUiThread([this, id] {
        auto it = timers.find(id);
        if (it != timers.end()) {
            it->second->Stop();
            // Deleted later: this may run inside the timer's own tick.
            CShellTimer* stopped = it->second.release();
            timers.erase(it);
            wxTheApp->CallAfter([stopped] { delete stopped; });
        }
    });
}

bool CWxShell::TimerRunning(int id) const {
    auto it = timers.find(id);
    return it != timers.end() && it->second->IsRunning();
}

void CWxShell::PostToUi(std::function<void()> work) {
    if (wxTheApp) {
        wxTheApp->CallAfter(work);
    }
}

void CWxShell::OpenWithDesktop(const std::string& path) {
    openPath(path);
}

void CWxShell::CreateDialog() {
    if (!frame || dialog) {
        return;
    }
    auto* created = new CPemoDlg(*frame);
    created->runAbout = [this] { AboutCommand(); };
    dialog = created;
    created->InitDialog();
}

bool CWxShell::CreateTrayIcon() {
    tray = std::make_unique<CSystemTray>();
    tray->onCommand = [this](int command) { TrayCommand(command); };
    if (!wantTray || !tray->Create()) {
        // No notification area: the program carries on, reachable through its window, which
        // offers Run all, About and Exit itself.
        return true;
    }
    return true;
}

void CWxShell::ShowDialog() {
    if (CPemoDlg* d = dialog) {
        d->Show();
        d->Raise();
    }
}

void CWxShell::HideDialog() {
    if (CPemoDlg* d = dialog) {
        d->Hide();
    }
}

void CWxShell::DestroyDialog() {
    if (CPemoDlg* closing = dialog.exchange(nullptr)) {
        // The cards point at tasks the controller is about to delete.
        closing->TaskList()->RemoveAll();
        closing->Destroy();
    }
}

void CWxShell::EndProgram() {
    ended = true;
    for (auto& [id, timer] : timers) {
        timer->Stop();
    }
    if (tray) {
        tray->Remove();
    }
    endProgram();
}

void CWxShell::ShowCommand() {
    if (frame) {
        frame->Show();
    }
}

void CWxShell::AboutCommand() {
    CPemoDlg* owner = dialog;
    YAboutDlg about(owner && owner->IsShown() ? owner : nullptr);
    about.ShowModal();
}

void CWxShell::TrayCommand(int command) {
    if (!frame) {
        return;
    }
    switch (command) {
    case CSystemTray::IdAbout:
        AboutCommand();
        break;
    case CSystemTray::IdRunAll:
        frame->Run().TrayRunAllCommand();
        break;
    case CSystemTray::IdPreviewAll:
        frame->Run().TrayRunAllCommand(true);
        break;
    case CSystemTray::IdShow:
        ShowCommand();
        break;
    case CSystemTray::IdExit:
        frame->CloseHandler();
        break;
    case CSystemTray::IdRaise:
        if (CPemoDlg* d = dialog; d && d->IsShown()) {
            d->Raise();
        }
        break;
    case CSystemTray::IdBalloonClick:
        frame->OpenRunLog();
        break;
    default:
        break;
    }
}

IRunWindow& CWxShell::Window() {
    return *window;
}

void CWxShell::LoopEnded() {
    ended = true;
}
