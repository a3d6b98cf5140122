// ScopedCurrentDirectory: the one way a test moves the process into a directory (the run log,
// summary and debug log are written to the current directory).
#pragma once

#include <string>

// Makes path the process's current directory for its lifetime (logs are written there);
// throws when it cannot be entered.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::string& path);
    ~ScopedCurrentDirectory();
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::string previous;
};
