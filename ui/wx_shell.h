// CWxShell: the shell port of the window program over wxWidgets. Timers are wxTimers, work from
// worker threads reaches the user-interface thread through CallAfter in posting order, a worker's
// message box is shown modally on that thread while the worker waits for it, and the window
// notifications go to the main dialog and the tray icon.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/shell_port.h"

class CMainFrame;
class CPemoDlg;
class CSystemTray;
class CShellTimer;

class CWxShell : public IShellPort {
public:
    CWxShell();
    ~CWxShell() override;
    CWxShell(const CWxShell&) = delete;
    CWxShell& operator=(const CWxShell&) = delete;

    // The controller whose dialog and commands this shell shows; set before CreateDialog.
    void AttachFrame(CMainFrame& frame);

    void MessageBox(const std::string& text) override;
    bool AskAboutLines(const std::string& title, const std::vector<std::string>& lines,
                       const std::string& question) override;
    void StartTimer(int id, int periodMs, std::function<void()> onTick) override;
    void StopTimer(int id) override;
    void PostToUi(std::function<void()> work) override;
    void OpenWithDesktop(const std::string& path) override;
    IRunWindow& Window() override;
    void CreateDialog() override;
    bool CreateTrayIcon() override;
    void ShowDialog() override;
    void HideDialog() override;
    void DestroyDialog() override;
    void EndProgram() override;

    // The frame's commands that live in the window program (tray menu, balloon, About).
    void ShowCommand();
    void AboutCommand();
    void TrayCommand(int command);

    CPemoDlg* Dialog() const { return dialog; }
    CSystemTray* Tray() const { return tray.get(); }
    bool TimerRunning(int id) const;
    bool Ended() const { return ended; }
    // The event loop has ended (the session closed it, or EndProgram): message boxes return at
    // once from now on.
    void LoopEnded();

    // The modal box on the user-interface thread; tests replace it.
    std::function<void(const std::string&)> showMessage;
    // What ends the program; by default the end of the main loop.
    std::function<void()> endProgram;
    // Opens a path with the desktop; by default xdg-open.
    std::function<void(const std::string&)> openPath;
    // Whether to look for a notification area at all (tests of a desktop without one).
    bool wantTray = true;

private:
    class CWindow;

    CMainFrame* frame = nullptr;
    // Read by worker threads (progress snapshots), written on the user-interface thread.
    std::atomic<CPemoDlg*> dialog{nullptr};
    std::unique_ptr<CSystemTray> tray;
    std::unique_ptr<CWindow> window;
    std::map<int, std::unique_ptr<CShellTimer>> timers;
    std::atomic<bool> ended{false};
};
