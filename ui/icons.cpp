// Rendering of the compiled-in SVG icons.
#include "ui/icons.h"

#include <wx/icon.h>

wxBitmapBundle PemoIconBitmap(int id) {
    const char* svg = PemoIconSvg(id);
    if (!svg) {
        svg = PemoIconSvg(iconWindow);
    }
    return wxBitmapBundle::FromSVG(svg, wxSize(32, 32));
}

wxIconBundle PemoIconBundle(int id) {
    const wxBitmapBundle bundle = PemoIconBitmap(id);
    wxIconBundle icons;
    for (int size : {16, 24, 32, 48, 64}) {
        wxIcon icon;
        icon.CopyFromBitmap(bundle.GetBitmap(wxSize(size, size)));
        icons.AddIcon(icon);
    }
    return icons;
}
