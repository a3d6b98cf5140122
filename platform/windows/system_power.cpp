// SystemPower with the thread execution state, and power-off with the shutdown privilege.
#include "platform/system_power.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>

// The execution state belongs to the thread that sets it and lapses when that thread ends, so
// one thread of this object's own holds it: callers on any thread only say what they want.
struct SystemPower::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool wanted = false;
    bool closing = false;
    std::thread holder; // started on the first hold

    void Hold() {
        std::unique_lock lock(mutex);
        bool held = false;
        for (;;) {
            changed.wait(lock, [&] { return closing || wanted != held; });
            if (closing) {
                break;
            }
            held = wanted;
            ::SetThreadExecutionState(held ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
        }
        ::SetThreadExecutionState(ES_CONTINUOUS);
    }
};

SystemPower::SystemPower() : state(std::make_unique<State>()) {}

SystemPower::~SystemPower() {
    {
        std::lock_guard lock(state->mutex);
        state->closing = true;
    }
    state->changed.notify_all();
    if (state->holder.joinable()) {
        state->holder.join();
    }
}

void SystemPower::SetSleepInhibited(bool inhibited) {
    std::lock_guard lock(state->mutex);
    state->wanted = inhibited;
    if (inhibited && !state->holder.joinable()) {
        state->holder = std::thread([s = state.get()] { s->Hold(); });
    }
    state->changed.notify_all();
}

void SystemPower::PowerOff() {
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
            ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        }
        ::CloseHandle(token);
    }
    // Switched off, not only shut down. A program that hangs is closed; one that asks to keep its
    // unsaved work is not overridden and may hold the machine on, which loses nobody's work.
    ::ExitWindowsEx(EWX_POWEROFF | EWX_FORCEIFHUNG,
                    SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_MAINTENANCE | SHTDN_REASON_FLAG_PLANNED);
}

bool SendSystemKeyRelease() {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_F15;
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    return ::SendInput(1, &input, sizeof input) == 1;
}
