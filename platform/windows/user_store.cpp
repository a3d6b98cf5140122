// The per-user store in the registry: string values under a key of HKEY_CURRENT_USER.
#include "platform/user_store.h"

#include <windows.h>

#include <string_view>

#include "platform/windows/wtf8.h"

struct CUserStoreKey::State {
    HKEY key = nullptr;
};

bool SystemUserStoreAvailable() {
    return true;
}

CUserStoreKey::CUserStoreKey(const std::string& keyPath, bool create) : state(std::make_unique<State>()) {
    const std::wstring path = WideFromWtf8(keyPath);
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
    const LONG status = RegQueryValueExW(state->key, WideFromWtf8(name).c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(data.data()), &bytes);
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
    value = Wtf8FromWide(data);
    return true;
}

bool CUserStoreKey::Write(const std::string& name, const std::string& value) {
    if (state->key == nullptr) {
        return false;
    }
    const std::wstring text = WideFromWtf8(value);
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(state->key, WideFromWtf8(name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()), bytes) == ERROR_SUCCESS;
}

bool CUserStoreKey::Delete(const std::string& keyPath) {
    return RegDeleteTreeW(HKEY_CURRENT_USER, WideFromWtf8(keyPath).c_str()) == ERROR_SUCCESS;
}
