// WakeEvent over an auto-reset event object.
#include "platform/wake_event.h"

#include <windows.h>

#include <algorithm>

namespace {

HANDLE HandleOf(std::intptr_t event) {
    return reinterpret_cast<HANDLE>(event);
}

} // namespace

WakeEvent::WakeEvent() : event(reinterpret_cast<std::intptr_t>(::CreateEventW(nullptr, FALSE, FALSE, nullptr))) {}

WakeEvent::~WakeEvent() {
    if (event != 0) {
        ::CloseHandle(HandleOf(event));
    }
}

void WakeEvent::Signal() {
    if (event != 0) {
        ::SetEvent(HandleOf(event));
    }
}

void WakeEvent::WaitAndClear(std::chrono::milliseconds timeout) {
    if (event == 0) {
        return;
    }
    if (timeout.count() > 0) {
        const auto ms = std::min<long long>(timeout.count(), INFINITE - 1);
        ::WaitForSingleObject(HandleOf(event), static_cast<DWORD>(ms));
    }
    // A wait that ended on the signal has cleared it; this clears one given since.
    ::ResetEvent(HandleOf(event));
}
