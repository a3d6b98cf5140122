// YAboutDlg: the About box with the program's name, credits and the project's web link.
#pragma once

#include <wx/dialog.h>

class CHyperLink;

// The project's web address shown in the About box.
inline constexpr const char* kPemoWebAddress = "https://pemo.example.org/";

class YAboutDlg : public wxDialog {
public:
    explicit YAboutDlg(wxWindow* parent);
    CHyperLink* Link() const { return link; }

private:
    CHyperLink* link = nullptr;
};
