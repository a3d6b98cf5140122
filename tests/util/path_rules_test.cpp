// The Windows path rules on path text.
#include "util/path_rules.h"

#include <gtest/gtest.h>

TEST(PathRules, LongPathAddsThePrefixOrTheNetworkPrefixAndADriveIsTwoCharacters) {
    EXPECT_EQ(LongPath("C:\\a"), "\\\\?\\C:\\a");
    EXPECT_EQ(LongPath("\\\\srv\\share\\a"), "\\\\?\\UNC\\srv\\share\\a");
    EXPECT_EQ(LongPath("\\\\?\\C:\\a"), "\\\\?\\UNC\\?\\C:\\a");
    EXPECT_EQ(LongPath("/home/u"), "\\\\?\\/home/u");

    EXPECT_TRUE(IsDrive("C:"));
    EXPECT_FALSE(IsDrive("C:\\"));
    EXPECT_FALSE(IsDrive("C"));
    EXPECT_FALSE(IsDrive("/a"));
}
