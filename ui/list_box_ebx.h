// CListBoxEBX: the owner-drawn task list, one coloured card of four text lines per task.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <wx/vlbox.h>

#include "model/task.h"

// Stands for "the system's colour" in an item record; no 24-bit colour equals it.
inline constexpr std::uint32_t kSystemColour = 17000000;

// Drawing data of one list item; the task is owned by the controller's task list.
struct ListItemRecord {
    std::uint32_t background = kSystemColour; // 0x00BBGGRR or kSystemColour
    std::uint32_t textColour = kSystemColour;
    int extraFormat = 0;
    int baseFormat = 4;
    bool selectable = true;
    const Task* task = nullptr;
    bool disabled = false;
};

// The words of line 1's right-hand piece: the switches that are on, joined by ", ".
std::string SwitchWords(const Task& task);

wxColour ColourFromTaskValue(std::uint32_t bgr);

class CListBoxEBX : public wxVListBox {
public:
    CListBoxEBX(wxWindow* parent, wxWindowID id);

    // Inserts at index 0..count with a fresh record; returns the index, or -1 when out of range.
    int InsertItem(int index, const std::string& text);
    int AddItem(const std::string& text) { return InsertItem(static_cast<int>(texts.size()), text); }
    void DeleteFirstItem();
    void RemoveAll();
    int Count() const { return static_cast<int>(texts.size()); }
    const std::string& ItemText(int index) const { return texts.at(static_cast<std::size_t>(index)); }

    // Null for an empty list or an index out of range; -1 means the selected item.
    ListItemRecord* ItemRecord(int index);

    // The item under a point in screen coordinates, or -1.
    int ItemFromPoint(const wxPoint& screenPoint) const;

    // Height of one text line: the letter "M" in the desktop's default font.
    int LineHeight() const;
    // Card height without the 6 pixels the list adds; applies to items measured from now on.
    void SetItemHeightPx(int height);
    int ItemHeightPx() const { return itemHeight; }
    int LinesPerItem() const { return lines; }

protected:
    void OnDrawItem(wxDC& dc, const wxRect& rect, size_t n) const override;
    wxCoord OnMeasureItem(size_t n) const override;
    void OnDrawBackground(wxDC& dc, const wxRect& rect, size_t n) const override;

private:
    void OnSysColourChanged(wxSysColourChangedEvent& event);
    wxFont LineFont(bool bold) const;

    std::vector<std::string> texts;
    std::vector<ListItemRecord> records;
    int itemHeight = 40;
    int lines = 4;
};
