// The power port of the window program: the system's port for the inhibitor and power-off, with
// keep-awake method 2 as a harmless synthetic key release (on Linux, on an X11 display).
#pragma once

#include "run/power_port.h"

// Sends one release of the F15 key: on Windows as system input, elsewhere through the X server's
// test extension, doing nothing (false) on Wayland, without an X11 display or the extension.
// User-interface thread.
bool SendHarmlessKeyRelease();

class CDesktopPowerPort : public IPowerPort {
public:
    explicit CDesktopPowerPort(IPowerPort& system) : systemPort(system) {}
    void SetSleepInhibited(bool inhibited) override { systemPort.SetSleepInhibited(inhibited); }
    void SimulateKeyPress() override { SendHarmlessKeyRelease(); }
    void ShutdownMachine() override { systemPort.ShutdownMachine(); }

private:
    IPowerPort& systemPort;
};
