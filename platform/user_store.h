// The system's per-user store of named string values, where the system has one (the registry's
// current-user hive on Windows). Where it has none, settings keep to a per-user file instead.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// Whether this system has such a store.
bool SystemUserStoreAvailable();

// One key of the store, open while the object lives. keyPath is relative to the current user's
// root, its parts separated by backslashes ("Software\\Vexal\\pemo").
class CUserStoreKey {
public:
    // Opens the key for reading; with create, creates it (and its parents) when missing and opens
    // it for writing too. IsOpen() tells whether it worked.
    CUserStoreKey(const std::string& keyPath, bool create);
    ~CUserStoreKey();
    CUserStoreKey(const CUserStoreKey&) = delete;
    CUserStoreKey& operator=(const CUserStoreKey&) = delete;

    bool IsOpen() const;
    // The string value name: false, value untouched, when it is missing, is no string or holds
    // more than maxCharacters characters.
    bool Read(const std::string& name, std::size_t maxCharacters, std::string& value) const;
    // Sets name to the string value; false when the store refuses.
    bool Write(const std::string& name, const std::string& value);
    // Removes the key with its values; for tests, which use keys of their own.
    static bool Delete(const std::string& keyPath);

private:
    struct State;
    std::unique_ptr<State> state;
};
