// What the program needs to know about where it runs: a display for the window, and the
// terminal its output goes to.
#pragma once

#include <cstdio>

// Whether a graphical display is there for a window: one named in the environment (DISPLAY or
// WAYLAND_DISPLAY) on Linux, an interactive window station on Windows.
bool HasGraphicalDisplay();
// Why there is none when HasGraphicalDisplay says so, in the system's own terms.
extern const char* const kNoDisplayReason;
// Whether the stream is a terminal.
bool IsTerminal(std::FILE* stream);
// The width of the terminal the stream goes to; 0 when it is none or will not say.
int TerminalColumns(std::FILE* stream);
// Makes the terminal the stream goes to take the escapes that rewrite a line ("\r\033[K"): a
// Windows console must be asked to. False when it is no terminal or will not.
bool EnableLineRewriting(std::FILE* stream);
