#include "platform/windows/wtf8.h"

#include "util/utf8.h"

namespace {

constexpr unsigned long kReplacement = 0xFFFD;

// Like UTF-8's decoder but with surrogates let through: one code point at text[i], advancing i.
unsigned long DecodeWtf8(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    unsigned long cp = 0;
    unsigned long least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07u, least = 0x10000;
    }
    if (length == 0 || i + length > text.size()) {
        ++i;
        return kReplacement;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3Fu);
    }
    if (cp < least || cp > 0x10FFFF) {
        ++i;
        return kReplacement;
    }
    i += length;
    return cp;
}

} // namespace

std::wstring WideFromWtf8(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned long cp = DecodeWtf8(text, i);
        if (cp >= 0x10000) {
            wide.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
            wide.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            wide.push_back(static_cast<wchar_t>(cp));
        }
    }
    return wide;
}

std::string Wtf8FromWide(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned long cp = static_cast<unsigned short>(text[i]);
        const bool lead = cp >= 0xD800 && cp <= 0xDBFF;
        if (lead && i + 1 < text.size()) {
            const unsigned long trail = static_cast<unsigned short>(text[i + 1]);
            if (trail >= 0xDC00 && trail <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (trail - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
}
