// Tests of the size, duration and error texts and of the DateTime conversions.
#include "util/texts.h"

#include <gtest/gtest.h>

namespace {

constexpr double kSecond = 1.0 / 86400.0;

TEST(SizeText, UnitsAndBoundaries) {
    EXPECT_EQ(SizeText(CLargeNumber()), "0 B");
    EXPECT_EQ(SizeText(1023u), "1023 B");
    EXPECT_EQ(SizeText(1024u), "1 KiB");
    EXPECT_EQ(SizeText(1048575u), "1023 KiB");
    EXPECT_EQ(SizeText(1048576u), "1 MiB");
    EXPECT_EQ(SizeText(1073741823u), "1023 MiB");
    EXPECT_EQ(SizeText(1073741824u), "1.0 GiB");
    EXPECT_EQ(SizeText(CLargeNumber("5368709119")), "4.9 GiB");
    EXPECT_EQ(SizeText(CLargeNumber("10737418240000")), "10000.0 GiB");
    EXPECT_EQ(SizeText(CLargeNumber("-1")), "err");
}

TEST(Duration, RoundsHalfAwayFromZero) {
    const DateTime start = 46000.25;
    EXPECT_EQ(DurationSeconds(start, start + 61.4 * kSecond), 61);
    EXPECT_EQ(DurationSeconds(start, start + 61.6 * kSecond), 62);
    EXPECT_EQ(DurationSeconds(start, start - 61.6 * kSecond), -62);
    EXPECT_EQ(DurationSeconds(start, start), 0);
}

TEST(Duration, Text) {
    const DateTime start = 46000.5;
    EXPECT_EQ(DurationText(start, start + 7 * kSecond), "7s");
    EXPECT_EQ(DurationText(start, start + 61 * kSecond), "1m 1s");
    EXPECT_EQ(DurationText(start, start + 3600 * kSecond), "1h 0m 0s");
    EXPECT_EQ(DurationText(start, start + 3725 * kSecond), "1h 2m 5s");
    EXPECT_EQ(DurationText(start, start + 25 * 3600 * kSecond), "1h 0m 0s");
    EXPECT_EQ(DurationText(start, start), "0s");
    EXPECT_EQ(DurationText(start, start + 59.6 * kSecond), "1m 0s");
}

TEST(DateTime, FromTimeInUtc) {
    // Tests run with TZ=UTC: 1970-01-01 is 25569 days after 1899-12-30.
    EXPECT_DOUBLE_EQ(LocalFromTime(0), 25569.0);
    EXPECT_DOUBLE_EQ(LocalFromTime(86400 + 43200), 25570.5);
    EXPECT_NEAR(LocalFromTime(0, 500000000), 25569.0 + 0.5 * kSecond, 1e-12);
    const DateTime now = NowLocal();
    EXPECT_GT(now, LocalFromTime(1700000000));
}

TEST(IntFromText, BehavesLikeAtoi) {
    EXPECT_EQ(IntFromText("123"), 123);
    EXPECT_EQ(IntFromText("  -42x"), -42);
    EXPECT_EQ(IntFromText("+7"), 7);
    EXPECT_EQ(IntFromText("800px"), 800);
    EXPECT_EQ(IntFromText("abc"), 0);
    EXPECT_EQ(IntFromText(""), 0);
    EXPECT_EQ(IntFromText("-"), 0);
    EXPECT_EQ(IntFromText("\t\n 5"), 5);
    EXPECT_EQ(IntFromText("99999999999999999999"), 2147483647);
    EXPECT_EQ(IntFromText("-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(IntFromText("-2147483648"), -2147483647 - 1);
}

TEST(LeadingCharacters, NeverSplitsACharacter) {
    EXPECT_EQ(LeadingCharacters("abc", 2), "ab");
    EXPECT_EQ(LeadingCharacters("abc", 10), "abc");
    EXPECT_EQ(LeadingCharacters("\xC3\xA9t\xC3\xA9", 2), "\xC3\xA9t");
    EXPECT_EQ(LeadingCharacters("\xE2\x82\xAC\xE2\x82\xAC", 1), "\xE2\x82\xAC");
    EXPECT_EQ(LeadingCharacters(std::string(300, 'x'), 255).size(), 255u);
}

} // namespace
