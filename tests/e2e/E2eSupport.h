// End-to-end support: a real zdsim on a free loopback port in a temporary folder, runs of the
// real zdtool with HOME inside that folder, and bounded waits for processes and files.
#ifndef ZD_TESTS_E2E_SUPPORT_H
#define ZD_TESTS_E2E_SUPPORT_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace e2e {

// Generous: sanitizer builds start slowly on a busy machine.
constexpr int kWaitMs = 20000;

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

inline std::string Base64(const std::string& bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 |
                           (unsigned char)bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            out += alphabet[(v >> shift) & 63];
    }
    if (i < bytes.size()) {
        unsigned v = (unsigned char)bytes[i] << 16;
        if (i + 1 < bytes.size()) v |= (unsigned char)bytes[i + 1] << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

inline std::string LocalHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// Milliseconds left until `deadline`, never negative.
inline int Remaining(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A started program. The exit is observed through a pidfd, so waits need no polling loop.
class Process {
public:
    Process() = default;
    ~Process() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            Wait(kWaitMs);
        }
        if (pidfd_ != -1) close(pidfd_);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Standard output and error go to the two files, standard input comes from `inPath`;
    // `environment` replaces the process's.
    bool Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
               const std::string& outPath, const std::string& errPath,
               const std::string& inPath = "/dev/null") {
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& entry : environment)
            envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        const int spawned =
            posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            return false;
        }
        pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        return pidfd_ != -1;
    }

    int Pid() const { return pid_; }
    int ExitFd() const { return pidfd_; }

    // The exit status (128 + signal for a signalled end), or nothing when `ms` ran out.
    std::optional<int> Wait(int ms) {
        if (status_) return status_;
        if (pid_ <= 0) return std::nullopt;
        pollfd p{pidfd_, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return std::nullopt;
        int raw = 0;
        if (waitpid(pid_, &raw, 0) != pid_) return std::nullopt;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status_;
    }

    bool Exited() {
        pollfd p{pidfd_, POLLIN, 0};
        return status_ || (pidfd_ != -1 && poll(&p, 1, 0) == 1);
    }

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    std::optional<int> status_;
};

// Waits until `ready` holds, re-checking whenever something in `folder` changes and giving up
// early when `process` (optional) ends. False when the time ran out or the process ended first.
inline bool WaitInFolder(const std::string& folder, const std::function<bool()>& ready,
                         Process* process = nullptr, int ms = kWaitMs) {
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch == -1) return false;
    inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    bool ok = false;
    for (;;) {
        if (ready()) {
            ok = true;
            break;
        }
        pollfd p[2] = {{watch, POLLIN, 0}, {process ? process->ExitFd() : -1, POLLIN, 0}};
        const int n = poll(p, process ? 2 : 1, Remaining(deadline));
        if (n <= 0) break;
        if (process && (p[1].revents & POLLIN)) {
            ok = ready();
            break;
        }
        char events[4096];
        while (read(watch, events, sizeof events) > 0) {
        }
    }
    close(watch);
    return ok;
}

struct ToolRun {
    int status = -1;  // -1: it did not end in time and was killed
    std::string out;
    std::string err;
};

// A temporary folder holding zdsim's files and zdtool's home, removed at the end.
class E2eTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "zd-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        std::filesystem::create_directory(folder_ + "/home");
    }

    void TearDown() override {
        if (simulator_) {
            const std::optional<int> status = StopSimulator();
            EXPECT_EQ(status, 0) << "zdsim did not stop cleanly; its log:\n"
                                 << ReadFile(Path("zdsim.log")) << ReadFile(Path("zdsim.err"));
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string Path(const std::string& name) const { return folder_ + "/" + name; }

    // Starts zdsim on a free loopback port with the sample farm (unless `args` names another),
    // a transcript and a log, and waits for its port.
    void StartSimulator(std::vector<std::string> args = {}) {
        bool farmGiven = false;
        for (const std::string& arg : args)
            farmGiven |= arg == "--farm" || arg.rfind("--farm=", 0) == 0;
        std::vector<std::string> argv = {ZDSIM_PATH,         "--port",     "0",
                                         "--port-file",      Path("port"), "--record",
                                         Path("transcript"), "--log",      Path("zdsim.log"),
                                         "--log-level",      "3"};
        if (!farmGiven) {
            argv.push_back("--farm");
            argv.push_back(ZD_EXAMPLES_DIR "/farm.json");
        }
        argv.insert(argv.end(), args.begin(), args.end());
        std::filesystem::remove(Path("port"));  // a restart must not read the old port
        simulator_ = std::make_unique<Process>();
        ASSERT_TRUE(simulator_->Spawn(argv, Environment(), Path("zdsim.out"), Path("zdsim.err")));
        const std::string portFile = Path("port");
        const bool ready = WaitInFolder(
            folder_,
            [&] {
                const std::string text = ReadFile(portFile);
                return !text.empty() && text.back() == '\n';
            },
            simulator_.get());
        ASSERT_TRUE(ready) << "zdsim did not announce its port; stderr:\n"
                           << ReadFile(Path("zdsim.err"));
        port_ = std::stoi(ReadFile(portFile));
        ASSERT_GT(port_, 0);
        EXPECT_EQ(ReadFile(Path("zdsim.out")), std::to_string(port_) + "\n");
    }

    // SIGTERM, then the exit status; nothing when it did not stop in time.
    std::optional<int> StopSimulator() {
        if (!simulator_) return std::nullopt;
        kill(simulator_->Pid(), SIGTERM);
        std::optional<int> status = simulator_->Wait(kWaitMs);
        simulator_.reset();
        return status;
    }

    int Port() const { return port_; }

    // Runs zdtool with HOME in the test's folder; a run that hangs is killed after the wait.
    // `input` goes to its standard input, `variables` ("NAME=value") to its environment, which
    // otherwise holds none of the tool's own variables.
    ToolRun RunTool(std::vector<std::string> args, const std::string& input = "",
                    const std::vector<std::string>& variables = {}) {
        args.insert(args.begin(), ZDTOOL_PATH);
        std::vector<std::string> environment = ToolEnvironment();
        environment.insert(environment.end(), variables.begin(), variables.end());
        WriteFile(Path("zdtool.in"), input);
        return Run(args, environment, "zdtool", Path("zdtool.in"));
    }

    // The environment zdtool runs in: HOME in the test's folder and no ZD_ variables.
    std::vector<std::string> ToolEnvironment() const {
        std::vector<std::string> environment = Environment();
        for (auto it = environment.begin(); it != environment.end();) {
            const bool drop = it->rfind("HOME=", 0) == 0 || it->rfind("ZD_", 0) == 0;
            it = drop ? environment.erase(it) : it + 1;
        }
        environment.push_back("HOME=" + Path("home"));
        return environment;
    }

    // Runs a program that is expected to end by itself (zdsim with --help or a bad option).
    ToolRun Run(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                const std::string& name, const std::string& inPath = "/dev/null") {
        ToolRun run;
        Process program;
        const std::string outPath = Path(name + ".out"), errPath = Path(name + ".err");
        EXPECT_TRUE(program.Spawn(args, environment, outPath, errPath, inPath));
        const std::optional<int> status = program.Wait(kWaitMs);
        EXPECT_TRUE(status.has_value()) << name << " did not end in time";
        run.status = status.value_or(-1);
        run.out = ReadFile(outPath);
        run.err = ReadFile(errPath);
        return run;
    }

    // zdtool's arguments to reach the simulator as `user` with `password` at verbosity 3.
    std::vector<std::string> ToolLogin(const std::string& user, const std::string& password) {
        return {"-s",     "127.0.0.1", "-port", std::to_string(port_), "-u", user, "-p",
                password, "-v",        "3"};
    }

    std::vector<std::string> Transcript() const { return Lines(ReadFile(Path("transcript"))); }

    // Waits until the transcript holds at least `count` lines (for frames that get no reply).
    bool WaitForTranscriptLines(size_t count) {
        return WaitInFolder(folder_, [&] { return Transcript().size() >= count; });
    }

    // The transcript line zdtool's login produces.
    static std::string LoginLine(int client, const std::string& user, const std::string& password) {
        return std::to_string(client) + " 20 " + LocalHostName() + "\\n" + user + "\\n" +
               Base64(password) + "\\n4\\n";
    }

    static std::vector<std::string> Environment() {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry)
            environment.push_back(*entry);
        return environment;
    }

    std::string folder_;
    std::unique_ptr<Process> simulator_;
    int port_ = 0;
};

}  // namespace e2e

#endif
