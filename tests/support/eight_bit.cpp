#include "support/eight_bit.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

std::string EightBit(const std::string& utf8) {
#ifdef _WIN32
    // Straight through the system's own conversions, so that the program's are checked, not echoed.
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                               wide.data(), static_cast<int>(wide.size()))));
    std::string bytes(wide.size() * 4, '\0');
    BOOL lost = FALSE;
    bytes.resize(static_cast<std::size_t>(::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                                                static_cast<int>(wide.size()), bytes.data(),
                                                                static_cast<int>(bytes.size()), nullptr, &lost)));
    if (lost) {
        ADD_FAILURE() << "ANSI code page " << ::GetACP() << " cannot hold " << utf8;
    }
    return bytes;
#else
    return utf8;
#endif
}
