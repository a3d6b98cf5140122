// The headless shell's event loop, message boxes and progress line.
#include "app/headless_shell.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/terminal.h"
#include "util/texts.h"
#include "util/utf8.h"

std::chrono::milliseconds CSteadyClock::Now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

CHeadlessShell::CHeadlessShell(IClock& clockSource, bool progress, bool endWithRun, std::FILE* output)
    : clock(clockSource), showProgress(progress), endsWithRun(endWithRun), out(output) {}

CHeadlessShell::~CHeadlessShell() = default;

void CHeadlessShell::Wake() {
    wake.Signal();
}

void CHeadlessShell::MessageBox(const std::string& text) {
    std::lock_guard lock(outputMutex);
    // A run log that cannot be written fails again at every later line; one copy of the message
    // and a count say as much as hundreds of copies would.
    if (shownAny && text == lastMessage) {
        ++repeats;
        return;
    }
    ClearLineLocked();
    ReportRepeatsLocked();
    // The message's own lines stay; a name in it can add none, nor reach the terminal's controls.
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            lines += text[i];
        }
    }
    std::string line = "pemo: " + EscapeControlCharacters(lines, true) + "\n";
    std::fputs(line.c_str(), out);
    std::fflush(out);
    lastMessage = text;
    shownAny = true;
}

void CHeadlessShell::RunErrorLine(const std::string& text) {
    std::string line = text;
    // Failure lines end with the system's text, which may bring its own line end.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    std::lock_guard lock(outputMutex);
    ClearLineLocked();
    ReportRepeatsLocked();
    std::fputs(("pemo: " + EscapeControlCharacters(line) + "\n").c_str(), out);
    std::fflush(out);
}

void CHeadlessShell::ReportRepeatsLocked() {
    if (repeats > 0) {
        const std::string line = "pemo: (the message above came " + std::to_string(repeats) + " more time" +
                                 (repeats == 1 ? "" : "s") + ")\n";
        std::fputs(line.c_str(), out);
        std::fflush(out);
        repeats = 0;
    }
}

void CHeadlessShell::StartTimer(int id, int periodMs, std::function<void()> onTick) {
    std::lock_guard lock(mutex);
    const std::chrono::milliseconds period(std::max(periodMs, 1));
    timers[id] = Timer{period, clock.Now() + period, std::move(onTick)};
    Wake();
}

void CHeadlessShell::StopTimer(int id) {
    std::lock_guard lock(mutex);
    timers.erase(id);
}

bool CHeadlessShell::TimerRunning(int id) const {
    std::lock_guard lock(mutex);
    return timers.count(id) != 0;
}

void CHeadlessShell::PostToUi(std::function<void()> work) {
    std::lock_guard lock(mutex);
    queue.push_back(std::move(work));
    Wake();
}

void CHeadlessShell::EndProgram() {
    {
        std::lock_guard lock(mutex);
        ended = true;
        Wake();
    }
    std::lock_guard lock(outputMutex);
    if (lineShown) {
        // Leave the last figures on the screen.
        std::fputs("\n", out);
        std::fflush(out);
        lineShown = false;
    }
    ReportRepeatsLocked();
}

bool CHeadlessShell::Ended() const {
    std::lock_guard lock(mutex);
    return ended;
}

void CHeadlessShell::Step(std::chrono::milliseconds maxWait) {
    std::chrono::milliseconds wait(0);
    {
        std::lock_guard lock(mutex);
        if (queue.empty() && !ended) {
            wait = maxWait;
            const auto now = clock.Now();
            for (const auto& [id, timer] : timers) {
                wait = std::min(wait, std::max(timer.due - now, std::chrono::milliseconds(0)));
            }
        }
    }
    // A post after the check above has already signalled the event: no lost wake-up.
    wake.WaitAndClear(wait);
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(mutex);
        work.swap(queue);
    }
    for (auto& item : work) {
        if (Ended()) {
            return;
        }
        item();
    }
    std::vector<std::function<void()>> due;
    {
        std::lock_guard lock(mutex);
        const auto now = clock.Now();
        for (auto& [id, timer] : timers) {
            if (timer.due <= now) {
                // One tick however far the clock jumped; the next one a period from now.
                timer.due = now + timer.period;
                due.push_back(timer.onTick);
            }
        }
    }
    for (auto& tick : due) {
        if (Ended()) {
            return;
        }
        tick();
    }
}

void CHeadlessShell::Run() {
    const auto idle = clock.Flows() ? std::chrono::milliseconds(1000) : std::chrono::milliseconds(20);
    while (!Ended()) {
        Step(idle);
    }
}

bool CHeadlessShell::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!done() && !Ended()) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            return false;
        }
        Step(std::chrono::milliseconds(5));
    }
    return true;
}

void CHeadlessShell::ClearLineLocked() {
    if (lineShown) {
        std::fputs("\r\033[K", out);
        lineShown = false;
    }
}

void CHeadlessShell::DrawLineLocked() {
    std::string line = "New " + std::to_string(stats.newFiles) + ", Changed " + std::to_string(stats.changed) +
                       ", Same " + std::to_string(stats.same) + ", Deleted " + std::to_string(stats.deleted) +
                       ", Skipped " + std::to_string(stats.skipped) + ", Errors " + std::to_string(stats.errors);
    if (!currentFile.empty()) {
        line +=
            " | " + (percentText.empty() ? std::string() : percentText + " ") + EscapeControlCharacters(currentFile);
    }
    // A line longer than the terminal would wrap, and "\r" would then rewrite only its tail.
    std::size_t width = 80;
    if (const int columns = TerminalColumns(out); columns > 1) {
        width = static_cast<std::size_t>(columns);
    }
    if (line.size() > width - 1) {
        // Never split a UTF-8 character.
        std::size_t cut = 0;
        for (std::size_t next = 0; next <= width - 1; next = Utf8CharacterEnd(line, cut)) {
            cut = next;
        }
        line.resize(cut);
    }
    std::fputs(("\r\033[K" + line).c_str(), out);
    std::fflush(out);
    lineShown = true;
}

void CHeadlessShell::CProgressLine::SetProgressState(const RunStats& runStats, DateTime /*startTime*/) {
    std::lock_guard lock(shell.outputMutex);
    shell.stats = runStats;
}

void CHeadlessShell::CProgressLine::UpdateProgress() {
    if (!shell.showProgress) {
        return;
    }
    std::lock_guard lock(shell.outputMutex);
    shell.DrawLineLocked();
}

void CHeadlessShell::CProgressLine::SetCurrentFileText(const std::string& text) {
    std::lock_guard lock(shell.outputMutex);
    shell.currentFile = text;
}

void CHeadlessShell::CProgressLine::SetPercentText(const std::string& text) {
    std::lock_guard lock(shell.outputMutex);
    shell.percentText = text;
}
