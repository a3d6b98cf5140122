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
    controlStop.store(&flag);
    ::SetConsoleCtrlHandler(RequestStop, TRUE);
}

StopOnSignals::~StopOnSignals() {
    ::SetConsoleCtrlHandler(RequestStop, FALSE);
    controlStop.store(nullptr);
}
