// zdtool's credentials from outside the command line against a real zdsim: the password typed
// at a pseudo-terminal (no echo, echo back afterwards, also after Ctrl-C), piped on standard
// input, and the ZD_ variables.
#include <poll.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <termios.h>

#include "E2eSupport.h"

namespace {

using e2e::E2eTest;

// zdtool with standard input and error on a new pseudo-terminal, whose session it leads, and
// standard output in a file.
class TerminalRun {
public:
    TerminalRun(std::vector<std::string> args, std::vector<std::string> environment,
                const std::string& outPath) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ == -1 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const std::string slave = ptsname(master_);
        args.insert(args.begin(), ZDTOOL_PATH);
        std::vector<char*> argv, envp;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            setsid();
            const int terminal = open(slave.c_str(), O_RDWR);  // becomes the controlling one
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (terminal < 0 || out < 0) _exit(126);
            dup2(terminal, 0);
            dup2(out, 1);
            dup2(terminal, 2);
            close(master_);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        if (pid_ > 0) pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    }
    ~TerminalRun() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (pidfd_ != -1) close(pidfd_);
        if (master_ != -1) close(master_);
    }

    bool Started() const { return pidfd_ != -1; }
    pid_t Pid() const { return pid_; }
    const std::string& Shown() const { return shown_; }

    // Reads what the terminal shows until it ends with `text`; false after the usual wait.
    bool WaitFor(const std::string& text) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(e2e::kWaitMs);
        while (shown_.size() < text.size() ||
               shown_.compare(shown_.size() - text.size(), text.size(), text) != 0) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, e2e::Remaining(deadline)) != 1 || !ReadSome()) return false;
        }
        return true;
    }

    void Type(const std::string& text) {
        ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // The terminal's echo flag, as the pair's master sees it.
    bool Echoes() const {
        termios modes{};
        EXPECT_EQ(tcgetattr(master_, &modes), 0);
        return (modes.c_lflag & ECHO) != 0;
    }

    // The raw wait status, reading the terminal meanwhile so the program never blocks on it.
    std::optional<int> Wait() {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(e2e::kWaitMs);
        while (!status_) {
            pollfd p[2] = {{pidfd_, POLLIN, 0}, {master_, POLLIN, 0}};
            if (poll(p, 2, e2e::Remaining(deadline)) <= 0) return std::nullopt;
            if (p[1].revents & POLLIN) ReadSome();
            int raw = 0;
            if ((p[0].revents & POLLIN) && waitpid(pid_, &raw, 0) == pid_) status_ = raw;
        }
        while (ReadSome()) {
        }
        return status_;
    }

private:
    bool ReadSome() {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 0) != 1 || !(p.revents & POLLIN)) return false;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;
        shown_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    int pidfd_ = -1;
    std::optional<int> status_;
    std::string shown_;
};

std::vector<std::string> Login(int port, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"-s", "127.0.0.1", "-port", std::to_string(port)};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST_F(E2eTest, PasswordTypedAtATerminalIsNotEchoedAndEchoComesBack) {
    StartSimulator();
    TerminalRun tool(Login(Port(), {"-u", "alice", "-p", "-"}), ToolEnvironment(),
                     Path("zdtool.out"));
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(tool.WaitFor("Password: ")) << tool.Shown();
    EXPECT_FALSE(tool.Echoes());
    EXPECT_TRUE(Transcript().empty());  // nothing is sent before the password is read
    tool.Type("lumen42\n");
    const std::optional<int> status = tool.Wait();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << tool.Shown();
    EXPECT_EQ(tool.Shown(), "Password: \r\n");  // the line end, not the password
    EXPECT_TRUE(tool.Echoes());
    ASSERT_FALSE(Transcript().empty());
    EXPECT_EQ(Transcript()[0], LoginLine(1, "alice", "lumen42"));
}

TEST_F(E2eTest, InterruptedPasswordPromptPutsTheEchoBack) {
    StartSimulator();
    TerminalRun tool(Login(Port(), {"-p", "-"}), ToolEnvironment(), Path("zdtool.out"));
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(tool.WaitFor("Password: ")) << tool.Shown();
    tool.Type("half typ");
    ASSERT_FALSE(tool.Echoes());
    kill(tool.Pid(), SIGINT);
    const std::optional<int> status = tool.Wait();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGINT);
    EXPECT_TRUE(tool.Echoes());
    EXPECT_EQ(tool.Shown().find("half"), std::string::npos);
    EXPECT_TRUE(Transcript().empty());
}

TEST_F(E2eTest, PasswordPipedOnStandardInput) {
    StartSimulator();
    const e2e::ToolRun run =
        RunTool(Login(Port(), {"-u", "alice", "-p", "-", "-q", "j"}), "lumen42\r\nmore\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");  // no prompt when standard input is not a terminal
    ASSERT_FALSE(Transcript().empty());
    EXPECT_EQ(Transcript()[0], LoginLine(1, "alice", "lumen42"));
    EXPECT_NE(run.out.find("sq010_sh020_beauty"), std::string::npos);
}

TEST_F(E2eTest, VariablesGiveTheDispatcherAndTheCredentials) {
    StartSimulator();
    const std::vector<std::string> variables = {"ZD_DISPATCHER=127.0.0.1:" + std::to_string(Port()),
                                                "ZD_USER=alice", "ZD_PASSWORD=lumen42"};
    e2e::ToolRun run = RunTool({"-q", "j"}, "", variables);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("sq010_sh020_beauty"), std::string::npos);
    ASSERT_FALSE(Transcript().empty());
    EXPECT_EQ(Transcript()[0], LoginLine(1, "alice", "lumen42"));
}

}  // namespace
