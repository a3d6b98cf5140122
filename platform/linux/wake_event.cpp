// WakeEvent over an eventfd, waited on with poll.
#include "platform/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

WakeEvent::WakeEvent() : event(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
    if (event >= 0) {
        close(static_cast<int>(event));
    }
}

void WakeEvent::Signal() {
    const std::uint64_t one = 1;
    if (event >= 0) {
        [[maybe_unused]] ssize_t written = write(static_cast<int>(event), &one, sizeof one);
    }
}

void WakeEvent::WaitAndClear(std::chrono::milliseconds timeout) {
    if (event < 0) {
        return;
    }
    if (timeout.count() > 0) {
        pollfd wakeUp{static_cast<int>(event), POLLIN, 0};
        poll(&wakeUp, 1, static_cast<int>(timeout.count()));
    }
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t drained = read(static_cast<int>(event), &count, sizeof count);
}
