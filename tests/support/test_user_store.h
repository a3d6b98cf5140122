// The per-user settings store of one test: the given file where settings keep to a file, a
// registry key of the test's own where the system has its store (removed with the object), so
// that the user's own settings are never read or changed.
#pragma once

#include <string>

class TestUserStore {
public:
    explicit TestUserStore(std::string file);
    ~TestUserStore();
    TestUserStore(const TestUserStore&) = delete;
    TestUserStore& operator=(const TestUserStore&) = delete;

    // What the program takes as its per-user store's path.
    const std::string& Path() const { return path; }
    bool Exists() const;
    // A value of the system's store; empty when it is missing.
    std::string Value(const std::string& name) const;

private:
    std::string path;
};
