// The program's icons, drawn as SVG under data/icons and compiled into the program, looked up by
// the resource numbers the rest of the program uses.
#pragma once

#include <wx/bmpbndl.h>
#include <wx/iconbndl.h>

enum PemoIconId : int {
    kIconIdle = 130,
    kIconWindow = 132,
    kIconWorking1 = 134,
    kIconWorking2 = 135,
    kIconCopying1 = 136,
    kIconCopying2 = 137,
    kIconPaused = 143
};

// The SVG text of an icon, or null for an unknown number (generated from data/icons).
const char* PemoIconSvg(int id);

// The icon at the usual sizes; an unknown number gives the window icon.
wxBitmapBundle PemoIconBitmap(int id);
wxIconBundle PemoIconBundle(int id);
