// zdtool against a real zdsim: each login answer, the connection failures before any login,
// the protocol version warning and a connection that closes early.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

#include "E2eSupport.h"

namespace {

using e2e::E2eTest;

constexpr const char* kConnected = "\nConnecting to 127.0.0.1(127.0.0.1)\nOK\nAuthenticating...\n";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

long Count(const std::vector<std::string>& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
}

TEST_F(E2eTest, KnownUserLogsInAndAsksTheStatusTwice) {
    StartSimulator();
    const e2e::ToolRun run = RunTool(ToolLogin("admin", "farmadmin"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(
        StartsWith(run.out, std::string(kConnected) + "Login succesfully.\nRequesting status...\n"))
        << run.out;
    EXPECT_EQ(run.out.find("Mismatch"), std::string::npos);

    const std::vector<std::string> lines = Transcript();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], LoginLine(1, "admin", "farmadmin"));
    EXPECT_EQ(lines[1], "1 23");
    EXPECT_EQ(Count(lines, "1 23"), 2);
}

TEST_F(E2eTest, UnknownUserIsAGuestWhenTheFarmAllowsGuests) {
    StartSimulator();
    const e2e::ToolRun run = RunTool(ToolLogin("visitor", "anything"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(
        StartsWith(run.out, std::string(kConnected) + "Logged as guest.\nRequesting status...\n"))
        << run.out;
    EXPECT_EQ(Count(Transcript(), "1 23"), 2);
}

TEST_F(E2eTest, WrongPasswordIsDeniedAndNothingFollowsTheLogin) {
    StartSimulator();
    const e2e::ToolRun run = RunTool(ToolLogin("admin", "guess"));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Login to Dispatcher denied.\n");
    EXPECT_EQ(run.out, kConnected);
    EXPECT_EQ(Transcript(), (std::vector<std::string>{LoginLine(1, "admin", "guess")}));
}

TEST_F(E2eTest, UnknownUserIsDeniedWhenTheFarmRefusesGuests) {
    e2e::WriteFile(Path("closed.json"), R"({"allow_guests": false, "users": [{"name": "ann"}]})");
    StartSimulator({"--farm", Path("closed.json")});
    const e2e::ToolRun run = RunTool(ToolLogin("visitor", ""));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Login to Dispatcher denied.\n");
    EXPECT_EQ(Transcript().size(), 1u);
}

TEST_F(E2eTest, AnUnusualLoginAnswerContinuesSilently) {
    StartSimulator();
    const e2e::ToolRun run = RunTool(ToolLogin("legacy", "legacy"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(StartsWith(run.out, std::string(kConnected) + "Requesting status...\n")) << run.out;
    EXPECT_EQ(Count(Transcript(), "1 23"), 2);
}

TEST_F(E2eTest, ForcedLoginResultReachesTheTool) {
    StartSimulator({"--login-result", "3"});
    const e2e::ToolRun run = RunTool(ToolLogin("admin", "farmadmin"));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Login to Dispatcher denied.\n");
}

TEST_F(E2eTest, RefusedPortFailsBeforeAnyLogin) {
    // Bound but not listening: connecting is refused, and no other program can take the port.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&at), &length), 0);
    const int port = ntohs(at.sin_port);

    const e2e::ToolRun run = RunTool(
        {"-s", "127.0.0.1", "-port", std::to_string(port), "-u", "admin", "-p", "x", "-v", "3"});
    close(holder);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Unable to connect to 127.0.0.1:" + std::to_string(port) + ".\n");
    EXPECT_EQ(run.out, "\nConnecting to 127.0.0.1(127.0.0.1)\n");
}

TEST_F(E2eTest, HostThatDoesNotResolveFails) {
    const e2e::ToolRun run = RunTool({"-s", "dispatcher.invalid", "-u", "admin", "-v", "3"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Cannot resolve host name dispatcher.invalid.\n");
    EXPECT_EQ(run.out, "\nConnecting to dispatcher.invalid\n");
}

TEST_F(E2eTest, ProtocolMismatchIsAWarningAtTheDefaultVerbosity) {
    StartSimulator({"--protocol-version", "600"});
    const e2e::ToolRun run = RunTool(
        {"-s", "127.0.0.1", "-port", std::to_string(Port()), "-u", "admin", "-p", "farmadmin"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(
        StartsWith(run.out, "\n\n### Protocol version Mismatch. Expecting 610, received 600!\n\n"))
        << run.out;
    EXPECT_EQ(Count(Transcript(), "1 23"), 2);
}

TEST_F(E2eTest, ConnectionClosedAfterTheLoginEndsTheRunWithASocketError) {
    StartSimulator({"--close-after", "1"});
    const e2e::ToolRun run = RunTool(ToolLogin("admin", "farmadmin"));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Socket error while communicating with the Dispatcher.\n");
    EXPECT_TRUE(StartsWith(run.out, std::string(kConnected) + "Login succesfully.\n")) << run.out;
    EXPECT_EQ(Transcript().size(), 1u);
}

TEST_F(E2eTest, ConnectionClosedOnAcceptFailsTheLoginWait) {
    StartSimulator({"--close-after", "0"});
    const e2e::ToolRun run = RunTool(ToolLogin("admin", "farmadmin"));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Socket error while communicating with the Dispatcher.\n");
    EXPECT_TRUE(Transcript().empty());
}

TEST_F(E2eTest, CompressedRepliesAreUnderstood) {
    // A repetitive host name makes the status reply worth compressing.
    e2e::WriteFile(Path("farm.json"),
                   R"({"host": "render-dispatcher-render-dispatcher-render-dispatcher",
                       "users": [{"name": "admin", "password": "farmadmin"}]})");
    StartSimulator({"--farm", Path("farm.json"), "--compress", "--protocol-version", "600"});
    const e2e::ToolRun run = RunTool(ToolLogin("admin", "farmadmin"));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("received 600!"), std::string::npos) << run.out;
}

TEST_F(E2eTest, SeveralToolsInARowAreNumberedClients) {
    StartSimulator();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(RunTool(ToolLogin("alice", "lumen42")).status, 0);
    const std::vector<std::string> lines = Transcript();
    EXPECT_EQ(Count(lines, LoginLine(1, "alice", "lumen42")), 1);
    EXPECT_EQ(Count(lines, LoginLine(3, "alice", "lumen42")), 1);
    EXPECT_EQ(Count(lines, "3 23"), 2);
}

}  // namespace
