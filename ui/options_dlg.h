// YOptionsDlg: the five settings a user can change (compact list, counting, keep-awake, the
// empty-source guard, debug).
#pragma once

#include <wx/dialog.h>

class wxCheckBox;
class wxChoice;

class YOptionsDlg : public wxDialog {
public:
    enum ControlId : int {
        IdCompactView = 1014,
        IdCountAtStart = 1015,
        IdDebug = 1016,
        IdEmptyGuard = 1017,
        IdKeepAwake = 1070
    };

    // The caller sets the fields before TransferDataToWindow (called by ShowModal) and reads
    // them after OK.
    explicit YOptionsDlg(wxWindow* parent);

    bool compactView = false;
    bool countAtStart = false;
    int stayAwakeMethod = 1; // combo index; -1 when nothing is selected
    bool debug = false;
    bool emptyGuard = true;

    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

private:
    wxCheckBox* compactBox = nullptr;
    wxCheckBox* countBox = nullptr;
    wxCheckBox* debugBox = nullptr;
    wxCheckBox* emptyGuardBox = nullptr;
    wxChoice* keepAwake = nullptr;
};
