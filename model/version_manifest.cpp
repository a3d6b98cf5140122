// Reading and writing the manifest of one run's kept versions.
#include "model/version_manifest.h"

#include <charconv>
#include <cstdio>

namespace {

constexpr std::string_view kHeader = "pemo-versions 1";
constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

template <typename T>
std::string Number(const std::optional<T>& value) {
    return value ? std::to_string(*value) : std::string("-");
}

template <typename T>
bool ReadNumber(std::string_view text, std::optional<T>& value) {
    if (text == "-") {
        value.reset();
        return true;
    }
    T parsed{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return false;
    }
    value = parsed;
    return true;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(tab + 1);
    }
}

bool ReadAction(const std::vector<std::string_view>& fields, ManifestAction& action) {
    if (fields.size() != 5 || fields[0].size() != 1 || fields[1].size() != 1) {
        return false;
    }
    const char kind = fields[0][0];
    if (kind != 'A' && kind != 'R' && kind != 'D') {
        return false;
    }
    action.action = static_cast<ManifestAction::Kind>(kind);
    action.entry = fields[1][0];
    if (action.entry != 'f' && action.entry != 'd' && action.entry != 'l') {
        return false;
    }
    return ReadNumber(fields[2], action.size) && ReadNumber(fields[3], action.mtimeNanoseconds) &&
           DecodeManifestField(fields[4], action.path) && !action.path.empty();
}

bool ReadKey(const std::vector<std::string_view>& fields, VersionManifest& manifest) {
    std::string value;
    if (fields.size() != 2 || !DecodeManifestField(fields[1], value)) {
        return false;
    }
    if (fields[0] == "task") {
        manifest.task = std::move(value);
    } else if (fields[0] == "source") {
        manifest.source = std::move(value);
    } else if (fields[0] == "destination") {
        manifest.destination = std::move(value);
    } else if (fields[0] == "started") {
        manifest.started = std::move(value);
    }
    return true;
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool RealDate(int year, int month, int day, int hour, int minute, int second) {
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 ||
        second > 59) {
        return false;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month != 2 || day <= 28 || leap;
}

} // namespace

std::string EncodeManifestField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '%') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

bool DecodeManifestField(std::string_view text, std::string& decoded) {
    decoded.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return false;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

std::string FormatManifest(const VersionManifest& manifest) {
    std::string text(kHeader);
    text += '\n';
    const auto key = [&text](const char* name, const std::string& value) {
        text += name;
        text += '\t';
        text += EncodeManifestField(value);
        text += '\n';
    };
    key("task", manifest.task);
    key("source", manifest.source);
    key("destination", manifest.destination);
    key("started", manifest.started);
    for (const ManifestAction& a : manifest.actions) {
        text += static_cast<char>(a.action);
        text += '\t';
        text += a.entry;
        text += '\t' + Number(a.size) + '\t' + Number(a.mtimeNanoseconds) + '\t';
        text += EncodeManifestField(a.path);
        text += '\n';
    }
    return text;
}

bool ParseManifest(std::string_view text, VersionManifest& manifest, std::string& error) {
    manifest = VersionManifest{};
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const auto fail = [&](const char* what) {
            error = "line " + std::to_string(number) + ": " + what;
            return false;
        };
        if (number == 1) {
            if (line != kHeader) {
                return fail("not a versions manifest");
            }
            continue;
        }
        if (line.empty()) {
            continue;
        }
        const std::vector<std::string_view> fields = SplitTabs(line);
        if (fields[0].size() == 1) {
            ManifestAction action;
            if (!ReadAction(fields, action)) {
                return fail("bad action");
            }
            manifest.actions.push_back(std::move(action));
        } else if (!ReadKey(fields, manifest)) {
            return fail("bad key line");
        }
    }
    if (number == 0) {
        error = "line 1: empty";
        return false;
    }
    return true;
}

std::string RunFolderName(int year, int month, int day, int hour, int minute, int second) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d_%02d-%02d-%02d", year, month, day, hour, minute, second);
    return name;
}

std::int64_t CalendarSeconds(int year, int month, int day, int hour, int minute, int second) {
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
}

bool ParseRunFolderName(std::string_view name, std::int64_t& seconds, int& sequence) {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    constexpr std::size_t kLength = 19;
    if (name.size() < kLength || name[4] != '-' || name[7] != '-' || name[10] != '_' || name[13] != '-' ||
        name[16] != '-' || !Digits(name, 0, 4, year) || !Digits(name, 5, 2, month) || !Digits(name, 8, 2, day) ||
        !Digits(name, 11, 2, hour) || !Digits(name, 14, 2, minute) || !Digits(name, 17, 2, second) || month < 1 ||
        month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return false;
    }
    sequence = 1;
    if (name.size() > kLength) {
        // A second run in the same second: _2, _3, ...
        constexpr std::size_t kMostDigits = 6;
        if (name[kLength] != '_' || name.size() == kLength + 1 || name.size() > kLength + 1 + kMostDigits ||
            !Digits(name, kLength + 1, name.size() - kLength - 1, sequence) || sequence < 2) {
            return false;
        }
    }
    seconds = CalendarSeconds(year, month, day, hour, minute, second);
    return true;
}

bool ParseRestoreTime(const std::string& text, std::int64_t& seconds, int& sequence) {
    if (ParseRunFolderName(text, seconds, sequence)) {
        return true;
    }
    sequence = 1;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    const bool date = Digits(text, 0, 4, year) && text.size() >= 10 && text[4] == '-' && Digits(text, 5, 2, month) &&
                      text[7] == '-' && Digits(text, 8, 2, day);
    bool ok = date && text.size() == 10;
    if (date && (text.size() == 16 || text.size() == 19) && text[10] == ' ' && text[13] == ':') {
        ok = Digits(text, 11, 2, hour) && Digits(text, 14, 2, minute) &&
             (text.size() == 16 || (text[16] == ':' && Digits(text, 17, 2, second)));
    }
    if (!ok || !RealDate(year, month, day, hour, minute, second)) {
        return false;
    }
    seconds = CalendarSeconds(year, month, day, hour, minute, second);
    return true;
}
