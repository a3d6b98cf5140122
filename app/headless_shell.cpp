// The headless shell's event loop, message boxes and progress line.
#include "app/headless_shell.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/fs_error.h"
#include "platform/terminal.h"
#include "util/large_number.h"
#include "util/texts.h"
#include "util/utf8.h"

namespace {

// path relative to root, a task's source or destination; a single-file task's own file by its
// name.
std::string PathUnder(const std::string& root, const std::string& path) {
    if (root.empty()) {
        return path;
    }
    const std::string prefix = root.back() == kPathSeparator ? root : root + kPathSeparator;
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) {
        return path.substr(prefix.size());
    }
    if (path == root) {
        const std::size_t cut = root.rfind(kPathSeparator);
        return cut == std::string::npos ? path : path.substr(cut + 1);
    }
    return path;
}

// Texts of the run log's failure lines that name the side and the path, as (start, side, end
// of the path). Whatever follows the path is the reason.
struct FailureShape {
    const char* start;
    const char* what;
    const char* pathEnd;
};

constexpr FailureShape kFailureShapes[] = {
    {"Can't open source directory ", "cannot read source ", " with error "},
    {"Error reading source directory: \"", "cannot read source ", "\" ("},
    {"Error reading destination directory \"", "cannot read destination ", "\" ("},
    {"Unable to create \"", "cannot create destination ", "\" - aborting ("},
    {"Failed to delete file ", "cannot delete destination ", " with error "},
    {"Failed to delete directory ", "cannot delete destination ", " with error "},
    {"Failed to copy file ", "cannot copy ", " with error "},
    {"Failed to set the permissions of ", "cannot set the permissions of destination ", " with error "},
    {"Failed to flush the destination ", "cannot flush destination ", " to disk with error "},
};

bool IsNumbered(const FailureShape& shape) {
    return std::string_view(shape.pathEnd).find("with error") != std::string_view::npos;
}

// A copy that failed for want of room or of a writable file system failed on its destination:
// the destination path, found after the task's destination root; empty otherwise.
std::string WrittenPathOf(const std::string& text, const FailureShape& shape, const std::string& paths,
                          const std::string& destinationRoot) {
    if (std::string_view(shape.start) != "Failed to copy file " || destinationRoot.empty()) {
        return "";
    }
    const std::size_t number = text.rfind(shape.pathEnd) + std::strlen(shape.pathEnd);
    const ErrorKind kind = KindOfSystemError(std::atoi(text.c_str() + number));
    const std::size_t to = paths.find(" to " + destinationRoot);
    if ((kind != ErrorKind::NoSpace && kind != ErrorKind::ReadOnly) || to == std::string::npos) {
        return "";
    }
    return paths.substr(to + 4);
}

// One failure of the run log in the form "cannot read source /x/y: Permission denied" where the
// text is of a known shape; otherwise the text as it is.
std::string FailureLine(const std::string& text, const std::string& destinationRoot) {
    for (const FailureShape& shape : kFailureShapes) {
        const std::string start = shape.start;
        if (text.compare(0, start.size(), start) != 0) {
            continue;
        }
        const std::size_t end = text.rfind(shape.pathEnd);
        if (end == std::string::npos || end < start.size()) {
            continue;
        }
        std::string reason = text.substr(end + std::strlen(shape.pathEnd));
        if (const std::size_t colon = reason.find(": "); IsNumbered(shape) && colon != std::string::npos) {
            reason = reason.substr(colon + 2); // past the error number
        } else if (!reason.empty() && reason.back() == ')') {
            reason.pop_back();
        }
        const std::string path = text.substr(start.size(), end - start.size());
        const std::string written = WrittenPathOf(text, shape, path, destinationRoot);
        std::string line = written.empty() ? shape.what + path : "cannot write destination " + written;
        line += ": ";
        line += reason;
        return line;
    }
    return text;
}

} // namespace

std::chrono::milliseconds CSteadyClock::Now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

CHeadlessShell::CHeadlessShell(IClock& clockSource, bool progress, bool endWithRun, std::FILE* output,
                               std::FILE* progressOutput)
    : clock(clockSource), showProgress(progress), endsWithRun(endWithRun), out(output),
      screen(progressOutput != nullptr ? progressOutput : output) {}

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
    std::lock_guard lock(outputMutex);
    const std::string line = FailureLine(std::string(WithoutLineEnd(text)), taskDestination);
    ClearLineLocked();
    ReportRepeatsLocked();
    std::fputs(("pemo: " + EscapeControlCharacters(line) + "\n").c_str(), out);
    std::fflush(out);
}

void CHeadlessShell::ReportEnd(const std::string& logPath, const std::string& stoppedBy) {
    std::lock_guard lock(outputMutex);
    ClearLineLocked();
    const std::string where = "log: " + EscapeControlCharacters(logPath.empty() ? "(none)" : logPath);
    const std::string totals = std::to_string(stats.newFiles) + " new, " + std::to_string(stats.changed) +
                               " changed, " + std::to_string(stats.deleted) + " deleted, " +
                               std::to_string(stats.errors) + (stats.errors == 1 ? " error; " : " errors; ") + where;
    if (stats.errors != 0) {
        std::fputs(("pemo: " + totals + "\n").c_str(), out);
    } else if (verbose) {
        std::fputs((totals + "\n").c_str(), screen);
        std::fflush(screen);
    }
    if (!stoppedBy.empty()) {
        std::fputs(("pemo: stopped by " + stoppedBy + "; " + where + "\n").c_str(), out);
    }
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
    ClearLineLocked();
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
        std::fputs("\r\033[K", screen);
        std::fflush(screen);
        lineShown = false;
    }
}

void CHeadlessShell::DrawLineLocked() {
    std::string line = std::to_string(stats.newFiles) + " new, " + std::to_string(stats.changed) + " changed, " +
                       std::to_string(stats.same) + " same, " + std::to_string(stats.deleted) + " deleted, " +
                       std::to_string(stats.errors) + (stats.errors == 1 ? " error" : " errors");
    if (bytesCopied != 0) {
        // The run's own average: a rate over the last moments would swing with every small file.
        const auto elapsed = std::max<std::int64_t>((clock.Now() - runBegan).count(), 1);
        const std::uint64_t perSecond = bytesCopied * 1000 / static_cast<std::uint64_t>(elapsed);
        line += " | " + SizeText(CLargeNumber::FromUint64(bytesCopied)) + " at " +
                SizeText(CLargeNumber::FromUint64(perSecond)) + "/s";
    }
    if (!currentFile.empty()) {
        line +=
            " | " + (percentText.empty() ? std::string() : percentText + " ") + EscapeControlCharacters(currentFile);
    }
    // A line longer than the terminal would wrap, and "\r" would then rewrite only its tail.
    std::size_t width = 80;
    if (const int columns = TerminalColumns(screen); columns > 1) {
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
    std::fputs(("\r\033[K" + line).c_str(), screen);
    std::fflush(screen);
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

void CHeadlessShell::CProgressLine::BeginTask(const std::string& source, const std::string& destination) {
    std::lock_guard lock(shell.outputMutex);
    shell.taskSource = source;
    shell.taskDestination = destination;
    if (shell.runBegan.count() < 0) {
        shell.runBegan = shell.clock.Now();
    }
}

void CHeadlessShell::CProgressLine::AddBytesCopied(std::uint64_t bytes) {
    std::lock_guard lock(shell.outputMutex);
    shell.bytesCopied += bytes;
}

void CHeadlessShell::CProgressLine::ReportChange(char mark, const std::string& path) {
    if (!shell.verbose) {
        return;
    }
    std::lock_guard lock(shell.outputMutex);
    const std::string& root = mark == '-' ? shell.taskDestination : shell.taskSource;
    const std::string line = std::string(1, mark) + " " + EscapeControlCharacters(PathUnder(root, path)) + "\n";
    shell.ClearLineLocked();
    std::fputs(line.c_str(), shell.screen);
    std::fflush(shell.screen);
}
