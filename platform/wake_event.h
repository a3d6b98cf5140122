// WakeEvent: a counter one thread raises to wake another that waits on it with a timeout. The
// wait follows the monotonic clock, and the thread sanitizer understands it (unlike timed
// condition waits on the steady clock in this toolchain).
#pragma once

#include <chrono>
#include <cstdint>

class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // Any thread. A signal given before the wait starts is not lost.
    void Signal();
    // Waits up to timeout for a signal (not at all when one is pending or timeout is 0), then
    // clears every pending signal. Returns at once where the system gave no event.
    void WaitAndClear(std::chrono::milliseconds timeout);

private:
    // The system's object: a descriptor (-1 for none) or a handle (0 for none).
    std::intptr_t event;
};
