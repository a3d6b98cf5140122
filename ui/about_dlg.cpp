// Layout of the About box.
#include "ui/about_dlg.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/window_title.h"
#include "ui/hyper_link.h"
#include "ui/icons.h"

YAboutDlg::YAboutDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, "About Pemo") {
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* title = new wxStaticText(this, wxID_ANY,
                                   wxString(kProgramTitle) + " - file synchronisation software\n" +
                                       "Keeps mirror copies of your directories",
                                   wxDefaultPosition, wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL);
    auto* credits = new wxStaticText(this, wxID_ANY, "Written by the Pemo developers", wxDefaultPosition, wxDefaultSize,
                                     wxALIGN_CENTRE_HORIZONTAL);
    link = new CHyperLink(this, 1022, "");
    link->SetURL(kPemoWebAddress);
    link->SetUnderline(true);
    auto* ok = new wxButton(this, wxID_OK, "OK");
    ok->SetDefault();
    sizer->Add(title, 0, wxALL | wxALIGN_CENTRE_HORIZONTAL, FromDIP(10));
    sizer->Add(credits, 0, wxLEFT | wxRIGHT | wxALIGN_CENTRE_HORIZONTAL, FromDIP(10));
    sizer->Add(link, 0, wxALL | wxALIGN_CENTRE_HORIZONTAL, FromDIP(10));
    sizer->Add(ok, 0, wxBOTTOM | wxALIGN_CENTRE_HORIZONTAL, FromDIP(10));
    SetSizerAndFit(sizer);
    SetIcons(PemoIconBundle(iconWindow));
    CentreOnParent();
}
