// Tests of the string helpers: trimming, conversions, tokenising, escaping, times and ranges.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "TestFolders.h"
#include "ZRStringHelper.h"

namespace SH = ZRFramework::ZRStringHelper;

namespace {

struct TextCase {
    std::string input;
    std::string expected;
};

TEST(StringHelperTrim, TrimCRRemovesControlCharactersAnywhere) {
    const TextCase cases[] = {
        {"ab\r\n", "ab"}, {"a\tb\nc", "abc"}, {"\r\n\t", ""}, {"\na\rb\t", "ab"}, {"x y", "x y"},
    };
    for (const auto& c : cases) {
        std::string text = c.input;
        SH::TrimCR(text);
        EXPECT_EQ(text, c.expected) << c.input;
    }
}

TEST(StringHelperTrim, TrimLeftAndRightOnlyTouchSpaces) {
    const struct {
        std::string input, left, right;
    } cases[] = {
        {"\tx", "\tx", "\tx"}, {"  x  ", "x  ", "  x"}, {"x  ", "x  ", "x"},   {"   ", "", ""},
        {"", "", ""},          {" \t ", "\t ", " \t"},  {"a b", "a b", "a b"},
    };
    for (const auto& c : cases) {
        std::string left = c.input, right = c.input;
        SH::TrimLeft(left);
        SH::TrimRight(right);
        EXPECT_EQ(left, c.left) << '[' << c.input << ']';
        EXPECT_EQ(right, c.right) << '[' << c.input << ']';
    }
}

TEST(StringHelperConvert, ToBoolIsFalseOnlyForZero) {
    EXPECT_FALSE(SH::ToBool("0"));
    for (const char* text : {"", "false", "2", "00", " 0", "0 ", "1"})
        EXPECT_TRUE(SH::ToBool(text)) << '[' << text << ']';
    EXPECT_EQ(SH::FromBool(true), "1");
    EXPECT_EQ(SH::FromBool(false), "0");
}

TEST(StringHelperConvert, FromDoubleUsesFixedPrecision) {
    const struct {
        double value;
        int precision;
        std::string expected;
    } cases[] = {
        {2.5, 2, "2.50"},
        {-1.5, 0, "-2"},
        {0.0, 0, "0"},
        {1.0 / 3.0, 3, "0.333"},
        {1e20, 0, "100000000000000000000"},
        {-0.001, 2, "-0.00"},
        {123.456, 1, "123.5"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SH::FromDouble(c.value, c.precision), c.expected) << c.value;
    EXPECT_EQ(SH::FromFloat(1.5f, 6), "1.500000");
    EXPECT_EQ(SH::FromFloat(0.1f, 6), "0.100000");
}

TEST(StringHelperConvert, FromDoubleHandlesTextsLongerThanAnyBuffer) {
    const std::string huge = SH::FromDouble(1e300, 2);
    EXPECT_EQ(huge.size(), 301u + 3u);
    EXPECT_EQ(huge.substr(0, 2), "10");
    EXPECT_EQ(huge.substr(huge.size() - 3), ".00");
    const std::string precise = SH::FromDouble(0.5, 200);
    EXPECT_EQ(precise.size(), 202u);
    EXPECT_EQ(precise, "0.5" + std::string(199, '0'));
}

TEST(StringHelperExtract, PlainFormCutsAtSeparatorAndSkipsOneCharacter) {
    const struct {
        std::string source;
        const char* separator;
        std::string token, rest;
    } cases[] = {
        {"abc", ",", "abc", ""}, {"a,b,c", ",", "a", "b,c"}, {",x", ",", "", "x"},
        {"a,", ",", "a", ""},    {"a::b", "::", "a", ":b"},  {"a b", nullptr, "a b", ""},
    };
    for (const auto& c : cases) {
        std::string source = c.source, token = "old";
        EXPECT_TRUE(SH::ExtractToken(source, token, c.separator)) << c.source;
        EXPECT_EQ(token, c.token) << c.source;
        EXPECT_EQ(source, c.rest) << c.source;
    }
}

TEST(StringHelperExtract, PlainFormReturnsFalseOnEmptySource) {
    std::string source = "abc", token;
    ASSERT_TRUE(SH::ExtractToken(source, token, ","));
    EXPECT_EQ(token, "abc");
    EXPECT_TRUE(source.empty());
    EXPECT_FALSE(SH::ExtractToken(source, token, ","));
    EXPECT_EQ(token, "abc");
}

struct QuotedCase {
    std::string source;
    bool strip;
    bool ok;
    std::string token, rest;
};

TEST(StringHelperExtract, QuoteAwareForm) {
    const QuotedCase cases[] = {
        {"\"a,b\",c", true, true, "a,b", "c"},
        {"\"a,b\",c", false, true, "\"a,b\"", "c"},
        {"a\"b,c\"d,e", true, true, "ab,cd", "e"},
        {",x", true, true, "", "x"},
        {"abc", true, true, "abc", ""},
        {"a,", true, true, "a", ""},
        {"a\\,b,c", true, true, "a,b", "c"},
        {"a\\\"b,c", true, true, "a\"b", "c"},
        {"x\\ny\\tz\\\\w\\q,", true, true, "x\ny\tz\\wq", ""},
        {"ab\\", true, true, "ab\\", ""},
        {"\\", true, true, "\\", ""},
        {"\"abc", true, false, "", ""},
        {"a,\"b", true, true, "a", "\"b"},
        {"\"a\\\"b\",c", true, true, "a\"b", "c"},
    };
    for (const auto& c : cases) {
        std::string source = c.source, token = "old";
        const bool ok = SH::ExtractToken(source, token, ",", "\"", c.strip);
        EXPECT_EQ(ok, c.ok) << c.source;
        if (c.ok) {
            EXPECT_EQ(token, c.token) << c.source;
            EXPECT_EQ(source, c.rest) << c.source;
        } else {
            EXPECT_EQ(token, "old") << c.source;
            EXPECT_EQ(source, c.source) << c.source;
        }
    }
}

TEST(StringHelperExtract, QuoteAwareFormUsesOnlyFirstCharacters) {
    std::string source = "a;b,'c,d',e", token;
    ASSERT_TRUE(SH::ExtractToken(source, token, ",;", "'\"", true));
    EXPECT_EQ(token, "a;b");
    ASSERT_TRUE(SH::ExtractToken(source, token, ",;", "'\"", true));
    EXPECT_EQ(token, "c,d");
    EXPECT_EQ(source, "e");
}

TEST(StringHelperExtract, QuoteAwareLoopVisitsEveryTokenThenStops) {
    std::string source = "a,\"b,c\",,d", token;
    std::vector<std::string> tokens;
    while (SH::ExtractToken(source, token, ",", "\"", true))
        tokens.push_back(token);
    EXPECT_EQ(tokens, (std::vector<std::string>{"a", "b,c", "", "d"}));
    EXPECT_TRUE(source.empty());
}

TEST(StringHelperExtract, QuoteAwareFormWithoutSeparatorOrQuote) {
    std::string source = "a,\"b", token;
    ASSERT_TRUE(SH::ExtractToken(source, token, "", nullptr, true));
    EXPECT_EQ(token, "a,\"b");
    EXPECT_TRUE(source.empty());
}

TEST(StringHelperSplit, SplitCommandLines) {
    const struct {
        std::string line;
        bool ok;
        std::string first, rest;
    } cases[] = {
        {"prog arg1 arg2", true, "prog", "arg1 arg2"},
        {"prog", true, "prog", "unset"},
        {"prog ", true, "prog", "unset"},
        {"\"my prog\" -x y", true, "my prog", "-x y"},
        {"\"my prog\"", true, "my prog", "unset"},
        {"\"my prog\" ", true, "my prog", "unset"},
        {"\"open", true, "open", "unset"},
        {"ab\"c d\"e f", true, "ab\"c d", "e f"},
        {" lead", false, "unset", "unset"},
        {"", false, "unset", "unset"},
    };
    for (const auto& c : cases) {
        std::string first = "unset", rest = "unset";
        EXPECT_EQ(SH::SplitCommandLines(c.line, first, rest), c.ok) << c.line;
        EXPECT_EQ(first, c.first) << c.line;
        EXPECT_EQ(rest, c.rest) << c.line;
    }
}

TEST(StringHelperTokenize, TokenizeString) {
    const struct {
        std::string text, separators;
        std::vector<std::string> tokens;
    } cases[] = {
        {",a,,b,", ",", {"", "a", "", "b"}},
        {"a,b,", ",", {"a", "b"}},
        {"a,b", ",", {"a", "b"}},
        {"", ",", {}},
        {",", ",", {""}},
        {"abc", "", {"abc"}},
        {"a;b,c", ",;", {"a", ""}},
        {"a,", ",;", {"a"}},
        {"a,bc", ",;", {"a", "c"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SH::TokenizeString(c.text, c.separators), c.tokens) << c.text;
}

TEST(StringHelperTokenize, TokenizeStringToSetCollapsesDuplicates) {
    EXPECT_EQ(SH::TokenizeStringToSet("b,a,b,,c,", ","),
              (std::set<std::string>{"", "a", "b", "c"}));
    EXPECT_TRUE(SH::TokenizeStringToSet("", ",").empty());
}

TEST(StringHelperTokenize, TokenizeStringToLongSet) {
    const struct {
        std::string text, separators;
        std::set<long> numbers;
    } cases[] = {
        {"5,3,5,x", ",", {0, 3, 5}},
        {" 7, -2,3-5", ",", {-2, 3, 7}},
        {",,", ",", {}},
        {"99999999999999999999999,1", ",", {1, LONG_MAX}},
        {"213", "1", {2, 3}},
        {"4a5", "a", {4, 5}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SH::TokenizeStringToLongSet(c.text, c.separators), c.numbers) << c.text;
}

TEST(StringHelperGetLine, PicksOneLine) {
    const struct {
        const char* text;
        int line;
        std::string expected;
    } cases[] = {
        {"a\nb\nc", 3, "c"}, {"a\nb\nc", 5, ""}, {"a\nb\nc", 1, "a"}, {"a\r\nb", 1, "a\r"},
        {"a\n", 2, ""},      {"a\n", 3, ""},     {"", 1, ""},         {"a\nb", 0, ""},
        {"a\nb", -1, ""},    {"\n\nx", 3, "x"},  {nullptr, 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SH::GetLine(c.text, c.line), c.expected) << (c.text ? c.text : "null");
    EXPECT_EQ(SH::GetLine(std::string("x\ny"), 2), "y");
}

TEST(StringHelperEscape, EncodeURL) {
    const TextCase cases[] = {
        {"a b&c", "a+b%26c"},          {"AZaz09./-_", "AZaz09./-_"}, {"\xE9", "%E9"},
        {std::string(1, '\0'), "%00"}, {"+~%", "%2B%7E%25"},         {"\n\xFF", "%0A%FF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SH::EncodeURL(c.input), c.expected) << c.input;
}

TEST(StringHelperEscape, DecodeURL) {
    const TextCase cases[] = {
        {"a+b%26c", "a+b&c"}, {"%e9%E9", "\xE9\xE9"},
        {"%4a%4A", "JJ"},     {"%00", std::string(1, '\0')},
        {"100%", "100%"},     {"%4", "%4"},
        {"%", "%"},           {"a%2", "a%2"},
        {"%41%", "A%"},       {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SH::DecodeURL(c.input), c.expected) << c.input;
}

TEST(StringHelperEscape, DecodeReversesEncodeForEveryByteButSpace) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        if (b != ' ') all += static_cast<char>(b);
    EXPECT_EQ(SH::DecodeURL(SH::EncodeURL(all)), all);
    EXPECT_EQ(SH::DecodeURL(SH::EncodeURL("a b")), "a+b");
}

TEST(StringHelperEscape, Replace) {
    const struct {
        std::string text, what, with, expected;
    } cases[] = {
        {"aaa", "a", "aa", "aaaaaa"}, {"abcabc", "bc", "", "aa"}, {"", "a", "b", ""},
        {"abc", "", "x", "abc"},      {"abab", "aba", "X", "Xb"}, {"xyz", "q", "r", "xyz"},
        {"abc", "abc", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SH::Replace(c.text, c.what, c.with), c.expected) << c.text << '/' << c.what;
}

TEST(StringHelperEscape, EncodeHTMLAndSQL) {
    EXPECT_EQ(SH::EncodeHTML("<a&b>"), "&lt;a&amp;b&gt;");
    EXPECT_EQ(SH::EncodeHTML("&lt;"), "&amp;lt;");
    EXPECT_EQ(SH::EncodeHTML("\"'"), "\"'");
    EXPECT_EQ(SH::EncodeSQL("it's"), "it''s");
    EXPECT_EQ(SH::EncodeSQL("''"), "''''");
#ifdef _WIN32
    EXPECT_EQ(SH::ConformToOS("a\\b\\c/d"), "a\\b\\c\\d");
#else
    EXPECT_EQ(SH::ConformToOS("a\\b\\c/d"), "a/b/c/d");
#endif
}

// Pins the local time zone for each test and puts the caller's back afterwards.
class StringHelperTime : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadZone_ = tz != nullptr;
        if (hadZone_) savedZone_ = tz;
        UseZone("UTC");
    }
    void TearDown() override {
        if (hadZone_)
            zdTest::SetEnv("TZ", savedZone_.c_str());
        else
            zdTest::UnsetEnv("TZ");
        tzset();
    }
    static void UseZone(const char* zone) {
        zdTest::SetEnv("TZ", zone);
        tzset();
    }

private:
    bool hadZone_ = false;
    std::string savedZone_;
};

TEST_F(StringHelperTime, FormatTimeModes) {
    const long when = 1238162709L;  // 2009-03-27 14:05:09 UTC
    const struct {
        int mode;
        std::string expected;
    } cases[] = {
        {0, "14:05:09"},       {1, "03/27/2009"},          {2, "03/27/2009 14:05:09"},
        {3, "03272009140509"}, {7, "03/27/2009 14:05:09"}, {-1, "03/27/2009 14:05:09"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SH::FormatTime(when, c.mode), c.expected) << c.mode;
    EXPECT_EQ(SH::FormatTime(0, 2), "01/01/1970 00:00:00");
}

TEST_F(StringHelperTime, FormatTimeFollowsTheLocalZone) {
    UseZone("XYZ-10");
    EXPECT_EQ(SH::FormatTime(1238162709L, 2), "03/28/2009 00:05:09");
}

TEST_F(StringHelperTime, FormatTimeIsEmptyWhenOutOfRange) {
    // Times are 64-bit on both builds (on Windows wider than long): 2038 does not wrap.
    EXPECT_EQ(SH::FormatTime(2147483647, 2), "01/19/2038 03:14:07");
    EXPECT_EQ(SH::FormatTime(std::numeric_limits<SH::zrSeconds>::max(), 2), "");
    EXPECT_EQ(SH::FormatTime(std::numeric_limits<SH::zrSeconds>::min(), 0), "");
}

TEST(StringHelperTimespan, FormatTimespan) {
    const struct {
        SH::zrSeconds seconds;
        std::string expected;
    } cases[] = {
        {90061, "1 days, 1 hours, 1 mins, 1 secs"},
        {0, "0 days, 0 hours, 0 mins, 0 secs"},
        {86399, "0 days, 23 hours, 59 mins, 59 secs"},
        {86400, "1 days, 0 hours, 0 mins, 0 secs"},
        {std::numeric_limits<SH::zrSeconds>::max(),
         "106751991167300 days, 15 hours, 30 mins, 7 secs"},
        {-1, ""},
        {std::numeric_limits<SH::zrSeconds>::min(), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SH::FormatTimespan(c.seconds), c.expected) << c.seconds;
}

TEST(StringHelperRanges, LongSetToPrintableRanges) {
    const struct {
        std::set<long> values;
        std::string expected;
    } cases[] = {
        {{}, ""},
        {{4}, "4"},
        {{1, 3}, "1,3"},
        {{1, 2, 3, 5, 7, 8}, "1-3,5,7-8"},
        {{-3, -2, 5}, "-3--2,5"},
        {{LONG_MAX - 1, LONG_MAX}, std::to_string(LONG_MAX - 1) + "-" + std::to_string(LONG_MAX)},
        {{LONG_MIN, LONG_MAX}, std::to_string(LONG_MIN) + "," + std::to_string(LONG_MAX)},
    };
    for (const auto& c : cases) {
        std::set<long> values = c.values;
        EXPECT_EQ(SH::LongSetToPrintableRanges(&values), c.expected) << c.expected;
    }
    EXPECT_EQ(SH::LongSetToPrintableRanges(nullptr), "");
}

}  // namespace
