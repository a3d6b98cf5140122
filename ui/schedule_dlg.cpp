// Layout and commands of the schedule dialog; the schedule itself is the scheduler's, asked on a
// worker thread so that a service manager that does not answer never holds the window.
#include "ui/schedule_dlg.h"

#include <thread>
#include <utility>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/clipbrd.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

YScheduleDlg::YScheduleDlg(wxWindow* parent, std::shared_ptr<IJobScheduler> jobScheduler, std::string job)
    : wxDialog(parent, wxID_ANY, "Schedule", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      scheduler(std::move(jobScheduler)), jobPath(std::move(job)) {
    const int gap = FromDIP(7);
    outer = new wxBoxSizer(wxVERTICAL);
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

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    saveButton = new wxButton(this, IdSave, "Save schedule");
    removeButton = new wxButton(this, IdRemove, "Remove schedule");
    buttons->Add(saveButton, 0, wxRIGHT, gap);
    buttons->Add(removeButton, 0, wxRIGHT, gap);
    buttons->AddStretchSpacer();
    buttons->Add(new wxButton(this, wxID_CANCEL, "Close"));
    outer->Add(buttons, 0, wxEXPAND | wxALL, gap);
    SetSizer(outer);

    const JobSchedule current = scheduler->Current(jobPath).value_or(JobSchedule{});
    frequency->SetSelection(current.weekly ? 1 : 0);
    weekday->SetSelection(current.weekday);
    hour->SetValue(current.hour);
    minute->SetValue(current.minute);
    SelectionChanged();
    Ask(Request::Look);

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

YScheduleDlg::~YScheduleDlg() {
    *alive = false;
    if (worker.joinable()) {
        worker.join();
    }
}

void YScheduleDlg::SelectionChanged() {
    weekday->Enable(frequency->GetSelection() == 1);
    if (crontab) {
        crontab->ChangeValue(wxString::FromUTF8(scheduler->CrontabLine(jobPath, Chosen())));
    }
}

void YScheduleDlg::Save() {
    if (!busy) {
        Ask(Request::Save);
    }
}

void YScheduleDlg::Remove() {
    if (!busy) {
        Ask(Request::Remove);
    }
}

void YScheduleDlg::Ask(Request request) {
    if (worker.joinable()) {
        worker.join(); // finished: its answer has been shown
    }
    busy = true;
    saveButton->Enable(false);
    removeButton->Enable(false);
    if (request == Request::Look) {
        statusText->SetLabel(wxString::FromUTF8(scheduler->AskingText()));
    }
    worker = std::thread([request, chosen = Chosen(), job = jobPath, knownRunning = managerRunning, asked = scheduler,
                          shown = alive, this] {
        Answer answer;
        answer.managerRunning = request == Request::Look ? asked->ManagerRunning() : knownRunning;
        if (request == Request::Save) {
            asked->Install(job, chosen, answer.error);
        } else if (request == Request::Remove) {
            asked->Remove(job, answer.error);
        }
        answer.scheduled = asked->Current(job).has_value();
        if (answer.managerRunning && answer.error.empty() && answer.scheduled) {
            answer.next = asked->NextRun(job);
            answer.last = asked->LastResult(job);
        }
        if (wxTheApp) {
            // The dialog is only reached on the user-interface thread, and only while it exists.
            wxTheApp->CallAfter([this, shown, answer = std::move(answer)] {
                if (*shown) {
                    ShowAnswer(answer);
                }
            });
        }
    });
}

void YScheduleDlg::ShowAnswer(const Answer& answer) {
    busy = false;
    managerRunning = answer.managerRunning;
    if (!managerRunning && !crontab) {
        const int gap = FromDIP(7);
        crontab = new wxTextCtrl(this, IdCrontab, "", wxDefaultPosition, wxSize(FromDIP(520), -1), wxTE_READONLY);
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        row->Add(crontab, 1, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
        row->Add(new wxButton(this, IdCopy, "Copy"), 0, wxALIGN_CENTRE_VERTICAL);
        // Between the status and the buttons.
        outer->Insert(outer->GetItemCount() - 1, row, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
        SelectionChanged();
    }
    saveButton->Enable(managerRunning);
    removeButton->Enable(answer.scheduled);
    if (!managerRunning) {
        status = scheduler->ManualText();
    } else if (!answer.error.empty()) {
        status = answer.error;
    } else if (!answer.scheduled) {
        status = "Not scheduled.";
    } else {
        status = "Next run: " + (answer.next.empty() ? std::string("not known") : answer.next) +
                 "\nLast run: " + (answer.last.empty() ? std::string("not yet") : answer.last);
    }
    statusText->SetLabel(wxString::FromUTF8(status));
    statusText->Wrap(FromDIP(520));
    Layout();
    Fit();
}
