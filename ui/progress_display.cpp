// Painting of the progress bar and the statistics table's rows and colours.
#include "ui/progress_display.h"

#include <algorithm>

#include <wx/dcbuffer.h>

#include "ui/readable_colours.h"

wxColour BarColour(BarSegment segment) {
    switch (segment) {
    case SegSame:
        return wxColour(153, 155, 255);
    case SegChanged:
        return wxColour(231, 162, 111);
    case SegNew:
        return wxColour(128, 255, 128);
    default:
        return wxColour(255, 255, 255);
    }
}

CProgressBarPainter::CProgressBarPainter(wxWindow* parent, wxWindowID id)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CProgressBarPainter::OnPaint, this);
}

void CProgressBarPainter::SetValues(const std::array<int, BarSegmentCount>& newValues) {
    if (newValues != values) {
        values = newValues;
        Refresh(false);
    }
}

BarLayout CProgressBarPainter::CurrentLayout() const {
    return ComputeBarLayout(values, GetClientSize().GetWidth() - 4);
}

void CProgressBarPainter::OnPaint(wxPaintEvent&) {
    // The buffer keeps the segments from flickering at every refresh of a running job.
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(*wxWHITE_BRUSH);
    dc.DrawRectangle(0, 0, size.GetWidth(), size.GetHeight());
    const BarLayout layout = CurrentLayout();
    const int innerHeight = size.GetHeight() - 4;
    for (int i = 0; i < BarSegmentCount; ++i) {
        if (layout.width[i] > 0 && innerHeight > 0) {
            dc.SetBrush(wxBrush(BarColour(static_cast<BarSegment>(i))));
            dc.DrawRectangle(2 + layout.left[i], 2, layout.width[i], innerHeight);
        }
    }
    dc.SetPen(*wxBLACK_PEN);
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(0, 0, size.GetWidth(), size.GetHeight());
}

CColoredListCtrl::CColoredListCtrl(wxWindow* parent, wxWindowID id)
    : wxListCtrl(parent, id, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_NO_HEADER) {}

void CColoredListCtrl::Build() {
    DeleteAllItems();
    DeleteAllColumns();
    // Wide enough for "Saved in dest:" in the toolkit's font.
    InsertColumn(0, wxString(), wxLIST_FORMAT_LEFT, std::max(FromDIP(90), GetTextExtent("Saved in dest:W").x));
    InsertColumn(1, wxString(), wxLIST_FORMAT_LEFT, FromDIP(90));
    InsertColumn(2, wxString(), wxLIST_FORMAT_LEFT, FromDIP(80));
    const ProgressView initial = InitialProgressView();
    for (int row = 0; row < StatsRowCount; ++row) {
        InsertItem(row, wxString::FromUTF8(initial.cells[row][0]));
    }
    // The legend rows are light whatever the theme, so their text is dark on them.
    for (const int row : {RowSame, RowChanged, RowNew}) {
        SetItemBackgroundColour(row, RowBackground(row));
        SetItemTextColour(row, RowText(row));
    }
    deletionWarning = false;
    ShowView(initial);
}

void CColoredListCtrl::ShowView(const ProgressView& view) {
    for (int row = 0; row < StatsRowCount && row < GetItemCount(); ++row) {
        for (int column = 0; column < 3; ++column) {
            const wxString text = wxString::FromUTF8(view.cells[row][column]);
            if (GetItemText(row, column) != text) {
                SetItem(row, column, text);
            }
        }
    }
    if (view.highlightedRow != highlightedRow) {
        if (highlightedRow >= 0) {
            SetItemTextColour(highlightedRow, RowText(highlightedRow));
        }
        if (view.highlightedRow >= 0) {
            SetItemTextColour(view.highlightedRow, HighlightText(RowBackground(view.highlightedRow)));
        }
        highlightedRow = view.highlightedRow;
    }
    if (view.deletionWarning != deletionWarning && GetItemCount() > RowDeleted) {
        deletionWarning = view.deletionWarning;
        SetItemBackgroundColour(RowDeleted, deletionWarning ? wxColour(255, 0, 0) : GetBackgroundColour());
        SetItemTextColour(RowDeleted, deletionWarning ? *wxWHITE : GetTextColour());
        wxFont font = GetFont();
        if (deletionWarning) {
            font.MakeBold();
        }
        SetItemFont(RowDeleted, font);
    }
}

wxColour CColoredListCtrl::RowBackground(int row) const {
    switch (row) {
    case RowSame:
        return BarColour(SegSame);
    case RowChanged:
        return BarColour(SegChanged);
    case RowNew:
        return BarColour(SegNew);
    default:
        return GetBackgroundColour();
    }
}

wxColour CColoredListCtrl::RowText(int row) const {
    return ReadableText(RowBackground(row), GetTextColour());
}

wxSize CColoredListCtrl::FullSize() const {
    wxRect row;
    int height = FromDIP(20);
    if (GetItemCount() > 0 && GetItemRect(0, row)) {
        height = row.GetHeight();
    }
    int width = 0;
    for (int column = 0; column < GetColumnCount(); ++column) {
        width += GetColumnWidth(column);
    }
    return wxSize(width + FromDIP(6), height * StatsRowCount + FromDIP(6));
}
