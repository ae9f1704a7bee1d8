// Tests of the command-line splitting that spawning uses on every platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZRProcesses.h"

using namespace ZRFramework::ZRProcesses;

namespace {

std::vector<std::string> Split(const char* commandLine) {
    std::vector<std::string> result;
    char** argv = zr_create_argv_array(commandLine);
    if (argv == nullptr) return {"<null>"};
    for (char** p = argv; *p != nullptr; ++p)
        result.push_back(*p);
    zr_free_argv_array(argv);
    return result;
}

// ---- Command-line splitting ----

struct SplitCase {
    const char* text;
    std::vector<std::string> expected;
};

class ArgvSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ArgvSplitTest, SplitsAsExpected) {
    EXPECT_EQ(Split(GetParam().text), GetParam().expected) << "input: [" << GetParam().text << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArgvSplitTest,
    ::testing::Values(
        SplitCase{"one  \"two three\" four", {"one", "two three", "four"}},
        SplitCase{"x\\\"y", {"x\"y"}}, SplitCase{"\"\"", {""}}, SplitCase{"", {}},
        SplitCase{"   ", {}}, SplitCase{"a\tb", {"a", "b"}}, SplitCase{"a\t\t b", {"a", "b"}},
        SplitCase{"  lead and trail  ", {"lead", "and", "trail"}},
        SplitCase{"a \"\" b", {"a", "", "b"}},
        // A quoted run ends the argument at once, whatever came before it.
        SplitCase{"ab\"c d\"e", {"abc d", "e"}}, SplitCase{"\"a b\"\"c\"", {"a b", "c"}},
        SplitCase{"\"tab\tinside\"", {"tab\tinside"}},
        SplitCase{"\"two  spaces\"", {"two  spaces"}},
        SplitCase{"\"in \\\"quoted\\\" text\"", {"in \"quoted\" text"}},
        // An unclosed quote is dropped unless a token was open before it.
        SplitCase{"\"unterminated quote", {}}, SplitCase{"a \"open", {"a"}},
        SplitCase{"ab\"cd e", {"abcd e"}},
        // An escaped quote does not start a token: it waits for the next one.
        SplitCase{"\\\"x", {"\"x"}}, SplitCase{"a \\\" b", {"a", "\"b"}}, SplitCase{"\\\"", {}},
        SplitCase{"back\\slash", {"back\\slash"}}, SplitCase{"trailing\\", {"trailing\\"}},
        SplitCase{"C:\\dir\\ x", {"C:\\dir\\", "x"}}));

TEST(ArgvArrayTest, NullInputGivesNull) {
    EXPECT_EQ(zr_create_argv_array(nullptr), nullptr);
    zr_free_argv_array(nullptr);
}

TEST(ArgvArrayTest, EmptyTextGivesJustTheTerminator) {
    char** argv = zr_create_argv_array("");
    ASSERT_NE(argv, nullptr);
    EXPECT_EQ(argv[0], nullptr);
    zr_free_argv_array(argv);
}

TEST(ArgvArrayTest, ManyArgumentsAreAllKept) {
    constexpr int kCount = 20000;  // far beyond the 257 arguments of a fixed table
    std::string text;
    for (int i = 0; i < kCount; ++i)
        text += "arg" + std::to_string(i) + (i % 2 ? " " : "\t");
    const std::vector<std::string> split = Split(text.c_str());
    ASSERT_EQ(split.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; i += 997)
        EXPECT_EQ(split[i], "arg" + std::to_string(i));
    EXPECT_EQ(split.back(), "arg" + std::to_string(kCount - 1));
}

TEST(ArgvArrayTest, VeryLongArgumentsAreKeptWhole) {
    const std::string plain(100000, 'p');  // far beyond 8095 bytes
    const std::string quoted(70000, 'q');
    const std::string text = plain + " \"" + quoted + " " + quoted + "\"";
    const std::vector<std::string> split = Split(text.c_str());
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[0], plain);
    EXPECT_EQ(split[1], quoted + " " + quoted);
}

}  // namespace
