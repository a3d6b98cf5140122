// The HTML run log: pane lines, the marked-up pendingLog and its appends to the run's file.
#include "run/html_log.h"

#include "model/message_port.h"
#include "model/stdio_file_ex.h"
#include "platform/fs_error.h"

namespace {

// A log is never written through a link: the directory may be shared with users who could
// point one at a file of the runner's.
constexpr unsigned kAppendFlags = CStdioFileEx::modeWrite | CStdioFileEx::modeCreate | CStdioFileEx::modeNoTruncate |
                                  CStdioFileEx::modeWriteUnicode | CStdioFileEx::modeNoFollow;
constexpr unsigned kCreateFlags =
    CStdioFileEx::modeWrite | CStdioFileEx::modeCreate | CStdioFileEx::modeWriteUnicode | CStdioFileEx::modeNoFollow;

std::string Reason(const CFileException& error) {
    std::string text = error.ErrorText();
    if (text.size() > 255) {
        text.resize(255);
    }
    return text;
}

} // namespace

std::string HtmlEscape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped += c;
            break;
        }
    }
    return escaped;
}

CRunLog::CRunLog(CRunContext& context, IRunWindow* window) : ctx(context), pane(window) {}

void CRunLog::AddLogLine(const std::string& text, LogColour colour) {
    const char* open = nullptr;
    const char* close = "</FONT><BR>\r\n";
    switch (colour) {
    case LogColour::Bold:
        open = "<B>";
        close = "</B><BR>\r\n";
        break;
    case LogColour::Red:
        open = "<FONT COLOR=RED>";
        break;
    case LogColour::Green:
        open = "<FONT COLOR=GREEN>";
        break;
    case LogColour::Purple:
        open = "<FONT COLOR=PURPLE>";
        break;
    case LogColour::Teal:
        if (!ctx.logExclusions) {
            return;
        }
        open = "<FONT COLOR=#008080>";
        break;
    }
    // The pane is called without our lock: a window that holds a worker inside AddPaneLine
    // must not also stall the user-interface thread's own log line (pause, resume) on the lock.
    // The pane keeps each thread's order itself.
    if (IRunWindow* window = pane; colour != LogColour::Teal && window != nullptr) {
        window->AddPaneLine(text);
    }
    if (colour == LogColour::Red && redEcho) {
        redEcho(text);
    }
    std::string reason;
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (finished) {
            return;
        }
        pendingLog += open;
        pendingLog += HtmlEscape(text);
        pendingLog += close;
        if (pendingLog.size() > flushAt) {
            failed = !AppendLocked(pendingLog, reason);
            if (!failed) {
                pendingLog.clear();
            }
            // After a failure the next try waits for another threshold's worth of text: a
            // log file that stays unwritable costs one message per block, not one per line.
            flushAt = failed ? pendingLog.size() + kFlushThreshold : kFlushThreshold;
        }
    }
    if (failed && ctx.messages != nullptr) {
        ctx.messages->MessageBox("Error saving logfile:\n\n" + reason);
    }
}

void CRunLog::FlushLog() {
    std::string reason;
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (finished) {
            return;
        }
        failed = !AppendLocked(pendingLog, reason);
        if (!failed) {
            pendingLog.clear();
            flushAt = kFlushThreshold;
        }
    }
    if (failed && ctx.messages != nullptr) {
        ctx.messages->MessageBox("Error saving logfile:\n\n" + reason);
    }
}

bool CRunLog::AppendLocked(const std::string& text, std::string& reason) {
    CStdioFileEx file(*ctx.fs);
    CFileException error;
    if (!file.Open(runLogPath, kAppendFlags, &error)) {
        reason = Reason(error);
        return false;
    }
    try {
        file.AppendWhole(text);
        file.Close();
    } catch (const CFileException& e) {
        reason = Reason(e);
        return false;
    }
    return true;
}

void CRunLog::BeginRun() {
    std::lock_guard<std::mutex> lock(mutex);
    pendingLog.clear();
    flushAt = kFlushThreshold;
    finished = false;
}

bool CRunLog::StartLog(const std::string& path, std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex);
    runLogPath = path;
    CStdioFileEx file(*ctx.fs);
    CFileException error;
    if (!file.Open(path, kCreateFlags, &error)) {
        reason = Reason(error);
        return false;
    }
    try {
        file.WriteString("<HTML><BODY>\r\n");
        file.Close();
    } catch (const CFileException& e) {
        reason = Reason(e);
        return false;
    }
    return true;
}

bool CRunLog::FinishLog(std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
    if (!AppendLocked(pendingLog + "</BODY></HTML>\r\n", reason)) {
        return false;
    }
    pendingLog.clear();
    return true;
}

void CRunLog::EchoRedLines(std::function<void(const std::string&)> echo) {
    redEcho = std::move(echo);
}

std::string CRunLog::PendingLog() const {
    std::lock_guard<std::mutex> lock(mutex);
    return pendingLog;
}

std::string CRunLog::RunLogPath() const {
    std::lock_guard<std::mutex> lock(mutex);
    return runLogPath;
}
