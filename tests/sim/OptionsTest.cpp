// zdsim's command line: accepted forms, defaults and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "ManualPage.h"
#include "Options.h"

namespace {

using zdsim::ParseOptions;
using zdsim::ParseOutcome;
using zdsim::SimOptions;

ParseOutcome Parse(std::vector<const char*> args, SimOptions& options, std::string& error) {
    args.insert(args.begin(), "zdsim");
    return ParseOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(Options, DefaultsServeLoopbackOnAFreePortWithPlainFrames) {
    SimOptions options;
    std::string error;
    ASSERT_EQ(Parse({}, options, error), ParseOutcome::kRun);
    EXPECT_EQ(options.server.port, 0);
    EXPECT_EQ(options.server.bindAddress, "127.0.0.1");
    EXPECT_FALSE(options.server.compress);
    EXPECT_EQ(options.server.closeAfter, -1);
    EXPECT_EQ(options.server.maxFrame, zdsim::kDefaultMaxFrame);
    EXPECT_EQ(options.protocolVersion, 610);
    EXPECT_FALSE(options.loginResult.has_value());
}

TEST(Options, EveryOptionIsReadInBothForms) {
    SimOptions options;
    std::string error;
    ASSERT_EQ(Parse({"--port",
                     "9000",
                     "--port-file=/t/port",
                     "--bind",
                     "0.0.0.0",
                     "--farm",
                     "f.json",
                     "--templates=t",
                     "--protocol-version",
                     "600",
                     "--record",
                     "r",
                     "--compress",
                     "--max-frame=4096",
                     "--log",
                     "l",
                     "--log-level",
                     "3",
                     "--close-after",
                     "2",
                     "--login-result=-1",
                     "--bad-template",
                     "110",
                     "--template-override",
                     "110=/x/y=z",
                     "--template-override=5=a",
                     "--hashes-file",
                     "h"},
                    options, error),
              ParseOutcome::kRun)
        << error;
    EXPECT_EQ(options.server.port, 9000);
    EXPECT_EQ(options.portFile, "/t/port");
    EXPECT_EQ(options.server.bindAddress, "0.0.0.0");
    EXPECT_EQ(options.farmFile, "f.json");
    EXPECT_EQ(options.templatesFolder, "t");
    EXPECT_EQ(options.protocolVersion, 600);
    EXPECT_EQ(options.recordFile, "r");
    EXPECT_TRUE(options.server.compress);
    EXPECT_EQ(options.server.maxFrame, 4096u);
    EXPECT_EQ(options.logFile, "l");
    EXPECT_EQ(options.logLevel, 3);
    EXPECT_EQ(options.server.closeAfter, 2);
    EXPECT_EQ(options.loginResult, -1);
    EXPECT_EQ(options.badTemplateUid, 110);
    ASSERT_EQ(options.templateOverrides.size(), 2u);
    EXPECT_EQ(options.templateOverrides[0], std::make_pair(110, std::string("/x/y=z")));
    EXPECT_EQ(options.templateOverrides[1], std::make_pair(5, std::string("a")));
    EXPECT_EQ(options.hashesFile, "h");
}

TEST(Options, ListingModeAndGeneratedFarms) {
    SimOptions options;
    std::string error;
    ASSERT_EQ(Parse({}, options, error), ParseOutcome::kRun);
    EXPECT_FALSE(options.lockstep);
    EXPECT_FALSE(options.refuseSubmissions);
    EXPECT_FALSE(options.Generating());

    ASSERT_EQ(Parse({"--lockstep", "--refuse-submissions", "--generate-jobs", "1000000",
                     "--generate-chunks=0"},
                    options, error),
              ParseOutcome::kRun)
        << error;
    EXPECT_TRUE(options.lockstep);
    EXPECT_TRUE(options.refuseSubmissions);
    EXPECT_TRUE(options.Generating());
    EXPECT_EQ(options.generateJobs, 1000000);
    EXPECT_EQ(options.generateChunks, 0);
    EXPECT_FALSE(options.generateNodes.has_value());

    ASSERT_EQ(Parse({"--generate-nodes", "0"}, options, error), ParseOutcome::kRun);
    EXPECT_TRUE(options.Generating());  // even a count of 0 asks for a generated farm
    ASSERT_EQ(Parse({"--generate-logs=7"}, options, error), ParseOutcome::kRun);
    EXPECT_EQ(options.generateLogs, 7);
}

TEST(Options, HelpWinsWherever) {
    SimOptions options;
    std::string error;
    EXPECT_EQ(Parse({"--port", "1", "--help"}, options, error), ParseOutcome::kHelp);
    EXPECT_EQ(Parse({"-h"}, options, error), ParseOutcome::kHelp);
    EXPECT_NE(zdsim::UsageText().find("--close-after N"), std::string::npos);
}

TEST(Options, BadCommandLinesAreRefusedWithAReason) {
    const struct {
        std::vector<const char*> args;
        const char* error;
    } cases[] = {
        {{"--port", "70000"}, "--port wants a whole number from 0 to 65535, not '70000'"},
        {{"--port", "12a"}, "--port wants a whole number from 0 to 65535, not '12a'"},
        {{"--port", " 12"}, "--port wants a whole number from 0 to 65535, not ' 12'"},
        {{"--port"}, "--port needs a value"},
        {{"--prot", "1"}, "unknown option '--prot'"},
        {{"port"}, "unexpected argument 'port'"},
        {{"--"}, "unexpected argument '--'"},
        {{"--compress=yes"}, "--compress takes no value"},
        {{"--farm", ""}, "--farm wants a non-empty value"},
        {{"--close-after", "-1"},
         "--close-after wants a whole number from 0 to 9223372036854775807, not '-1'"},
        {{"--max-frame", "10"}, "--max-frame wants a whole number from 64 to 1073741824, not '10'"},
        {{"--template-override", "110"}, "--template-override wants UID=FILE, not '110'"},
        {{"--template-override", "x=f"}, "--template-override wants UID=FILE, not 'x=f'"},
        {{"--template-override", "5="}, "--template-override wants UID=FILE, not '5='"},
        {{"--log-level", "9"}, "--log-level wants a whole number from 0 to 3, not '9'"},
        {{"--lockstep=1"}, "--lockstep takes no value"},
        {{"--generate-jobs", "-5"},
         "--generate-jobs wants a whole number from 0 to 100000000, not '-5'"},
        {{"--generate-chunks", "100000001"},
         "--generate-chunks wants a whole number from 0 to 100000000, not '100000001'"},
    };
    for (const auto& c : cases) {
        SimOptions options;
        options.farmFile = "kept";
        std::string error;
        EXPECT_EQ(Parse(c.args, options, error), ParseOutcome::kError) << c.error;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(options.farmFile, "kept");
    }
}

}  // namespace

namespace {

// The manual page has an entry for every option of the usage text, with a value where the
// option takes one.
TEST(Options, EveryOptionOfTheUsageTextHasAnEntryInTheManual) {
    const std::vector<zdTest::ManualEntry> entries =
        zdTest::ReadManualEntries(ZD_DOCS_DIR "/zdsim.1");
    ASSERT_FALSE(entries.empty());
    std::istringstream usage(zdsim::UsageText());
    int options = 0;
    for (std::string line; std::getline(usage, line);) {
        const std::vector<std::string> words = zdTest::ManualWords(line);
        if (words.empty() || words[0].rfind("--", 0) != 0) continue;
        ++options;
        const bool takesValue =
            words.size() > 1 && std::isupper(static_cast<unsigned char>(words[1][0]));
        auto entry =
            std::find_if(entries.begin(), entries.end(), [&](const zdTest::ManualEntry& e) {
                return !e.words.empty() && e.words[0] == words[0];
            });
        if (entry == entries.end()) {
            ADD_FAILURE() << words[0] << " has no entry in zdsim.1";
            continue;
        }
        EXPECT_EQ(entry->words.size() > 1, takesValue) << words[0];
    }
    EXPECT_GT(options, 20);
}

}  // namespace
