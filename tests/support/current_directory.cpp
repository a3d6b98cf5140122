#include "support/current_directory.h"

#include <unistd.h>

#include <stdexcept>

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::string& path) {
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) != nullptr) {
        previous = buffer;
    }
    if (::chdir(path.c_str()) != 0) {
        throw std::runtime_error("chdir " + path);
    }
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
    if (!previous.empty()) {
        (void)!::chdir(previous.c_str());
    }
}
