// IJobRuns: what the job's commands need of its runs.
#pragma once

// Called on the user-interface thread.
class IJobRuns {
public:
    virtual ~IJobRuns() = default;
    // A run is under way: the runner walks the task list without a lock.
    virtual bool RunActive() const = 0;
    // The user is at the window: the program stays open after the run and does not shut down.
    virtual void KeepOpen() = 0;
    // The sources changed: the counted total no longer holds.
    virtual void ForgetSourceTotal() = 0;
};
