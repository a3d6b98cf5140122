// Where the program runs on Windows: an interactive desktop, and the console its output goes to.
#include "platform/terminal.h"

#include <io.h>
#include <windows.h>

namespace {

HANDLE ConsoleOf(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0) {
        return nullptr;
    }
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) ? handle : nullptr;
}

} // namespace

bool HasGraphicalDisplay() {
    // A service, or a task run whether the user is logged on or not, has a window station that
    // shows nothing.
    USEROBJECTFLAGS flags{};
    HWINSTA station = ::GetProcessWindowStation();
    if (station == nullptr || !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
        return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

const char* const kNoDisplayReason =
    "the session has no visible desktop, as for a service or a scheduled task run whether the user is logged on or not";

bool IsTerminal(std::FILE* stream) {
    // Not _isatty, which also says yes for the NUL device.
    return ConsoleOf(stream) != nullptr;
}

int TerminalColumns(std::FILE* stream) {
    HANDLE console = ConsoleOf(stream);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console == nullptr || !::GetConsoleScreenBufferInfo(console, &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

bool EnableLineRewriting(std::FILE* stream) {
    HANDLE console = ConsoleOf(stream);
    DWORD mode = 0;
    if (console == nullptr || !::GetConsoleMode(console, &mode)) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
