// zdtool against peers and outputs that misbehave: a Dispatcher that never answers, a full
// disk behind standard output, and hostile text shown on a terminal.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>

#include "E2eSupport.h"

namespace {

class RobustnessE2e : public e2e::E2eTest {
protected:
    // Runs zdtool with standard output on `outPath`; standard error is collected as usual.
    e2e::ToolRun RunToolTo(const std::string& outPath, std::vector<std::string> args) {
        args.insert(args.begin(), ZDTOOL_PATH);
        std::vector<std::string> environment = {"HOME=" + Path("home"), "PATH=/usr/bin:/bin"};
        e2e::Process tool;
        e2e::ToolRun run;
        EXPECT_TRUE(tool.Spawn(args, environment, outPath, Path("tool.err")));
        run.status = tool.Wait(e2e::kWaitMs).value_or(-1);
        run.err = e2e::ReadFile(Path("tool.err"));
        return run;
    }

    // A cache folder with one template whose name carries terminal escape sequences.
    std::string HostileTemplates() {
        const std::string folder = Path("templates");
        std::filesystem::create_directory(folder);
        std::string text =
            e2e::ReadFile(ZD_EXAMPLES_DIR "/templates/lumen_render_multiframe.template");
        const std::string name = "\"Lumen Render\"";
        text.replace(text.find(name), name.size(), "\"Lumen\x1b]0;owned\x07 Render\x1b[2J\"");
        e2e::WriteFile(folder + "/lumen.template", text);
        return folder;
    }
};

TEST_F(RobustnessE2e, ASilentDispatcherEndsTheRunAfterTheTimeout) {
    // Accepted by the kernel, never answered.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);

    const e2e::ToolRun run =
        RunTool({"-s", "127.0.0.1", "-port", std::to_string(ntohs(address.sin_port)), "-u", "ann",
                 "-p", "secret", "-timeout", "1"});
    close(listener);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err,
              "\nThe Dispatcher did not answer within 1 second.\n"
              "Socket error while communicating with the Dispatcher.\n");
}

TEST_F(RobustnessE2e, AFullDiskBehindStandardOutputFailsTheRun) {
    StartSimulator();
    std::vector<std::string> args = ToolLogin("admin", "farmadmin");
    args.insert(args.end(), {"-q", "j", "-usecache"});
    const e2e::ToolRun run = RunToolTo("/dev/full", args);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "\nCannot write to standard output: No space left on device.\n");
}

TEST_F(RobustnessE2e, ControlCharactersAreShownSafelyOnATerminalOnly) {
    StartSimulator();
    std::vector<std::string> args = ToolLogin("admin", "farmadmin");
    args.insert(args.end(), {"-q", "t", "-usecache", "-templatesdir", HostileTemplates()});

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    const int slave = open(terminal.c_str(), O_RDWR | O_NOCTTY);  // keeps the output readable
    ASSERT_GE(slave, 0);
    const e2e::ToolRun run = RunToolTo(terminal, args);
    EXPECT_EQ(run.status, 0) << run.err;
    std::string shown;
    char bytes[4096];
    pollfd p{master, POLLIN, 0};
    while (poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
        const ssize_t n = read(master, bytes, sizeof bytes);
        if (n <= 0) break;
        shown.append(bytes, static_cast<size_t>(n));
    }
    close(slave);
    close(master);
    EXPECT_NE(shown.find("Lumen?]0;owned? Render?[2J"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);

    // Into a file the bytes are the Dispatcher's and the template's own.
    EXPECT_EQ(RunToolTo(Path("listing"), args).status, 0);
    EXPECT_NE(e2e::ReadFile(Path("listing")).find("Lumen\x1b]0;owned\x07 Render\x1b[2J"),
              std::string::npos);
}

}  // namespace
