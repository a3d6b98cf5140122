// The shell port: what the toolkit-free controller needs from the program around it (event loop,
// timers, message boxes, the desktop, the window and the tray). The window program implements it
// over wxWidgets in ui/; the headless program of -auto runs and tests implement it in app/.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "model/message_port.h"
#include "sync/run_context.h"

class IShellPort : public IMessagePort {
public:
    // Starts the repeating timer `id` with the given period, replacing a timer of that id that
    // runs already; every tick calls onTick on the user-interface thread. Callable from any
    // thread (the runner starts and stops the run timer from the run thread).
    virtual void StartTimer(int id, int periodMs, std::function<void()> onTick) = 0;
    // Stops the timer `id`; a tick already due may still arrive. Callable from any thread.
    virtual void StopTimer(int id) = 0;
    // Runs work on the user-interface thread, in the order of posting. Callable from any thread;
    // never waits for the work to run.
    virtual void PostToUi(std::function<void()> work) = 0;
    // Starts a worker thread. Throws std::system_error when no thread can be started.
    virtual std::thread StartThread(std::function<void()> body) { return std::thread(std::move(body)); }
    // Opens the file with the desktop's default application ("open" verb); does nothing without
    // a desktop. Callable from any thread.
    virtual void OpenWithDesktop(const std::string& path) = 0;
    // The main dialog and the tray icon as the worker threads and the controller see them.
    virtual IWindowNotifications& Window() = 0;

    // Window parts of start-up and close, called on the user-interface thread. The headless
    // shell has no window and does nothing.
    // Creates the main dialog hidden; the controller has loaded the settings before.
    virtual void CreateDialog() {}
    // Creates the notification-area icon; false ends the program.
    virtual bool CreateTrayIcon() { return true; }
    virtual void ShowDialog() {}
    virtual void HideDialog() {}
    virtual void DestroyDialog() {}

    // A Red line of an unattended run, for whoever watches the program (cron mails stderr).
    // Callable from any thread. The window program shows it in its log pane already.
    virtual void RunErrorLine(const std::string& /*text*/) {}

    // Ends the event loop: the frame's own close processing after the controller's close
    // handler has let the program close. Called on the user-interface thread.
    virtual void EndProgram() = 0;
    // True when the program ends as soon as an unattended run has ended, without the 10 s close
    // timer (the headless program: there is no window or balloon to look at).
    virtual bool EndsWithRun() const { return false; }
};
