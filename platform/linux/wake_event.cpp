// WakeEvent over an eventfd, waited on with poll.
#include "platform/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

WakeEvent::WakeEvent() : fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
    if (fd >= 0) {
        close(fd);
    }
}

void WakeEvent::Signal() {
    const std::uint64_t one = 1;
    if (fd >= 0) {
        [[maybe_unused]] ssize_t written = write(fd, &one, sizeof one);
    }
}

void WakeEvent::WaitAndClear(std::chrono::milliseconds timeout) {
    if (fd < 0) {
        return;
    }
    if (timeout.count() > 0) {
        pollfd wakeUp{fd, POLLIN, 0};
        poll(&wakeUp, 1, static_cast<int>(timeout.count()));
    }
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t drained = read(fd, &count, sizeof count);
}
