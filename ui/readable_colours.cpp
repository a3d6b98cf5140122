// Text colours picked by the lightness of what they are drawn on.
#include "ui/readable_colours.h"

#include <cmath>

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;

// Below this difference in lightness (0 to 1) text and background blur into each other.
constexpr double kLeastContrast = 0.4;

} // namespace

bool IsDarkColour(const wxColour& colour) {
    return colour.GetLuminance() < 0.5;
}

wxColour ReadableText(const wxColour& background, const wxColour& systemText) {
    if (std::fabs(systemText.GetLuminance() - background.GetLuminance()) >= kLeastContrast) {
        return systemText;
    }
    return IsDarkColour(background) ? wxColour(235, 235, 235) : wxColour(0, 0, 0);
}

CardColours CardColoursOn(const wxColour& background, const wxColour& systemText) {
    const wxColour text = ReadableText(background, systemText);
    if (IsDarkColour(background)) {
        return {wxColour(130, 170, 255), wxColour(120, 215, 120), wxColour(240, 150, 200), text,
                wxColour(160, 160, 160)};
    }
    return {wxColour(0, 0, 255), wxColour(0, 128, 0), wxColour(128, 0, 64), text, wxColour(128, 128, 128)};
}

wxColour CardBackground(std::uint32_t taskColour, const wxColour& window) {
    if (taskColour == kWhite && IsDarkColour(window)) {
        return window;
    }
    return wxColour(static_cast<unsigned char>(taskColour & 0xFF), static_cast<unsigned char>((taskColour >> 8) & 0xFF),
                    static_cast<unsigned char>((taskColour >> 16) & 0xFF));
}

wxColour HighlightText(const wxColour& background) {
    return IsDarkColour(background) ? wxColour(255, 110, 110) : wxColour(255, 0, 0);
}
