// CHScrollListBox: a list box that keeps its horizontal extent equal to its widest line.
#pragma once

#include <string>

#include <wx/listbox.h>

class CHScrollListBox : public wxListBox {
public:
    CHScrollListBox(wxWindow* parent, wxWindowID id, long extraStyle = 0);

    // Content changes that keep the extent; each returns what the list box call returns.
    int AddString(const std::string& text);
    int InsertString(int index, const std::string& text);
    void DeleteString(int index);
    void ResetContent();
    std::string LineText(int index) const;

    // Width of the widest line in pixels, 0 when empty.
    int HorizontalExtent() const { return extent; }

private:
    int TextWidth(const wxString& text) const;
    void Recompute();

    int extent = 0;
};
