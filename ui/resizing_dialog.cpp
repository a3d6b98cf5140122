// The anchor layout of the resizable main window.
#include "ui/resizing_dialog.h"

#include <wx/dcclient.h>
#include <wx/panel.h>

AnchorRect MoveAnchorRect(const AnchorRect& rect, AnchorMode horizontal, AnchorMode vertical, int dx, int dy) {
    AnchorRect moved = rect;
    if (horizontal == AnchorMode::Stretch) {
        moved.right += dx;
    } else if (horizontal == AnchorMode::Move) {
        moved.left += dx;
        moved.right += dx;
    }
    if (vertical == AnchorMode::Stretch) {
        moved.bottom += dy;
    } else if (vertical == AnchorMode::Move) {
        moved.top += dy;
        moved.bottom += dy;
    }
    return moved;
}

CResizingDialog::CResizingDialog(wxWindow* parent, wxWindowID id, const wxString& title)
    : wxFrame(parent, id, title, wxDefaultPosition, wxDefaultSize, wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL) {
    client = new wxPanel(this, wxID_ANY);
    client->Bind(wxEVT_SIZE, &CResizingDialog::OnClientSize, this);
}

void CResizingDialog::AddAnchor(wxWindow* control, AnchorMode horizontal, AnchorMode vertical, bool clip) {
    const wxRect r = control->GetRect();
    anchors.push_back(Anchor{control->GetId(), control, horizontal, vertical,
                             AnchorRect{r.GetLeft(), r.GetTop(), r.GetRight() + 1, r.GetBottom() + 1}, clip});
}

void CResizingDialog::InitResizing() {
    layoutSize = client->GetClientSize();
    SetMinSize(GetSize());
    if (!grip) {
        grip = new wxWindow(client, kSizeGripId, wxDefaultPosition, wxSize(10, 10));
        grip->Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
            wxPaintDC dc(grip);
            dc.SetPen(wxPen(wxColour(128, 128, 128)));
            for (int i = 0; i < 3; ++i) {
                dc.DrawLine(9, 3 + 3 * i, 3 + 3 * i, 9);
            }
        });
        grip->SetPosition(wxPoint(layoutSize.GetWidth() - 10, layoutSize.GetHeight() - 10));
        AddAnchor(grip, AnchorMode::Move, AnchorMode::Move, true);
    }
    SetMayGrow(mayGrowHorizontally, mayGrowVertically);
    initialised = true;
}

void CResizingDialog::ShowSizeGrip(bool show) {
    if (grip) {
        grip->Show(show);
    }
}

void CResizingDialog::SetMayGrow(bool horizontally, bool vertically) {
    mayGrowHorizontally = horizontally;
    mayGrowVertically = vertically;
    const wxSize minimum = GetMinSize();
    SetMaxSize(wxSize(horizontally ? -1 : minimum.GetWidth(), vertically ? -1 : minimum.GetHeight()));
}

void CResizingDialog::OnClientSize(wxSizeEvent& event) {
    event.Skip();
    if (!initialised || anchors.empty()) {
        return;
    }
    const wxSize size = client->GetClientSize();
    const int dx = size.GetWidth() - layoutSize.GetWidth();
    const int dy = size.GetHeight() - layoutSize.GetHeight();
    if (dx == 0 && dy == 0) {
        return;
    }
    // All controls move in one pass; the freeze lets the toolkit lay them out together.
    client->Freeze();
    for (Anchor& anchor : anchors) {
        const AnchorRect moved = MoveAnchorRect(anchor.rect, anchor.horizontal, anchor.vertical, dx, dy);
        if (!(moved == anchor.rect)) {
            anchor.control->SetSize(moved.left, moved.top, moved.right - moved.left, moved.bottom - moved.top);
            anchor.rect = moved;
        }
    }
    client->Thaw();
    layoutSize = size;
    OnClientResized();
}
