// The power port of a real run on Linux: logind's idle-sleep inhibitor lock and its PowerOff
// call, over the system D-Bus. Constructed only by the program's entry, never by a test.
#pragma once

#include <mutex>

#include "run/power_port.h"

class CLogindPowerPort : public IPowerPort {
public:
    CLogindPowerPort() = default;
    ~CLogindPowerPort() override;
    CLogindPowerPort(const CLogindPowerPort&) = delete;
    CLogindPowerPort& operator=(const CLogindPowerPort&) = delete;

    void SetSleepInhibited(bool inhibited) override;
    // Nothing: a synthetic key event needs the window program's display connection.
    void SimulateKeyPress() override {}
    void ShutdownMachine() override;

private:
    std::mutex mutex;
    int inhibitorFd = -1; // the lock is held while this descriptor is open
    // Set after the system bus could not be reached, so a machine without logind is asked once.
    bool busUnavailable = false;
};
