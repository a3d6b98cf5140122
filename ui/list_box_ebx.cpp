// Drawing and bookkeeping of the owner-drawn task list.
#include "ui/list_box_ebx.h"

#include <wx/dc.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/settings.h>

#include "ui/readable_colours.h"

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    parts.resize(5);
    return parts;
}

wxColour Resolve(std::uint32_t value, wxSystemColour system) {
    return value == kSystemColour ? wxSystemSettings::GetColour(system) : ColourFromTaskValue(value);
}

} // namespace

wxColour ColourFromTaskValue(std::uint32_t bgr) {
    return wxColour(static_cast<unsigned char>(bgr & 0xFF), static_cast<unsigned char>((bgr >> 8) & 0xFF),
                    static_cast<unsigned char>((bgr >> 16) & 0xFF));
}

std::string SwitchWords(const Task& task) {
    std::string words;
    auto add = [&words](bool on, const char* word) {
        if (on) {
            if (!words.empty()) {
                words += ", ";
            }
            words += word;
        }
    };
    add(task.recurse, "recurse");
    add(task.safeMode, "safe");
    add(task.checkOpen, "check");
    add(task.fakeIt, "fake");
    add(task.rename, "rename");
    add(task.KeepsVersions(), "versions");
    return words;
}

CListBoxEBX::CListBoxEBX(wxWindow* parent, wxWindowID id)
    : wxVListBox(parent, id, wxDefaultPosition, wxDefaultSize, wxBORDER_SUNKEN | wxVSCROLL) {
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
    Bind(wxEVT_SYS_COLOUR_CHANGED, &CListBoxEBX::OnSysColourChanged, this);
}

int CListBoxEBX::InsertItem(int index, const std::string& text) {
    if (index < 0 || index > Count()) {
        return -1;
    }
    texts.insert(texts.begin() + index, text);
    records.insert(records.begin() + index, ListItemRecord{});
    const int selection = GetSelection();
    SetItemCount(texts.size());
    if (selection != wxNOT_FOUND && selection >= index) {
        SetSelection(selection + 1);
    }
    return index;
}

void CListBoxEBX::DeleteFirstItem() {
    if (texts.empty()) {
        return;
    }
    texts.erase(texts.begin());
    records.erase(records.begin());
    SetItemCount(texts.size());
}

void CListBoxEBX::RemoveAll() {
    texts.clear();
    records.clear();
    SetItemCount(0);
}

ListItemRecord* CListBoxEBX::ItemRecord(int index) {
    if (index == -1) {
        index = GetSelection();
    }
    if (records.empty() || index < 0 || index >= Count()) {
        return nullptr;
    }
    return &records[static_cast<std::size_t>(index)];
}

int CListBoxEBX::ItemFromPoint(const wxPoint& screenPoint) const {
    const std::size_t first = GetVisibleRowsBegin();
    for (std::size_t n = first; n < texts.size(); ++n) {
        wxRect rect = GetItemRect(n);
        if (rect.IsEmpty()) {
            break;
        }
        rect.SetPosition(ClientToScreen(rect.GetPosition()));
        if (rect.Contains(screenPoint)) {
            return static_cast<int>(n);
        }
    }
    return -1;
}

wxFont CListBoxEBX::LineFont(bool bold) const {
    // The desktop's own size: a fixed pixel height is unreadably small on most desktops and does
    // not follow the user's font or scaling settings.
    wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    font.SetWeight(bold ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL);
    return font;
}

int CListBoxEBX::LineHeight() const {
    wxMemoryDC dc;
    dc.SetFont(LineFont(false));
    return dc.GetTextExtent("M").GetHeight();
}

void CListBoxEBX::SetItemHeightPx(int height) {
    itemHeight = height;
    RefreshAll();
}

wxCoord CListBoxEBX::OnMeasureItem(size_t) const {
    return itemHeight + 6;
}

void CListBoxEBX::OnDrawBackground(wxDC&, const wxRect&, size_t) const {
    // The card is painted by OnDrawItem in the task's colour whether selected or not.
}

void CListBoxEBX::OnDrawItem(wxDC& dc, const wxRect& rect, size_t n) const {
    if (n >= records.size()) {
        return;
    }
    const ListItemRecord& record = records[n];
    const wxColour window = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    const wxColour background = record.background == kSystemColour ? window : CardBackground(record.background, window);
    const CardColours colours = CardColoursOn(background, Resolve(record.textColour, wxSYS_COLOUR_WINDOWTEXT));
    const wxColour& textColour = record.disabled ? colours.dim : colours.text;

    wxDCClipper clip(dc, rect);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(background));
    dc.DrawRectangle(rect);

    const std::vector<std::string> parts = SplitLines(texts[n]);
    const wxString name = " " + wxString::FromUTF8(parts[0]);
    const wxString source = "     " + wxString::FromUTF8(parts[1]);
    const wxString destination = "     " + wxString::FromUTF8(parts[2]);
    const wxString exclusions = "   " + wxString::FromUTF8(parts[3]);
    const wxString lastRun = "   " + wxString::FromUTF8(parts[4]) + "  ";
    const std::string words = record.task ? SwitchWords(*record.task) : std::string();
    const wxString switches = words.empty() ? wxString("    ") : "  " + wxString::FromUTF8(words) + "  ";

    wxRect text(rect);
    text.Deflate(3);
    const int lineHeight = LineHeight();
    auto drawLeft = [&](const wxString& piece, int line) { dc.DrawText(piece, text.x, text.y + line * lineHeight); };
    auto drawRight = [&](const wxString& piece, int line) {
        const int width = dc.GetTextExtent(piece).GetWidth();
        dc.DrawText(piece, text.GetRight() + 1 - width, text.y + line * lineHeight);
    };

    dc.SetFont(LineFont(true));
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(record.disabled ? colours.dim : colours.name);
    drawLeft(name, 0);
    // The switch words sit on the card colour so that a long name running under them stays legible.
    dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
    dc.SetTextBackground(background);
    dc.SetTextForeground(colours.switches);
    drawRight(switches, 0);

    dc.SetFont(LineFont(false));
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(textColour);
    drawLeft(source, 1);
    dc.SetTextForeground(colours.lastRun);
    drawRight(lastRun, 1);
    dc.SetTextForeground(textColour);
    drawLeft(destination, 2);
    dc.SetTextForeground(colours.dim);
    drawLeft(exclusions, 3);

    if (static_cast<int>(n) == GetSelection() && HasFocus()) {
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.SetPen(wxPen(colours.text, 1, wxPENSTYLE_DOT));
        for (int i = 1; i <= 3; ++i) {
            wxRect focus(rect);
            dc.DrawRectangle(focus.Deflate(i));
        }
    }
    dc.SetPen(*wxBLACK_PEN);
    dc.DrawLine(rect.GetLeft(), rect.GetBottom(), rect.GetRight() + 1, rect.GetBottom());
}

void CListBoxEBX::OnSysColourChanged(wxSysColourChangedEvent& event) {
    event.Skip();
    RefreshAll();
    Update();
}
