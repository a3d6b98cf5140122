// Stepping through and building UTF-8: the one decoder every reader, cut and check of text uses.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// One code point of UTF-8 at text[i], advancing i; -1 (and one byte) for anything malformed:
// bad lead or continuation bytes, overlong forms, surrogates, values beyond U+10FFFF.
long DecodeUtf8(std::string_view text, std::size_t& i);
// Where the character starting at text[at] ends: after its whole sequence, or after one byte
// when the sequence is malformed.
std::size_t Utf8CharacterEnd(std::string_view text, std::size_t at);
// Appends code point cp (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, unsigned long cp);
