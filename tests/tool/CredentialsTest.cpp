// Credentials from outside the command line: the password line of -p -, and the ZD_USER,
// ZD_PASSWORD and ZD_DISPATCHER variables beside the flags.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "CommandLineTestSupport.h"
#include "Credentials.h"
#include "TableOutput.h"
#include "TestFolders.h"

namespace {

zdLineRead readLine(const std::string& input, std::string& line) {
    size_t at = 0;
    return readSecretLine(
        [&]() -> int { return at < input.size() ? static_cast<unsigned char>(input[at++]) : -1; },
        line);
}

TEST(PasswordLine, OneLineWithoutItsEnd) {
    const struct {
        std::string input;
        zdLineRead result;
        std::string line;
    } cases[] = {
        {"secret\n", zdLineRead::kOk, "secret"},
        {"secret\r\nnext line\n", zdLineRead::kOk, "secret"},
        {"no line feed", zdLineRead::kOk, "no line feed"},
        {"\n", zdLineRead::kOk, ""},
        {"a\rb\r\r\n", zdLineRead::kOk, "a\rb\r"},  // only the carriage return before the end
        {std::string("nul\0byte\n", 9), zdLineRead::kOk, std::string("nul\0byte", 8)},
        {"", zdLineRead::kNoInput, ""},
    };
    for (const auto& c : cases) {
        std::string line = "old";
        EXPECT_EQ(readLine(c.input, line), c.result) << testing::PrintToString(c.input);
        EXPECT_EQ(line, c.line) << testing::PrintToString(c.input);
    }
}

TEST(PasswordLine, LengthIsBoundedAndReadingStopsAtTheBound) {
    std::string line;
    const std::string longest(kMaxPasswordBytes, 'p');
    EXPECT_EQ(readLine(longest + "\r\n", line), zdLineRead::kOk);
    EXPECT_EQ(line, longest);
    EXPECT_EQ(readLine(longest + "p\n", line), zdLineRead::kTooLong);
    EXPECT_EQ(readLine(longest + "pp", line), zdLineRead::kTooLong);

    // An endless input is not read to its end.
    size_t taken = 0;
    EXPECT_EQ(readSecretLine([&] { return ++taken, 'x'; }, line), zdLineRead::kTooLong);
    EXPECT_LE(taken, kMaxPasswordBytes + 2);
}

TEST(DispatcherVariable, HostAndOptionalPort) {
    const struct {
        const char* text;
        bool ok;
        const char* host;
        int port;
    } cases[] = {
        {"farm", true, "farm", -1},
        {"farm.example:9000", true, "farm.example", 9000},
        {"10.0.0.5:1", true, "10.0.0.5", 1},
        {"farm:65535", true, "farm", 65535},
        {"farm:0", false, "", 0},
        {"farm:65536", false, "", 0},
        {"farm:", false, "", 0},
        {"farm:80x", false, "", 0},
        {"farm:-1", false, "", 0},
        {"farm:0000080", false, "", 0},
        {":8681", false, "", 0},
    };
    for (const auto& c : cases) {
        std::string host;
        int port = 0;
        EXPECT_EQ(parseDispatcherAddress(c.text, host, port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

// Sets the variables for one test and puts back what was there.
class CredentialVariables : public testing::Test {
protected:
    void TearDown() override { resetRunSettings(); }

    zdTest::ClearedVariables variables_{{"ZD_USER", "ZD_PASSWORD", "ZD_DISPATCHER"}};
};

TEST_F(CredentialVariables, StandInForFlagsThatAreNotGiven) {
    zdTest::SetEnv("ZD_USER", "ann");
    zdTest::SetEnv("ZD_PASSWORD", "from env");
    zdTest::SetEnv("ZD_DISPATCHER", "farm.example:9001");
    ASSERT_NE(parse({"-q", "j"}).result, 0);
    EXPECT_EQ(username, "ann");
    EXPECT_EQ(password, "from env");
    EXPECT_STREQ(server, "farm.example");
    EXPECT_EQ(nPort, 9001);

    // Flags win, also when they give empty texts; -port wins over the variable's port.
    ASSERT_NE(parse({"-u", "bob", "-p", "", "-port", "7000"}).result, 0);
    EXPECT_EQ(username, "bob");
    EXPECT_EQ(password, "");
    EXPECT_STREQ(server, "farm.example");
    EXPECT_EQ(nPort, 7000);

    // With -s the variable is not looked at, valid or not.
    zdTest::SetEnv("ZD_DISPATCHER", "farm:notaport");
    ASSERT_NE(parse({"-s", "other"}).result, 0);
    EXPECT_STREQ(server, "other");
    EXPECT_EQ(nPort, 8681);

    // A host alone keeps the default port.
    zdTest::SetEnv("ZD_DISPATCHER", "solo");
    ASSERT_NE(parse({}).result, 0);
    EXPECT_STREQ(server, "solo");
    EXPECT_EQ(nPort, 8681);
}

TEST_F(CredentialVariables, PasswordFromInputIsAskedForOnlyByADash) {
    zdTest::SetEnv("ZD_PASSWORD", "from env");
    ASSERT_NE(parse({"-p", "-"}).result, 0);
    EXPECT_TRUE(passwordFromInput);
    EXPECT_EQ(password, "");
    ASSERT_NE(parse({"-p", "-", "-p", "given"}).result, 0);
    EXPECT_FALSE(passwordFromInput);
    EXPECT_EQ(password, "given");
    ASSERT_NE(parse({}).result, 0);
    EXPECT_FALSE(passwordFromInput);
    EXPECT_EQ(password, "from env");
}

TEST_F(CredentialVariables, InvalidDispatcherVariableStopsTheRun) {
    zdTest::SetEnv("ZD_DISPATCHER", "farm:99999");
    ParseResult r = parse({"-q", "j"});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(stopStatus, -1);
    EXPECT_EQ(r.err,
              "\nInvalid ZD_DISPATCHER: farm:99999 (host or host:port, the port from 1 to "
              "65535)\n");

    zdTest::SetEnv("ZD_DISPATCHER", (std::string(256, 'h') + ":80").c_str());
    r = parse({});
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.err, "\nValue too long for variable: ZD_DISPATCHER (at most 255 characters)\n");
    zdTest::SetEnv("ZD_DISPATCHER", (std::string(255, 'h') + ":80").c_str());
    EXPECT_NE(parse({}).result, 0);
    EXPECT_EQ(std::string(server), std::string(255, 'h'));
}

}  // namespace
