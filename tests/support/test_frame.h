// TestFrame: the run control of the controller over test ports (a headless shell on a fake
// clock, a recording window, a recording message port, a fake power port). log.html and
// summary.log are written to the current directory: tests hold a ScopedCurrentDirectory.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/headless_shell.h"
#include "model/stdio_file_ex.h"
#include "platform/file_system.h"
#include "run/run_control.h"
#include "support/current_directory.h"
#include "support/fake_clock.h"
#include "support/fake_power_port.h"
#include "support/recording_message_port.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

// The ports and the job of a TestFrame, made before its run control.
// Appends a task with these fields (the rest at their defaults) and returns it.
inline Task& AppendTask(TaskList& tasks, const std::string& name, const std::string& source,
                        const std::string& destination) {
    auto task = std::make_unique<Task>();
    task->name = name;
    task->source = source;
    task->destination = destination;
    tasks.push_back(std::move(task));
    return *tasks.back();
}

struct TestFramePorts : IRunShell {
    TestFramePorts(bool endWithRun, IFileSystem& fs)
        : shell(clock, false, endWithRun), runJob(fs), endsWithRun(endWithRun) {}

    // The run shell: the headless shell's loop on the fake clock; opened paths are kept.
    void StartTimer(int id, int periodMs, std::function<void()> onTick) override {
        shell.StartTimer(id, periodMs, std::move(onTick));
    }
    void StopTimer(int id) override { shell.StopTimer(id); }
    void PostToUi(std::function<void()> work) override { shell.PostToUi(std::move(work)); }
    void OpenWithDesktop(const std::string& path) override { opened.push_back(path); }
    bool EndsWithRun() const override { return endsWithRun; }

    FakeClock clock;
    CHeadlessShell shell;
    FakePowerPort power;
    RecordingMessagePort messagePort;
    RecordingWindow recording;
    std::vector<std::string> opened; // user-interface thread only
    int closes = 0;                  // user-interface thread only
    // Called first by the destructor: releases whatever a test holds the run thread with.
    std::function<void()> onTeardown;

    // Where run control's message boxes go: the recording port unless a test points elsewhere.
    struct ForwardingPort : IMessagePort {
        explicit ForwardingPort(IMessagePort* first) : target(first) {}
        void MessageBox(const std::string& text) override { target.load()->MessageBox(text); }
        std::atomic<IMessagePort*> target;
    } messages{&messagePort};

    CJob runJob;
    TaskList& tasks = runJob.Tasks();
    // The switches and settings the tests change, then hand over with Apply().
    StartOptions runOptions;
    Settings runSettings;

private:
    bool endsWithRun;
};

class TestFrame : public TestFramePorts, public CRunControl {
public:
    explicit TestFrame(bool endWithRun = false, IFileSystem& fs = NativeFileSystem())
        : TestFramePorts(endWithRun, fs), CRunControl(*this, power, &recording, runJob, fs, messages) {
        runJob.SetPath("test.job");
        // Every formatted time reads "NOW", so whole log files can be compared.
        SetDateTimeFormat("NOW");
        // One file after another, so the log's lines come in a fixed order.
        runSettings.threads = 1;
        Apply();
        SetCloseHandler([this] { CloseHandler(); });
    }
    void Apply() {
        ApplyStartOptions(runOptions);
        ApplySettings(runSettings);
    }
    using CRunControl::EngineContext;
    // Ends a run still going (a test that failed half-way may have left it paused or held)
    // and joins the workers before the ports they use go away.
    ~TestFrame() {
        Abandon();
        if (onTeardown) {
            onTeardown();
        }
        while (!EndWorkerThreads()) {
            shell.RunUntil([this] { return !RunActive(); }, std::chrono::milliseconds(100));
        }
    }

    Task& AddTask(const std::string& name, const std::string& source, const std::string& destination) {
        return AppendTask(tasks, name, source, destination);
    }

    // Runs the event loop until the run thread under way has returned and the work it posted
    // has been done.
    bool RunToEnd(int finishedBefore = 0) {
        int passes = 0;
        return shell.RunUntil([&] { return State().runThreadsFinished > finishedBefore && ++passes > 3; });
    }

    // The controller's close handler, as far as run control sees it.
    void CloseHandler() {
        if (RunActive()) {
            return;
        }
        ++closes;
        EndWorkerThreads();
        runJob.Clear();
        shell.EndProgram();
    }
};
