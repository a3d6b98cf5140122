// The fixed text forms of sizes, durations and system errors, and the local date-time value
// in which run start and end times are kept.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "util/large_number.h"

// A local calendar date and time as days since 1899-12-30 00:00 with the time of day as the
// fraction, so that a span is a plain subtraction.
using DateTime = double;

DateTime NowLocal();
// The local calendar time of t; false when the system cannot tell it.
bool LocalCalendarTime(std::time_t t, std::tm& local);
DateTime LocalFromTime(std::time_t t, long nanoseconds = 0);

// A byte count in binary units, cut to the unit below: "512 B", "3 KiB", "17 MiB", "1.5 GiB".
std::string SizeText(CLargeNumber size);
std::int32_t DurationSeconds(DateTime start, DateTime end);
std::string DurationText(DateTime start, DateTime end);

// Text to integer in the manner of the C library's atoi: leading white space, an optional sign,
// then digits up to the first non-digit; no digits gives 0. Out-of-range values are clamped.
std::int32_t IntFromText(std::string_view text);
// The first `count` characters (UTF-8 code points) of text, never splitting a character.
std::string LeadingCharacters(const std::string& text, std::size_t count);
// Text for a terminal or a mail line: every control character (C0, DEL and C1) becomes a visible
// escape (\n, \r, \t, \e, \xHH; C1 as \u0080..\u009F), so that a name can neither start a line
// of its own nor move the cursor. With keepLineFeeds the line feeds of a multi-line message
// stay; everything else is escaped.
std::string EscapeControlCharacters(std::string_view text, bool keepLineFeeds = false);
// The text without the line ends at its end, which a failure line brings with the system's text.
std::string_view WithoutLineEnd(std::string_view text);
