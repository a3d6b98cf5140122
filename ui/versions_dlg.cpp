// The versions browser and the box of an undo's lines.
#include "ui/versions_dlg.h"

#include <wx/button.h>
#include <wx/dirdlg.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/main_frame.h"
#include "model/task.h"
#include "ui/icons.h"

namespace {

enum : int { IdRestore = 3001, IdRestoreTo = 3002 };

} // namespace

YVersionsDlg::YVersionsDlg(wxWindow* parent, CMainFrame& owner, const Task& shown)
    : wxDialog(parent, wxID_ANY, "Versions of " + wxString::FromUTF8(shown.name), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      frame(owner), task(shown) {
    const int gap = FromDIP(8);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(
        new wxStaticText(this, wxID_ANY,
                         "Runs that kept versions in " + wxString::FromUTF8(task.destination) + ", newest first:"),
        0, wxLEFT | wxRIGHT | wxTOP, gap);
    problem = new wxStaticText(this, wxID_ANY, "");
    problem->SetForegroundColour(*wxRED);
    sizer->Add(problem, 0, wxLEFT | wxRIGHT, gap);
    runList = new wxListBox(this, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(560, 130)));
    sizer->Add(runList, 2, wxEXPAND | wxALL, gap);
    sizer->Add(new wxStaticText(this, wxID_ANY, "What the chosen run did:"), 0, wxLEFT | wxRIGHT, gap);
    entryList = new wxListBox(this, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(560, 180)));
    sizer->Add(entryList, 3, wxEXPAND | wxALL, gap);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    restore = new wxButton(this, IdRestore, "Restore");
    restore->SetToolTip("Put the chosen entry back into the destination as it was before that run");
    restoreTo = new wxButton(this, IdRestoreTo, "Restore to...");
    restoreTo->SetToolTip("Put the chosen entry as it was before that run into a folder you choose");
    buttons->Add(restore, 0, wxRIGHT, gap);
    buttons->Add(restoreTo, 0, wxRIGHT, gap);
    buttons->AddStretchSpacer();
    buttons->Add(new wxButton(this, wxID_CANCEL, "Close"));
    sizer->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    SetSizerAndFit(sizer);
    SetIcons(PemoIconBundle(iconWindow));
    SetEscapeId(wxID_CANCEL);

    ReadRuns();
    runList->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) { ChooseRun(runList->GetSelection()); });
    entryList->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) { UpdateButtons(); });
    restore->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { RestoreChosen(""); });
    restoreTo->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxDirDialog chooser(this, "Restore into", "", wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
        if (chooser.ShowModal() == wxID_OK) {
            RestoreChosen(chooser.GetPath().utf8_string());
        }
    });
    Layout();
    CentreOnParent();
}

void YVersionsDlg::ReadRuns() {
    std::string error;
    if (!ListKeptRuns(frame.FileSystem(), task, frame.Run().DriveLetter(), runs, error)) {
        problem->SetLabel(wxString::FromUTF8(error));
    } else if (runs.empty()) {
        problem->SetLabel("This destination keeps no versions yet.");
    } else {
        problem->SetLabel("");
    }
    problem->Show(!problem->GetLabel().empty());
    runList->Clear();
    for (const KeptRun& run : runs) {
        runList->Append(wxString::FromUTF8(KeptRunText(run)));
    }
    if (!runs.empty()) {
        runList->SetSelection(0);
    }
    ChooseRun(runs.empty() ? wxNOT_FOUND : 0);
    Layout();
}

void YVersionsDlg::ChooseEntry(int index) {
    entryList->SetSelection(index);
    UpdateButtons();
}

const ManifestAction* YVersionsDlg::ChosenEntry() const {
    const int run = runList->GetSelection();
    const int entry = entryList->GetSelection();
    if (run == wxNOT_FOUND || entry == wxNOT_FOUND) {
        return nullptr;
    }
    const ManifestAction& action = runs[static_cast<std::size_t>(run)].entries[static_cast<std::size_t>(entry)];
    return HoldsEarlierVersion(action) ? &action : nullptr;
}

bool YVersionsDlg::RestoreChosen(const std::string& into) {
    const ManifestAction* action = ChosenEntry();
    if (action == nullptr) {
        return false;
    }
    const KeptRun& run = runs[static_cast<std::size_t>(runList->GetSelection())];
    if (into.empty() && wxMessageBox("Put " + wxString::FromUTF8(action->path) + " back as it was before the run of " +
                                         wxString::FromUTF8(KeptRunText(run).substr(0, 19)) +
                                         "?\n\nWhat is there now is kept, and Undo last run takes the restore back.",
                                     "Restore", wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION, this) != wxYES) {
        return false;
    }
    if (!frame.RestoreCommand(task, action->path, run.seconds, run.sequence, into)) {
        return false;
    }
    // The restore goes on in the main window, its lines in the log pane, as a run does.
    if (IsModal()) {
        EndModal(wxID_OK);
    } else {
        Close();
    }
    return true;
}

void YVersionsDlg::ChooseRun(int index) {
    entryList->Clear();
    if (index >= 0 && static_cast<std::size_t>(index) < runs.size()) {
        for (const ManifestAction& action : runs[static_cast<std::size_t>(index)].entries) {
            entryList->Append(wxString::FromUTF8(KeptEntryText(action)));
        }
    }
    UpdateButtons();
}

void YVersionsDlg::UpdateButtons() {
    const int run = runList->GetSelection();
    const int entry = entryList->GetSelection();
    const bool chosen =
        run != wxNOT_FOUND && entry != wxNOT_FOUND &&
        HoldsEarlierVersion(runs[static_cast<std::size_t>(run)].entries[static_cast<std::size_t>(entry)]);
    restore->Enable(chosen);
    restoreTo->Enable(chosen);
}

bool ShowLinesDialog(wxWindow* parent, const std::string& title, const std::vector<std::string>& lines,
                     const std::string& question) {
    wxDialog box(parent, wxID_ANY, wxString::FromUTF8(title), wxDefaultPosition, wxDefaultSize,
                 wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    const int gap = box.FromDIP(8);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* list = new wxListBox(&box, wxID_ANY, wxDefaultPosition, box.FromDIP(wxSize(760, 220)), 0, nullptr,
                               wxLB_SINGLE | wxLB_HSCROLL);
    for (const std::string& line : lines) {
        list->Append(wxString::FromUTF8(line));
    }
    sizer->Add(list, 1, wxEXPAND | wxALL, gap);
    if (!question.empty()) {
        sizer->Add(new wxStaticText(&box, wxID_ANY, wxString::FromUTF8(question)), 0, wxLEFT | wxRIGHT, gap);
    }
    sizer->Add(box.CreateStdDialogButtonSizer(question.empty() ? wxOK : (wxYES | wxNO | wxNO_DEFAULT)), 0,
               wxEXPAND | wxALL, gap);
    box.SetSizerAndFit(sizer);
    box.SetAffirmativeId(question.empty() ? wxID_OK : wxID_YES);
    box.SetEscapeId(question.empty() ? wxID_OK : wxID_NO);
    box.CentreOnParent();
    return box.ShowModal() == wxID_YES;
}
