// The bytes of 8-bit text on this system: the locale's set, which the suite fixes to UTF-8 on
// POSIX, and the ANSI code page on Windows.
#pragma once

#include <string>

// utf8 as the system's 8-bit text holds it. Fails the test when the set has no form for some
// character (the Windows tests assume a code page with the Latin letters, as Wine's default).
std::string EightBit(const std::string& utf8);
