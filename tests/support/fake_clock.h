// FakeClock: a clock for the headless shell that stands still until a test advances it, so a
// 10 s timer passes at once.
#pragma once

#include <atomic>
#include <chrono>

#include "app/headless_shell.h"

class FakeClock : public IClock {
public:
    std::chrono::milliseconds Now() const override { return std::chrono::milliseconds(now.load()); }
    bool Flows() const override { return false; }
    void Advance(std::chrono::milliseconds by) { now += by.count(); }

private:
    std::atomic<long long> now{0};
};
