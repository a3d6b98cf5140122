// The synthetic key release of keep-awake method 2: the system's own on Windows, through XTest
// on X11 elsewhere.
#include "ui/desktop_power.h"

#ifdef _WIN32

#include "platform/system_power.h"

bool SendHarmlessKeyRelease() {
    return SendSystemKeyRelease();
}

#else

#include <string>

#include <wx/utils.h>

// Before X11's headers, whose macros clash with its names.
#include "platform/process.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// A connection of our own, opened on first use and kept: the toolkit's may not be an X11 one.
Display* KeyDisplay() {
    static Display* display = [] {
        const std::string name = EnvironmentValue("DISPLAY");
        return name.empty() ? nullptr : XOpenDisplay(name.c_str());
    }();
    return display;
}

KeyCode UnmappedKeyCode(Display* display) {
    int first = 0, last = 0;
    XDisplayKeycodes(display, &first, &last);
    int perCode = 0;
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(first), last - first + 1, &perCode);
    if (!map) {
        return 0;
    }
    KeyCode found = 0;
    for (int code = first; code <= last && found == 0; ++code) {
        bool empty = true;
        for (int i = 0; i < perCode; ++i) {
            empty = empty && map[(code - first) * perCode + i] == NoSymbol;
        }
        if (empty) {
            found = static_cast<KeyCode>(code);
        }
    }
    XFree(map);
    return found;
}

} // namespace

bool SendHarmlessKeyRelease() {
    if (wxGetDisplayInfo().type != wxDisplayX11) {
        return false;
    }
    Display* display = KeyDisplay();
    if (!display) {
        return false;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        return false;
    }
    // F15 is on no ordinary keyboard, so releasing it changes nothing for any program; the
    // server still counts it as input and resets its idle time. Where F15 is not in the keymap,
    // a key code with no symbol at all serves the same purpose.
    KeyCode key = XKeysymToKeycode(display, XK_F15);
    if (key == 0) {
        key = UnmappedKeyCode(display);
    }
    if (key == 0) {
        return false;
    }
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    XFlush(display);
    return true;
}

#endif
