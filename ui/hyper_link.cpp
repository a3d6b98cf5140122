// The link control: painting in its three colours, fitting to the text, opening and failures.
#include "ui/hyper_link.h"

#include <cstdio>

#include <wx/dcclient.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/utils.h>
#include <wx/weakref.h>

std::string HyperlinkFailureReason(int code) {
    switch (code) {
    case 0:
        return "The operating system is out\nof memory or resources.";
    case 2:
        return "The specified file was not found.";
    case 3:
        return "The specified path was not found.";
    case 5:
        return "The operating system denied\naccess to the specified file.";
    case 8:
        return "There was not enough memory to complete the operation.";
    case 26:
        return "A sharing violation occurred.";
    case 27:
        return "The filename association is\nincomplete or invalid.";
    case 31:
        return "There is no application associated\nwith the given filename extension.";
    default: {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "Unknown Error (%d) occurred.", code);
        return buffer;
    }
    }
}

CHyperLink::CHyperLink(wxWindow* parent, wxWindowID id, const std::string& text)
    : wxWindow(parent, id), hoverColour(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)) {
    SetLabel(wxString::FromUTF8(text));
    SetBackgroundStyle(wxBG_STYLE_SYSTEM);
    SetCursor(wxCursor(wxCURSOR_HAND));
    SetUnderline(true);
    Bind(wxEVT_PAINT, &CHyperLink::OnPaint, this);
    Bind(wxEVT_ENTER_WINDOW, [this](wxMouseEvent&) { SetOver(true); });
    Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent&) { SetOver(false); });
    Bind(wxEVT_LEFT_UP, [this](wxMouseEvent&) { Open(); });
    showFailure = [this](const std::string& message) {
        wxMessageBox(wxString::FromUTF8(message), "Pemo", wxOK | wxICON_EXCLAMATION, this);
    };
}

void CHyperLink::SetURL(const std::string& address) {
    url = address;
    if (GetLabel().empty()) {
        SetLabel(wxString::FromUTF8(url));
    }
    SetToolTip(wxString::FromUTF8(url));
    Fit();
}

void CHyperLink::SetUnderline(bool on) {
    underline = on;
    wxFont font = GetFont();
    font.SetUnderlined(on);
    SetFont(font);
    Fit();
    Refresh();
}

wxColour CHyperLink::CurrentColour() const {
    return over ? hoverColour : visited ? visitedColour : linkColour;
}

void CHyperLink::SetOver(bool on) {
    if (on != over) {
        over = on;
        Refresh();
    }
}

void CHyperLink::Fit() {
    if (!adjustToFit) {
        return;
    }
    const wxSize text = GetTextExtent(GetLabel());
    SetMinSize(text);
    SetSize(text);
    if (GetParent() && GetParent()->GetSizer()) {
        GetParent()->Layout();
    }
}

void CHyperLink::Open() {
    // The link may be closed with its dialog before a slow opener returns.
    wxWeakRef<CHyperLink> self(this);
    opener(url, [self](int code) {
        if (self) {
            self->OnOpened(code);
        }
    });
}

void CHyperLink::OnOpened(int code) {
    if (code > 32) {
        visited = true;
        Refresh();
        return;
    }
    wxBell();
    if (showFailure) {
        showFailure("Unable to open hyperlink:\n\n" + HyperlinkFailureReason(code));
    }
}

void CHyperLink::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    dc.SetFont(GetFont());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(CurrentColour());
    dc.DrawText(GetLabel(), 0, 0);
}
