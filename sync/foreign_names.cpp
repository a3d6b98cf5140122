// Case folding and refused names for foreign destinations.
#include "sync/foreign_names.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/fs_error.h"
#include "util/texts.h"

namespace {

// The simple lower case of a code point of the blocks a destination's upcase table is sure to
// fold: ASCII, Latin-1, Latin Extended-A, basic Greek and Cyrillic.
char32_t FoldCodePoint(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F)) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    // Latin Extended-A pairs capitals and small letters side by side, with the odd ones out
    // between U+0138 and U+0149 and from U+0179 on.
    if ((c >= 0x100 && c <= 0x137 && c % 2 == 0 && c != 0x130) || (c >= 0x14A && c <= 0x177 && c % 2 == 0) ||
        (c >= 0x139 && c <= 0x148 && c % 2 == 1) || (c >= 0x179 && c <= 0x17E && c % 2 == 1)) {
        return c + 1;
    }
    if (c == 0x17F) {
        return 's';
    }
    return c == 0x178 ? 0xFF : c;
}

// Decodes the code point at text[i], advancing i; an invalid byte stands for itself (as 0x110000
// + byte, so that it can match no letter).
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80) {
        return lead;
    }
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (extra == 0 || i + static_cast<std::size_t>(extra) > text.size()) {
        return 0x110000 + lead;
    }
    char32_t c = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((next & 0xC0) != 0x80) {
            return 0x110000 + lead;
        }
        c = (c << 6) | (next & 0x3F);
    }
    i += static_cast<std::size_t>(extra);
    return c;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c >= 0x110000) {
        out += static_cast<char>(c - 0x110000);
    } else if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsDeviceName(std::string_view name) {
    const std::string_view stem = name.substr(0, name.find('.'));
    std::string upper;
    for (const char c : stem) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    static constexpr std::array<std::string_view, 4> kPlain{"CON", "PRN", "AUX", "NUL"};
    for (const std::string_view device : kPlain) {
        if (upper == device) {
            return true;
        }
    }
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
           upper[3] <= '9';
}

} // namespace

std::string FoldCase(std::string_view name) {
    std::string folded;
    folded.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        AppendUtf8(folded, FoldCodePoint(NextCodePoint(name, i)));
    }
    return folded;
}

std::uint64_t FoldedCaseHash(std::string_view name) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < name.size();) {
        h = (h ^ FoldCodePoint(NextCodePoint(name, i))) * 1099511628211ull;
    }
    return h;
}

std::vector<std::pair<std::string, std::string>> CaseConflicts(const std::vector<std::string_view>& names) {
    // By folded hash, and in byte order within one: names that fold alike lie side by side, the
    // first of them foremost. Only a group of one hash is folded in full.
    std::vector<std::pair<std::uint64_t, std::string_view>> hashed;
    hashed.reserve(names.size());
    for (const std::string_view name : names) {
        hashed.emplace_back(FoldedCaseHash(name), name);
    }
    std::sort(hashed.begin(), hashed.end());
    std::vector<std::pair<std::string, std::string>> conflicts;
    for (std::size_t a = 0; a < hashed.size(); ++a) {
        for (std::size_t b = a + 1; b < hashed.size() && hashed[b].first == hashed[a].first; ++b) {
            if (!hashed[b].second.empty() && FoldCase(hashed[a].second) == FoldCase(hashed[b].second)) {
                conflicts.emplace_back(hashed[a].second, hashed[b].second);
                hashed[b].second = {};
            }
        }
    }
    std::sort(conflicts.begin(), conflicts.end(), [](const auto& x, const auto& y) { return x.second < y.second; });
    return conflicts;
}

bool FlipAsciiCase(std::string_view name, std::string& flipped) {
    flipped.assign(name);
    bool any = false;
    for (char& c : flipped) {
        if (std::isalpha(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 0x80) {
            c = static_cast<char>(c ^ 0x20);
            any = true;
        }
    }
    return any;
}

bool NameForeignSystemsRefuse(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos) {
            return true;
        }
    }
    return name.back() == '.' || name.back() == ' ' || IsDeviceName(name);
}

bool DestinationRefusedName(std::string_view name, const FsError& error) {
    return error && MayBeRefusedName(error) && NameForeignSystemsRefuse(name);
}

std::string RefusedNameLine(const std::string& sourcePath, std::string_view name) {
    return "Not copying " + sourcePath + ": the destination does not allow the name \"" +
           EscapeControlCharacters(name) + "\"";
}
