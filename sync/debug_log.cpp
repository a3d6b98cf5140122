// The debug log "debug.log": each line opened, appended and closed on its own.
#include "sync/debug_log.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "model/message_port.h"
#include "model/stdio_file_ex.h"
#include "platform/fs_error.h"
#include "util/texts.h"

namespace {

// Other processes are kept out by the exclusive open; threads of this one queue here first,
// so that a busy run and a counting pass never cost each other the retry or a message box.
std::mutex& DebugLogMutex() {
    static std::mutex mutex;
    return mutex;
}

constexpr unsigned kDebugLogFlags = CStdioFileEx::modeWrite | CStdioFileEx::modeCreate | CStdioFileEx::modeNoTruncate |
                                    CStdioFileEx::shareExclusive | CStdioFileEx::modeWriteUnicode |
                                    CStdioFileEx::modeNoFollow;

} // namespace

void DebugLog(CRunContext& ctx, const std::string& text) {
    std::unique_lock<std::mutex> lock(DebugLogMutex());
    CStdioFileEx file(*ctx.fs);
    CFileException error;
    bool open = file.Open("debug.log", kDebugLogFlags, &error);
    if (!open) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        error = CFileException();
        open = file.Open("debug.log", kDebugLogFlags, &error);
    }
    if (!open) {
        lock.unlock();
        if (ctx.messages != nullptr) {
            std::string reason = error.ErrorText();
            if (reason.size() > 255) {
                reason.resize(255);
            }
            // The trace line carries names from the trees: none may add a line of its own.
            ctx.messages->MessageBox(EscapeControlCharacters(text) + "\r\n" + reason);
        }
        return;
    }
    try {
        file.AppendWhole(text + "\r\n");
        file.Close();
    } catch (const std::exception&) {
        // A trace line that cannot be written is dropped; the run goes on.
    }
}
