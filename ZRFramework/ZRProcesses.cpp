// Processes, pipes and environments: command-line splitting, spawning and waiting, process trees
// from the process table, priorities, environment blocks, impersonation and host actions.
#include "ZRProcesses.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "ZRLogger.h"
#include "ZRRuntime.h"
#include "platform/ProcessTable.h"

extern char** environ;

namespace ZRFramework {
namespace ZRProcesses {

namespace {

const char kSourcePath[] = "./ZRFramework/ZRProcesses";
// What the parent reads of the child's report of a failed start.
constexpr size_t kMaxStatusText = 100;
// Process trees are cut below this depth.
constexpr int kMaxTreeDepth = 20;
constexpr size_t kWolPacketSize = 102;

// ---- Small RAII holders ----

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

struct ArgvDeleter {
    void operator()(char** argv) const { zr_free_argv_array(argv); }
};
typedef std::unique_ptr<char*, ArgvDeleter> ArgvArray;

void CloseIfOpen(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

std::string ErrorText(int code) {
    char buffer[256];
    // The GNU form returns the text, which may or may not be the buffer.
    return strerror_r(code, buffer, sizeof buffer);
}

pid_t WaitPid(pid_t pid, int* status, int options) {
    pid_t result;
    do {
        result = waitpid(pid, status, options);
    } while (result < 0 && errno == EINTR);
    return result;
}

// A child ended by a signal would otherwise read as a clean exit with 0.
long ExitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return status >> 8;
}

void MarkReaped(zrProcess* process, int status) {
    process->reaped = true;
    process->exitCode = ExitCodeOf(status);
}

// ---- Command-line splitting ----

std::vector<std::string> SplitCommandLine(const char* text) {
    std::vector<std::string> arguments;
    std::string current;
    bool inQuotes = false;
    bool inToken = false;
    for (const char* p = text; *p != '\0'; ++p) {
        const char c = *p;
        if (!inQuotes && c == ' ' && p[1] == ' ') continue;
        if (c == '\\' && p[1] == '"') {
            current += '"';
            ++p;
            continue;
        }
        if (c == '"') {
            if (!inQuotes) {
                inQuotes = true;
                continue;
            }
            arguments.push_back(current);
            current.clear();
            inQuotes = inToken = false;
            continue;
        }
        if (!inQuotes && (c == ' ' || c == '\t')) {
            if (inToken) {
                arguments.push_back(current);
                current.clear();
                inToken = false;
            }
            continue;
        }
        if (!inQuotes) inToken = true;
        current += c;
    }
    if (inToken) arguments.push_back(current);
    return arguments;
}

char* CopyString(const std::string& text) {
    char* copy = new (std::nothrow) char[text.size() + 1];
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// ---- Users ----

struct UserIdentity {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string home;
    std::string shell;
};

bool LookupUser(const char* user, UserIdentity& identity) {
    if (user == nullptr || *user == '\0') return false;
    long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
    passwd entry;
    passwd* found = nullptr;
    for (;;) {
        const int rc = getpwnam_r(user, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr) return false;
        break;
    }
    identity.name = entry.pw_name;
    identity.uid = entry.pw_uid;
    identity.gid = entry.pw_gid;
    identity.home = entry.pw_dir != nullptr ? entry.pw_dir : "";
    identity.shell = entry.pw_shell != nullptr ? entry.pw_shell : "";
    int count = 16;
    identity.groups.assign(static_cast<size_t>(count), 0);
    while (getgrouplist(identity.name.c_str(), identity.gid, identity.groups.data(), &count) < 0) {
        if (count <= static_cast<int>(identity.groups.size()) || count > 65536) {
            // The list cannot be had: keep only the primary group.
            identity.groups.assign(1, identity.gid);
            return true;
        }
        identity.groups.assign(static_cast<size_t>(count), 0);
    }
    identity.groups.resize(static_cast<size_t>(count));
    return true;
}

// Makes no allocation, so that it can run between fork and exec.
bool SwitchIdentity(const UserIdentity& identity, bool permanent) {
    if (permanent) {
        // Supplementary groups go too, or the process would keep those of its old user.
        if (setgroups(identity.groups.size(), identity.groups.data()) != 0) return false;
        if (setresgid(identity.gid, identity.gid, identity.gid) != 0) return false;
        return setresuid(identity.uid, identity.uid, identity.uid) == 0;
    }
    if (setegid(identity.gid) != 0) return false;
    return seteuid(identity.uid) == 0;
}

// ---- Spawning ----

// Async-signal-safe: what a child may do before exec.
void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

[[noreturn]] void ReportErrnoAndExit(int statusFd, int error) {
    char digits[24];
    size_t length = 0;
    unsigned value = error < 0 ? 0u : static_cast<unsigned>(error);
    do {
        digits[length++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && length < sizeof digits);
    char text[24];
    for (size_t i = 0; i < length; ++i)
        text[i] = digits[length - 1 - i];
    WriteAll(statusFd, text, length);
    _exit(1);
}

// Moves a descriptor above the standard ones, so that the dup2 calls below never overwrite a
// pipe end that happens to sit at 0, 1 or 2.
int Lift(int fd) {
    return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

struct ChildPlan {
    char** argv;
    char** envp;  // null: inherit
    const char* path;
    const char* folder;
    const zrPipeHandles* pipes;
    const UserIdentity* user;        // null: no switch
    const std::string* userFailure;  // set when the user must be switched
    int statusFd;
};

[[noreturn]] void RunChild(ChildPlan plan) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (plan.statusFd <= STDERR_FILENO) plan.statusFd = Lift(plan.statusFd);

    if (plan.pipes != nullptr) {
        const zrPipeHandles& p = *plan.pipes;
        const int in = Lift(p.childStdIn);
        const int out = Lift(p.childStdOut);
        const int err = p.mergeStdErr ? out : Lift(p.childStdErr);
        if (in < 0 || out < 0 || err < 0) _exit(1);
        if (dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
            dup2(err, STDERR_FILENO) < 0)
            _exit(1);
        const int ends[] = {p.childStdIn, p.childStdOut, p.childStdErr,
                            p.stdOutRead, p.stdInWrite,  p.stdErrRead,
                            in,           out,           err};
        for (int fd : ends)
            if (fd > STDERR_FILENO) close(fd);
    }

    if (plan.userFailure != nullptr) {
        if (plan.user == nullptr || !SwitchIdentity(*plan.user, true)) {
            WriteAll(plan.statusFd, plan.userFailure->data(), plan.userFailure->size());
            _exit(1);
        }
    }
    if (plan.folder != nullptr && *plan.folder != '\0' && chdir(plan.folder) != 0)
        ReportErrnoAndExit(plan.statusFd, errno);

    if (plan.envp != nullptr)
        execve(plan.path, plan.argv, plan.envp);
    else
        execv(plan.path, plan.argv);
    ReportErrnoAndExit(plan.statusFd, errno);
}

void SetError(int& errorCode, std::string& errorText, int code) {
    errorCode = code;
    errorText = ErrorText(code);
}

// ---- Process trees ----

typedef std::map<int, std::vector<const ZRPlatform::ProcessEntry*>> ChildrenIndex;

ChildrenIndex IndexChildren(const std::vector<ZRPlatform::ProcessEntry>& table) {
    ChildrenIndex index;
    for (const ZRPlatform::ProcessEntry& entry : table)
        index[entry.ppid].push_back(&entry);
    return index;
}

_procs_tree* MakeProcTreeNode(const ZRPlatform::ProcessEntry& entry, const ChildrenIndex& index,
                              int depth) {
    _procs_tree* node = new _procs_tree{entry.name, entry.pid, nullptr};
    std::vector<const ZRPlatform::ProcessEntry*> children;
    const auto found = index.find(entry.pid);
    if (found != index.end() && depth < kMaxTreeDepth) children = found->second;
    node->children = new _procs_tree*[children.size() + 1];
    for (size_t i = 0; i < children.size(); ++i)
        node->children[i] = MakeProcTreeNode(*children[i], index, depth + 1);
    node->children[children.size()] = nullptr;
    return node;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    const size_t length = std::strlen(b);
    if (a.size() != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

int NiceForLevel(int level) {
    switch (level) {
        case 4:
            return -15;
        case 3:
            return -5;
        case 1:
            return 15;
        default:
            return 0;
    }
}

// ---- Host actions ----

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int RunWithSystem(const char* command) {
    return std::system(command);
}

std::atomic<zrSystemCommandRunner> commandRunner{&RunWithSystem};

}  // namespace

// ---- Command lines ----

char** zr_create_argv_array(const char* commandLine) {
    if (commandLine == nullptr) return nullptr;
    const std::vector<std::string> arguments = SplitCommandLine(commandLine);
    char** argv = new (std::nothrow) char*[arguments.size() + 1]();
    if (argv == nullptr) return nullptr;
    for (size_t i = 0; i < arguments.size(); ++i) {
        argv[i] = CopyString(arguments[i]);
        if (argv[i] == nullptr) {
            zr_free_argv_array(argv);
            return nullptr;
        }
    }
    return argv;
}

void zr_free_argv_array(char** argv) {
    if (argv == nullptr) return;
    for (char** p = argv; *p != nullptr; ++p)
        delete[] * p;
    delete[] argv;
}

// ---- Processes ----

zrProcess* SpawnProcess(const char* path, const char* arguments, const char* folder,
                        zrPipeHandles* pipes, zrEnvironment* environment, int& errorCode,
                        std::string& errorText, const char* user, const char* password) {
    (void)password;
    errorCode = 0;
    errorText.clear();
    const std::string executable = path != nullptr ? path : "";
    if (pipes != nullptr && (pipes->childStdIn < 0 || pipes->childStdOut < 0 ||
                             (!pipes->mergeStdErr && pipes->childStdErr < 0))) {
        SetError(errorCode, errorText, EBADF);
        return nullptr;
    }

    const bool quoted = executable.find(' ') != std::string::npos;
    const std::string commandLine = (quoted ? "\"" + executable + "\"" : executable) + " " +
                                    (arguments != nullptr ? arguments : "");
    ArgvArray argv(zr_create_argv_array(commandLine.c_str()));
    if (!argv) {
        SetError(errorCode, errorText, ENOMEM);
        return nullptr;
    }

    std::vector<std::string> envStrings;
    std::vector<char*> envp;
    if (environment != nullptr) {
        for (const auto& variable : environment->variables)
            envStrings.push_back(variable.first + "=" + variable.second);
        for (std::string& entry : envStrings)
            envp.push_back(&entry[0]);
        envp.push_back(nullptr);
    }

    // The user is looked up here: the name service is not safe to call in a forked child.
    const bool switchUser = user != nullptr && *user != '\0';
    UserIdentity identity;
    const bool userKnown = switchUser && LookupUser(user, identity);
    const std::string userFailure =
        switchUser ? "Unable to impersonate user " + std::string(user) : "";

    int statusPipe[2];
    if (pipe2(statusPipe, O_CLOEXEC) != 0) {
        const int error = errno;
        ZRLogger::AddLogEntry(GetDefaultLogger(), 1, "ZRFramework",
                              "[%s:%d]Failure invoking pipe(). Error code: %d\n", kSourcePath,
                              __LINE__, error);
        SetError(errorCode, errorText, error);
        return nullptr;
    }
    Descriptor statusRead(statusPipe[0]);
    Descriptor statusWrite(statusPipe[1]);

    ChildPlan plan;
    plan.argv = argv.get();
    plan.envp = environment != nullptr ? envp.data() : nullptr;
    plan.path = executable.c_str();
    plan.folder = folder;
    plan.pipes = pipes;
    plan.user = userKnown ? &identity : nullptr;
    plan.userFailure = switchUser ? &userFailure : nullptr;
    plan.statusFd = statusWrite.Get();

    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        ZRLogger::AddLogEntry(GetDefaultLogger(), 1, "ZRFramework",
                              "[%s:%d]Failure invoking fork(). Error code: %d\n", kSourcePath,
                              __LINE__, error);
        SetError(errorCode, errorText, error);
        return nullptr;
    }
    if (pid == 0) RunChild(plan);

    if (pipes != nullptr) {
        CloseIfOpen(pipes->childStdIn);
        CloseIfOpen(pipes->childStdOut);
        CloseIfOpen(pipes->childStdErr);
    }
    statusWrite.Reset();

    std::string status;
    char buffer[kMaxStatusText];
    while (status.size() < kMaxStatusText) {
        const ssize_t n = read(statusRead.Get(), buffer, kMaxStatusText - status.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        status.append(buffer, static_cast<size_t>(n));
    }

    if (status.empty()) return new zrProcess{pid, false, 0};

    errorCode = std::atoi(status.c_str());
    errorText = errorCode != 0 ? ErrorText(errorCode) : status;
    int ignored;
    WaitPid(pid, &ignored, 0);
    return nullptr;
}

int WaitProcess(zrProcess* process, bool block, int timeout, long& exitCode) {
    if (process == nullptr) return kWaitError;
    if (process->reaped) {
        exitCode = process->exitCode;
        return kWaitExited;
    }
    int status = 0;
    if (block) {
        if (WaitPid(process->pid, &status, 0) != process->pid) return kWaitError;
    } else {
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const pid_t result = WaitPid(process->pid, &status, WNOHANG);
            if (result < 0) return kWaitError;
            if (result == process->pid) break;
            if (timeout == 0) return kWaitRunning;
            // A steady clock: a change of the system time must not end or stretch the wait.
            if (std::chrono::steady_clock::now() - start >= std::chrono::seconds(timeout))
                return kWaitTimeout;
            MicroSleep(100);
        }
    }
    MarkReaped(process, status);
    exitCode = process->exitCode;
    return kWaitExited;
}

int GetProcessPid(zrProcess* process) {
    return process != nullptr ? process->pid : 0;
}

int GetCurrentProcessPid() {
    return static_cast<int>(getpid());
}

namespace {

// -1 in `status` when the process was not ours to reap.
bool KillAndReap(int pid, int& status) {
    status = -1;
    if (pid < 1) return false;
    int waited = 0;
    const pid_t result = WaitPid(pid, &waited, WNOHANG);
    if (result == pid) {
        status = waited;
        return true;
    }
    if (kill(pid, SIGKILL) != 0) return false;
    if (result == 0 && WaitPid(pid, &waited, 0) == pid) status = waited;
    return true;
}

}  // namespace

bool TerminateProcess(int pid) {
    int status;
    return KillAndReap(pid, status);
}

bool TerminateProcess(zrProcess* process) {
    if (process == nullptr) return false;
    if (process->reaped) return true;
    int status;
    const bool done = KillAndReap(process->pid, status);
    if (status != -1) MarkReaped(process, status);
    return done;
}

void TerminateProcTree(_procs_tree* tree) {
    if (tree == nullptr) return;
    if (tree->children != nullptr)
        for (_procs_tree** child = tree->children; *child != nullptr; ++child)
            TerminateProcTree(*child);
    TerminateProcess(tree->pid);
}

bool CloseProcess(zrProcess* process) {
    delete process;
    return true;
}

// ---- Pipes ----

zrPipeHandles* CreatePipes(bool mergeStdErr) {
    int out[2] = {-1, -1};
    int in[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0 ||
        (!mergeStdErr && pipe2(err, O_CLOEXEC) != 0)) {
        const int error = errno;
        for (int* fd : {&out[0], &out[1], &in[0], &in[1], &err[0], &err[1]})
            CloseIfOpen(*fd);
        ZRLogger::AddLogEntry(GetDefaultLogger(), 1, "ZRFramework",
                              "[%s:%d]Cannot create new pipes. Error code: %d\n", kSourcePath,
                              __LINE__, error);
        return nullptr;
    }
    return new zrPipeHandles{out[0], in[1], err[0], in[0], out[1], err[1], mergeStdErr};
}

void DeletePipes(zrPipeHandles* pipes, bool close) {
    if (pipes == nullptr) return;
    if (close) {
        CloseIfOpen(pipes->childStdIn);
        CloseIfOpen(pipes->childStdOut);
        CloseIfOpen(pipes->stdOutRead);
        CloseIfOpen(pipes->stdInWrite);
        if (!pipes->mergeStdErr) {
            CloseIfOpen(pipes->childStdErr);
            CloseIfOpen(pipes->stdErrRead);
        }
    }
    delete pipes;
}

int ReadPipe(int fd, char* buffer, int size) {
    if (fd < 0 || buffer == nullptr || size <= 0) return -1;
    pollfd waiting = {fd, POLLIN, 0};
    const int ready = poll(&waiting, 1, 0);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    const ssize_t n = read(fd, buffer, static_cast<size_t>(size));
    if (n < 0) return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    return static_cast<int>(n);
}

int WritePipe(int fd, const char* data, int size) {
    if (fd < 0 || data == nullptr || size < 0) return -1;
    // SIGPIPE is held back for this thread while writing; one raised here is taken off again.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);

    int written = 0;
    bool broken = false;
    while (written < size) {
        const ssize_t n = write(fd, data + written, static_cast<size_t>(size - written));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            broken = errno == EPIPE;
            break;
        }
        written += static_cast<int>(n);
    }
    const int error = errno;
    if (broken && !alreadyPending) {
        const timespec now = {0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written > 0 || size == 0 ? written : -1;
}

void ClosePipeHandle(int fd) {
    if (fd >= 0) close(fd);
}

// ---- Priorities ----

int GetProcessPriority(int pid) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
    if (nice == -1 && errno != 0) return 0;
    if (nice < -14) return 4;
    if (nice < -4) return 3;
    if (nice < 1) return 2;
    return 1;
}

bool SetProcessPriority(int pid, int level) {
    const int nice = NiceForLevel(level);
    if (pid == 0) pid = static_cast<int>(getpid());
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice) != 0) return false;
    // Here a nice value belongs to one thread: the process's other threads are set too.
    for (int thread : ZRPlatform::ListThreads(pid))
        if (thread != pid) setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice);
    return true;
}

void SetProcTreePriority(_procs_tree* tree, int level) {
    if (tree == nullptr) return;
    if (tree->children != nullptr)
        for (_procs_tree** child = tree->children; *child != nullptr; ++child)
            SetProcTreePriority(*child, level);
    SetProcessPriority(tree->pid, level);
}

// ---- Snapshots and trees ----

bool CreateProcsSnapshot(zrProcsSnapshot* list, int parent) {
    if (list == nullptr) return false;
    list->clear();
    std::vector<ZRPlatform::ProcessEntry> table;
    if (!ZRPlatform::ReadProcessTable(table)) return false;
    for (const ZRPlatform::ProcessEntry& entry : table)
        if (entry.pid >= 1 && (parent == -1 || entry.ppid == parent))
            list->push_back(zrProcInfo{entry.name, entry.pid, entry.ppid});
    return true;
}

void DeleteProcsSnapshot(zrProcsSnapshot* list) {
    if (list != nullptr) list->clear();
}

int GetParentPid(int pid) {
    ZRPlatform::ProcessEntry entry;
    return ZRPlatform::ReadProcessEntry(pid, entry) ? entry.ppid : 0;
}

bool CreateProcTreeSnapshot(int pid, _procs_tree** tree) {
    if (tree == nullptr) return false;
    *tree = nullptr;
    if (pid < 1) return false;
    std::vector<ZRPlatform::ProcessEntry> table;
    if (!ZRPlatform::ReadProcessTable(table)) return false;
    for (const ZRPlatform::ProcessEntry& entry : table) {
        if (entry.pid != pid) continue;
        *tree = MakeProcTreeNode(entry, IndexChildren(table), 0);
        return true;
    }
    return false;
}

void DestroyProcTree(_procs_tree* tree) {
    if (tree == nullptr) return;
    if (tree->children != nullptr)
        for (_procs_tree** child = tree->children; *child != nullptr; ++child)
            DestroyProcTree(*child);
    delete[] tree->children;
    delete tree;
}

int GetChildOfProcess(int pid, const char* name) {
    if (pid < 1 || name == nullptr) return 0;
    std::vector<ZRPlatform::ProcessEntry> table;
    if (!ZRPlatform::ReadProcessTable(table)) return 0;
    const ChildrenIndex index = IndexChildren(table);
    std::deque<int> generation = {pid};
    std::set<int> seen = {pid};
    while (!generation.empty()) {
        const int parent = generation.front();
        generation.pop_front();
        const auto found = index.find(parent);
        if (found == index.end()) continue;
        for (const ZRPlatform::ProcessEntry* child : found->second) {
            if (!seen.insert(child->pid).second) continue;
            if (EqualsIgnoringCase(child->name, name)) return child->pid;
            generation.push_back(child->pid);
        }
    }
    return 0;
}

// ---- Environments ----

zrEnvironment* CreateEnvironment(bool inherit) {
    zrEnvironment* environment = new zrEnvironment;
    if (inherit && environ != nullptr) {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const char* equals = std::strchr(*entry, '=');
            if (equals == nullptr) continue;
            environment->variables.emplace(
                std::string(*entry, static_cast<size_t>(equals - *entry)), std::string(equals + 1));
        }
    }
    return environment;
}

void DestroyEnvironment(zrEnvironment* environment) {
    delete environment;
}

bool GetEnvironmentValue(zrEnvironment* environment, const std::string& name, std::string& value) {
    if (environment == nullptr) return false;
    const auto found = environment->variables.find(name);
    if (found == environment->variables.end()) return false;
    value = found->second;
    return true;
}

void SetEnvironmentValue(zrEnvironment* environment, const std::string& name,
                         const std::string& value) {
    if (environment != nullptr) environment->variables[name] = value;
}

void UnsetEnvironmentValue(zrEnvironment* environment, const std::string& name) {
    if (environment != nullptr) environment->variables.erase(name);
}

std::string ResolveEnvironmentString(zrEnvironment* environment, const std::string& text) {
    // The text still to scan is kept reversed, so that a value is put in front of it by an
    // append. Everything already moved to `resolved` holds no percent sign, which makes
    // carrying on from a replaced reference the same as starting over from the beginning.
    std::string pending(text.rbegin(), text.rend());
    std::string resolved;
    resolved.reserve(text.size());
    int references = 0;
    while (!pending.empty()) {
        const char c = pending.back();
        pending.pop_back();
        if (c != '%') {
            resolved += c;
            continue;
        }
        const size_t closing = pending.rfind('%');
        if (closing == std::string::npos) break;  // unterminated: dropped with what follows
        const std::string name(
            pending.rbegin(),
            pending.rbegin() + static_cast<std::ptrdiff_t>(pending.size() - closing - 1));
        if (references == kMaxEnvironmentReferences) {
            resolved += '%';
            resolved.append(pending.rbegin(), pending.rend());
            return resolved;
        }
        ++references;
        pending.resize(closing);
        if (name.empty() || environment == nullptr) continue;
        const auto found = environment->variables.find(name);
        if (found != environment->variables.end())
            pending.append(found->second.rbegin(), found->second.rend());
    }
    return resolved;
}

char* GetEnvironmentAnsiString(zrEnvironment* environment) {
    if (environment == nullptr) return nullptr;
    size_t size = 1;
    for (const auto& variable : environment->variables)
        if (!variable.first.empty()) size += variable.first.size() + variable.second.size() + 2;
    char* block = new (std::nothrow) char[size];
    if (block == nullptr) return nullptr;
    char* p = block;
    for (const auto& variable : environment->variables) {
        if (variable.first.empty()) continue;
        std::memcpy(p, variable.first.data(), variable.first.size());
        p += variable.first.size();
        *p++ = '=';
        std::memcpy(p, variable.second.data(), variable.second.size());
        p += variable.second.size();
        *p++ = '\0';
    }
    *p = '\0';
    return block;
}

void FreeEnvironmentAnsiString(char* block) {
    delete[] block;
}

// ---- Users ----

bool ImpersonateUser(const char* user, const char* password, bool permanent) {
    (void)password;
    UserIdentity identity;
    if (!LookupUser(user, identity)) return false;
    uid_t realUser, effectiveUser, savedUser;
    gid_t realGroup, effectiveGroup, savedGroup;
    if (getresuid(&realUser, &effectiveUser, &savedUser) != 0 ||
        getresgid(&realGroup, &effectiveGroup, &savedGroup) != 0)
        return false;
    std::vector<gid_t> groups;
    const int count = getgroups(0, nullptr);
    if (count > 0) {
        groups.resize(static_cast<size_t>(count));
        groups.resize(static_cast<size_t>(std::max(0, getgroups(count, groups.data()))));
    }
    if (SwitchIdentity(identity, permanent)) return true;
    // The user could not be taken on: give the groups back.
    seteuid(effectiveUser);
    if (permanent) setgroups(groups.size(), groups.data());
    setresgid(realGroup, effectiveGroup, savedGroup);
    return false;
}

bool RevertUserImpersonation() {
    const bool userBack = seteuid(getuid()) == 0;
    const bool groupBack = setegid(getgid()) == 0;
    return userBack && groupBack;
}

bool ImpersonateUser_PurgeEnvironment(zrEnvironment* environment, const char* user) {
    if (environment == nullptr) return false;
    static const char* const kRemoved[] = {
        "IFS",     "CDPATH",      "LOCALDOMAIN", "RES_OPTIONS",   "HOSTALIASES",
        "NLSPATH", "PATH_LOCALE", "TERMINFO",    "TERMINFO_DIRS", "TERMPATH",
        "TERMCAP", "ENV",         "BASH_ENV"};
    static const char* const kRemovedPrefixes[] = {"LD_", "_RLD", "DYLD_"};
    std::map<std::string, std::string>& variables = environment->variables;
    for (const char* name : kRemoved)
        variables.erase(name);
    for (auto it = variables.begin(); it != variables.end();) {
        bool remove = false;
        for (const char* prefix : kRemovedPrefixes)
            remove = remove || it->first.compare(0, std::strlen(prefix), prefix) == 0;
        it = remove ? variables.erase(it) : std::next(it);
    }
    UserIdentity identity;
    if (!LookupUser(user, identity)) return false;
    variables["HOME"] = identity.home;
    variables["SHELL"] = identity.shell;
    variables["LOGNAME"] = user;
    variables["USER"] = user;
    return true;
}

// ---- Host actions ----

bool BuildWOLPacket(const std::string& mac, std::string& packet) {
    std::string digits;
    for (char c : mac)
        if (c != ':' && c != '-') digits += c;
    if (digits.size() != 12) return false;
    std::string address;
    for (size_t i = 0; i < 12; i += 2) {
        const int high = HexValue(digits[i]);
        const int low = HexValue(digits[i + 1]);
        if (high < 0 || low < 0) return false;
        address += static_cast<char>(high * 16 + low);
    }
    packet.assign(6, static_cast<char>(0xFF));
    for (int i = 0; i < 16; ++i)
        packet += address;
    return true;
}

bool SendWOLTo(const std::string& mac, const char* address, int port) {
    std::string packet;
    if (!BuildWOLPacket(mac, packet) || address == nullptr || port < 1 || port > 65535)
        return false;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address, &destination.sin_addr) != 1) return false;

    Descriptor socketFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socketFd.Get() < 0) return false;
    const int enable = 1;
    if (setsockopt(socketFd.Get(), SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable) != 0)
        return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(socketFd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return false;
    ssize_t sent;
    do {
        sent = sendto(socketFd.Get(), packet.data(), packet.size(), 0,
                      reinterpret_cast<sockaddr*>(&destination), sizeof destination);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(kWolPacketSize);
}

bool SendWOL(std::string mac, int port) {
    return SendWOLTo(mac, "255.255.255.255", port);
}

void SetSystemCommandRunner(zrSystemCommandRunner runner) {
    commandRunner.store(runner != nullptr ? runner : &RunWithSystem);
}

bool SendSystemEvent(int event) {
    const char* command = nullptr;
    switch (event) {
        case kSystemShutdown:
            command = "shutdown -h now";
            break;
        case kSystemSleep:
        case 2:
            command = "shutdown -s now";
            break;
        case kSystemRestart:
            command = "shutdown -r now";
            break;
        case kSystemLogout:
            command = "shutdown -k now";
            break;
        default:
            break;
    }
    if (command != nullptr) commandRunner.load()(command);
    return true;
}

int SendAppleEventToSystemProcess(unsigned int eventCode) {
    (void)eventCode;
    return kSystemEventUnavailable;
}

}  // namespace ZRProcesses
}  // namespace ZRFramework
