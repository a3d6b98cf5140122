// Conversion between character sets: whole characters across sets, and each piece of input the
// target cannot take handed to the caller at its offset.
#include "platform/locale_text.h"

#include <gtest/gtest.h>

TEST(ConvertCharset, ConvertsWholeCharactersAndReportsWhatItCannotTake) {
    struct Case {
        const char* from;
        const char* to;
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"UTF-8", "CP1252", "caf\xC3\xA9 \xE2\x82\xAC \xD0\xB6!", "caf\xE9 \x80 <10><11>!"},
        {"UTF-8", "ISO-8859-1", "\xC3\xBF\xFF!", "\xFF<2>!"},
        {"CP1252", "UTF-8", "caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"UTF-8", "UTF-16LE", "a\xF0\x9F\x98\x80", std::string("a\0\x3D\xD8\x00\xDE", 6)},
        {"UTF-16LE", "UTF-8", std::string("a\0\x3D\xD8\x00\xDE\x00\xDC", 8), "a\xF0\x9F\x98\x80<6><7>"},
    };
    for (const Case& c : cases) {
        std::string output = "stale";
        ASSERT_TRUE(ConvertCharset(c.from, c.to, c.input, output,
                                   [](std::size_t at, std::string& out) {
                                       out += "<" + std::to_string(at) + ">";
                                       return std::size_t{1};
                                   }))
            << c.from << " to " << c.to;
        EXPECT_EQ(output, c.expected) << c.from << " to " << c.to;
    }
    std::string output = "kept";
    EXPECT_FALSE(ConvertCharset("NO-SUCH-SET", "UTF-8", "x", output, nullptr));
    EXPECT_EQ(output, "kept");
}
