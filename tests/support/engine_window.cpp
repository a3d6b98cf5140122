// The recording run window and log sink of the engine tests.
#include "support/engine_window.h"

void EngineWindow::Record(const std::string& call) {
    calls.push_back(call);
}

void EngineWindow::AddPaneLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    pane.push_back(text);
    Record("AddPaneLine(" + text + ")");
}
void EngineWindow::SetRunningControls() {
    std::lock_guard<std::mutex> lock(mutex);
    Record("SetRunningControls()");
}
void EngineWindow::SetIdleControls() {
    std::lock_guard<std::mutex> lock(mutex);
    Record("SetIdleControls()");
}
void EngineWindow::RefreshTaskList() {
    std::lock_guard<std::mutex> lock(mutex);
    Record("RefreshTaskList()");
}
void EngineWindow::SetProgressState(const RunStats& stats, DateTime) {
    std::lock_guard<std::mutex> lock(mutex);
    ++progressStates;
    lastStats = stats;
    Record("SetProgressState()");
}
void EngineWindow::UpdateProgress() {
    std::lock_guard<std::mutex> lock(mutex);
    Record("UpdateProgress()");
}
void EngineWindow::SetCurrentFileText(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    currentFile.push_back(text);
    Record("SetCurrentFileText(" + text + ")");
}
void EngineWindow::SetPercentText(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    percent.push_back(text);
    Record("SetPercentText(" + text + ")");
}
void EngineWindow::SetFileProgress(int value) {
    std::lock_guard<std::mutex> lock(mutex);
    fileProgress.push_back(value);
    Record("SetFileProgress(" + std::to_string(value) + ")");
}
void EngineWindow::SetProgressCaption(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    Record("SetProgressCaption(" + text + ")");
}
void EngineWindow::SetCountText(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    Record("SetCountText(" + text + ")");
}
void EngineWindow::StartRunIndicator() {
    std::lock_guard<std::mutex> lock(mutex);
    Record("StartRunIndicator()");
}
void EngineWindow::StopRunIndicator() {
    std::lock_guard<std::mutex> lock(mutex);
    Record("StopRunIndicator()");
}
void EngineWindow::SetTrayIcon(int iconId) {
    std::lock_guard<std::mutex> lock(mutex);
    Record("SetTrayIcon(" + std::to_string(iconId) + ")");
}
void EngineWindow::ShowBalloon(const std::string& title, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    Record("ShowBalloon(" + title + "," + text + ")");
}

std::vector<std::string> EngineWindow::PaneLines() const {
    std::lock_guard<std::mutex> lock(mutex);
    return pane;
}
std::vector<std::string> EngineWindow::CurrentFileTexts() const {
    std::lock_guard<std::mutex> lock(mutex);
    return currentFile;
}
std::vector<std::string> EngineWindow::PercentTexts() const {
    std::lock_guard<std::mutex> lock(mutex);
    return percent;
}
std::vector<int> EngineWindow::FileProgress() const {
    std::lock_guard<std::mutex> lock(mutex);
    return fileProgress;
}
std::vector<std::string> EngineWindow::Calls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
}
int EngineWindow::ProgressStates() const {
    std::lock_guard<std::mutex> lock(mutex);
    return progressStates;
}
RunStats EngineWindow::LastStats() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lastStats;
}

void RecordingLogSink::AddLogLine(const std::string& text, LogColour colour) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.emplace_back(colour, text);
}
void RecordingLogSink::FlushLog() {
    std::lock_guard<std::mutex> lock(mutex);
    ++flushes;
}
std::vector<std::pair<LogColour, std::string>> RecordingLogSink::Lines() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
}
std::vector<std::string> RecordingLogSink::Texts(LogColour colour) const {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> texts;
    for (const auto& [c, text] : lines) {
        if (c == colour) {
            texts.push_back(text);
        }
    }
    return texts;
}
int RecordingLogSink::CountStartingWith(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (const auto& line : lines) {
        n += line.second.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    }
    return n;
}
bool RecordingLogSink::Has(LogColour colour, const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& line : lines) {
        if (line.first == colour && line.second == text) {
            return true;
        }
    }
    return false;
}
int RecordingLogSink::Flushes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return flushes;
}
void RecordingLogSink::Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    lines.clear();
    flushes = 0;
}

const char* ColourName(LogColour colour) {
    switch (colour) {
    case LogColour::Bold:
        return "Bold";
    case LogColour::Red:
        return "Red";
    case LogColour::Green:
        return "Green";
    case LogColour::Purple:
        return "Purple";
    case LogColour::Teal:
        return "Teal";
    }
    return "?";
}
