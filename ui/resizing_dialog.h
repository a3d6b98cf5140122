// CResizingDialog: a resizable top-level window whose controls follow its right and bottom edges
// by anchors, laid out in one pass per size change, with a minimum size and an optional grip.
#pragma once

#include <vector>

#include <wx/frame.h>

class wxPanel;

// How an extent follows a size change: Fixed, Stretch (the far edge follows) or Move (both follow).
enum class AnchorMode { Fixed, Stretch, Move };

struct AnchorRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const AnchorRect&) const = default;
};

// The rectangle of an anchored control after the client area changed by dx, dy.
AnchorRect MoveAnchorRect(const AnchorRect& rect, AnchorMode horizontal, AnchorMode vertical, int dx, int dy);

struct Anchor {
    int controlId = 0;
    wxWindow* control = nullptr;
    AnchorMode horizontal = AnchorMode::Fixed;
    AnchorMode vertical = AnchorMode::Fixed;
    AnchorRect rect;
    bool clip = false;
};

class CResizingDialog : public wxFrame {
public:
    static constexpr int kSizeGripId = 17733;

    CResizingDialog(wxWindow* parent, wxWindowID id, const wxString& title);

    // The panel that holds the controls; anchors are in its coordinates.
    wxPanel* Client() const { return client; }

    // Registers a control of the client panel with its current rectangle.
    void AddAnchor(wxWindow* control, AnchorMode horizontal, AnchorMode vertical, bool clip = false);
    const std::vector<Anchor>& Anchors() const { return anchors; }

    // Base initialisation: the current size becomes the minimum, the grip is placed.
    void InitResizing();
    void ShowSizeGrip(bool show);
    void SetMayGrow(bool horizontally, bool vertically);

protected:
    // Called after the anchored controls have been moved for a new client size.
    virtual void OnClientResized() {}

private:
    void OnClientSize(wxSizeEvent& event);

    wxPanel* client = nullptr;
    wxWindow* grip = nullptr;
    std::vector<Anchor> anchors;
    wxSize layoutSize;
    bool mayGrowHorizontally = true;
    bool mayGrowVertically = true;
    bool initialised = false;
};
