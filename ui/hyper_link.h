// CHyperLink: a line of text that behaves as a web link (colours, hover, tooltip, hand cursor).
#pragma once

#include <functional>
#include <string>

#include <wx/window.h>

#include "ui/shell_open.h"

// The reason shown after "Unable to open hyperlink:\n\n" for a shell result code.
std::string HyperlinkFailureReason(int code);

class CHyperLink : public wxWindow {
public:
    CHyperLink(wxWindow* parent, wxWindowID id, const std::string& text);

    void SetURL(const std::string& url);
    const std::string& URL() const { return url; }
    void SetUnderline(bool on);
    bool IsOver() const { return over; }
    bool IsVisited() const { return visited; }
    // The colour the text is painted in now.
    wxColour CurrentColour() const;

    // Opens the URL; the result arrives through the opener (replaceable in tests).
    void Open();
    std::function<bool(const std::string&, ShellOpenDone)> opener = ShellOpen;
    // Shows the failure message; replaceable in tests.
    std::function<void(const std::string&)> showFailure;

    // Mouse entering and leaving, as the events do.
    void SetOver(bool on);

private:
    void OnPaint(wxPaintEvent& event);
    void Fit();
    void OnOpened(int code);

    wxColour linkColour{0, 0, 238};
    wxColour visitedColour{85, 26, 139};
    wxColour hoverColour;
    bool over = false;
    bool visited = false;
    bool underline = true;
    bool adjustToFit = true;
    std::string url;
};
