// The locale's text conventions: its character set for 8-bit text, its date and time patterns,
// and conversion between character sets.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// The locale's character set as ConvertCharset names it; empty when the system will not say.
std::string LocaleCharset();
// The locale's date and time patterns in strftime form; empty when the system will not say.
std::string LocaleDatePattern();
std::string LocaleTimePattern();
// The strftime conversion of the hour of a 12-hour clock without a leading zero; each C library
// spells it its own way and refuses the other's.
extern const char* const kHourOf12WithoutZero;

// Called for input the conversion cannot take, with its offset in the input: appends a
// replacement to output and returns how many input bytes to skip (at least one).
using ConvertBadInputFn = std::function<std::size_t(std::size_t at, std::string& output)>;

// Converts input from one character set to another into output. False, output untouched, when
// the system has no such conversion.
bool ConvertCharset(const std::string& from, const std::string& to, const std::string& input, std::string& output,
                    const ConvertBadInputFn& onBad);
