// The power port of a real run: the system's idle-sleep inhibitor and power-off. Constructed
// only by the program's entry, never by a test.
#pragma once

#include "platform/system_power.h"
#include "run/power_port.h"

class CSystemPowerPort : public IPowerPort {
public:
    void SetSleepInhibited(bool inhibited) override { power.SetSleepInhibited(inhibited); }
    // Nothing: a synthetic key event needs the window program's display connection.
    void SimulateKeyPress() override {}
    void ShutdownMachine() override { power.PowerOff(); }

private:
    SystemPower power;
};
