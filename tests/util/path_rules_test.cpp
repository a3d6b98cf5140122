// The Windows path rules on path text.
#include "util/path_rules.h"

#include "util/path_parts.h"

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

TEST(PathRules, WindowsPathsSplitAtEitherSlashAndADriveRootKeepsItsSeparator) {
    EXPECT_EQ(WindowsDirectoryPartOf("C:\\jobs\\a.job"), "C:\\jobs");
    EXPECT_EQ(WindowsDirectoryPartOf("C:\\a.job"), "C:\\");
    EXPECT_EQ(WindowsDirectoryPartOf("\\\\srv\\share\\a.job"), "\\\\srv\\share");
    EXPECT_EQ(WindowsDirectoryPartOf("C:/jobs/a.job"), "C:/jobs");
    EXPECT_EQ(WindowsNamePartOf("C:\\jobs/a.job"), "a.job");
    EXPECT_EQ(WindowsNamePartOf("C:a.job"), "a.job");
#if defined(_WIN32)
    EXPECT_EQ(DirectoryPartOf("C:\\a.job"), "C:\\");
    EXPECT_EQ(DirectoryPartOf("D:\\jobs/a.job"), "D:\\jobs");
    EXPECT_EQ(NamePartOf("D:\\jobs\\a.job"), "a.job");
    EXPECT_EQ(JoinedPath("C:\\", "pemo.ini"), "C:\\pemo.ini");
    EXPECT_EQ(JoinedPath("\\\\srv\\share", "pemo.ini"), "\\\\srv\\share\\pemo.ini");
#else
    EXPECT_EQ(NamePartOf("/a/b\\c.job"), "b\\c.job"); // a backslash is part of a POSIX name
    EXPECT_EQ(DirectoryPartOf("/a:/b.job"), "/a:");
#endif
}
