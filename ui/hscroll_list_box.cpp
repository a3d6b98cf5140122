// The horizontal-extent bookkeeping of the log pane and the exclusion list. The native list
// scrolls by itself; the extent is kept so that callers and tests see the widest line.
#include "ui/hscroll_list_box.h"

#include <algorithm>

#include <wx/utils.h>

CHScrollListBox::CHScrollListBox(wxWindow* parent, wxWindowID id, long extraStyle)
    : wxListBox(parent, id, wxDefaultPosition, wxDefaultSize, 0, nullptr,
                wxLB_SINGLE | wxLB_HSCROLL | wxLB_NEEDED_SB | extraStyle) {}

int CHScrollListBox::TextWidth(const wxString& text) const {
    return GetTextExtent(text).GetWidth() + 3;
}

int CHScrollListBox::AddString(const std::string& text) {
    const wxString line = wxString::FromUTF8(text);
    const int index = Append(line);
    if (index >= 0) {
        extent = std::max(extent, TextWidth(line));
    }
    return index;
}

int CHScrollListBox::InsertString(int index, const std::string& text) {
    if (index < 0 || index > static_cast<int>(GetCount())) {
        index = static_cast<int>(GetCount());
    }
    const wxString line = wxString::FromUTF8(text);
    const int result = Insert(line, static_cast<unsigned>(index));
    if (result >= 0) {
        extent = std::max(extent, TextWidth(line));
    }
    return result;
}

void CHScrollListBox::DeleteString(int index) {
    if (index >= 0 && index < static_cast<int>(GetCount())) {
        // Only the widest line's going can narrow the list; the log pane drops a line per line
        // added, so the others skip measuring every line again.
        const bool widest = TextWidth(GetString(static_cast<unsigned>(index))) >= extent;
        Delete(static_cast<unsigned>(index));
        if (widest) {
            Recompute();
        }
    }
}

void CHScrollListBox::ResetContent() {
    Clear();
    extent = 0;
}

std::string CHScrollListBox::LineText(int index) const {
    if (index < 0 || index >= static_cast<int>(GetCount())) {
        return {};
    }
    return GetString(static_cast<unsigned>(index)).utf8_string();
}

void CHScrollListBox::Recompute() {
    int widest = 0;
    if (GetCount() > 0) {
        wxBusyCursor wait;
        for (unsigned i = 0; i < GetCount(); ++i) {
            widest = std::max(widest, TextWidth(GetString(i)));
        }
    }
    extent = widest;
}
