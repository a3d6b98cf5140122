// What the fuzz targets share: a scratch directory for the files a reader is handed, byte
// helpers, and the check that turns a broken property into a finding.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "model/message_port.h"
#include "model/stdio_file_ex.h"

namespace fuzz {

// A directory of this process's own, made on first use and emptied when the process ends.
inline const std::string& ScratchDirectory() {
    static const struct Scratch {
        std::string path;
        Scratch() {
            const std::filesystem::path shm = "/dev/shm";
            const auto base = std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
            path = (base / ("pemo-fuzz-" + std::to_string(::getpid()))).string();
            std::filesystem::remove_all(path);
            std::filesystem::create_directories(path);
        }
        ~Scratch() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } scratch;
    return scratch.path;
}

inline std::string Scratch(const std::string& name) {
    return ScratchDirectory() + "/" + name;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::abort();
    }
}

// text split at every `separator`; n separators give n + 1 parts.
inline std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

// Valid UTF-8 converts to UTF-16 and back unchanged; anything malformed comes back as U+FFFD.
inline bool IsUtf8(const std::string& text) {
    const std::string le = Utf8ToUtf16Le(text);
    std::u16string units(le.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(le[2 * i]) |
                                         static_cast<unsigned char>(le[2 * i + 1]) << 8);
    }
    return Utf16LeToUtf8(units) == text;
}

// A property of the reader that failed: reported and aborted, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition);                      \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// Message boxes go nowhere: a reader's complaint is an answer, not a finding.
class QuietMessages : public IMessagePort {
public:
    void MessageBox(const std::string&) override {}
};

} // namespace fuzz
