// The settings reader on any file, as "pemo.ini" or as the per-user store (the first byte
// chooses): it must not fail, and the settings it read must save and read back equal.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "model/settings.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool Same(const Settings& a, const Settings& b) {
    return a.compactView == b.compactView && a.countAtStart == b.countAtStart && a.windowWidth == b.windowWidth &&
           a.windowHeight == b.windowHeight && a.stayAwakeMethod == b.stayAwakeMethod && a.debug == b.debug &&
           a.emptyGuard == b.emptyGuard && a.useIniFile == b.useIniFile && a.threads == b.threads;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool ini = (data[0] & 1) != 0;
    const std::string directory = fuzz::Scratch(ini ? "ini" : "user");
    const std::string userStore = fuzz::Scratch("user-store/pemo.conf");
    std::filesystem::create_directories(directory);
    std::filesystem::create_directories(fuzz::Scratch("user-store"));
    std::filesystem::remove(fuzz::Scratch("user/pemo.ini"));
    std::filesystem::remove(userStore);
    fuzz::WriteBytes(ini ? directory + "/pemo.ini" : userStore,
                     std::string(reinterpret_cast<const char*>(data) + 1, size - 1));

    fuzz::QuietMessages messages;
    Settings read;
    LoadSettings(read, directory, userStore, messages, NativeFileSystem());
    FUZZ_CHECK(read.useIniFile == ini);
    FUZZ_CHECK(read.threads >= 0 && read.threads <= kMostThreads);
    FUZZ_CHECK(SaveSettings(read, directory, userStore, messages, NativeFileSystem()));
    Settings again;
    LoadSettings(again, directory, userStore, messages, NativeFileSystem());
    FUZZ_CHECK(Same(again, read));
    return 0;
}
