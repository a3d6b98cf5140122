// FakePowerPort: the recording power port of the tests.
#include "fake_power_port.h"

void FakePowerPort::SetSleepInhibited(bool value) {
    std::lock_guard lock(mutex);
    if (value && !inhibited) {
        ++takes;
    }
    inhibited = value;
}

bool FakePowerPort::Inhibited() const {
    std::lock_guard lock(mutex);
    return inhibited;
}

int FakePowerPort::InhibitorTakes() const {
    std::lock_guard lock(mutex);
    return takes;
}
