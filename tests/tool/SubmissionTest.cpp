// Batch submission: the checks against the sample templates, the job record with its properties
// block, and the answer of a scripted Dispatcher over a socket pair.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Connection.h"
#include "FakeDispatcher.h"
#include "PayloadText.h"
#include "Submission.h"
#include "ZRTemplateManager.h"

using namespace ZRFramework::ZRTemplateManager;

namespace {

// Single host, with a mandatory field that is also activable.
const char* const kProbe = R"(DECLARE TEMPLATE
{
	SET TEMPLATE_NAME "Probe"
	SET TEMPLATE_DESC "probe"
	SET TEMPLATE_UID 901
	SET TEMPLATE_LOGIC SINGLE
}
DECLARE SINGLE
{
	SET EXECUTABLE "/bin/true"
}
DECLARE SUBMISSION
{
	ADD Notes TEXT "Notes" "" "" MANDATORY ACTIVABLE
	MAP memo Notes
}
)";

const std::vector<std::string> kLumen = {"-e",    "110", "-n", "shot", "-f",
                                         "a.lmn", "-sf", "1",  "-ef",  "10"};
const std::vector<std::string> kQuarry = {"-e", "150", "-n", "s",   "-f", "a",           "-dest",
                                          "c",  "-sf", "1",  "-ef", "9",  "-framecheck", "Size"};
const std::vector<std::string> kPrism = {"-e", "130", "-n", "s",   "-f", "s",     "-sf",
                                         "7",  "-iw", "9",  "-ih", "9",  "-dest", "o"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class SubmissionTest : public testing::Test {
protected:
    void SetUp() override {
        zrTemplateManager* manager = zrTemplateManager::GetUniqueClass();
        for (const char* name :
             {"lumen_render_multiframe", "vexel_compositor_single", "prism_raytracer_slices",
              "node_maintenance_broadcast", "quarry_cache_multiframe"}) {
            std::ifstream in(std::string(ZD_EXAMPLES_DIR) + "/templates/" + name + ".template");
            std::stringstream text;
            text << in.rdbuf();
            ASSERT_NE(manager->Parse(text.str().c_str(), name, true, true), nullptr);
        }
        ASSERT_NE(manager->Parse(kProbe, "probe", true, true), nullptr);
    }
    void TearDown() override {
        zrTemplateManager::GetUniqueClass()->Clear();
        resetRunSettings();
    }
    void parse(std::vector<std::string> args) {
        resetRunSettings();
        args.insert(args.begin(), {"zdtool", "-b"});
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(&arg[0]);
        ASSERT_NE(getOptFromExec(int(argv.size()), argv.data()), 0);
    }
};

TEST_F(SubmissionTest, ValidationStopsAtTheFirstFailure) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-folder"}, "\nMissing folder name.\n"},
        {{"-folder", "-n", "Shots", "-e", "999"}, ""},
        {{"-n", "shot"}, "\nMissing engine flag(-e) or invalid template UID.\n"},
        {{"-e", "110"}, "\nMissing job name.\n"},
        {{"-e", "110", "-n", "shot", "-sf", "1"}, "\nField Scene is mandatory.\n"},
        {{"-e", "110", "-n", "shot", "-f", "a.lmn", "-ef", "3"},
         "\nField StartFrame is mandatory.\n"},
        {kLumen + std::vector<std::string>{"-sf", "10"}, ""},
        {kLumen + std::vector<std::string>{"-sf", "11"},
         "\nStarting frame must be less than ending frame"},
        {kLumen + std::vector<std::string>{"-pk", "0"}, "\nPacket size must be greater than 0"},
        {kQuarry, "\nExpected frames prefix is required"},
        {kQuarry + std::vector<std::string>{"-expectedframes", "f_"},
         "\nRecursion depth must be greater than 0"},
        {kQuarry + std::vector<std::string>{"-expectedframes", "f_", "-recursion", "2"}, ""},
        {kPrism + std::vector<std::string>{"-slc", "1"}, "\nImage slices must be greater than 1"},
        {kPrism + std::vector<std::string>{"-slc", "2"}, ""},
        {{"-e", "140", "-n", "warm", "-f", "/bin/true", "-pk", "0"}, ""},
        {{"-e", "901", "-n", "p"}, "\nTarget host name or IP address is missing"},
        {{"-e", "901", "-n", "p", "-info", ""}, "\nField Notes is mandatory.\n"},
        {{"-e", "901", "-n", "p", "-info", "x", "-target", "n1"}, ""},
    };
    for (const auto& [args, err] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        parse(args);
        testing::internal::CaptureStderr();
        EXPECT_EQ(validateBatch() == 0, !err.empty());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), err);
    }
}

TEST_F(SubmissionTest, JobRecordLinesAndPropertiesBlock) {
    parse(kLumen + std::vector<std::string>{"-pr",         "50",     "-max", "3",   "-pk",     "5",
                                            "-pool",       "render", "-ske", "1",   "-parent", "7",
                                            "-wait",       "3,4",    "-oma", "a@b", "-ojn",    "2",
                                            "-ocn",        "0",      "-oct", "60",  "-group",  "fx",
                                            "-department", "light",  "-si",  "1"});
    ASSERT_NE(validateBatch(), 0);
    std::vector<std::string> lines;
    std::istringstream record(buildJobRecord(submitjob));
    for (std::string line; std::getline(record, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 28u);
    EXPECT_EQ(lines, (std::vector<std::string>{"1",
                                               "110",
                                               "50",
                                               "3",
                                               "0",
                                               "",
                                               "shot",
                                               "-1",
                                               "5",
                                               "render",
                                               "1",
                                               "7",
                                               "0",
                                               "3,4",
                                               "1",
                                               "a@b",
                                               "1",
                                               "1",
                                               "With warnings",
                                               "1",
                                               "0",
                                               "Completed",
                                               "1",
                                               "60",
                                               lines[24],
                                               "0",
                                               "fx",
                                               "light"}));
    std::string text;
    ASSERT_TRUE(zdProtocol::DecodeBase64(lines[24], text));
    EXPECT_EQ(text,
              "job_file\na.lmn\n1\n1\nstart_frame\n1\n1\n0\nend_frame\n10\n1\n0\n"
              "single_instance\n1\n1\n0\n");

    parse({"-e", "140", "-n", "warm", "-job", "25"});
    EXPECT_EQ(buildJobRecord(submitjob).substr(0, 23), "0\n140\n100\n0\n0\n\nwarm\n25\n");
    EXPECT_NE(buildJobRecord(submitjob).find("\n320\n\n0\n"), std::string::npos)
        << "an empty property map leaves line 25 empty";
}

TEST_F(SubmissionTest, SendsAndReportsTheAnswer) {
    using zdtest::Msg;
    const struct {
        std::vector<std::string> args;
        unsigned char answer;
        int status;
        std::string out, err;
        unsigned char sentCode;  // 0: nothing is sent
        const char* sentText;    // null: the job record built from the arguments
    } cases[] = {
        {kLumen, zdCode::kSubmitted, 0, "Sending new job to dispatcher...\nnew job has ID: 42\n",
         "", zdCode::kNewJob, nullptr},
        {kLumen + std::vector<std::string>{"-job", "25"}, zdCode::kSubmitted, 0,
         "Sending new job to dispatcher...\nnew job has ID: 42\n", "", zdCode::kEditedJob, nullptr},
        {kLumen, zdCode::kRefused, -1, "Sending new job to dispatcher...\n", "Submission failed.\n",
         zdCode::kNewJob, nullptr},
        {kLumen, zdCode::kRefusedContent, -1, "Sending new job to dispatcher...\n",
         "Submission failed.\n", zdCode::kNewJob, nullptr},
        {{"-folder", "-n", "Shots"},
         zdCode::kSubmitted,
         0,
         "Sending new folder to dispatcher...\nnew job has ID: 42\n",
         "",
         zdCode::kNewFolder,
         "-1\nShots\n100\n"},
        {{"-e", "110"}, zdCode::kSubmitted, -1, "", "\nMissing job name.\n", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        parse(c.args);
        zdtest::FakeDispatcher dispatcher;
        dispatcher.Queue(zdCode::kStatus, "0\n");
        dispatcher.Queue(c.answer, "42\n");
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(runSubmission(), c.status);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        std::vector<Msg> sent;
        if (c.sentCode != 0)
            sent.push_back({c.sentCode, c.sentText ? c.sentText : buildJobRecord(submitjob)});
        EXPECT_EQ(dispatcher.SentFrames(), sent);
    }
}

}  // namespace
