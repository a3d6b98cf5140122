// Run control with real worker threads (run these under ThreadSanitizer): stop and pause in the
// middle of a run, Run all during a run, the run timer's icon phases and keep-awake steps, the
// close timer on a fake clock, the counting pass and the headless end of an unattended run.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include "support/temp_dir.h"
#include "support/test_frame.h"

namespace {

using namespace std::chrono_literals;

// A window that holds the run thread at the first pane line starting with `trigger` until the
// test releases it, so a command can be given at an exact point of the run. The run log holds
// its lock while it adds a pane line, so a test that logs from the user-interface thread (Pause)
// holds the thread at the next current-file text instead.
class HoldingWindow : public RecordingWindow {
public:
    explicit HoldingWindow(std::string triggerText, bool atFileText = false)
        : trigger(std::move(triggerText)), holdAtFileText(atFileText) {}
    void AddPaneLine(const std::string& text) override {
        RecordingWindow::AddPaneLine(text);
        if (!armed && text.rfind(trigger, 0) == 0) {
            armed = true;
            if (!holdAtFileText) {
                Hold();
            }
        }
    }
    void SetCurrentFileText(const std::string& text) override {
        if (armed && holdAtFileText && !text.empty()) {
            Hold();
        }
    }
    // Runs the frame's loop until the run thread is held.
    bool WaitHeld(TestFrame& frame) {
        auto future = reached.get_future();
        return frame.shell.RunUntil([&] { return future.wait_for(0ms) == std::future_status::ready; });
    }
    // Idempotent; the frame's teardown calls it too.
    void Release() {
        std::lock_guard lock(releaseMutex);
        if (!released) {
            released = true;
            release.set_value();
        }
    }

private:
    void Hold() {
        if (!held) {
            held = true;
            reached.set_value();
            release.get_future().wait();
        }
    }

    std::string trigger;
    bool holdAtFileText;
    std::mutex releaseMutex;
    bool released = false;
    bool armed = false; // run thread only
    bool held = false;  // run thread only
    std::promise<void> reached;
    std::promise<void> release;
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class RunControlTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCurrentDirectory cwd{dir.Path()};

    void MakeSource(const std::string& name, int files) {
        MakeDirectories(dir / name);
        for (int i = 0; i < files; ++i) {
            WriteFileBytes(dir / (name + "/f" + std::to_string(i)), std::string(10, 'x'));
        }
    }
};

TEST_F(RunControlTest, StopDuringTheSecondTaskLeavesItsLastRunAndPassesOverTheThird) {
    MakeSource("a", 1);
    MakeSource("b", 3);
    MakeSource("c", 1);
    HoldingWindow window("Starting task \"B\"");
    TestFrame frame;
    frame.SetWindow(&window);
    frame.onTeardown = [&] { window.Release(); };
    frame.AddTask("A", dir / "a", dir / "outA");
    frame.AddTask("B", dir / "b", dir / "outB");
    frame.AddTask("C", dir / "c", dir / "outC");
    frame.RunAllCommand();
    ASSERT_TRUE(window.WaitHeld(frame));
    frame.StopCommand();
    EXPECT_TRUE(frame.State().stay);
    EXPECT_FALSE(frame.State().shutdown);
    window.Release();
    ASSERT_TRUE(frame.RunToEnd());

    const auto pane = window.PaneLines();
    EXPECT_TRUE(Contains(pane, "Job stopped at user request at NOW"));
    EXPECT_FALSE(Contains(pane, "Done at NOW"));
    EXPECT_FALSE(Contains(pane, "Starting task \"C\""));
    EXPECT_GT(frame.tasks[0]->lastRun, 0);
    EXPECT_EQ(frame.tasks[1]->lastRun, -1) << "a stopped task was not brought up to date";
    EXPECT_EQ(frame.tasks[2]->lastRun, -1);
    EXPECT_FALSE(FileExists(dir / "outB/f0"));
    EXPECT_FALSE(FileExists(dir / "outC"));
    const auto balloons = window.Balloons();
    ASSERT_EQ(balloons.size(), 1u) << "only the clearing balloon at the start";
    EXPECT_TRUE(FileExists(dir / "summary.log")) << "a stopped run still writes its summary";
    EXPECT_NE(ReadFileBytes(dir / "log.html").find(Utf8ToUtf16Le("Job stopped at user request")), std::string::npos);
}

TEST_F(RunControlTest, PauseHoldsTheCopyUntilResumeAndIsLogged) {
    MakeSource("a", 2);
    HoldingWindow window("Adding file " + dir.Path() + kPathSeparator + "a" + kPathSeparator, true);
    TestFrame frame;
    frame.SetWindow(&window);
    frame.onTeardown = [&] { window.Release(); };
    frame.AddTask("A", dir / "a", dir / "out");
    frame.RunAllCommand();
    ASSERT_TRUE(window.WaitHeld(frame));
    EXPECT_TRUE(frame.PauseCommand());
    EXPECT_EQ(window.Icons().back(), iconPaused);
    window.Release();
    // While paused the copy waits, and run-timer ticks change neither icon nor progress.
    const auto iconsBefore = window.Icons().size();
    const int updatesBefore = window.progressUpdates;
    for (int i = 0; i < 4; ++i) {
        frame.clock.Advance(500ms);
        frame.shell.RunUntil([] { return false; }, 100ms);
    }
    EXPECT_TRUE(frame.State().running);
    EXPECT_TRUE(ListDirectory(dir / "out").size() <= 1u);
    EXPECT_EQ(window.Icons().size(), iconsBefore);
    EXPECT_EQ(window.progressUpdates, updatesBefore);
    EXPECT_FALSE(frame.power.Inhibited());

    EXPECT_FALSE(frame.PauseCommand());
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_EQ(ListDirectory(dir / "out"), (std::vector<std::string>{"f0", "f1"}));
    const auto pane = window.PaneLines();
    EXPECT_TRUE(Contains(pane, "Job paused"));
    EXPECT_TRUE(Contains(pane, "Job restarted"));
    const std::string log = ReadFileBytes(dir / "log.html");
    EXPECT_NE(log.find(Utf8ToUtf16Le("<B>Job paused</B><BR>\r\n")), std::string::npos);
    EXPECT_NE(log.find(Utf8ToUtf16Le("<B>Job restarted</B><BR>\r\n")), std::string::npos);
}

TEST_F(RunControlTest, RunAllDuringARunStartsNothingButResetsTheFlags) {
    MakeSource("a", 1);
    HoldingWindow window("Starting task");
    TestFrame frame;
    frame.SetWindow(&window);
    frame.onTeardown = [&] { window.Release(); };
    frame.AddTask("A", dir / "a", dir / "out");
    frame.runOptions.shutdown = true;
    frame.Apply();
    frame.TrayRunAllCommand();
    ASSERT_TRUE(window.WaitHeld(frame));
    frame.EngineContext().stopRequested = 1;
    frame.RunAllCommand();
    frame.TrayRunAllCommand();
    EXPECT_TRUE(frame.State().stay);
    EXPECT_FALSE(frame.State().shutdown);
    EXPECT_FALSE(frame.State().stopRequested);
    window.Release();
    ASSERT_TRUE(frame.RunToEnd());
    frame.shell.RunUntil([] { return false; }, 50ms);
    EXPECT_EQ(frame.State().runThreadsFinished, 1);
    int starts = 0;
    for (const auto& line : window.PaneLines()) {
        starts += line.rfind("Job started", 0) == 0;
    }
    EXPECT_EQ(starts, 1);
}

TEST_F(RunControlTest, RunTimerAlternatesIconsByActivityAndKeepsAwake) {
    MakeSource("a", 1);
    HoldingWindow window("Starting task");
    TestFrame frame;
    frame.SetWindow(&window);
    frame.onTeardown = [&] { window.Release(); };
    frame.AddTask("A", dir / "a", dir / "out");
    frame.TrayRunAllCommand();
    ASSERT_TRUE(window.WaitHeld(frame));
    EXPECT_EQ(window.indicatorStarts, 1);
    EXPECT_EQ(frame.EngineContext().activity, Working);
    EXPECT_TRUE(frame.shell.TimerRunning(runTimerId));

    auto tick = [&] {
        const auto count = window.Icons().size();
        frame.clock.Advance(500ms);
        frame.shell.RunUntil([&] { return window.Icons().size() > count; }, 2s);
        return window.Icons().back();
    };
    EXPECT_EQ(tick(), iconWorkingAlt);
    EXPECT_TRUE(frame.power.Inhibited());
    EXPECT_EQ(tick(), iconWorking);
    frame.EngineContext().activity = Copying;
    EXPECT_EQ(tick(), iconCopyingAlt);
    EXPECT_EQ(tick(), iconCopying);
    frame.EngineContext().activity = Working;

    // Method 2: one key event per 30 unpaused ticks, and no inhibitor.
    frame.runSettings.stayAwakeMethod = 2;
    frame.ApplySettings(frame.runSettings);
    for (int i = 0; i < 29; ++i) {
        tick();
    }
    EXPECT_EQ(frame.power.keyPresses, 0);
    EXPECT_FALSE(frame.power.Inhibited());
    tick();
    EXPECT_EQ(frame.power.keyPresses, 1);
    frame.runSettings.stayAwakeMethod = 0;
    frame.ApplySettings(frame.runSettings);
    tick();
    EXPECT_FALSE(frame.power.Inhibited());
    frame.runSettings.stayAwakeMethod = 1;
    frame.ApplySettings(frame.runSettings);
    tick();
    EXPECT_TRUE(frame.power.Inhibited());

    window.Release();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_FALSE(frame.shell.TimerRunning(runTimerId));
    EXPECT_FALSE(frame.power.Inhibited()) << "released when the run ends";
    EXPECT_EQ(window.indicatorStops, 1);
    // A tick after the end changes nothing.
    const auto icons = window.Icons().size();
    frame.clock.Advance(500ms);
    frame.shell.RunUntil([] { return false; }, 30ms);
    EXPECT_EQ(window.Icons().size(), icons);
}

TEST_F(RunControlTest, CloseTimerClosesAnUnattendedRunUnlessStaySet) {
    TestFrame frame;
    frame.runOptions.runAll = true;
    frame.Apply();
    frame.StartUpRun(false);
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_TRUE(frame.shell.TimerRunning(closeTimerId));
    frame.clock.Advance(9999ms);
    frame.shell.RunUntil([] { return false; }, 30ms);
    EXPECT_EQ(frame.closes, 0);
    frame.clock.Advance(1ms);
    ASSERT_TRUE(frame.shell.RunUntil([&] { return frame.closes == 1; }, 2s));
    EXPECT_TRUE(frame.shell.Ended());
    EXPECT_TRUE(frame.tasks.empty());
}

TEST_F(RunControlTest, CloseTimerIsIgnoredOnceStayIsSet) {
    TestFrame frame;
    frame.runOptions.runAll = true;
    frame.Apply();
    frame.StartUpRun(false);
    ASSERT_TRUE(frame.RunToEnd());
    frame.KeepOpen(); // any command in the window does this
    frame.clock.Advance(10000ms);
    frame.shell.RunUntil([] { return false; }, 30ms);
    EXPECT_EQ(frame.closes, 0);
    EXPECT_TRUE(frame.shell.TimerRunning(closeTimerId)) << "it keeps repeating";
}

TEST_F(RunControlTest, WithStayTheRunStartsNoCloseTimer) {
    TestFrame frame;
    frame.runOptions.runAll = true;
    frame.runOptions.stay = true;
    frame.Apply();
    frame.StartUpRun(false);
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_FALSE(frame.shell.TimerRunning(closeTimerId));
}

TEST_F(RunControlTest, HeadlessProgramEndsWithTheUnattendedRun) {
    TestFrame frame(true);
    frame.runOptions.runAll = true;
    frame.runOptions.shutdown = true;
    frame.Apply();
    frame.AddTask("Broken", dir / "missing", dir / "out");
    frame.StartUpRun(false);
    ASSERT_TRUE(frame.shell.RunUntil([&] { return frame.shell.Ended(); }, 10s));
    EXPECT_EQ(frame.closes, 1);
    EXPECT_FALSE(frame.shell.TimerRunning(closeTimerId));
    // Errors forbade the shutdown and set stay, and the program still ended.
    EXPECT_EQ(frame.power.shutdowns, 0);
}

TEST_F(RunControlTest, CloseHandlerRefusesWhileRunning) {
    MakeSource("a", 1);
    HoldingWindow window("Starting task");
    TestFrame frame;
    frame.SetWindow(&window);
    frame.onTeardown = [&] { window.Release(); };
    frame.AddTask("A", dir / "a", dir / "out");
    frame.TrayRunAllCommand();
    ASSERT_TRUE(window.WaitHeld(frame));
    EXPECT_FALSE(frame.EndWorkerThreads());
    frame.CloseHandler();
    EXPECT_EQ(frame.closes, 0);
    window.Release();
    ASSERT_TRUE(frame.RunToEnd());
    frame.CloseHandler();
    EXPECT_EQ(frame.closes, 1);
}

TEST_F(RunControlTest, CountingShowsTheSizeAndIgnoresDisabledTasks) {
    for (const auto& [name, size] : {std::pair{"small", 1048575}, std::pair{"exact", 1048576}}) {
        SCOPED_TRACE(name);
        MakeDirectories(dir / name);
        WriteFileBytes(dir / (std::string(name) + "/f"), "");
        std::filesystem::resize_file(dir / (std::string(name) + "/f"), size);
        TestFrame frame;
        frame.runSettings.countAtStart = true;
        frame.ApplySettings(frame.runSettings);
        frame.AddTask("A", dir / name, dir / (std::string(name) + "-out"));
        frame.AddTask("Off", dir / "exact", dir / "unused").enabled = false;
        frame.RunAllCommand();
        ASSERT_TRUE(frame.RunToEnd());
        ASSERT_TRUE(frame.shell.RunUntil([&] { return frame.State().countingDone; }, 10s));
        frame.EndWorkerThreads();
        EXPECT_EQ(frame.State().sourceTotal, CLargeNumber(static_cast<std::uint32_t>(size)));
        const auto texts = frame.recording.CountTexts();
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0], "Calculating...");
        EXPECT_EQ(texts[1], size == 1048576 ? "1 MiB" : "1023 KiB");
        EXPECT_EQ(frame.recording.Captions(), std::vector<std::string>{"Progress:"});
    }
}

TEST_F(RunControlTest, WithoutCountingRunAllSetsTheFilesCaption) {
    TestFrame frame;
    frame.RunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_EQ(frame.recording.Captions(), std::vector<std::string>{"Files:"});
    EXPECT_TRUE(frame.recording.CountTexts().empty());
}

TEST_F(RunControlTest, AStoppedCountShowsNoTotal) {
    MakeSource("a", 3);
    TestFrame frame;
    CRunContext ctx;
    ctx.fs = &NativeFileSystem();
    ctx.window = &frame.recording;
    ctx.stopRequested = 1;
    Task task;
    task.source = "?" + (dir / "a").substr(1);
    ctx.driveLetter = dir.Path().substr(0, 1);
    CountJob(frame, ctx, {task});
    EXPECT_TRUE(frame.State().countingDone);
    EXPECT_TRUE(frame.State().sourceTotal.IsZero());
    EXPECT_EQ(frame.recording.CountTexts().back(), "");
    ctx.stopRequested = 0;
    CountJob(frame, ctx, {task});
    EXPECT_EQ(frame.State().sourceTotal, CLargeNumber(30u)) << "the drive letter is substituted";
}

// Stop sets stopRequested; a later start from the tray must clear it, or the new run would pass
// over every task and end as "stopped".
TEST_F(RunControlTest, TrayRunAllAfterAStopRunsTheTasks) {
    MakeSource("a", 2);
    TestFrame frame;
    frame.AddTask("A", dir / "a", dir / "out");
    frame.StopCommand();
    frame.TrayRunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    EXPECT_TRUE(FileExists(dir / "out/f1"));
    EXPECT_FALSE(frame.State().lastRunStopped);
    EXPECT_EQ(frame.State().lastRunErrors, 0);
}

// The window program's message port: a box asked for on a worker waits until the user-interface
// thread (here the test's thread, running the frame's loop) has shown it. giveUp ends the waits.
class WaitingMessagePort : public IMessagePort {
public:
    explicit WaitingMessagePort(TestFrame& owner) : frame(owner), uiThread(std::this_thread::get_id()) {}
    void MessageBox(const std::string& /*text*/) override {
        if (std::this_thread::get_id() == uiThread) {
            ++*shown;
            return;
        }
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> answered = done->get_future();
        frame.shell.PostToUi([done, count = shown] {
            ++*count;
            done->set_value();
        });
        while (answered.wait_for(10ms) == std::future_status::timeout) {
            if (giveUp) {
                return;
            }
        }
    }
    std::atomic<bool> giveUp{false};
    std::shared_ptr<std::atomic<int>> shown = std::make_shared<std::atomic<int>>(0);

private:
    TestFrame& frame;
    std::thread::id uiThread;
};

// With debug.log impossible to open, every trace line of the counting pass asks for a box. The
// close (and a new count) joined the counting thread on the user-interface thread while that
// thread waited for the user-interface thread to show its box: the program hung for good.
TEST_F(RunControlTest, JoiningTheCountingThreadNeverWaitsForABoxItCannotShow) {
    MakeSource("a", 40);
    MakeDirectories(dir / "debug.log");
    TestFrame frame;
    WaitingMessagePort port(frame);
    frame.messages.target = &port;
    frame.AddTask("A", dir / "a", dir / "out");
    frame.runSettings.countAtStart = true;
    frame.runSettings.debug = true;
    frame.ApplySettings(frame.runSettings);
    frame.RunAllCommand();
    // The counting pass keeps the setting it started with; the run traces nothing from here on.
    frame.runSettings.debug = false;
    frame.ApplySettings(frame.runSettings);
    ASSERT_TRUE(frame.RunToEnd());
    ASSERT_FALSE(frame.State().countingDone) << "the count must still be going for the join to matter";

    std::atomic<bool> joined{false};
    std::thread watchdog([&] {
        const auto limit = std::chrono::steady_clock::now() + 8s;
        while (!joined && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(10ms);
        }
        port.giveUp = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(frame.EndWorkerThreads());
    const auto took = std::chrono::steady_clock::now() - start;
    joined = true;
    watchdog.join();
    EXPECT_LT(took, 4s) << "the user-interface thread waited for a worker that waited for it";
    // The boxes still reach the user-interface thread.
    frame.shell.RunUntil([&] { return *port.shown > 0; }, 2s);
    EXPECT_GT(*port.shown, 0);
}

// A job that cannot be saved after a clean run is said once per session, and counts nowhere.
TEST_F(RunControlTest, AJobThatCannotBeSavedIsSaidOnceAndIsNoError) {
    MakeSource("a", 1);
    TestFrame frame;
    frame.runJob.SetPath(dir / "no-such-folder/test.job");
    frame.AddTask("A", dir / "a", dir / "out");
    frame.RunAllCommand();
    ASSERT_TRUE(frame.RunToEnd());
    frame.RunAllCommand();
    ASSERT_TRUE(frame.RunToEnd(1));
    EXPECT_EQ(frame.State().lastRunErrors, 0);
    const auto shown = frame.messagePort.Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("Error saving " + dir / "no-such-folder/test.job", 0), 0u) << shown[0];
}

} // namespace
