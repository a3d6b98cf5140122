#include "support/test_user_store.h"

#include <atomic>

#include "platform/process.h"
#include "platform/user_store.h"
#include "support/temp_dir.h"

TestUserStore::TestUserStore(std::string file) : path(std::move(file)) {
    if (SystemUserStoreAvailable()) {
        static std::atomic<int> made{0};
        path = "Software\\Vexal\\pemo-test-" + std::to_string(CurrentProcessId()) + "-" + std::to_string(++made);
        CUserStoreKey::Delete(path);
    }
}

TestUserStore::~TestUserStore() {
    if (SystemUserStoreAvailable()) {
        CUserStoreKey::Delete(path);
    }
}

bool TestUserStore::Exists() const {
    return SystemUserStoreAvailable() ? CUserStoreKey(path, false).IsOpen() : FileExists(path);
}

std::string TestUserStore::Value(const std::string& name) const {
    std::string value;
    CUserStoreKey(path, false).Read(name, 100, value);
    return value;
}
