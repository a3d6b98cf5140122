// YScheduleDlg: Tools > Schedule. Sets up, changes or removes the systemd user timer that runs
// the job unattended, showing its next run and last result; where no user service manager runs,
// it offers the crontab line instead.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include <wx/dialog.h>

#include "app/job_schedule.h"

class wxBoxSizer;
class wxButton;
class wxChoice;
class wxSpinCtrl;
class wxStaticText;
class wxTextCtrl;

class YScheduleDlg : public wxDialog {
public:
    enum ControlId : int {
        IdFrequency = 1200,
        IdWeekday,
        IdHour,
        IdMinute,
        IdSave,
        IdRemove,
        IdStatus,
        IdCrontab,
        IdCopy
    };

    // jobPath is absolute. The scheduler is asked on a worker thread, which keeps it as long as it
    // needs it; the dialog shows the answer when it comes, and may be closed before.
    YScheduleDlg(wxWindow* parent, std::shared_ptr<IJobScheduler> scheduler, std::string jobPath);
    ~YScheduleDlg() override;

    // The commands behind the buttons, public for the tests; ignored while Busy.
    void Save();
    void Remove();

    JobSchedule Chosen() const;
    const std::string& StatusText() const { return status; }
    // Whether the scheduler is still being asked.
    bool Busy() const { return busy; }

private:
    // What one visit to the scheduler found.
    struct Answer {
        bool managerRunning = false;
        bool scheduled = false;
        std::string error;
        std::string next;
        std::string last;
    };
    enum class Request { Look, Save, Remove };

    void Ask(Request request);
    void ShowAnswer(const Answer& answer);
    void SelectionChanged();

    std::shared_ptr<IJobScheduler> scheduler;
    const std::string jobPath;
    // False until the scheduler has answered whether its manager runs.
    bool managerRunning = false;
    bool busy = false;
    // Cleared when the dialog goes, for answers that arrive after it.
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    // The request under way. The dialog waits for it when it closes: it uses the scheduler's
    // runner and file system, which need not outlive the dialog (each command has a time limit).
    std::thread worker;
    std::string status;
    wxBoxSizer* outer = nullptr;
    wxButton* saveButton = nullptr;
    wxChoice* frequency = nullptr;
    wxChoice* weekday = nullptr;
    wxSpinCtrl* hour = nullptr;
    wxSpinCtrl* minute = nullptr;
    wxButton* removeButton = nullptr;
    wxStaticText* statusText = nullptr;
    wxTextCtrl* crontab = nullptr;
};
