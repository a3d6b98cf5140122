// FakePowerPort: a power port that records what the controller asked of it and touches nothing.
#pragma once

#include <atomic>
#include <mutex>

#include "run/power_port.h"

class FakePowerPort : public IPowerPort {
public:
    void SetSleepInhibited(bool inhibited) override;
    void SimulateKeyPress() override { ++keyPresses; }
    void ShutdownMachine() override { ++shutdowns; }

    bool Inhibited() const;
    // How often the inhibitor went from released to held.
    int InhibitorTakes() const;

    std::atomic<int> keyPresses{0};
    std::atomic<int> shutdowns{0};

private:
    mutable std::mutex mutex;
    bool inhibited = false;
    int takes = 0;
};
