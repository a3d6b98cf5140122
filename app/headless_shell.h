// The headless shell: the event loop of the program without a window (-auto runs from cron, and
// the tests). It runs timers and the work that worker threads post, prints message boxes and
// failures to stderr and, on stdout, the progress line of a terminal, each change with -verbose
// and the run's closing lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>

#include "app/shell_port.h"
#include "platform/wake_event.h"

// The time the timers run by, in milliseconds from an arbitrary origin.
class IClock {
public:
    virtual ~IClock() = default;
    virtual std::chrono::milliseconds Now() const = 0;
    // True when the time moves by itself, so the loop may sleep until the next timer is due.
    virtual bool Flows() const = 0;
};

class CSteadyClock : public IClock {
public:
    std::chrono::milliseconds Now() const override;
    bool Flows() const override { return true; }
};

class CHeadlessShell : public IShellPort {
public:
    // showProgress: rewrite one progress line on `screen` (a terminal). endsWithRun: the program
    // ends when an unattended run has ended, without the close timer. Messages and failures go to
    // out; the progress line, the changes and a clean run's closing line to screen (out when null).
    CHeadlessShell(IClock& clock, bool showProgress, bool endsWithRun, std::FILE* out = stderr,
                   std::FILE* screen = nullptr);
    ~CHeadlessShell() override;
    CHeadlessShell(const CHeadlessShell&) = delete;
    CHeadlessShell& operator=(const CHeadlessShell&) = delete;

    // Prints "pemo: " + text and returns at once. A text equal to the one before is counted
    // instead, and the count printed before the next different text or at the end.
    void MessageBox(const std::string& text) override;
    // Prints one line "pemo: " + the failure, every time: which side and what where the run
    // log's text says so ("cannot read source PATH: reason"), else that text.
    void RunErrorLine(const std::string& text) override;
    // verbose: each change on screen as it is counted, and the closing line there. Set before
    // the run starts.
    void SetVerbose(bool on) { verbose = on; }
    // After the loop has ended: "stopped by NAME; log: PATH" on out when a request from outside
    // (stoppedBy, its name) ended the run, and the run's totals, "N new, N changed, N deleted,
    // N errors; log: PATH", on out when it counted errors, else on screen when verbose.
    void ReportEnd(const std::string& logPath, const std::string& stoppedBy);
    void StartTimer(int id, int periodMs, std::function<void()> onTick) override;
    void StopTimer(int id) override;
    void PostToUi(std::function<void()> work) override;
    // There is no desktop to open a file with.
    void OpenWithDesktop(const std::string& /*path*/) override {}
    IRunWindow& Window() override { return window; }
    void EndProgram() override;
    bool EndsWithRun() const override { return endsWithRun; }

    // The event loop, on the calling thread (which thereby becomes the user-interface thread):
    // runs posted work and due timers until EndProgram.
    void Run();
    // Runs the loop until done() holds or the program ended; gives up after `limit` of real
    // time. Returns done() || Ended(). For tests.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60));
    bool Ended() const;
    bool TimerRunning(int id) const;

private:
    // The run window of a program without a window: only the progress line.
    class CProgressLine : public IRunWindow {
    public:
        explicit CProgressLine(CHeadlessShell& owner) : shell(owner) {}
        void AddPaneLine(const std::string& /*text*/) override {}
        void SetRunningControls() override {}
        void SetIdleControls() override {}
        void RefreshTaskList() override {}
        void SetProgressState(const RunStats& stats, DateTime startTime) override;
        void UpdateProgress() override;
        void SetCurrentFileText(const std::string& text) override;
        void SetPercentText(const std::string& text) override;
        void SetFileProgress(int /*percent*/) override {}
        void SetProgressCaption(const std::string& /*text*/) override {}
        void SetCountText(const std::string& /*text*/) override {}
        void StartRunIndicator() override {}
        void StopRunIndicator() override {}
        void SetTrayIcon(int /*iconId*/) override {}
        void ShowBalloon(const std::string& /*title*/, const std::string& /*text*/) override {}
        void ReportChange(char mark, const std::string& path) override;
        void AddBytesCopied(std::uint64_t bytes) override;
        void BeginTask(const std::string& source, const std::string& destination) override;

    private:
        CHeadlessShell& shell;
    };

    struct Timer {
        std::chrono::milliseconds period{0};
        std::chrono::milliseconds due{0};
        std::function<void()> onTick;
    };

    // One pass: posted work, then due timers; waits up to maxWait for something to do first.
    void Step(std::chrono::milliseconds maxWait);
    // Wakes a Step that waits; callable from any thread.
    void Wake();
    // Progress line output; the caller holds outputMutex.
    void DrawLineLocked();
    void ClearLineLocked();
    void ReportRepeatsLocked();

    IClock& clock;
    const bool showProgress;
    const bool endsWithRun;
    std::FILE* out;
    std::FILE* screen;
    bool verbose = false;
    CProgressLine window{*this};

    mutable std::mutex mutex; // guards the queue, the timers and `ended`
    // Counts wake-ups; the loop waits on it.
    WakeEvent wake;
    std::deque<std::function<void()>> queue;
    std::map<int, Timer> timers;
    bool ended = false;

    std::mutex outputMutex; // guards what follows and the writes to `out`
    RunStats stats;
    std::string currentFile;
    std::string percentText;
    std::string taskSource;
    std::string taskDestination;
    // Bytes the run's copies have moved, and when the run's first task began (for the rate).
    std::uint64_t bytesCopied = 0;
    std::chrono::milliseconds runBegan{-1};
    bool lineShown = false;
    std::string lastMessage;
    bool shownAny = false;
    int repeats = 0;
};
