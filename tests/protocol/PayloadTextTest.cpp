// The number readers of both sides, the line helpers on texts without a final line feed, and
// Base64.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "PayloadText.h"

namespace {

using namespace zdProtocol;

TEST(PayloadText, LenientReadersFollowTheCLibraryAndClamp) {
    EXPECT_EQ(ParseLong(" \t-42abc"), -42);
    EXPECT_EQ(ParseLong("+7\n"), 7);
    EXPECT_EQ(ParseLong(""), 0);
    EXPECT_EQ(ParseLong("abc"), 0);
    EXPECT_EQ(ParseLong("- 5"), 0);
    EXPECT_EQ(ParseLong("0x1F"), 0);
    EXPECT_EQ(ParseLong("9223372036854775807"), LONG_MAX);
    EXPECT_EQ(ParseLong("9223372036854775808"), LONG_MAX);
    EXPECT_EQ(ParseLong("-9223372036854775808"), LONG_MIN);
    EXPECT_EQ(ParseLong("-99999999999999999999999"), LONG_MIN);
    EXPECT_EQ(ParseLong("-9223372036854775807"), -LONG_MAX);
    EXPECT_EQ(ParseInt("3000000000"), INT_MAX);
    EXPECT_EQ(ParseInt("-3000000000"), INT_MIN);
    EXPECT_EQ(ParseInt("-2147483648"), INT_MIN);
    EXPECT_EQ(ParseLongLong("5000000000"), 5000000000LL);
    EXPECT_EQ(ParseLongLong("123456789012345678901234567890"), LLONG_MAX);
    // A view ends where it ends, whatever follows it in memory.
    const std::string text = "12345";
    EXPECT_EQ(ParseLong(std::string_view(text).substr(0, 2)), 12);
    EXPECT_FLOAT_EQ(ParseFloat(" 12.5x"), 12.5f);
    EXPECT_FLOAT_EQ(ParseFloat(std::string_view(text).substr(0, 3)), 123.0f);
    EXPECT_FLOAT_EQ(ParseFloat(std::string(100, '0') + "1.5"), 1.5f);
}

TEST(PayloadText, StrictReadersTakeOnlyWholeNumbers) {
    int value = -1;
    for (const char* refused : {"12x", " ", "", "+", "-", "1 2", "0x10", "\v12", "3000000000"}) {
        EXPECT_FALSE(ParseStrictInt(refused, value)) << '"' << refused << '"';
        EXPECT_EQ(value, -1) << "a refusal leaves the value alone";
    }
    EXPECT_TRUE(ParseStrictInt(" 12\n", value));
    EXPECT_EQ(value, 12);
    EXPECT_TRUE(ParseStrictInt("\t-7\r\n", value));
    EXPECT_EQ(value, -7);
    EXPECT_TRUE(ParseStrictInt("+2147483647", value));
    EXPECT_EQ(value, INT_MAX);

    long wide = 0;
    EXPECT_TRUE(ParseStrictLong("5000000000", wide));
    EXPECT_EQ(wide, 5000000000L);
    EXPECT_FALSE(ParseStrictLong("99999999999999999999", wide));

    bool flag = false;
    EXPECT_TRUE(ParseStrictFlag("2", flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(ParseStrictFlag("0\n", flag));
    EXPECT_FALSE(flag);
    EXPECT_FALSE(ParseStrictFlag("yes", flag));
}

TEST(PayloadText, LinesWithoutAFinalLineFeed) {
    EXPECT_EQ(LineOf("a\nb", 1), "a");
    EXPECT_EQ(LineOf("a\nb", 2), "b");
    EXPECT_EQ(LineOf("a\nb", 3), "");
    EXPECT_EQ(LineOf("a\nb", 0), "");
    EXPECT_EQ(LineOf("a\n\nc", 3), "c");
    EXPECT_EQ(CountLines(""), 0u);
    EXPECT_EQ(CountLines("a"), 1u);
    EXPECT_EQ(CountLines("a\n"), 1u);
    EXPECT_EQ(CountLines("a\nb"), 2u);
    EXPECT_EQ(CountLines("\n\n"), 2u);

    LineReader lines("7\n0\nx");
    EXPECT_EQ(lines.Position(), 1);
    EXPECT_EQ(lines.Int(), 7);
    EXPECT_FALSE(lines.Flag());
    EXPECT_FALSE(lines.AtEnd());
    EXPECT_EQ(lines.Next(), "x");
    EXPECT_TRUE(lines.AtEnd());
    // Past the end every line is empty, and skipping ahead still ends.
    lines.SkipTo(100);
    EXPECT_EQ(lines.Position(), 100);
    EXPECT_EQ(lines.Next(), "");
    EXPECT_FALSE(lines.Flag());

    // Only "0" and a missing line are false.
    LineReader flags("00\nno\n0");
    EXPECT_TRUE(flags.Flag());
    EXPECT_TRUE(flags.Flag());
    EXPECT_FALSE(flags.Flag());
}

TEST(PayloadText, Base64RoundTripAndRefusal) {
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    std::string out = "stale text longer than what decodes";
    for (size_t n : {0, 1, 2, 3, 4, 255, 256}) {
        const std::string bytes = all.substr(0, n);
        const std::string encoded = EncodeBase64(bytes);
        EXPECT_EQ(encoded.size(), (n + 2) / 3 * 4);
        ASSERT_TRUE(DecodeBase64(encoded, out)) << n;
        EXPECT_EQ(out, bytes);
    }
    EXPECT_EQ(EncodeBase64("ab"), "YWI=");

    for (const char* refused :
         {"YWI", "YW=I", "Y===", "YWI=YWI=", "YW I", "YWI=\n", "*** not Base64 ***"}) {
        out = "stale";
        EXPECT_FALSE(DecodeBase64(refused, out)) << refused;
        EXPECT_EQ(out, "");
    }

    std::string line;
    LineWriter(line).Base64("ab");
    EXPECT_EQ(line, "YWI=\n");
}

}  // namespace
