// Exclusion lists: normalisation with the POSIX reading of relative items, directory exclusion
// and the file test with its patterns and attribute switches.
#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/temp_dir.h"
#include "sync/exclusions.h"

namespace {

// The absolute path a POSIX-style one stands for here: "/a/b", or "C:\a\b" on Windows.
std::string Abs(const std::string& posix) {
    return (kPathSeparator == '/' ? "" : "C:") + NativePath(posix);
}

FileEntry Named(const std::string& name, bool hidden = false) {
    FileEntry f;
    f.name = name;
    f.hidden = hidden;
    return f;
}

bool Excluded(const std::string& list, const std::string& dir, const std::string& name) {
    return !IsIncluded(Named(name), list, dir, false, false);
}

} // namespace

TEST(NormaliseExclusions, KeepsItemsAndMakesRelativeOnesAbsolute) {
    EXPECT_EQ(NormaliseExclusions("", "/src", ""), "");
    EXPECT_EQ(NormaliseExclusions("a;;b", "/src", ""), "a;;b");
    EXPECT_EQ(NormaliseExclusions("*.tmp; x ", "/src", ""), "*.tmp; x ") << "items are not trimmed";
    // A Windows-style relative item still works: its backslashes become separators.
    EXPECT_EQ(NormaliseExclusions("\\data\\tmp", Abs("/src"), ""), Abs("/src/data/tmp"));
    EXPECT_EQ(NormaliseExclusions("\\data\\tmp\\", Abs("/src"), ""), Abs("/src/data/tmp"));
    EXPECT_EQ(NormaliseExclusions(Abs("/abs/dir/"), Abs("/src"), ""), Abs("/abs/dir"));
    EXPECT_EQ(NormaliseExclusions("\\\\srv\\share", "/src", ""), "\\\\srv\\share");
    EXPECT_EQ(NormaliseExclusions("?:\\x", "/src", "E"), "E:\\x");
    EXPECT_EQ(NormaliseExclusions("?:\\x", "/src", ""), "?:\\x");
    EXPECT_EQ(NormaliseExclusions("\\rel", "?:\\src", "F"), NativePath("F:\\src/rel"));
    EXPECT_EQ(NormaliseExclusions("?:\\x;\\rel", "?:\\src", "\xC3\xA9"), NativePath("\xC3\xA9:\\x;\xC3\xA9:\\src/rel"));
}

TEST(NormaliseExclusions, ASlashIsTheSeparatorOfATypedPath) {
    // Windows reads "C:/backup/temp/" as C:\backup\temp.
    const std::string drive = kPathSeparator == '/' ? "" : "C:";
    const std::string list = NormaliseExclusions(drive + "/backup/temp/;" + drive + "/backup/2012*", Abs("/src"), "");
    EXPECT_TRUE(Excluded(list, Abs("/Backup"), "temp"));
    EXPECT_EQ(DirectoryExclusion(list, Abs("/backup/temp")), ExclusionResult::ExcludedExactly);
    EXPECT_EQ(DirectoryExclusion(list, Abs("/backup/2012-old")), ExclusionResult::ExcludedByPrefix);
}

TEST(DirectoryExclusion, ExactAndPrefixItems) {
    EXPECT_EQ(DirectoryExclusion("/backup/temp", "/Backup/Temp"), ExclusionResult::ExcludedExactly);
    EXPECT_EQ(DirectoryExclusion("a;/backup/temp;b", "/backup/temp"), ExclusionResult::ExcludedExactly);
    EXPECT_EQ(DirectoryExclusion("/backup/temp", "/backup/temp2"), ExclusionResult::NotExcluded);
    EXPECT_EQ(DirectoryExclusion("/backup/2012*", "/backup/2012-old"), ExclusionResult::ExcludedByPrefix);
    EXPECT_EQ(DirectoryExclusion("/backup/2012*", "/backup/2012"), ExclusionResult::ExcludedByPrefix);
    EXPECT_EQ(DirectoryExclusion("*.tmp", "/a/b.tmp"), ExclusionResult::NotExcluded);
    EXPECT_EQ(DirectoryExclusion("*temp*", "/x/temp"), ExclusionResult::NotExcluded);
    EXPECT_EQ(DirectoryExclusion("temp", "/x/temp"), ExclusionResult::NotExcluded);
    EXPECT_EQ(DirectoryExclusion("*", "/anything"), ExclusionResult::ExcludedByPrefix);
    EXPECT_EQ(DirectoryExclusion("", "/anything"), ExclusionResult::NotExcluded);
}

TEST(DirectoryExclusion, EmptyPathsAndEmptyItemsNeverMatch) {
    struct Case {
        const char* list;
        const char* path;
        ExclusionResult expected;
    };
    const Case cases[] = {
        {"", "", ExclusionResult::NotExcluded},         {"a;;b", "", ExclusionResult::NotExcluded},
        {";", "", ExclusionResult::NotExcluded},        {"a;", "", ExclusionResult::NotExcluded},
        {"*.tmp", "", ExclusionResult::NotExcluded},    {"", "/", ExclusionResult::NotExcluded},
        {"a;;b", "/", ExclusionResult::NotExcluded},    {";", "/x", ExclusionResult::NotExcluded},
        {"/", "/", ExclusionResult::ExcludedExactly},   {"a;;/x", "/x", ExclusionResult::ExcludedExactly},
        {"/*", "/", ExclusionResult::ExcludedByPrefix},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DirectoryExclusion(c.list, c.path), c.expected)
            << "list \"" << c.list << "\" path \"" << c.path << "\"";
    }
}

TEST(IsIncluded, NamePatterns) {
    EXPECT_TRUE(Excluded("*.tmp", "/d", "report.TMP"));
    EXPECT_FALSE(Excluded("*.tmp", "/d", "report.tmp.bak"));
    EXPECT_TRUE(Excluded("*temp*", "/d", "mytemplate"));
    EXPECT_TRUE(Excluded("temp", "/any/where", "TEMP"));
    EXPECT_FALSE(Excluded("temp", "/d", "temp.txt"));
    EXPECT_TRUE(Excluded("draft*", "/d", "Draft-1.txt"));
    EXPECT_TRUE(Excluded("*", "/d", "x"));
    EXPECT_TRUE(Excluded("**", "/d", "x"));
    EXPECT_FALSE(Excluded("", "/d", "x"));
    EXPECT_FALSE(Excluded("a;;b", "/d", "x"));
    EXPECT_FALSE(Excluded("a*b", "/d", "axb")) << "a star inside is an ordinary character";
    EXPECT_TRUE(Excluded("a*b", "/d", "a*b"));
    // Only ASCII letters fold.
    EXPECT_FALSE(Excluded("\xC3\x84*", "/d", "\xC3\xA4.txt"));
    EXPECT_TRUE(Excluded("\xC3\x84*", "/d", "\xC3\x84.txt"));
}

TEST(IsIncluded, PathItems) {
    EXPECT_TRUE(Excluded(Abs("/backup/temp"), Abs("/Backup"), "Temp"));
    EXPECT_FALSE(Excluded(Abs("/backup/temp"), Abs("/backup/temp"), "x")) << "a directory item names no file inside";
    EXPECT_TRUE(Excluded(Abs("/backup/2012*"), Abs("/backup"), "2012.txt"));
    EXPECT_FALSE(Excluded(Abs("/backup/2012*"), Abs("/other"), "2012.txt"));
    const std::string relative = NormaliseExclusions("\\data\\tmp", Abs("/src"), "");
    EXPECT_TRUE(Excluded(relative, Abs("/src/data"), "tmp"));
    EXPECT_FALSE(Excluded(relative, Abs("/src"), "tmp"));
    EXPECT_EQ(DirectoryExclusion(relative, Abs("/src/data/tmp")), ExclusionResult::ExcludedExactly);
}

TEST(IsIncluded, AttributeSwitches) {
    EXPECT_TRUE(IsIncluded(Named(".profile", true), "", "/d", false, false));
    EXPECT_FALSE(IsIncluded(Named(".profile", true), "", "/d", false, true));
    EXPECT_TRUE(IsIncluded(Named("plain"), "", "/d", true, true));
}

TEST(Exclusions, EveryFormMatchesItsOwnKind) {
    struct Case {
        const char* item;
        const char* path; // POSIX spelling below the source /w/cache
        bool directory;
        bool excluded;
    };
    const Case cases[] = {
        {"node_modules/", "/w/cache/node_modules", true, true},
        {"node_modules/", "/w/cache/a/b/Node_Modules", true, true},
        {"node_modules/", "/w/cache/a/node_modules", false, false},
        {"cache/", "/w/cache", true, false}, // the source itself is no directory below it
        {"*.egg-info/", "/w/cache/lib/pkg.egg-info", true, true},
        {"**/build/*.o", "/w/cache/build/a.o", false, true},
        {"**/build/*.o", "/w/cache/x/y/build/a.o", false, true},
        {"**/build/*.o", "/w/cache/build/sub/a.o", false, false},
        {"docs/**/draft*", "/w/cache/docs/a/draft1", true, true},
        {"docs/**/draft*", "/w/cache/other/docs/draft", false, false},
        {"docs/**/", "/w/cache/docs/a", true, true},
        {"cache", "/w/cache/cache", true, false},
        {"\\cache", "/w/cache/cache", true, true},
    };
    for (const Case& c : cases) {
        const std::string list = NormaliseExclusions(c.item, Abs("/w/cache"), "");
        const std::string path = Abs(c.path);
        const std::size_t cut = path.rfind(kPathSeparator);
        const bool excluded = c.directory ? DirectoryExclusion(list, path) == ExclusionResult::ExcludedExactly
                                          : Excluded(list, path.substr(0, cut), path.substr(cut + 1));
        EXPECT_EQ(excluded, c.excluded) << c.item << " on " << c.path;
    }
}

TEST(DescribeExclusion, NamesWhatAnItemMatches) {
    EXPECT_EQ(DescribeExclusion("node_modules/"), "Directories named \"node_modules\" at any depth below the source");
    EXPECT_EQ(DescribeExclusion("docs/**/"),
              "Directories matching the path pattern (* within one level, ** across levels), relative to the source");
    EXPECT_EQ(DescribeExclusion("cache"), "Files named \"cache\" in every directory (end it with / for directories)");
    EXPECT_EQ(DescribeExclusion("\\data\\tmp"),
              "The file or directory with this path, and all below it, relative to the source");
    EXPECT_EQ(DescribeExclusion("docs/tmp").rfind("Matches nothing", 0), 0U);
}
