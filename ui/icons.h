// The program's icons, drawn as SVG under data/icons and compiled into the program, looked up by
// the icon ids of run/shell_ids.h.
#pragma once

#include <wx/bmpbndl.h>
#include <wx/iconbndl.h>

#include "run/shell_ids.h"

// The SVG text of an icon, or null for an unknown number (generated from data/icons).
const char* PemoIconSvg(int id);

// The icon at the usual sizes; an unknown number gives the window icon.
wxBitmapBundle PemoIconBitmap(int id);
wxIconBundle PemoIconBundle(int id);
