// Tests of spawning with pipes, waiting, terminating single processes
// and trees, snapshots, priorities and impersonation, all on real child processes.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../../../ZRFramework/platform/ProcessTable.h"
#include "ZRProcesses.h"

using namespace ZRFramework::ZRProcesses;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = 10s;

bool Eventually(const std::function<bool()>& condition) {
    const auto end = Clock::now() + kDeadline;
    while (!condition()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Reads until the end of the stream or the deadline.
std::string ReadToEnd(int fd) {
    std::string text;
    const auto end = Clock::now() + kDeadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) break;
        pollfd waiting = {fd, POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const int n = ReadPipe(fd, buffer, sizeof buffer);
        if (n <= 0) break;  // readable yet empty: the writers are gone
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// Reads until `text` has arrived or the deadline.
bool ReadUntil(int fd, const std::string& text, std::string& received) {
    return Eventually([&] {
        char buffer[256];
        const int n = ReadPipe(fd, buffer, sizeof buffer);
        if (n > 0) received.append(buffer, static_cast<size_t>(n));
        return received.find(text) != std::string::npos;
    });
}

// Owns a started child: a test that fails half-way still leaves nothing running.
class Child {
public:
    explicit Child(zrProcess* process = nullptr) : process_(process) {}
    ~Child() {
        if (process_ == nullptr) return;
        TerminateProcess(process_);
        CloseProcess(process_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    zrProcess* get() const { return process_; }
    int pid() const { return GetProcessPid(process_); }

private:
    zrProcess* process_;
};

struct PipesDeleter {
    void operator()(zrPipeHandles* pipes) const { DeletePipes(pipes, true); }
};
typedef std::unique_ptr<zrPipeHandles, PipesDeleter> Pipes;

struct EnvironmentDeleter {
    void operator()(zrEnvironment* environment) const { DestroyEnvironment(environment); }
};
typedef std::unique_ptr<zrEnvironment, EnvironmentDeleter> Environment;

zrProcess* Spawn(const char* path, const char* arguments, zrPipeHandles* pipes = nullptr,
                 zrEnvironment* environment = nullptr, const char* folder = nullptr,
                 const char* user = nullptr) {
    int code = -1;
    std::string text = "unset";
    zrProcess* process =
        SpawnProcess(path, arguments, folder, pipes, environment, code, text, user, "");
    if (process != nullptr) {
        EXPECT_EQ(code, 0);
        EXPECT_EQ(text, "");
    } else {
        ADD_FAILURE() << "spawn of " << path << " failed: " << code << " " << text;
    }
    return process;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "/tmp");
        pattern += "/zrprocXXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

bool Exists(int pid) {
    return kill(pid, 0) == 0 || errno != ESRCH;
}

// Orphans of the processes a test kills come to this process, which reaps them, instead of
// to a system init that may never do so.
class Subreaper {
public:
    Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
    void Reap(int pid) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
};

// ---- Spawning ----

TEST(SpawnProcessTest, ChildReadsInputAndWritesOutputThroughPipes) {
    Pipes pipes(CreatePipes(false));
    ASSERT_TRUE(pipes);
    Child child(Spawn("/bin/cat", "", pipes.get()));
    ASSERT_NE(child.get(), nullptr);
    // The parent no longer holds the child's ends, so closing our input end is an end of file.
    EXPECT_EQ(pipes->childStdIn, -1);
    EXPECT_EQ(pipes->childStdOut, -1);
    EXPECT_EQ(pipes->childStdErr, -1);

    EXPECT_EQ(WritePipe(pipes->stdInWrite, "hello\nworld", 11), 11);
    ClosePipeHandle(pipes->stdInWrite);
    pipes->stdInWrite = -1;
    EXPECT_EQ(ReadToEnd(pipes->stdOutRead), "hello\nworld");
    long code = -1;
    EXPECT_EQ(WaitProcess(child.get(), true, 0, code), kWaitExited);
    EXPECT_EQ(code, 0);
}

TEST(SpawnProcessTest, StandardErrorHasItsOwnPipe) {
    Pipes pipes(CreatePipes(false));
    ASSERT_TRUE(pipes);
    Child child(Spawn("/bin/sh", "-c \"echo out; echo err >&2; exit 3\"", pipes.get()));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ReadToEnd(pipes->stdOutRead), "out\n");
    EXPECT_EQ(ReadToEnd(pipes->stdErrRead), "err\n");
    long code = -1;
    EXPECT_EQ(WaitProcess(child.get(), true, 0, code), kWaitExited);
    EXPECT_EQ(code, 3);
}

TEST(SpawnProcessTest, MergedStandardErrorArrivesOnTheOutputPipe) {
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    EXPECT_EQ(pipes->stdErrRead, -1);
    EXPECT_EQ(pipes->childStdErr, -1);
    Child child(Spawn("/bin/sh", "-c \"echo out; echo err >&2\"", pipes.get()));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ReadToEnd(pipes->stdOutRead), "out\nerr\n");
    long code = -1;
    EXPECT_EQ(WaitProcess(child.get(), true, 0, code), kWaitExited);
}

TEST(SpawnProcessTest, EnvironmentReplacesTheInheritedOne) {
    Environment environment(CreateEnvironment(false));
    SetEnvironmentValue(environment.get(), "ZR_B", "two words");
    SetEnvironmentValue(environment.get(), "ZR_A", "x=1");
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    Child child(Spawn("/usr/bin/env", "", pipes.get(), environment.get()));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ReadToEnd(pipes->stdOutRead), "ZR_A=x=1\nZR_B=two words\n");
}

TEST(SpawnProcessTest, WithoutEnvironmentTheChildInheritsOurs) {
    ASSERT_EQ(setenv("ZR_PROC_INHERITED", "yes", 1), 0);
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    Child child(Spawn("/bin/sh", "-c \"echo $ZR_PROC_INHERITED\"", pipes.get()));
    unsetenv("ZR_PROC_INHERITED");
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ReadToEnd(pipes->stdOutRead), "yes\n");
}

TEST(SpawnProcessTest, PathWithSpacesIsOneArgument) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string folder = dir.path() + "/with space";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string script = folder + "/my script";
    std::ofstream(script) << "#!/bin/sh\necho \"$#:$1:$2\"\n";
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    Child child(Spawn(script.c_str(), "first \"second arg\"", pipes.get()));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ReadToEnd(pipes->stdOutRead), "2:first:second arg\n");
}

TEST(SpawnProcessTest, WorkingFolderIsHonoured) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(dir.path().c_str(), resolved), nullptr);
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    Child child(Spawn("/bin/sh", "-c pwd", pipes.get(), nullptr, dir.path().c_str()));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ReadToEnd(pipes->stdOutRead), std::string(resolved) + "\n");
}

struct SpawnFailure {
    const char* what;
    std::function<std::string(const std::string& dir)> path;
    const char* folder;
    int code;
};

TEST(SpawnProcessTest, FailedStartsReportTheErrorAndItsText) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::vector<SpawnFailure> cases = {
        {"missing executable", [](const std::string& d) { return d + "/no-such-program"; }, nullptr,
         ENOENT},
        {"not executable",
         [](const std::string& d) {
             std::ofstream(d + "/plain") << "data";
             return d + "/plain";
         },
         nullptr, EACCES},
        {"a folder", [](const std::string& d) { return d; }, nullptr, EACCES},
        {"missing working folder", [](const std::string&) { return std::string("/bin/true"); },
         "/no/such/folder", ENOENT},
    };
    for (const SpawnFailure& failure : cases) {
        SCOPED_TRACE(failure.what);
        const std::string path = failure.path(dir.path());
        Pipes pipes(CreatePipes(false));
        ASSERT_TRUE(pipes);
        int code = -1;
        std::string text;
        zrProcess* process = SpawnProcess(path.c_str(), "arg", failure.folder, pipes.get(), nullptr,
                                          code, text, nullptr, nullptr);
        Child guard(process);
        EXPECT_EQ(process, nullptr);
        EXPECT_EQ(code, failure.code);
        EXPECT_EQ(text, strerror(failure.code));
    }
}

TEST(SpawnProcessTest, PipesWithoutChildEndsAreRefused) {
    Pipes pipes(CreatePipes(false));
    ASSERT_TRUE(pipes);
    ClosePipeHandle(pipes->childStdIn);
    pipes->childStdIn = -1;
    int code = -1;
    std::string text;
    Child guard(
        SpawnProcess("/bin/true", "", nullptr, pipes.get(), nullptr, code, text, nullptr, nullptr));
    EXPECT_EQ(guard.get(), nullptr);
    EXPECT_EQ(code, EBADF);
}

TEST(SpawnProcessTest, UnknownUserIsReportedAsText) {
    int code = -1;
    std::string text;
    Child guard(SpawnProcess("/bin/true", "", nullptr, nullptr, nullptr, code, text,
                             "zr-no-such-user", "secret"));
    EXPECT_EQ(guard.get(), nullptr);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(text, "Unable to impersonate user zr-no-such-user");
}

TEST(SpawnProcessTest, ChildRunsAsTheGivenUser) {
    if (geteuid() != 0) GTEST_SKIP() << "switching users needs root";
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
    const std::string expected =
        std::to_string(nobody->pw_uid) + " " + std::to_string(nobody->pw_gid) + "\n";
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    Child child(
        Spawn("/bin/sh", "-c \"echo $(id -u) $(id -g)\"", pipes.get(), nullptr, nullptr, "nobody"));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ReadToEnd(pipes->stdOutRead), expected);
}

// ---- Waiting ----

TEST(WaitProcessTest, NonBlockingWithoutTimeOutReturnsAtOnce) {
    Child child(Spawn("/bin/sleep", "30"));
    ASSERT_NE(child.get(), nullptr);
    long code = -1;
    const auto start = Clock::now();
    EXPECT_EQ(WaitProcess(child.get(), false, 0, code), kWaitRunning);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(code, -1);
}

TEST(WaitProcessTest, NonBlockingTimesOutAfterTheGivenSeconds) {
    Child child(Spawn("/bin/sleep", "30"));
    ASSERT_NE(child.get(), nullptr);
    long code = -1;
    const auto start = Clock::now();
    EXPECT_EQ(WaitProcess(child.get(), false, 1, code), kWaitTimeout);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 1s);
    EXPECT_LT(elapsed, 5s);
    EXPECT_EQ(WaitProcess(child.get(), false, -1, code), kWaitTimeout);
}

TEST(WaitProcessTest, NonBlockingSeesAnExitWithinTheTimeOut) {
    Child child(Spawn("/bin/sh", "-c \"exit 5\""));
    ASSERT_NE(child.get(), nullptr);
    long code = -1;
    EXPECT_EQ(WaitProcess(child.get(), false, 30, code), kWaitExited);
    EXPECT_EQ(code, 5);
}

TEST(WaitProcessTest, BlockingGivesTheExitStatusAndRemembersIt) {
    Child child(Spawn("/bin/sh", "-c \"exit 7\""));
    ASSERT_NE(child.get(), nullptr);
    long code = -1;
    EXPECT_EQ(WaitProcess(child.get(), true, 0, code), kWaitExited);
    EXPECT_EQ(code, 7);
    code = -1;
    EXPECT_EQ(WaitProcess(child.get(), false, 0, code), kWaitExited);
    EXPECT_EQ(code, 7);
}

TEST(WaitProcessTest, ChildEndedBySignalDoesNotReadAsSuccess) {
    Child child(Spawn("/bin/sh", "-c \"kill -TERM $$\""));
    ASSERT_NE(child.get(), nullptr);
    long code = -1;
    EXPECT_EQ(WaitProcess(child.get(), true, 0, code), kWaitExited);
    EXPECT_EQ(code, 128 + SIGTERM);
}

TEST(WaitProcessTest, ErrorsForNullAndForStrangers) {
    long code = -1;
    EXPECT_EQ(WaitProcess(nullptr, true, 0, code), kWaitError);
    zrProcess stranger{1, false, 0, nullptr};
    EXPECT_EQ(WaitProcess(&stranger, true, 0, code), kWaitError);
    EXPECT_EQ(WaitProcess(&stranger, false, 0, code), kWaitError);
    EXPECT_EQ(GetProcessPid(nullptr), 0);
    EXPECT_EQ(GetCurrentProcessPid(), getpid());
}

// ---- Terminating ----

TEST(TerminateProcessTest, KillsAndReapsARunningChild) {
    Child child(Spawn("/bin/sleep", "30"));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_TRUE(TerminateProcess(child.get()));
    EXPECT_FALSE(Exists(child.pid()));
    long code = -1;
    EXPECT_EQ(WaitProcess(child.get(), true, 0, code), kWaitExited);
    EXPECT_EQ(code, 128 + SIGKILL);
    // Reaped: a second request must not signal an id the system may have handed on.
    EXPECT_TRUE(TerminateProcess(child.get()));
}

TEST(TerminateProcessTest, ByIdReapsAChildThatHasAlreadyEnded) {
    zrProcess* process = Spawn("/bin/true", "");
    ASSERT_NE(process, nullptr);
    const int pid = GetProcessPid(process);
    CloseProcess(process);
    ASSERT_TRUE(Eventually([&] {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        return line.find(") Z ") != std::string::npos;
    }));
    EXPECT_TRUE(TerminateProcess(pid));
    EXPECT_FALSE(Exists(pid));
}

TEST(TerminateProcessTest, IdsBelowOneAreIgnored) {
    EXPECT_FALSE(TerminateProcess(0));
    EXPECT_FALSE(TerminateProcess(-1));
    EXPECT_FALSE(TerminateProcess(static_cast<zrProcess*>(nullptr)));
}

struct TreeDeleter {
    void operator()(_procs_tree* tree) const { DestroyProcTree(tree); }
};
typedef std::unique_ptr<_procs_tree, TreeDeleter> Tree;

std::vector<const _procs_tree*> ChildrenOf(const _procs_tree* node) {
    std::vector<const _procs_tree*> children;
    for (_procs_tree** child = node->children; *child != nullptr; ++child)
        children.push_back(*child);
    return children;
}

void CollectPids(const _procs_tree* node, std::vector<int>& pids) {
    pids.push_back(node->pid);
    for (const _procs_tree* child : ChildrenOf(node))
        CollectPids(child, pids);
}

// A shell with two sleeping children, ready once both have become "sleep".
class ShellWithChildren {
public:
    ShellWithChildren() : pipes_(CreatePipes(true)) {
        if (!pipes_) return;
        child_.reset(new Child(
            Spawn("/bin/sh", "-c \"sleep 30 & sleep 31 & echo ready; wait\"", pipes_.get())));
        std::string received;
        if (child_->get() == nullptr || !ReadUntil(pipes_->stdOutRead, "ready", received)) return;
        ready_ = Eventually([&] {
            zrProcsSnapshot list;
            CreateProcsSnapshot(&list, child_->pid());
            return list.size() == 2 && list.front().name == "sleep" && list.back().name == "sleep";
        });
    }
    bool ready() const { return ready_; }
    int pid() const { return child_->pid(); }
    zrProcess* process() const { return child_->get(); }

private:
    Pipes pipes_;
    std::unique_ptr<Child> child_;
    bool ready_ = false;
};

TEST(ProcTreeTest, TreeHoldsTheChildrenAndTerminatesDepthFirst) {
    Subreaper reaper;
    ShellWithChildren shell;
    ASSERT_TRUE(shell.ready());

    _procs_tree* raw = nullptr;
    ASSERT_TRUE(CreateProcTreeSnapshot(shell.pid(), &raw));
    Tree tree(raw);
    EXPECT_EQ(tree->name, "sh");
    EXPECT_EQ(tree->pid, shell.pid());
    const std::vector<const _procs_tree*> children = ChildrenOf(tree.get());
    ASSERT_EQ(children.size(), 2u);
    for (const _procs_tree* child : children) {
        EXPECT_EQ(child->name, "sleep");
        EXPECT_EQ(GetParentPid(child->pid), shell.pid());
        EXPECT_EQ(child->children[0], nullptr);
    }
    EXPECT_LT(children[0]->pid, children[1]->pid);
    // The shell is a child of ours; its children are found by name ignoring case.
    EXPECT_EQ(GetChildOfProcess(getpid(), "SH"), shell.pid());
    EXPECT_EQ(GetChildOfProcess(shell.pid(), "SLEEP"), children[0]->pid);
    EXPECT_EQ(GetChildOfProcess(getpid(), "Sleep"), children[0]->pid);
    EXPECT_EQ(GetChildOfProcess(shell.pid(), "sleepy"), 0);

    std::vector<int> pids;
    CollectPids(tree.get(), pids);
    TerminateProcTree(tree.get());
    for (int pid : pids)
        reaper.Reap(pid);
    for (int pid : pids)
        EXPECT_FALSE(Exists(pid)) << pid;
}

TEST(ProcTreeTest, TreesStopTwentyLevelsBelowTheRoot) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string script = dir.path() + "/chain";
    // Each level starts the next and stays; the deepest says so and sleeps.
    std::ofstream(script) << "#!/bin/sh\n"
                             "if [ \"$1\" -gt 0 ]; then \"$0\" $(($1 - 1)) & wait;\n"
                             "else echo deepest; exec sleep 30; fi\n";
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);

    Subreaper reaper;
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    Child root(Spawn(script.c_str(), "24", pipes.get()));
    ASSERT_NE(root.get(), nullptr);
    std::string received;
    ASSERT_TRUE(ReadUntil(pipes->stdOutRead, "deepest", received));

    // Every level, found from the full table, so that none is left behind.
    std::vector<int> chain = {root.pid()};
    zrProcsSnapshot all;
    ASSERT_TRUE(CreateProcsSnapshot(&all, -1));
    for (bool grew = true; grew;) {
        grew = false;
        for (const zrProcInfo& info : all)
            if (info.ppid == chain.back()) {
                chain.push_back(info.pid);
                grew = true;
                break;
            }
    }
    EXPECT_EQ(chain.size(), 25u);

    _procs_tree* raw = nullptr;
    ASSERT_TRUE(CreateProcTreeSnapshot(root.pid(), &raw));
    Tree tree(raw);
    int depth = 0;
    for (const _procs_tree* node = tree.get(); node->children[0] != nullptr;
         node = node->children[0]) {
        ++depth;
        EXPECT_EQ(node->children[0]->pid, chain[static_cast<size_t>(depth)]);
    }
    EXPECT_EQ(depth, 20);

    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        TerminateProcess(*it);
    for (int pid : chain)
        reaper.Reap(pid);
    for (int pid : chain)
        EXPECT_FALSE(Exists(pid)) << pid;
}

TEST(ProcTreeTest, NoTreeForZeroOrAMissingProcess) {
    _procs_tree* tree = reinterpret_cast<_procs_tree*>(1);
    EXPECT_FALSE(CreateProcTreeSnapshot(0, &tree));
    EXPECT_EQ(tree, nullptr);
    tree = reinterpret_cast<_procs_tree*>(1);
    EXPECT_FALSE(CreateProcTreeSnapshot(INT32_MAX, &tree));
    EXPECT_EQ(tree, nullptr);
    EXPECT_FALSE(CreateProcTreeSnapshot(1, nullptr));
    DestroyProcTree(nullptr);
    TerminateProcTree(nullptr);
}

// ---- Snapshots ----

TEST(ProcsSnapshotTest, ListsChildrenOfAParentOrEveryProcess) {
    Child child(Spawn("/bin/sleep", "30"));
    ASSERT_NE(child.get(), nullptr);
    zrProcsSnapshot list;
    list.push_back({"stale", 99, 98});
    ASSERT_TRUE(Eventually([&] {
        return CreateProcsSnapshot(&list, getpid()) &&
               std::any_of(list.begin(), list.end(), [&](const zrProcInfo& info) {
                   return info.pid == child.pid() && info.name == "sleep";
               });
    }));
    for (const zrProcInfo& info : list)
        EXPECT_EQ(info.ppid, getpid());

    ASSERT_TRUE(CreateProcsSnapshot(&list, -1));
    const auto self = std::find_if(list.begin(), list.end(),
                                   [](const zrProcInfo& info) { return info.pid == getpid(); });
    ASSERT_NE(self, list.end());
    EXPECT_EQ(self->ppid, getppid());
    EXPECT_TRUE(
        std::is_sorted(list.begin(), list.end(),
                       [](const zrProcInfo& a, const zrProcInfo& b) { return a.pid < b.pid; }));
    EXPECT_EQ(GetParentPid(child.pid()), getpid());
    EXPECT_EQ(GetParentPid(INT32_MAX), 0);
    EXPECT_EQ(GetParentPid(0), 0);
    DeleteProcsSnapshot(&list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(CreateProcsSnapshot(nullptr, -1));
}

struct StatCase {
    const char* line;
    bool ok;
    int pid;
    const char* name;
    int ppid;
};

TEST(ProcStatLineTest, ParsesTheNameToTheLastParenthesis) {
    const std::vector<StatCase> cases = {
        {"1234 (bash) S 1 1234 1234 0 -1\n", true, 1234, "bash", 1},
        {"77 (a) b (c)) R 5 77 0", true, 77, "a) b (c)", 5},
        {"8 () Z 7", true, 8, "", 7},
        {"9 (x) S 0\n", true, 9, "x", 0},
        {"", false, 0, "", 0},
        {"12 bash S 1", false, 0, "", 0},
        {"x (bash) S 1", false, 0, "", 0},
        {"12 (bash) S", false, 0, "", 0},
        {"12 (bash) S x", false, 0, "", 0},
        {"12 (bash)S 1", false, 0, "", 0},
        {"99999999999 (big) S 1", false, 0, "", 0},
        {"12 (bash) S 99999999999", false, 0, "", 0},
        {") 12 (", false, 0, "", 0},
    };
    for (const StatCase& c : cases) {
        SCOPED_TRACE(c.line);
        ZRFramework::ZRPlatform::ProcessEntry entry{-5, -5, "untouched"};
        ASSERT_EQ(ZRFramework::ZRPlatform::ParseProcStatLine(c.line, entry), c.ok);
        if (c.ok) {
            EXPECT_EQ(entry.pid, c.pid);
            EXPECT_EQ(entry.name, c.name);
            EXPECT_EQ(entry.ppid, c.ppid);
        } else {
            EXPECT_EQ(entry.name, "untouched");
        }
    }
}

// ---- Priorities ----

int NiceOf(int pid) {
    errno = 0;
    return getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
}

TEST(PriorityTest, LevelsSetTheirNiceValuesAndReadBack) {
    Child child(Spawn("/bin/sleep", "30"));
    ASSERT_NE(child.get(), nullptr);
    const bool raising = setpriority(PRIO_PROCESS, static_cast<id_t>(child.pid()), -1) == 0;
    struct Level {
        int level;
        int nice;
        int readBack;
    };
    for (const Level& l :
         std::vector<Level>{{1, 15, 1}, {2, 0, 2}, {3, -5, 3}, {4, -15, 4}, {0, 0, 2}, {9, 0, 2}}) {
        SCOPED_TRACE(l.level);
        if (l.nice < 0 && !raising) continue;
        ASSERT_TRUE(SetProcessPriority(child.pid(), l.level));
        EXPECT_EQ(NiceOf(child.pid()), l.nice);
        EXPECT_EQ(GetProcessPriority(child.pid()), l.readBack);
    }
}

TEST(PriorityTest, NiceValuesMapToLevels) {
    Child child(Spawn("/bin/sleep", "30"));
    ASSERT_NE(child.get(), nullptr);
    const std::vector<std::pair<int, int>> cases = {{19, 1}, {1, 1},   {0, 2},   {-4, 2},
                                                    {-5, 3}, {-14, 3}, {-15, 4}, {-20, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(child.pid()), c.first) != 0) {
            EXPECT_LT(c.first, 0);  // lowering the nice value needs privilege
            continue;
        }
        EXPECT_EQ(GetProcessPriority(child.pid()), c.second);
    }
}

TEST(PriorityTest, MissingProcessHasNoLevel) {
    EXPECT_EQ(GetProcessPriority(INT32_MAX), 0);
    EXPECT_FALSE(SetProcessPriority(INT32_MAX, 2));
}

TEST(PriorityTest, EveryThreadOfTheProcessIsSet) {
    if (geteuid() != 0) GTEST_SKIP() << "lowering a nice value needs root";
    if (NiceOf(getpid()) != 0) GTEST_SKIP() << "the test process runs with a nice value";
    std::atomic<int> workerId{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::thread worker([&] {
        workerId = static_cast<int>(gettid());
        released.wait();
    });
    ASSERT_TRUE(Eventually([&] { return workerId != 0; }));
    // Here a nice value belongs to one thread: give the worker its own.
    const bool separate = setpriority(PRIO_PROCESS, static_cast<id_t>(workerId.load()), 5) == 0 &&
                          NiceOf(workerId) == 5 && NiceOf(getpid()) == 0;
    const bool set = separate && SetProcessPriority(getpid(), 2);
    const int workerNice = NiceOf(workerId);
    release.set_value();
    worker.join();
    ASSERT_TRUE(separate);
    EXPECT_TRUE(set);
    EXPECT_EQ(workerNice, 0);
    EXPECT_EQ(NiceOf(getpid()), 0);
}

TEST(PriorityTest, TreePriorityReachesEveryNode) {
    Subreaper reaper;
    ShellWithChildren shell;
    ASSERT_TRUE(shell.ready());
    _procs_tree* raw = nullptr;
    ASSERT_TRUE(CreateProcTreeSnapshot(shell.pid(), &raw));
    Tree tree(raw);
    SetProcTreePriority(tree.get(), 1);
    std::vector<int> pids;
    CollectPids(tree.get(), pids);
    ASSERT_EQ(pids.size(), 3u);
    for (int pid : pids)
        EXPECT_EQ(GetProcessPriority(pid), 1) << pid;
    TerminateProcTree(tree.get());
    for (int pid : pids)
        reaper.Reap(pid);
}

// ---- Pipes ----

TEST(PipeTest, EndsAreCloseOnExecAndReadsNeverBlock) {
    Pipes pipes(CreatePipes(false));
    ASSERT_TRUE(pipes);
    for (int fd : {pipes->stdOutRead, pipes->stdInWrite, pipes->stdErrRead, pipes->childStdIn,
                   pipes->childStdOut, pipes->childStdErr}) {
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    }
    char buffer[16];
    const auto start = Clock::now();
    EXPECT_EQ(ReadPipe(pipes->stdOutRead, buffer, sizeof buffer), 0);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(WritePipe(pipes->childStdOut, "abc", 3), 3);
    EXPECT_EQ(ReadPipe(pipes->stdOutRead, buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(ReadPipe(-1, buffer, sizeof buffer), -1);
}

TEST(PipeTest, WritingToAGoneReaderFailsWithoutSignal) {
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    ClosePipeHandle(pipes->childStdIn);
    pipes->childStdIn = -1;
    EXPECT_EQ(WritePipe(pipes->stdInWrite, "lost", 4), -1);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(PipeTest, LargeWritesArriveWhole) {
    Pipes pipes(CreatePipes(false));
    ASSERT_TRUE(pipes);
    Child child(Spawn("/bin/cat", "", pipes.get()));
    ASSERT_NE(child.get(), nullptr);
    std::string data(1 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 4096);
    int written = -1;
    std::thread writer([&] {
        written = WritePipe(pipes->stdInWrite, data.data(), static_cast<int>(data.size()));
        ClosePipeHandle(pipes->stdInWrite);
    });
    const std::string echoed = ReadToEnd(pipes->stdOutRead);
    writer.join();
    pipes->stdInWrite = -1;
    EXPECT_EQ(written, static_cast<int>(data.size()));
    EXPECT_TRUE(echoed == data);
}

// ---- Impersonation, always inside a forked child that reports and exits ----

// Runs `body` in a child; its text comes back through a pipe.
std::string InChild(const std::function<std::string()>& body) {
    int report[2];
    if (pipe(report) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        close(report[0]);
        const std::string text = body();
        (void)!write(report[1], text.data(), text.size());
        _exit(0);
    }
    close(report[1]);
    const std::string text = ReadToEnd(report[0]);
    close(report[0]);
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return text;
}

std::string Ids() {
    uid_t ru, eu, su;
    gid_t rg, eg, sg;
    getresuid(&ru, &eu, &su);
    getresgid(&rg, &eg, &sg);
    return std::to_string(ru) + "," + std::to_string(eu) + "," + std::to_string(su) + "/" +
           std::to_string(rg) + "," + std::to_string(eg) + "," + std::to_string(sg);
}

class ImpersonationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "switching users needs root";
        const passwd* entry = getpwnam("nobody");
        if (entry == nullptr) GTEST_SKIP() << "no user nobody";
        uid = std::to_string(entry->pw_uid);
        gid = std::to_string(entry->pw_gid);
    }
    std::string uid;
    std::string gid;
};

TEST_F(ImpersonationTest, PermanentChangesEveryIdAndTheGroups) {
    const std::string report = InChild([] {
        if (!ImpersonateUser("nobody", "ignored", true)) return std::string("refused");
        std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
        groups.resize(static_cast<size_t>(
            std::max(getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
        const bool rootGroup = std::find(groups.begin(), groups.end(), 0u) != groups.end();
        return Ids() + (rootGroup ? " with root group" : "") +
               (RevertUserImpersonation() && geteuid() != 0 ? " stays" : " reverted");
    });
    EXPECT_EQ(report, uid + "," + uid + "," + uid + "/" + gid + "," + gid + "," + gid + " stays");
}

TEST_F(ImpersonationTest, TemporaryChangesTheEffectiveIdsUntilReverted) {
    const std::string report = InChild([] {
        if (!ImpersonateUser("nobody", nullptr, false)) return std::string("refused");
        const std::string during = Ids();
        if (!RevertUserImpersonation()) return during + " not reverted";
        return during + " then " + Ids();
    });
    EXPECT_EQ(report, "0," + uid + ",0/0," + gid + ",0 then 0,0,0/0,0,0");
}

TEST_F(ImpersonationTest, UnknownUserChangesNothing) {
    const std::string report = InChild([] {
        const std::string before = Ids();
        const bool done = ImpersonateUser("zr-no-such-user", nullptr, true) ||
                          ImpersonateUser(nullptr, nullptr, false) ||
                          ImpersonateUser("", nullptr, false);
        return std::string(done ? "done" : "refused") + (Ids() == before ? " same" : " changed");
    });
    EXPECT_EQ(report, "refused same");
}

}  // namespace
