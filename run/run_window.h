// The run window: what the runner and run control show beyond the engine's progress (the log
// pane, the controls, the task list, the progress display, the tray icon and its balloon).
#pragma once

#include <string>

#include "sync/run_context.h"

// Every call may come from any thread; an implementation keeps the order of one thread's calls
// and never makes a worker wait for a user-interface thread that is waiting for it.
class IRunWindow : public IProgressSink {
public:
    virtual void AddPaneLine(const std::string& text) = 0;
    virtual void SetRunningControls() = 0;
    virtual void SetIdleControls() = 0;
    virtual void RefreshTaskList() = 0;
    virtual void UpdateProgress() = 0;
    virtual void SetProgressCaption(const std::string& text) = 0;
    virtual void SetCountText(const std::string& text) = 0;
    virtual void StartRunIndicator() = 0;
    virtual void StopRunIndicator() = 0;
    virtual void SetTrayIcon(int iconId) = 0;
    virtual void ShowBalloon(const std::string& title, const std::string& text) = 0;
    // A task begins on these two working paths: the changes reported until the next one are
    // under them.
    virtual void BeginTask(const std::string& /*source*/, const std::string& /*destination*/) {}
};
