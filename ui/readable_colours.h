// Colours for text drawn on coloured backgrounds (task cards, statistics rows), chosen by the
// background's lightness so that they stay legible under light and dark desktop themes alike.
#pragma once

#include <cstdint>

#include <wx/colour.h>

// True for a colour nearer black than white, as the eye weighs red, green and blue.
bool IsDarkColour(const wxColour& colour);

// The desktop's text colour when it stands out from the background, otherwise black or white.
wxColour ReadableText(const wxColour& background, const wxColour& systemText);

// The lines of a task card: name, switch words, last run, paths, and the dimmed ones (exclusions,
// a disabled task).
struct CardColours {
    wxColour name;
    wxColour switches;
    wxColour lastRun;
    wxColour text;
    wxColour dim;
};
CardColours CardColoursOn(const wxColour& background, const wxColour& systemText);

// A card's background for a task colour (0x00BBGGRR): the colour itself, except that white, the
// colour of a task nobody coloured, is the window's own colour under a dark theme.
wxColour CardBackground(std::uint32_t taskColour, const wxColour& window);

// The statistics table's highlighted (Errors) row: red, lightened on a dark table.
wxColour HighlightText(const wxColour& background);
