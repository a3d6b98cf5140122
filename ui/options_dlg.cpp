// Layout and value exchange of the options dialog.
#include "ui/options_dlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

YOptionsDlg::YOptionsDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, "Options") {
    const int gap = FromDIP(7);
    auto* outer = new wxBoxSizer(wxHORIZONTAL);
    auto* fields = new wxBoxSizer(wxVERTICAL);
    compactBox = new wxCheckBox(this, IdCompactView, "Use compact view in job list");
    countBox = new wxCheckBox(this, IdCountAtStart, "Count source size at every job start");
    fields->Add(compactBox, 0, wxBOTTOM, gap);
    fields->Add(countBox, 0, wxBOTTOM, gap);
    auto* awakeRow = new wxBoxSizer(wxHORIZONTAL);
    awakeRow->Add(new wxStaticText(this, wxID_ANY, "Keep system awake:"), 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    // The stored values 0, 1 and 2 keep their meaning; the texts name what this system does.
#ifdef _WIN32
    const wxString methods[] = {"Never", "Using SetThreadExecutionState", "By simulating keypresses"};
#else
    const wxString methods[] = {"Never", "Using a logind inhibitor lock", "Using simulated key presses"};
#endif
    keepAwake = new wxChoice(this, IdKeepAwake, wxDefaultPosition, wxDefaultSize, 3, methods);
    awakeRow->Add(keepAwake, 1);
    fields->Add(awakeRow, 0, wxEXPAND | wxBOTTOM, gap);
    emptyGuardBox = new wxCheckBox(this, IdEmptyGuard, "Refuse to empty a destination when its source is empty");
    fields->Add(emptyGuardBox, 0, wxBOTTOM, gap);
    debugBox = new wxCheckBox(this, IdDebug, "Enable debugging (writes a detailed log file slowing operation)");
    fields->Add(debugBox);
    outer->Add(fields, 1, wxALL, gap);
    auto* buttons = new wxBoxSizer(wxVERTICAL);
    auto* ok = new wxButton(this, wxID_OK, "OK");
    ok->SetDefault();
    buttons->Add(ok, 0, wxBOTTOM, gap / 2);
    buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"));
    outer->Add(buttons, 0, wxTOP | wxRIGHT | wxBOTTOM, gap);
    SetSizerAndFit(outer);
    CentreOnParent();
}

bool YOptionsDlg::TransferDataToWindow() {
    compactBox->SetValue(compactView);
    countBox->SetValue(countAtStart);
    debugBox->SetValue(debug);
    emptyGuardBox->SetValue(emptyGuard);
    // A stored value outside the list leaves the choice empty.
    keepAwake->SetSelection(stayAwakeMethod >= 0 && stayAwakeMethod < 3 ? stayAwakeMethod : wxNOT_FOUND);
    return true;
}

bool YOptionsDlg::TransferDataFromWindow() {
    compactView = compactBox->GetValue();
    countAtStart = countBox->GetValue();
    debug = debugBox->GetValue();
    emptyGuard = emptyGuardBox->GetValue();
    stayAwakeMethod = keepAwake->GetSelection();
    return true;
}
