// The fixed text forms of sizes, durations and system errors, and conversions between system
// time and the local DateTime value.
#include "util/texts.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "util/utf8.h"

namespace {

constexpr double kHalfSecond = 0.5 / 86400.0;

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

const long long kEpochOffsetDays = DaysFromCivil(1899, 12, 30);

double SpanWithHalfSecond(DateTime start, DateTime end) {
    double d = end - start;
    return d >= 0 ? d + kHalfSecond : d - kHalfSecond;
}

} // namespace

bool LocalCalendarTime(std::time_t t, std::tm& local) {
#if defined(_WIN32)
    return localtime_s(&local, &t) == 0;
#else
    return localtime_r(&t, &local) != nullptr;
#endif
}

DateTime LocalFromTime(std::time_t t, long nanoseconds) {
    std::tm local{};
    if (!LocalCalendarTime(t, local)) {
        return 0.0;
    }
    const long long days = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                         static_cast<unsigned>(local.tm_mday)) -
                           kEpochOffsetDays;
    const double seconds =
        local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + static_cast<double>(nanoseconds) / 1e9;
    return static_cast<double>(days) + seconds / 86400.0;
}

DateTime NowLocal() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return LocalFromTime(now.tv_sec, now.tv_nsec);
}

std::string SizeText(CLargeNumber size) {
    static const CLargeNumber kKibi(1024u);
    static const CLargeNumber kMebi(1048576u);
    static const CLargeNumber kGibi(1073741824u);
    if (size < CLargeNumber()) {
        return "err";
    }
    if (size < kKibi) {
        return size.ToString() + " B";
    }
    if (size < kMebi) {
        size /= kKibi;
        return size.ToString() + " KiB";
    }
    if (size < kGibi) {
        size /= kMebi;
        return size.ToString() + " MiB";
    }
    // Tenths of a GiB, cut rather than rounded like the smaller units.
    CLargeNumber tenths = size * CLargeNumber(10u);
    tenths /= kGibi;
    std::string digits = tenths.ToString();
    digits.insert(digits.size() - 1, ".");
    return digits + " GiB";
}

std::int32_t DurationSeconds(DateTime start, DateTime end) {
    return static_cast<std::int32_t>(std::trunc(SpanWithHalfSecond(start, end) * 86400.0));
}

std::string DurationText(DateTime start, DateTime end) {
    const double x = SpanWithHalfSecond(start, end);
    const long long s = static_cast<long long>(std::trunc(x * 86400.0)) % 60;
    const long long m = static_cast<long long>(std::trunc(x * 1440.0)) % 60;
    const long long h = static_cast<long long>(std::trunc(x * 24.0)) % 24;
    char text[64];
    if (h != 0) {
        std::snprintf(text, sizeof text, "%lldh %lldm %llds", h, m, s);
    } else if (m != 0) {
        std::snprintf(text, sizeof text, "%lldm %llds", m, s);
    } else {
        std::snprintf(text, sizeof text, "%llds", s);
    }
    return text;
}

std::int32_t IntFromText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= static_cast<long long>(INT_MAX) + 1) {
            value = value * 10 + (text[i] - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<std::int32_t>(value);
}

std::string LeadingCharacters(const std::string& text, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < text.size() && seen < count; ++seen) {
        i = Utf8CharacterEnd(text, i);
    }
    return text.substr(0, i);
}

std::string EscapeControlCharacters(std::string_view text, bool keepLineFeeds) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            out += "\\u00";
            out += kHex[next >> 4];
            out += kHex[next & 0xF];
            ++i;
        } else if (c == '\n' && keepLineFeeds) {
            out += '\n';
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == 0x1B) {
            out += "\\e";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string_view WithoutLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}
