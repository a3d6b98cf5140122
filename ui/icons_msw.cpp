// The program's icons on Windows: the ICO resources of the window program (ui/pemo-window.rc),
// drawn from the same SVG files, since the Windows toolkit build reads no SVG.
#include <wx/icon.h>
#include <wx/string.h>

#include "ui/icons.h"

namespace {

wxString IconResourceName(int id) {
    switch (id) {
    case iconIdle:
    case iconWorking:
    case iconWorkingAlt:
    case iconCopying:
    case iconCopyingAlt:
    case iconPaused:
        return wxString::Format("#%d", id);
    default:
        return "PEMO";
    }
}

} // namespace

wxIconBundle PemoIconBundle(int id) {
    // The program's own module holds the resources.
    return wxIconBundle(IconResourceName(id), nullptr);
}

wxBitmapBundle PemoIconBitmap(int id) {
    return wxBitmapBundle::FromIconBundle(PemoIconBundle(id));
}
