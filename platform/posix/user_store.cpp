// No system-wide per-user value store here: settings keep to a per-user file.
#include "platform/user_store.h"

struct CUserStoreKey::State {};

bool SystemUserStoreAvailable() {
    return false;
}

CUserStoreKey::CUserStoreKey(const std::string& /*keyPath*/, bool /*create*/) {}

CUserStoreKey::~CUserStoreKey() = default;

bool CUserStoreKey::IsOpen() const {
    return false;
}

bool CUserStoreKey::Read(const std::string& /*name*/, std::size_t /*maxCharacters*/, std::string& /*value*/) const {
    return false;
}

bool CUserStoreKey::Write(const std::string& /*name*/, const std::string& /*value*/) {
    return false;
}

bool CUserStoreKey::Delete(const std::string& /*keyPath*/) {
    return false;
}
