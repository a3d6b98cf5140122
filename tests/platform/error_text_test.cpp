#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/fs_error.h"

// The Windows texts are checked with the Windows file system.
#ifndef _WIN32
TEST(ErrorText, PlatformTextAndFallback) {
    EXPECT_EQ(ErrorText(ENOENT), std::strerror(ENOENT));
    EXPECT_EQ(ErrorText(ENOENT).find('\n'), std::string::npos);
    EXPECT_EQ(ErrorText(99999), "Unknown error code 0001869f (34463)");
    EXPECT_EQ(ErrorText(0xFFFFFFFFu), "Unknown error code ffffffff (65535)");
}
#endif
