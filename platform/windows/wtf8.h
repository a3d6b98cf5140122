// Names and texts between the program's UTF-8 and the UTF-16 of every Win32 call. Windows names
// may hold unpaired surrogates; they travel as their three-byte forms (WTF-8), so every name
// read from the system reaches it again unchanged.
#pragma once

#include <string>
#include <string_view>

// Malformed bytes become U+FFFD; encoded surrogates become the surrogates themselves.
std::wstring WideFromWtf8(std::string_view text);
std::string Wtf8FromWide(std::wstring_view text);
