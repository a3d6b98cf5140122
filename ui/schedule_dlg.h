// YScheduleDlg: Tools > Schedule. Sets up, changes or removes the systemd user timer that runs
// the job unattended, showing its next run and last result; where no user service manager runs,
// it offers the crontab line instead.
#pragma once

#include <string>

#include <wx/dialog.h>

#include "app/job_schedule.h"

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

    // jobPath is absolute. The scheduler must outlive the dialog.
    YScheduleDlg(wxWindow* parent, CJobScheduler& scheduler, std::string jobPath);

    // The commands behind the buttons, public for the tests.
    void Save();
    void Remove();

    JobSchedule Chosen() const;
    const std::string& StatusText() const { return status; }

private:
    void RefreshState(const std::string& error);
    void SelectionChanged();

    CJobScheduler& scheduler;
    const std::string jobPath;
    const bool managerRunning;
    std::string status;
    wxChoice* frequency = nullptr;
    wxChoice* weekday = nullptr;
    wxSpinCtrl* hour = nullptr;
    wxSpinCtrl* minute = nullptr;
    wxButton* removeButton = nullptr;
    wxStaticText* statusText = nullptr;
    wxTextCtrl* crontab = nullptr;
};
