// Display widths of UTF-8 text, the locale names that mean UTF-8, and a table padded by display
// width on a UTF-8 terminal.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "ConsoleOutput.h"
#include "DisplayWidth.h"
#include "QueryTestSupport.h"
#include "Terminal.h"

using namespace querytest;

namespace {

TEST(DisplayWidth, CountsColumnsNotBytes) {
    const struct {
        const char* text;
        size_t width;
    } cases[] = {
        {"", 0},
        {"node01 | x", 10},
        {"caf\xC3\xA9", 4},               // é precomposed
        {"cafe\xCC\x81", 4},              // e and a combining acute accent
        {"\xE6\xB8\xB2\xE6\x9F\x93", 4},  // two CJK ideographs
        {"\xEF\xBC\xA1", 2},              // fullwidth A
        {"\xF0\x9F\x8E\xAC", 2},          // an emoji outside the BMP
        {"\xED\x95\x9C\xE1\x85\xA1", 2},  // a syllable and a trailing jamo vowel
        {"a\xE2\x80\x8B"
         "b\xE2\x80\x8D",
         2},              // zero width space and joiner
        {"\xD0\x96", 1},  // Cyrillic Zhe
        {"\x01\t", 2},    // controls show as one mark each
    };
    for (const auto& c : cases)
        EXPECT_EQ(zdDisplayWidth(c.text), c.width) << testing::PrintToString(c.text);
}

TEST(DisplayWidth, EachByteOfAnInvalidSequenceCountsOne) {
    const struct {
        std::string text;
        size_t width;
    } cases[] = {
        {"\xE6\xB8", 2},              // cut short at the end
        {"\xE6\xB8z", 3},             // cut short before ASCII
        {"\x80\xBF", 2},              // stray continuation bytes
        {"\xC0\xAF", 2},              // overlong slash
        {"\xE0\x80\xAF", 3},          // overlong, three bytes
        {"\xED\xA0\x80", 3},          // a surrogate
        {"\xF4\x90\x80\x80", 4},      // beyond U+10FFFF
        {"\xF8\x88\x80\x80\x80", 5},  // five-byte form
        {"\xFF"
         "caf\xC3\xA9",
         5},  // the valid rest still counts as characters
    };
    for (const auto& c : cases)
        EXPECT_EQ(zdDisplayWidth(c.text), c.width) << testing::PrintToString(c.text);
}

TEST(DisplayWidth, LocaleNamesThatMeanUtf8) {
    for (const char* name : {"en_US.UTF-8", "C.UTF-8", "de_DE.utf8@euro", "ja_JP.Utf8"})
        EXPECT_TRUE(zdLocaleIsUtf8(name)) << name;
    for (const char* name : {"", "C", "POSIX", "en_US", "de_DE.ISO-8859-15", "utf8", "x.utf16"})
        EXPECT_FALSE(zdLocaleIsUtf8(name)) << name;
}

#ifndef _WIN32
// Restores the locale variables a test changes.
class LocaleVariables : public testing::Test {
protected:
    void TearDown() override { resetOutputState(); }
    zdTest::ClearedVariables variables_{{"LC_ALL", "LC_CTYPE", "LANG"}};
};

TEST_F(LocaleVariables, FirstSetOfLcAllLcCtypeAndLangDecides) {
    EXPECT_FALSE(outputIsUtf8());
    zdTest::SetEnv("LANG", "en_US.UTF-8");
    EXPECT_TRUE(outputIsUtf8());
    zdTest::SetEnv("LC_CTYPE", "C");
    EXPECT_FALSE(outputIsUtf8());
    zdTest::SetEnv("LC_ALL", "fr_FR.utf8");
    EXPECT_TRUE(outputIsUtf8());
    zdTest::SetEnv("LC_ALL", "");  // set but empty counts as unset
    EXPECT_FALSE(outputIsUtf8());
}

TEST_F(LocaleVariables, TablesOnAUtf8TerminalArePaddedByDisplayWidth) {
    FreshRun();
    nVerbose = 2;
    ASSERT_TRUE(buildJobFormat("id,name,qualit\xC3\xA9,status"));
    std::vector<std::string> texts;
    const char* names[] = {"caf\xC3\xA9_cr\xC3\xA8me", "cafe\xCC\x81",
                           "\xE5\xA4\x9C\xE6\x99\xAF_v2", "plain_ascii_name", "bad\xE6\xB8"};
    long id = 1;
    for (const char* name : names) {
        Job job;
        job.id = id++;
        job.name = name;
        job.attributes = {{"qualit\xC3\xA9", id % 2 ? "\xE9\xAB\x98" : "low"}};
        texts.push_back(JobText(job));
    }
    zdTest::SetEnv("LANG", "en_US.UTF-8");
    setTerminalStream(stdout, true);
    ExpectFixture(JobTableText(texts), "jobs_display_width.txt");

    // Anywhere else the widths stay in bytes: every line as long as the others.
    setTerminalStream(stdout, false);
    const std::string bytes = JobTableText(texts);
    std::istringstream lines(bytes);
    std::string line, first;
    std::getline(lines, first);
    while (std::getline(lines, line))
        EXPECT_EQ(line.size(), first.size()) << line;
    zdTest::SetEnv("LANG", "C");
    setTerminalStream(stdout, true);
    EXPECT_EQ(JobTableText(texts), bytes);
}
#endif

}  // namespace
