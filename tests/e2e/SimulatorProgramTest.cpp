// The zdsim program itself: usage, refused command lines and farms, skipped templates, and a
// clean stop on either signal.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <filesystem>

#include "E2eSupport.h"

namespace {

using e2e::E2eTest;

TEST_F(E2eTest, HelpPrintsTheUsageAndSucceeds) {
    const e2e::ToolRun run = Run({ZDSIM_PATH, "--help"}, Environment(), "zdsim-help");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Usage: zdsim [options]\n", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
}

TEST_F(E2eTest, BadCommandLineExitsWithStatus2) {
    const e2e::ToolRun run = Run({ZDSIM_PATH, "--port", "abc"}, Environment(), "zdsim-bad");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "zdsim: --port wants a whole number from 0 to 65535, not 'abc'\n"
              "Try 'zdsim --help'.\n");
}

TEST_F(E2eTest, FarmWithAMistakeIsRefusedWithItsPlace) {
    const std::string farm = Path("farm.json");
    e2e::WriteFile(farm, R"({"users": [{"name": "ann", "pasword": "x"}]})");
    const e2e::ToolRun run =
        Run({ZDSIM_PATH, "--port", "0", "--farm", farm}, Environment(), "zdsim-farm");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "zdsim: " + farm + ": users[0].pasword: unknown field\n");
}

TEST_F(E2eTest, BrokenTemplatesAreSkippedWithAWarning) {
    const std::string folder = Path("templates");
    std::filesystem::create_directory(folder);
    std::filesystem::copy(ZD_EXAMPLES_DIR "/templates", folder);
    e2e::WriteFile(folder + "/broken.template", "DECLARE TEMPLATE\n{\n");
    StartSimulator({"--templates", folder});
    EXPECT_EQ(e2e::ReadFile(Path("zdsim.err")).rfind("zdsim: skipped broken.template: ", 0), 0u)
        << e2e::ReadFile(Path("zdsim.err"));
    EXPECT_EQ(RunTool(ToolLogin("admin", "farmadmin")).status, 0);
}

TEST_F(E2eTest, InterruptStopsCleanlyWithClientsConnected) {
    StartSimulator();
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(Port()));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_TRUE(e2e::WaitInFolder(folder_, [&] {
        return e2e::ReadFile(Path("zdsim.log")).find("Client 1 connected") != std::string::npos;
    }));
    kill(simulator_->Pid(), SIGINT);
    EXPECT_EQ(simulator_->Wait(e2e::kWaitMs), 0);
    simulator_.reset();
    close(client);
    EXPECT_NE(e2e::ReadFile(Path("zdsim.log")).find("Client 1 closed: server stopping"),
              std::string::npos);
}

}  // namespace
