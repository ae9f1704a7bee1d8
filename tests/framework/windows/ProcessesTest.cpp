// Tests of processes on Windows: CreateProcess with pipes, environment blocks and a working
// folder, waiting, killing, snapshots, trees and priority classes, on a small child program.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "TestFolders.h"
#include "ZRProcesses.h"
#include "ZRRuntime.h"

using namespace ZRFramework::ZRProcesses;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

struct PipesDeleter {
    void operator()(zrPipeHandles* pipes) const { DeletePipes(pipes, true); }
};
typedef std::unique_ptr<zrPipeHandles, PipesDeleter> Pipes;

struct EnvironmentDeleter {
    void operator()(zrEnvironment* environment) const { DestroyEnvironment(environment); }
};
typedef std::unique_ptr<zrEnvironment, EnvironmentDeleter> Environment;

// Owns a started child: a test that fails half-way still leaves nothing running.
class Child {
public:
    explicit Child(zrProcess* process) : process_(process) {}
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

// The child program is built beside the test program.
std::string ChildPath() {
    return ZRFramework::GetBundlePath() + "\\zr_test_child.exe";
}

zrProcess* Spawn(const char* arguments, zrPipeHandles* pipes = nullptr,
                 zrEnvironment* environment = nullptr, const char* folder = nullptr) {
    int code = -1;
    std::string text = "unset";
    zrProcess* process = SpawnProcess(ChildPath().c_str(), arguments, folder, pipes, environment,
                                      code, text, nullptr, "");
    if (process == nullptr)
        ADD_FAILURE() << "spawn failed: " << code << " " << text;
    else
        EXPECT_EQ(text, "");
    return process;
}

// What a child that has ended left in the pipe; ReadPipe never blocks, and gives 0 both for an
// empty pipe and for one whose writers are gone.
std::string ReadLeft(int fd) {
    std::string text;
    char buffer[4096];
    for (int n; (n = ReadPipe(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

long ExitOf(zrProcess* process) {
    long code = -1;
    EXPECT_EQ(WaitProcess(process, true, 0, code), kWaitExited);
    return code;
}

TEST(SpawnProcessWindowsTest, PipesCarryInputOutputAndErrors) {
    Pipes pipes(CreatePipes(false));
    ASSERT_TRUE(pipes);
    Child child(Spawn("cat err:oops exit:3", pipes.get()));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(pipes->childStdIn, -1);
    EXPECT_EQ(pipes->childStdOut, -1);
    EXPECT_EQ(pipes->childStdErr, -1);
    EXPECT_EQ(WritePipe(pipes->stdInWrite, "hello\nworld", 11), 11);
    ClosePipeHandle(pipes->stdInWrite);
    pipes->stdInWrite = -1;
    EXPECT_EQ(ExitOf(child.get()), 3);
    EXPECT_EQ(ReadLeft(pipes->stdOutRead), "hello\nworld");
    EXPECT_EQ(ReadLeft(pipes->stdErrRead), "oops\n");
}

TEST(SpawnProcessWindowsTest, MergedErrorsAndQuotedArguments) {
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    EXPECT_EQ(pipes->stdErrRead, -1);
    Child child(Spawn("out:a err:b \"args\" \"two words\"", pipes.get()));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ExitOf(child.get()), 0);
    EXPECT_EQ(ReadLeft(pipes->stdOutRead), "a\nb\n4[out:a][err:b][args][two words]\n");
}

TEST(SpawnProcessWindowsTest, EnvironmentBlockAndWorkingFolder) {
    zdTest::TempFolder folder("zrproc-");
    ASSERT_TRUE(folder.ok());
    Environment environment(CreateEnvironment(false));
    SetEnvironmentValue(environment.get(), "ZR_B", "two words");
    SetEnvironmentValue(environment.get(), "ZR_A", "x=1");
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    Child child(Spawn("env:ZR_A env:ZR_B env:ZR_PROC_INHERITED cwd", pipes.get(), environment.get(),
                      folder.path().c_str()));
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ExitOf(child.get()), 0);
    const std::string canonical = std::filesystem::canonical(folder.path()).string();
    EXPECT_EQ(ReadLeft(pipes->stdOutRead), "x=1\ntwo words\n<unset>\n" + canonical + "\n");
}

TEST(SpawnProcessWindowsTest, WithoutEnvironmentTheChildInheritsOurs) {
    ASSERT_TRUE(zdTest::SetEnv("ZR_PROC_INHERITED", "yes"));
    Pipes pipes(CreatePipes(true));
    ASSERT_TRUE(pipes);
    Child child(Spawn("env:ZR_PROC_INHERITED", pipes.get()));
    zdTest::UnsetEnv("ZR_PROC_INHERITED");
    ASSERT_NE(child.get(), nullptr);
    EXPECT_EQ(ExitOf(child.get()), 0);
    EXPECT_EQ(ReadLeft(pipes->stdOutRead), "yes\n");
}

TEST(SpawnProcessWindowsTest, FailedStartsReportTheSystemError) {
    int code = 0;
    std::string text;
    Child missing(SpawnProcess("C:\\zr-no-such-program.exe", "", nullptr, nullptr, nullptr, code,
                               text, nullptr, ""));
    EXPECT_EQ(missing.get(), nullptr);
    EXPECT_EQ(code, 2);  // ERROR_FILE_NOT_FOUND
    EXPECT_FALSE(text.empty());
}

TEST(WaitProcessWindowsTest, TimeOutsExitsAndKills) {
    Child sleeper(Spawn("sleep:30"));
    ASSERT_NE(sleeper.get(), nullptr);
    long code = -1;
    EXPECT_EQ(WaitProcess(sleeper.get(), false, 0, code), kWaitRunning);
    const auto start = Clock::now();
    EXPECT_EQ(WaitProcess(sleeper.get(), false, 1, code), kWaitTimeout);
    EXPECT_GE(Clock::now() - start, 900ms);
    EXPECT_EQ(code, -1);

    EXPECT_EQ(GetProcessPriority(sleeper.pid()), 2);
    for (int level : {1, 3, 4, 2}) {
        ASSERT_TRUE(SetProcessPriority(sleeper.pid(), level));
        EXPECT_EQ(GetProcessPriority(sleeper.pid()), level);
    }

    EXPECT_TRUE(TerminateProcess(sleeper.get()));
    EXPECT_EQ(WaitProcess(sleeper.get(), false, 0, code), kWaitExited);
    EXPECT_EQ(code, 137);  // a killed child never reads as a success
    EXPECT_TRUE(TerminateProcess(sleeper.get()));

    Child quick(Spawn("exit:7"));
    ASSERT_NE(quick.get(), nullptr);
    EXPECT_EQ(WaitProcess(quick.get(), false, 30, code), kWaitExited);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(WaitProcess(nullptr, true, 0, code), kWaitError);
    EXPECT_FALSE(TerminateProcess(0));
    EXPECT_EQ(GetProcessPriority(0x7ffffff0), 0);
}

TEST(ProcsSnapshotWindowsTest, ChildrenTreesAndKillingByTree) {
    Child child(Spawn("sleep:30"));
    ASSERT_NE(child.get(), nullptr);
    const int self = GetCurrentProcessPid();
    zrProcsSnapshot list;
    list.push_back({"stale", 99, 98});
    ASSERT_TRUE(CreateProcsSnapshot(&list, self));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.front().pid, child.pid());
    EXPECT_EQ(list.front().ppid, self);
    EXPECT_EQ(GetParentPid(child.pid()), self);
    EXPECT_EQ(GetChildOfProcess(self, list.front().name.c_str()), child.pid());

    _procs_tree* tree = nullptr;
    ASSERT_TRUE(CreateProcTreeSnapshot(self, &tree));
    ASSERT_NE(tree->children[0], nullptr);
    EXPECT_EQ(tree->children[0]->pid, child.pid());
    EXPECT_EQ(tree->children[1], nullptr);
    TerminateProcTree(tree->children[0]);
    DestroyProcTree(tree);
    long code = -1;
    EXPECT_EQ(WaitProcess(child.get(), true, 0, code), kWaitExited);
    EXPECT_NE(code, 0);
}

TEST(PipeWindowsTest, ReadsNeverBlockAndLargeWritesArriveWhole) {
    Pipes pipes(CreatePipes(false));
    ASSERT_TRUE(pipes);
    char byte;
    EXPECT_EQ(ReadPipe(pipes->stdOutRead, &byte, 1), 0);  // empty, and no wait
    const std::string big(1 << 20, 'z');
    std::thread writer([&] {
        EXPECT_EQ(WritePipe(pipes->childStdOut, big.data(), static_cast<int>(big.size())),
                  static_cast<int>(big.size()));
        ClosePipeHandle(pipes->childStdOut);
        pipes->childStdOut = -1;
    });
    std::string got;
    const auto end = Clock::now() + 10s;
    while (got.size() < big.size() && Clock::now() < end) {
        char buffer[65536];
        const int n = ReadPipe(pipes->stdOutRead, buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    writer.join();
    EXPECT_EQ(got.size(), big.size());
    EXPECT_EQ(ReadPipe(-1, &byte, 1), -1);
    EXPECT_EQ(WritePipe(-1, "x", 1), -1);
}

}  // namespace
