// EngineWindow: a run window that records what the engine showed (pane lines, current
// file, percentage, file progress, progress states, the order of calls), and RecordingLogSink:
// an ILogSink that keeps every run-log line with its colour.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "run/run_window.h"

class EngineWindow : public IRunWindow {
public:
    void AddPaneLine(const std::string& text) override;
    void SetRunningControls() override;
    void SetIdleControls() override;
    void RefreshTaskList() override;
    void SetProgressState(const RunStats& stats, DateTime startTime) override;
    void UpdateProgress() override;
    void SetCurrentFileText(const std::string& text) override;
    void SetPercentText(const std::string& text) override;
    void SetFileProgress(int percent) override;
    void SetProgressCaption(const std::string& text) override;
    void SetCountText(const std::string& text) override;
    void StartRunIndicator() override;
    void StopRunIndicator() override;
    void SetTrayIcon(int iconId) override;
    void ShowBalloon(const std::string& title, const std::string& text) override;

    // Copies, taken under the lock.
    std::vector<std::string> PaneLines() const;
    std::vector<std::string> CurrentFileTexts() const;
    std::vector<std::string> PercentTexts() const;
    std::vector<int> FileProgress() const;
    // Every call in order as "Name(argument)", for order checks.
    std::vector<std::string> Calls() const;
    int ProgressStates() const;
    RunStats LastStats() const;

private:
    void Record(const std::string& call);

    mutable std::mutex mutex;
    std::vector<std::string> pane;
    std::vector<std::string> currentFile;
    std::vector<std::string> percent;
    std::vector<int> fileProgress;
    std::vector<std::string> calls;
    int progressStates = 0;
    RunStats lastStats;
};

class RecordingLogSink : public ILogSink {
public:
    void AddLogLine(const std::string& text, LogColour colour) override;
    void FlushLog() override;

    std::vector<std::pair<LogColour, std::string>> Lines() const;
    // The texts of one colour, in order.
    std::vector<std::string> Texts(LogColour colour) const;
    // How many lines start with prefix (any colour).
    int CountStartingWith(const std::string& prefix) const;
    bool Has(LogColour colour, const std::string& text) const;
    int Flushes() const;
    void Clear();

private:
    mutable std::mutex mutex;
    std::vector<std::pair<LogColour, std::string>> lines;
    int flushes = 0;
};

const char* ColourName(LogColour colour);
