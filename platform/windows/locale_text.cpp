// The locale's text conventions from the user's locale settings, and conversion between
// character sets by Windows code page, through UTF-16.
#include "platform/locale_text.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>

#include "util/utf8.h"

namespace {

constexpr UINT kUtf16Le = 1200;
constexpr UINT kUtf16Be = 1201;

std::wstring LocaleInfo(LCTYPE item) {
    wchar_t buffer[128];
    const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, buffer, 128);
    return n > 0 ? std::wstring(buffer, static_cast<std::size_t>(n - 1)) : std::wstring();
}

// A locale picture ("dd/MM/yyyy", "h:mm:ss tt") in strftime form: each run of a field letter
// becomes its conversion; quoted text is literal; letters without a conversion (the era) go.
std::string PatternFrom(const std::wstring& picture, const wchar_t* letters, const char* const* conversions) {
    std::string pattern;
    for (std::size_t i = 0; i < picture.size();) {
        const wchar_t c = picture[i];
        if (c == L'\'') {
            // 'text' is literal; a doubled quote is one quote, inside a quoted text or outside.
            if (i + 1 < picture.size() && picture[i + 1] == L'\'') {
                pattern += '\'';
                i += 2;
                continue;
            }
            for (++i; i < picture.size(); ++i) {
                if (picture[i] == L'\'') {
                    if (i + 1 >= picture.size() || picture[i + 1] != L'\'') {
                        break;
                    }
                    ++i;
                }
                if (picture[i] == L'%') {
                    pattern += '%';
                }
                AppendUtf8(pattern, static_cast<unsigned short>(picture[i]));
            }
            ++i;
            continue;
        }
        std::size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c) {
            ++run;
        }
        const wchar_t* letter = std::wcschr(letters, c);
        if (letter != nullptr && c != L'\0') {
            const std::size_t k = static_cast<std::size_t>(letter - letters);
            // The year's conversion depends on its length: yy is two digits, yyyy four.
            pattern += c == L'y' && run >= 3 ? "%Y" : conversions[k];
        } else if (c == L'%') {
            pattern.append(run * 2, '%');
        } else if ((c < L'a' || c > L'z') && (c < L'A' || c > L'Z')) {
            for (std::size_t k = 0; k < run; ++k) {
                AppendUtf8(pattern, static_cast<unsigned short>(c));
            }
        }
        i += run;
    }
    return pattern;
}

std::optional<UINT> CodePageOf(const std::string& name) {
    std::string key;
    for (const char c : name) {
        if (c != '-' && c != '_' && c != ' ') {
            key.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
        }
    }
    const auto number = [&](std::size_t prefix) -> std::optional<UINT> {
        if (key.size() <= prefix || key.size() > prefix + 5 ||
            key.find_first_not_of("0123456789", prefix) != std::string::npos) {
            return std::nullopt;
        }
        return static_cast<UINT>(std::stoul(key.substr(prefix)));
    };
    if (key == "UTF8") {
        return CP_UTF8;
    }
    if (key == "UTF16LE" || key == "UTF16") {
        return kUtf16Le;
    }
    if (key == "UTF16BE") {
        return kUtf16Be;
    }
    if (key == "ASCII" || key == "USASCII" || key == "ANSIX3.41968" || key == "646") {
        return 20127;
    }
    if (key == "LATIN1") {
        return 28591;
    }
    if (key == "KOI8R" || key == "KOI8U") {
        return key == "KOI8R" ? 20866 : 21866;
    }
    if (key.rfind("ISO8859", 0) == 0) {
        const std::optional<UINT> part = number(7);
        return part && *part >= 1 && *part <= 15 ? std::optional<UINT>(28590 + *part) : std::nullopt;
    }
    for (const char* prefix : {"CP", "WINDOWS", "IBM"}) {
        const std::size_t length = std::strlen(prefix);
        if (key.rfind(prefix, 0) == 0) {
            return number(length);
        }
    }
    return std::nullopt;
}

// One character of input at `at` in UTF-16: how many bytes it took, 0 when the bytes there are
// not a character of the set.
std::size_t DecodeOne(UINT from, const std::string& input, std::size_t at, std::wstring& wide) {
    wide.clear();
    if (from == CP_UTF8) {
        std::size_t next = at;
        const long cp = DecodeUtf8(input, next);
        if (cp < 0) {
            return 0;
        }
        if (cp >= 0x10000) {
            wide.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
            wide.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            wide.push_back(static_cast<wchar_t>(cp));
        }
        return next - at;
    }
    if (from == kUtf16Le || from == kUtf16Be) {
        const auto unit = [&](std::size_t i) -> unsigned {
            const auto b0 = static_cast<unsigned char>(input[i]), b1 = static_cast<unsigned char>(input[i + 1]);
            return from == kUtf16Le ? b0 | (b1 << 8) : b1 | (b0 << 8);
        };
        if (at + 2 > input.size()) {
            return 0;
        }
        const unsigned first = unit(at);
        if (first >= 0xDC00 && first <= 0xDFFF) {
            return 0;
        }
        if (first < 0xD800 || first > 0xDBFF) {
            wide.push_back(static_cast<wchar_t>(first));
            return 2;
        }
        if (at + 4 > input.size() || unit(at + 2) < 0xDC00 || unit(at + 2) > 0xDFFF) {
            return 0;
        }
        wide.push_back(static_cast<wchar_t>(first));
        wide.push_back(static_cast<wchar_t>(unit(at + 2)));
        return 4;
    }
    // A code page's character is one to four bytes: the shortest run it accepts whole.
    for (std::size_t length = 1; length <= 4 && at + length <= input.size(); ++length) {
        wchar_t out[4];
        const int n =
            ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, input.data() + at, static_cast<int>(length), out, 4);
        if (n > 0) {
            wide.assign(out, static_cast<std::size_t>(n));
            return length;
        }
    }
    return 0;
}

// Appends wide in the set `to`; false, output untouched, when a character has no form there.
bool EncodeAppend(UINT to, const std::wstring& wide, std::string& output) {
    if (wide.empty()) {
        return true;
    }
    if (to == CP_UTF8 || to == kUtf16Le || to == kUtf16Be) {
        std::string encoded;
        for (std::size_t i = 0; i < wide.size(); ++i) {
            const unsigned unit = static_cast<unsigned short>(wide[i]);
            const unsigned next = i + 1 < wide.size() ? static_cast<unsigned short>(wide[i + 1]) : 0;
            const bool pair = unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF;
            if (!pair && unit >= 0xD800 && unit <= 0xDFFF) {
                return false;
            }
            if (to == CP_UTF8) {
                AppendUtf8(encoded, pair ? 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00) : unit);
            } else {
                const auto put = [&](unsigned u) {
                    const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
                    encoded += to == kUtf16Le ? std::string{low, high} : std::string{high, low};
                };
                put(unit);
                if (pair) {
                    put(next);
                }
            }
            i += pair ? 1 : 0;
        }
        output += encoded;
        return true;
    }
    const int length = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int n = ::WideCharToMultiByte(to, flags, wide.data(), length, nullptr, 0, nullptr, &usedDefault);
    if (n == 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
        // Code pages that take no flags and cannot report a missing character.
        flags = 0;
        n = ::WideCharToMultiByte(to, flags, wide.data(), length, nullptr, 0, nullptr, nullptr);
    }
    if (n <= 0 || usedDefault) {
        return false;
    }
    const std::size_t start = output.size();
    output.resize(start + static_cast<std::size_t>(n));
    ::WideCharToMultiByte(to, flags, wide.data(), length, output.data() + start, n, nullptr, nullptr);
    return true;
}

// The whole input at once; false when some of it is not in either set, to be done character by
// character.
bool ConvertWhole(UINT from, UINT to, const std::string& input, std::string& output) {
    if (from == kUtf16Le || from == kUtf16Be || input.empty() || input.size() > 0x3FFFFFFF) {
        return input.empty();
    }
    const int length = static_cast<int>(input.size());
    const int n = ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, input.data(), length, nullptr, 0);
    if (n <= 0) {
        return false;
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, input.data(), length, wide.data(), n);
    return EncodeAppend(to, wide, output);
}

} // namespace

std::string LocaleCharset() {
    const UINT page = ::GetACP();
    return page == CP_UTF8 ? std::string("UTF-8") : "CP" + std::to_string(page);
}

std::string LocaleDatePattern() {
    static const char* const conversions[] = {"%d", "%m", "%y"};
    return PatternFrom(LocaleInfo(LOCALE_SSHORTDATE), L"dMy", conversions);
}

std::string LocaleTimePattern() {
    static const char* const conversions[] = {"%I", "%H", "%M", "%S", "%p"};
    return PatternFrom(LocaleInfo(LOCALE_STIMEFORMAT), L"hHmst", conversions);
}

bool ConvertCharset(const std::string& from, const std::string& to, const std::string& input, std::string& output,
                    const ConvertBadInputFn& onBad) {
    const std::optional<UINT> source = CodePageOf(from);
    const std::optional<UINT> target = CodePageOf(to);
    const auto known = [](UINT page) { return page == kUtf16Le || page == kUtf16Be || ::IsValidCodePage(page); };
    if (!source || !target || !known(*source) || !known(*target)) {
        return false;
    }
    output.clear();
    if (ConvertWhole(*source, *target, input, output)) {
        return true;
    }
    output.clear();
    std::wstring wide;
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t length = DecodeOne(*source, input, at, wide);
        if (length > 0 && EncodeAppend(*target, wide, output)) {
            at += length;
        } else {
            at += std::max<std::size_t>(1, onBad(at, output));
        }
    }
    return true;
}
