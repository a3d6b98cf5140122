// The fixed text forms of sizes, durations and system errors, and the local date-time value
// in which run start and end times are kept.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "util/large_number.h"

// A local calendar date and time as days since 1899-12-30 00:00 with the time of day as the
// fraction, so that a span is a plain subtraction.
using DateTime = double;

DateTime NowLocal();
DateTime LocalFromTime(std::time_t t, long nanoseconds = 0);

std::string SizeText(CLargeNumber size);
std::int32_t DurationSeconds(DateTime start, DateTime end);
std::string DurationText(DateTime start, DateTime end);
// The platform's text for an errno value without its trailing line break.
std::string ErrorText(std::uint32_t code);
