// RecordingWindow: a run window that keeps what the workers and the controller asked
// for (pane lines, icons, balloons, captions, counters), for tests of the runner and controller.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "run/run_window.h"

class RecordingWindow : public IRunWindow {
public:
    struct Balloon {
        std::string title;
        std::string text;
    };

    void AddPaneLine(const std::string& text) override;
    void SetRunningControls() override { ++runningControls; }
    void SetIdleControls() override { ++idleControls; }
    void RefreshTaskList() override { ++refreshes; }
    void SetProgressState(const RunStats& stats, DateTime startTime) override;
    void UpdateProgress() override { ++progressUpdates; }
    void SetCurrentFileText(const std::string& /*text*/) override {}
    void SetPercentText(const std::string& /*text*/) override {}
    void SetFileProgress(int /*percent*/) override {}
    void SetProgressCaption(const std::string& text) override;
    void SetCountText(const std::string& text) override;
    void StartRunIndicator() override { ++indicatorStarts; }
    void StopRunIndicator() override { ++indicatorStops; }
    void SetTrayIcon(int iconId) override;
    void ShowBalloon(const std::string& title, const std::string& text) override;

    std::vector<std::string> PaneLines() const;
    std::vector<int> Icons() const;
    std::vector<Balloon> Balloons() const;
    std::vector<std::string> Captions() const;
    std::vector<std::string> CountTexts() const;
    RunStats LastStats() const;
    DateTime LastStart() const;

    std::atomic<int> runningControls{0};
    std::atomic<int> idleControls{0};
    std::atomic<int> refreshes{0};
    std::atomic<int> progressUpdates{0};
    std::atomic<int> indicatorStarts{0};
    std::atomic<int> indicatorStops{0};

private:
    mutable std::mutex mutex;
    std::vector<std::string> pane;
    std::vector<int> icons;
    std::vector<Balloon> balloons;
    std::vector<std::string> captions;
    std::vector<std::string> countTexts;
    RunStats stats;
    DateTime start = 0;
};
