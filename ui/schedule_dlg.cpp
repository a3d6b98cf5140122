// Layout and commands of the schedule dialog; the units themselves are CJobScheduler's.
#include "ui/schedule_dlg.h"

#include <utility>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/clipbrd.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

YScheduleDlg::YScheduleDlg(wxWindow* parent, CJobScheduler& jobScheduler, std::string job)
    : wxDialog(parent, wxID_ANY, "Schedule", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      scheduler(jobScheduler), jobPath(std::move(job)), managerRunning(scheduler.ManagerRunning()) {
    const int gap = FromDIP(7);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(new wxStaticText(this, wxID_ANY, "Run " + wxString::FromUTF8(jobPath) + " unattended:"), 0, wxALL, gap);

    auto* when = new wxBoxSizer(wxHORIZONTAL);
    const wxString frequencies[] = {"Daily", "Weekly on"};
    frequency = new wxChoice(this, IdFrequency, wxDefaultPosition, wxDefaultSize, 2, frequencies);
    const wxString days[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    weekday = new wxChoice(this, IdWeekday, wxDefaultPosition, wxDefaultSize, 7, days);
    hour = new wxSpinCtrl(this, IdHour, "", wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS | wxSP_WRAP, 0, 23, 2);
    minute =
        new wxSpinCtrl(this, IdMinute, "", wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS | wxSP_WRAP, 0, 59, 30);
    when->Add(frequency, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    when->Add(weekday, 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    when->Add(new wxStaticText(this, wxID_ANY, "at"), 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    when->Add(hour, 0, wxALIGN_CENTRE_VERTICAL);
    when->Add(new wxStaticText(this, wxID_ANY, ":"), 0, wxALIGN_CENTRE_VERTICAL | wxLEFT | wxRIGHT, gap / 2);
    when->Add(minute, 0, wxALIGN_CENTRE_VERTICAL);
    outer->Add(when, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);

    statusText = new wxStaticText(this, IdStatus, "");
    outer->Add(statusText, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

    if (!managerRunning) {
        crontab = new wxTextCtrl(this, IdCrontab, "", wxDefaultPosition, wxSize(FromDIP(520), -1), wxTE_READONLY);
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        row->Add(crontab, 1, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
        row->Add(new wxButton(this, IdCopy, "Copy"), 0, wxALIGN_CENTRE_VERTICAL);
        outer->Add(row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    }

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* save = new wxButton(this, IdSave, "Save schedule");
    removeButton = new wxButton(this, IdRemove, "Remove schedule");
    save->Enable(managerRunning);
    buttons->Add(save, 0, wxRIGHT, gap);
    buttons->Add(removeButton, 0, wxRIGHT, gap);
    buttons->AddStretchSpacer();
    buttons->Add(new wxButton(this, wxID_CANCEL, "Close"));
    outer->Add(buttons, 0, wxEXPAND | wxALL, gap);
    SetSizer(outer);

    const JobSchedule current = scheduler.Current(jobPath).value_or(JobSchedule{});
    frequency->SetSelection(current.weekly ? 1 : 0);
    weekday->SetSelection(current.weekday);
    hour->SetValue(current.hour);
    minute->SetValue(current.minute);
    SelectionChanged();
    RefreshState("");

    Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { SelectionChanged(); });
    Bind(wxEVT_SPINCTRL, [this](wxSpinEvent&) { SelectionChanged(); });
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Save(); }, IdSave);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Remove(); }, IdRemove);
    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) {
            if (crontab && wxTheClipboard->Open()) {
                wxTheClipboard->SetData(new wxTextDataObject(crontab->GetValue()));
                wxTheClipboard->Close();
            }
        },
        IdCopy);
    Fit();
    CentreOnParent();
}

JobSchedule YScheduleDlg::Chosen() const {
    JobSchedule schedule;
    schedule.weekly = frequency->GetSelection() == 1;
    schedule.weekday = weekday->GetSelection() < 0 ? 0 : weekday->GetSelection();
    schedule.hour = hour->GetValue();
    schedule.minute = minute->GetValue();
    return schedule;
}

void YScheduleDlg::SelectionChanged() {
    weekday->Enable(frequency->GetSelection() == 1);
    if (crontab) {
        crontab->ChangeValue(wxString::FromUTF8(scheduler.CrontabLine(jobPath, Chosen())));
    }
}

void YScheduleDlg::Save() {
    std::string error;
    scheduler.Install(jobPath, Chosen(), error);
    RefreshState(error);
}

void YScheduleDlg::Remove() {
    std::string error;
    scheduler.Remove(jobPath, error);
    RefreshState(error);
}

void YScheduleDlg::RefreshState(const std::string& error) {
    const bool scheduled = scheduler.Current(jobPath).has_value();
    removeButton->Enable(scheduled);
    if (!managerRunning) {
        status = "The systemd user manager is not running, so no timer can be set up. To run this job with cron, "
                 "add this line to your crontab (crontab -e):";
    } else if (!error.empty()) {
        status = error;
    } else if (!scheduled) {
        status = "Not scheduled.";
    } else {
        const std::string next = scheduler.NextRun(jobPath);
        const std::string last = scheduler.LastResult(jobPath);
        status = "Next run: " + (next.empty() ? std::string("not known") : next) +
                 "\nLast run: " + (last.empty() ? std::string("not yet") : last);
    }
    statusText->SetLabel(wxString::FromUTF8(status));
    statusText->Wrap(FromDIP(520));
    Layout();
    Fit();
}
