// The system's power services: holding off idle sleep while a run is active, and switching the
// machine off. Failures are never reported: keeping awake is best effort, and a refused
// power-off leaves the machine on.
#pragma once

#include <memory>

class SystemPower {
public:
    SystemPower();
    ~SystemPower();
    SystemPower(const SystemPower&) = delete;
    SystemPower& operator=(const SystemPower&) = delete;

    // Holds (true) or releases (false) the idle-sleep inhibitor; holding twice keeps one.
    // Callable from any thread.
    void SetSleepInhibited(bool inhibited);
    // Asks the system to switch off without an authentication prompt.
    void PowerOff();

private:
    struct State;
    std::unique_ptr<State> state;
};

// Sends the system one release of a key no keyboard has (F15), which counts as user input and
// so resets the idle time without changing anything for any program. False where the system has
// no such input of its own (on Linux it belongs to the display server, which the window program
// reaches). The window program's user-interface thread.
bool SendSystemKeyRelease();
