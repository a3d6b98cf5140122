// The record of a run's kept versions: its text round-trips every name, and bad text is refused.
#include <gtest/gtest.h>

#include "model/version_manifest.h"

TEST(VersionManifest, RoundTripsEveryNameAndRefusesBadText) {
    VersionManifest m{"Photos\t1", "/home/a%b", "/mnt/backup", "2026-12-09_10-00-00", {}};
    using K = ManifestAction::Kind;
    m.actions.push_back({K::Added, 'f', 12, 1600000000123456789, "new/file.txt"});
    m.actions.push_back({K::Replaced, 'l', 3, -5, "odd\tname\n\x7f%41/\xc3\xa9"});
    m.actions.push_back({K::Deleted, 'd', std::nullopt, std::nullopt, "gone dir"});
    const std::string text = FormatManifest(m);
    EXPECT_EQ(text.substr(0, text.find("R\t")), "pemo-versions 1\ntask\tPhotos%091\nsource\t/home/a%25b\n"
                                                "destination\t/mnt/backup\nstarted\t2026-12-09_10-00-00\n"
                                                "A\tf\t12\t1600000000123456789\tnew/file.txt\n");
    EXPECT_NE(text.find("R\tl\t3\t-5\todd%09name%0A%7F%2541/\xc3\xa9\n"), std::string::npos) << text;
    EXPECT_NE(text.find("D\td\t-\t-\tgone dir\n"), std::string::npos);
    VersionManifest read;
    std::string error;
    ASSERT_TRUE(ParseManifest(text, read, error)) << error;
    EXPECT_EQ(read, m);
    EXPECT_TRUE(ParseManifest(text + "later\tkey\n", read, error)) << "unknown keys are skipped";
    for (const char* bad : {"", "pemo-versions 2\n", "pemo-versions 1\nX\tf\t1\t1\tp\n",
                            "pemo-versions 1\nA\tq\t1\t1\tp\n", "pemo-versions 1\nA\tf\t1x\t1\tp\n",
                            "pemo-versions 1\nA\tf\t1\t1\tbad%4\n", "pemo-versions 1\nA\tf\t1\t1\t\n"}) {
        EXPECT_FALSE(ParseManifest(bad, read, error)) << bad;
    }
}

TEST(VersionManifest, RunFolderNames) {
    EXPECT_EQ(RunFolderName(2026, 1, 2, 3, 4, 5), "2026-01-02_03-04-05");
    std::int64_t seconds = 0;
    int sequence = 0;
    ASSERT_TRUE(ParseRunFolderName("1970-01-02_00-00-01_12", seconds, sequence));
    EXPECT_EQ(seconds, 86401);
    EXPECT_EQ(sequence, 12);
    for (const char* bad : {"1970-01-02_00-00-01_1", "1970-13-02_00-00-01", "1970-01-02 00-00-01", "notes",
                            "1970-01-02_00-00-01_", "1970-01-02_00-00-01x"}) {
        EXPECT_FALSE(ParseRunFolderName(bad, seconds, sequence)) << bad;
    }
}
