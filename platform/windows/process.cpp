// The process services with Win32 calls; requests to end the program arrive as console control
// events, each on a thread the system starts for it.
#include "platform/process.h"

#include <windows.h>

#include <vector>

#include "platform/windows/wtf8.h"

long CurrentProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

bool ProcessExists(long pid) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        // Only an unknown id is refused as a bad parameter; a process of another user is denied.
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    }
    // The id stays valid while any handle to an ended process is open: ask whether it runs.
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess(process, &code) == 0 || code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(Wtf8FromWide(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

std::string OwnProgramPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            return Wtf8FromWide(std::wstring_view(buffer.data(), n));
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string EnvironmentValue(const char* name) {
    const std::wstring wideName = WideFromWtf8(name);
    std::wstring value(64, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            return {};
        }
        if (n < value.size()) {
            value.resize(n);
            return Wtf8FromWide(value);
        }
        value.resize(n); // n counts the terminator when the buffer was too small
    }
}

FsError ChangeCurrentDirectory(const std::string& path) {
    return ::SetCurrentDirectoryW(WideFromWtf8(path).c_str()) != 0
               ? FsError()
               : FsError::FromSystem(static_cast<int>(::GetLastError()));
}

namespace {

// Read on the handler's own thread, so both are atomic.
std::atomic<std::atomic<int>*> controlStop{nullptr};
std::atomic<unsigned> controlSeen{0};
// The first event that asked for the stop, plus one; 0 while none has.
std::atomic<unsigned> firstEvent{0};

BOOL WINAPI RequestStop(DWORD event) {
    std::atomic<int>* flag = controlStop.load();
    if (flag == nullptr || event > CTRL_SHUTDOWN_EVENT) {
        return FALSE;
    }
    // The second event of a kind goes on to the system's handler, which ends the process.
    const unsigned bit = 1u << event;
    if ((controlSeen.fetch_or(bit) & bit) != 0) {
        return FALSE;
    }
    unsigned none = 0;
    firstEvent.compare_exchange_strong(none, static_cast<unsigned>(event) + 1);
    flag->store(1);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    // After a close, logoff or shutdown event the system ends the process as soon as the handler
    // returns: hold it here so the run can stop as the Stop button stops it; the process ends
    // when the program exits or the system's grace period runs out.
    ::Sleep(INFINITE);
    return TRUE;
}

} // namespace

// Ctrl-C, Ctrl-Break, the console window closing, the user logging off and the system shutting
// down (the last two reach only programs without a window of their own, such as pemo -auto).
struct StopOnSignals::State {};

StopOnSignals::StopOnSignals(std::atomic<int>& flag) : state(std::make_unique<State>()) {
    controlSeen.store(0);
    firstEvent.store(0);
    controlStop.store(&flag);
    ::SetConsoleCtrlHandler(RequestStop, TRUE);
}

StopOnSignals::~StopOnSignals() {
    ::SetConsoleCtrlHandler(RequestStop, FALSE);
    controlStop.store(nullptr);
}

std::string StopOnSignals::Received() const {
    switch (firstEvent.load()) {
    case 0:
        return "";
    case CTRL_C_EVENT + 1:
        return "CTRL_C_EVENT";
    case CTRL_BREAK_EVENT + 1:
        return "CTRL_BREAK_EVENT";
    case CTRL_CLOSE_EVENT + 1:
        return "CTRL_CLOSE_EVENT";
    case CTRL_LOGOFF_EVENT + 1:
        return "CTRL_LOGOFF_EVENT";
    default:
        return "CTRL_SHUTDOWN_EVENT";
    }
}
