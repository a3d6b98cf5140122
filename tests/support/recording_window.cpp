// RecordingWindow: the recording run window of the runner and controller tests.
#include "recording_window.h"

void RecordingWindow::AddPaneLine(const std::string& text) {
    std::lock_guard lock(mutex);
    pane.push_back(text);
}

void RecordingWindow::SetProgressState(const RunStats& newStats, DateTime startTime) {
    std::lock_guard lock(mutex);
    stats = newStats;
    start = startTime;
}

void RecordingWindow::SetProgressCaption(const std::string& text) {
    std::lock_guard lock(mutex);
    captions.push_back(text);
}

void RecordingWindow::SetCountText(const std::string& text) {
    std::lock_guard lock(mutex);
    countTexts.push_back(text);
}

void RecordingWindow::SetTrayIcon(int iconId) {
    std::lock_guard lock(mutex);
    icons.push_back(iconId);
}

void RecordingWindow::ShowBalloon(const std::string& title, const std::string& text) {
    std::lock_guard lock(mutex);
    balloons.push_back({title, text});
}

std::vector<std::string> RecordingWindow::PaneLines() const {
    std::lock_guard lock(mutex);
    return pane;
}

std::vector<int> RecordingWindow::Icons() const {
    std::lock_guard lock(mutex);
    return icons;
}

std::vector<RecordingWindow::Balloon> RecordingWindow::Balloons() const {
    std::lock_guard lock(mutex);
    return balloons;
}

std::vector<std::string> RecordingWindow::Captions() const {
    std::lock_guard lock(mutex);
    return captions;
}

std::vector<std::string> RecordingWindow::CountTexts() const {
    std::lock_guard lock(mutex);
    return countTexts;
}

RunStats RecordingWindow::LastStats() const {
    std::lock_guard lock(mutex);
    return stats;
}

DateTime RecordingWindow::LastStart() const {
    std::lock_guard lock(mutex);
    return start;
}
