// The progress display's two controls: the statistics table whose coloured rows are the bar's
// legend, and the four-colour bar painted double-buffered.
#pragma once

#include <wx/listctrl.h>
#include <wx/window.h>

#include "app/progress_view.h"

// The bar's segment colours, shared with the legend rows of the table.
wxColour BarColour(BarSegment segment);

// The painted bar: white inside a 2-pixel margin, segments left to right, a 1-pixel border.
class CProgressBarPainter : public wxWindow {
public:
    CProgressBarPainter(wxWindow* parent, wxWindowID id);

    void SetValues(const std::array<int, BarSegmentCount>& values);
    const std::array<int, BarSegmentCount>& Values() const { return values; }
    // Segment layout for the current client size (the inner rectangle's coordinates).
    BarLayout CurrentLayout() const;

private:
    void OnPaint(wxPaintEvent& event);

    std::array<int, BarSegmentCount> values{};
};

// The statistics table: three columns, eleven rows, rows 1 to 3 on the segment colours and the
// highlighted (Errors) row in red; after a preview that would delete files, the Deleted row in
// white on red.
class CColoredListCtrl : public wxListCtrl {
public:
    CColoredListCtrl(wxWindow* parent, wxWindowID id);

    void Build();
    void ShowView(const ProgressView& view);
    int HighlightedRow() const { return highlightedRow; }
    // The Deleted row is on red after a preview that would delete files.
    bool DeletionWarning() const { return deletionWarning; }
    // The size that shows every row and column without scrolling.
    wxSize FullSize() const;

private:
    // A row's own colours, before any highlight or warning.
    wxColour RowBackground(int row) const;
    wxColour RowText(int row) const;

    int highlightedRow = -1;
    bool deletionWarning = false;
};
