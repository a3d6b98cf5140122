// The power port: keeping the machine awake while a run is active and switching it off after a
// run started with -shutdown. The real port talks to the system; tests use a recording fake, so
// nothing in the test suite can ever power the machine off.
#pragma once

class IPowerPort {
public:
    virtual ~IPowerPort() = default;
    // Keep-awake method 1: hold (true) or release (false) the system's idle-sleep inhibitor.
    // Holding an already held inhibitor keeps the one lock. Callable from any thread; failures
    // are ignored.
    virtual void SetSleepInhibited(bool inhibited) = 0;
    // Keep-awake method 2: one harmless synthetic input event. Does nothing where there is no
    // display; the window program supplies the real event.
    virtual void SimulateKeyPress() = 0;
    // Switches the machine off, forcing other programs closed. Failures are ignored: the machine
    // simply stays on. Called on the run thread.
    virtual void ShutdownMachine() = 0;
};
