// The run shell: the services of the program around it that run control uses (timers, the
// user-interface thread, worker threads, the desktop). The window program and the headless
// program implement it as part of their shell port.
#pragma once

#include <functional>
#include <string>
#include <thread>

class IRunShell {
public:
    virtual ~IRunShell() = default;
    // Starts the repeating timer `id` with the given period, replacing a timer of that id that
    // runs already; every tick calls onTick on the user-interface thread. Callable from any
    // thread (the run thread starts and stops the run timer).
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
    // True when the program ends as soon as an unattended run has ended, without the 10 s close
    // timer (the headless program: there is no window or balloon to look at).
    virtual bool EndsWithRun() const { return false; }
};
