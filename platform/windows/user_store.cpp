// The per-user store in the registry: string values under a key of HKEY_CURRENT_USER.
#include "platform/user_store.h"

#include <windows.h>

#include <string_view>

namespace {

// WTF-8 to UTF-16: a lone surrogate written as its three-byte form comes back as that unit, so
// every name the system can hold round-trips; other malformed bytes become U+FFFD.
std::wstring Wide(std::string_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
        const unsigned lead = byte(i);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        unsigned long cp = length == 1   ? lead
                           : length == 2 ? (lead & 0x1F)
                           : length == 3 ? (lead & 0x0F)
                                         : (lead & 0x07);
        bool good = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; good && k < length; ++k) {
            good = (byte(i + k) & 0xC0) == 0x80;
            cp = (cp << 6) | (byte(i + k) & 0x3F);
        }
        static constexpr unsigned long kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!good || cp < kLeast[length] || cp > 0x10FFFF) {
            out += L'\xFFFD';
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);
        }
        i += length;
    }
    return out;
}

// UTF-16 to WTF-8, unpaired surrogates kept as their three-byte form.
std::string Narrow(std::wstring_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned long cp = static_cast<unsigned short>(text[i]);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size()) {
            const unsigned long low = static_cast<unsigned short>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

} // namespace

struct CUserStoreKey::State {
    HKEY key = nullptr;
};

bool SystemUserStoreAvailable() {
    return true;
}

CUserStoreKey::CUserStoreKey(const std::string& keyPath, bool create) : state(std::make_unique<State>()) {
    const std::wstring path = Wide(keyPath);
    LONG status = ERROR_SUCCESS;
    if (create) {
        status = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &state->key, nullptr);
    } else {
        status = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &state->key);
    }
    if (status != ERROR_SUCCESS) {
        state->key = nullptr;
    }
}

CUserStoreKey::~CUserStoreKey() {
    if (state->key != nullptr) {
        RegCloseKey(state->key);
    }
}

bool CUserStoreKey::IsOpen() const {
    return state->key != nullptr;
}

bool CUserStoreKey::Read(const std::string& name, std::size_t maxCharacters, std::string& value) const {
    if (state->key == nullptr) {
        return false;
    }
    // Room for the characters and the terminating NUL; a longer value does not fit and is refused
    // by the call itself.
    std::wstring data(maxCharacters + 1, L'\0');
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LONG status =
        RegQueryValueExW(state->key, Wide(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    // The stored NUL is optional: the text ends at the first one or at the data's end.
    data.resize(bytes / sizeof(wchar_t));
    if (const std::size_t nul = data.find(L'\0'); nul != std::wstring::npos) {
        data.resize(nul);
    }
    if (data.size() > maxCharacters) {
        return false;
    }
    value = Narrow(data);
    return true;
}

bool CUserStoreKey::Write(const std::string& name, const std::string& value) {
    if (state->key == nullptr) {
        return false;
    }
    const std::wstring text = Wide(value);
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(state->key, Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          bytes) == ERROR_SUCCESS;
}

bool CUserStoreKey::Delete(const std::string& keyPath) {
    return RegDeleteTreeW(HKEY_CURRENT_USER, Wide(keyPath).c_str()) == ERROR_SUCCESS;
}
