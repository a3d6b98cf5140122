// Tests of CLargeNumber: carries, borrows, sign rules, division and the text forms.
#include "util/large_number.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>

namespace {

CLargeNumber N(const char* text) {
    return CLargeNumber(text);
}

TEST(LargeNumber, CarriesAcrossEveryDigit) {
    EXPECT_EQ((CLargeNumber(4294967295u) + 1u).ToString(), "4294967296");
    EXPECT_EQ((N("999999999999999999999") + 1u).ToString(), "1000000000000000000000");
    const CLargeNumber max64 = CLargeNumber(4294967295u) * N("4294967296") + 4294967295u;
    EXPECT_EQ(max64.ToString(), "18446744073709551615");
    EXPECT_EQ((max64 + 1u).ToString(), "18446744073709551616");
}

TEST(LargeNumber, BorrowsThroughZeros) {
    EXPECT_EQ((N("1000000") - 1u).ToString(), "999999");
    EXPECT_EQ((N("100000000000000000000") - N("99999999999999999999")).ToString(), "1");
    EXPECT_EQ((N("1000") - N("1000")).ToString(), "0");
    EXPECT_EQ((N("10203") - N("9304")).ToString(), "899");
}

TEST(LargeNumber, SignRules) {
    CLargeNumber minusThree = CLargeNumber(5u) - 8u;
    EXPECT_EQ(minusThree.ToString(), "-3");
    EXPECT_TRUE(minusThree.IsNegative());
    CLargeNumber zero = minusThree + 3u;
    EXPECT_EQ(zero.ToString(), "0");
    EXPECT_FALSE(zero.IsNegative());
    EXPECT_EQ(zero, CLargeNumber());
    EXPECT_EQ((N("-5") + N("-7")).ToString(), "-12");
    EXPECT_EQ((N("-5") - N("-7")).ToString(), "2");
    EXPECT_EQ((N("-7") - N("-5")).ToString(), "-2");
    EXPECT_EQ((N("-5") - N("7")).ToString(), "-12");
    EXPECT_EQ((N("5") - N("-7")).ToString(), "12");
    EXPECT_EQ((N("-3") * N("4")).ToString(), "-12");
    EXPECT_EQ((N("-3") * CLargeNumber()).ToString(), "0");
    EXPECT_FALSE((N("-3") * CLargeNumber()).IsNegative());
}

TEST(LargeNumber, Comparison) {
    EXPECT_TRUE(N("-1") < N("0"));
    EXPECT_TRUE(N("-10") < N("-9"));
    EXPECT_FALSE(N("-9") < N("-10"));
    EXPECT_TRUE(N("9") < N("10"));
    EXPECT_TRUE(N("19") < N("21"));
    EXPECT_FALSE(N("21") < N("21"));
    EXPECT_TRUE(CLargeNumber() == CLargeNumber(0u));
    EXPECT_TRUE(CLargeNumber() == N("0"));
    EXPECT_TRUE(N("-0") == N("0"));
    EXPECT_FALSE(N("-3") == N("3"));
}

TEST(LargeNumber, FromText) {
    EXPECT_EQ(N(" 12 ").ToString(), "12");
    EXPECT_EQ(N("007").ToString(), "7");
    EXPECT_EQ(N("-42").ToString(), "-42");
    EXPECT_EQ(N("").ToString(), "0");
    EXPECT_EQ(N("   ").ToString(), "0");
    EXPECT_EQ(N("0000").ToString(), "0");
    EXPECT_EQ(CLargeNumber(std::string("4294967296")).ToString(), "4294967296");
}

TEST(LargeNumber, DivisionTruncates) {
    CLargeNumber a(1048575u);
    a /= 1024u;
    EXPECT_EQ(a.ToString(), "1023");
    a /= 1024u;
    EXPECT_EQ(a.ToString(), "0");
    CLargeNumber b(1048576u);
    b /= 1024u;
    b /= 1024u;
    EXPECT_EQ(b.ToString(), "1");
    CLargeNumber c = N("18446744073709551615");
    c /= N("4294967296");
    EXPECT_EQ(c.ToString(), "4294967295");
    CLargeNumber d = N("-2049");
    d /= 1024u;
    EXPECT_EQ(d.ToString(), "-2");
    CLargeNumber e = N("-5");
    e /= 1024u;
    EXPECT_EQ(e.ToString(), "0");
    EXPECT_FALSE(e.IsNegative());
    CLargeNumber f = N("100000000000000000000000000000");
    f /= 1u;
    EXPECT_EQ(f.ToString(), "100000000000000000000000000000");
}

TEST(LargeNumber, DivisionByZeroOrNegativeThrowsAndKeepsValue) {
    CLargeNumber a(12345u);
    try {
        a /= CLargeNumber();
        FAIL() << "no exception";
    } catch (const std::overflow_error& e) {
        EXPECT_STREQ(e.what(), "ERROR: Overflow in operator /=!");
    }
    EXPECT_EQ(a.ToString(), "12345");
    EXPECT_THROW(a /= N("-2"), std::overflow_error);
    EXPECT_EQ(a.ToString(), "12345");
}

TEST(LargeNumber, ToIntAndFromUint64) {
    EXPECT_EQ(N("2147483647").ToInt(), 2147483647);
    EXPECT_EQ(N("-2147483647").ToInt(), -2147483647);
    EXPECT_EQ(CLargeNumber().ToInt(), 0);
    EXPECT_EQ(CLargeNumber::FromUint64(0).ToString(), "0");
    EXPECT_EQ(CLargeNumber::FromUint64(std::numeric_limits<std::uint64_t>::max()).ToString(), "18446744073709551615");
}

// Cross-check against 64-bit arithmetic over random operands, copies included.
TEST(LargeNumber, AgreesWithMachineArithmetic) {
    std::mt19937_64 rng(42);
    for (int i = 0; i < 300; ++i) {
        const std::uint64_t x = rng() >> (rng() % 40 + 2);
        const std::uint64_t y = (rng() >> (rng() % 40 + 2)) + 1;
        const CLargeNumber a = CLargeNumber::FromUint64(x);
        const CLargeNumber b = CLargeNumber::FromUint64(y);
        EXPECT_EQ((a + b).ToString(), std::to_string(x + y)) << x << " + " << y;
        if (x >= y) {
            EXPECT_EQ((a - b).ToString(), std::to_string(x - y));
        } else {
            EXPECT_EQ((a - b).ToString(), "-" + std::to_string(y - x));
        }
        CLargeNumber q = a;
        q /= b;
        EXPECT_EQ(q.ToString(), std::to_string(x / y)) << x << " / " << y;
        EXPECT_EQ(a < b, x < y);
        const std::uint64_t small = x & 0xFFFFFFF;
        const std::uint64_t other = y & 0xFFFFF;
        EXPECT_EQ((CLargeNumber::FromUint64(small) * CLargeNumber::FromUint64(other)).ToString(),
                  std::to_string(small * other));
    }
}

// Adding a 64-bit value in place: through the carries of every digit, on zero, and on negative
// totals, where it must agree with adding the same value as a number.
TEST(LargeNumber, AddsSixtyFourBitValuesInPlace) {
    CLargeNumber total;
    total += std::uint64_t{0};
    EXPECT_EQ(total.ToString(), "0");
    total += std::uint64_t{4294967297};
    total += std::uint64_t{4294967297};
    EXPECT_EQ(total.ToString(), "8589934594");
    CLargeNumber nines = N("99999999999999999999");
    nines += std::uint64_t{1};
    EXPECT_EQ(nines.ToString(), "100000000000000000000");
    CLargeNumber max = CLargeNumber::FromUint64(std::numeric_limits<std::uint64_t>::max());
    max += std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(max.ToString(), "36893488147419103230");
    CLargeNumber negative = N("-10");
    negative += std::uint64_t{3};
    EXPECT_EQ(negative.ToString(), "-7");
    negative += std::uint64_t{7};
    EXPECT_EQ(negative.ToString(), "0");
    EXPECT_TRUE(negative.IsZero());
    negative += std::uint64_t{5};
    EXPECT_EQ(negative.ToString(), "5");

    std::mt19937_64 rng(7);
    CLargeNumber inPlace;
    CLargeNumber added;
    for (int i = 0; i < 500; ++i) {
        const std::uint64_t x = rng() >> (rng() % 64);
        inPlace += x;
        added = added + CLargeNumber::FromUint64(x);
        ASSERT_EQ(inPlace.ToString(), added.ToString()) << i;
    }
}

} // namespace
