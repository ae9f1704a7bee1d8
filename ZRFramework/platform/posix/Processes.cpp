// Processes on POSIX: fork and exec with a status pipe for failed starts, waitpid, signals,
// nice values, user switching through set*id, and UDP broadcast through BSD sockets.
#include "../Processes.h"

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
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "../ProcessTable.h"
#include "ZRLogger.h"
#include "ZRRuntime.h"

extern char** environ;

namespace ZRFramework {
namespace ZRProcesses {

namespace {

const char kSourcePath[] = "./ZRFramework/ZRProcesses";
// What the parent reads of the child's report of a failed start.
constexpr size_t kMaxStatusText = 100;

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

}  // namespace

// ---- Spawning ----

}  // namespace ZRProcesses

namespace ZRPlatform {

using namespace ZRProcesses;

zrProcess* StartChild(const ChildStart& start, int& errorCode, std::string& errorText) {
    zrPipeHandles* const pipes = start.pipes;
    const zrEnvironment* const environment = start.environment;
    const char* const user = start.user;
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
    plan.argv = start.argv;
    plan.envp = start.environment != nullptr ? envp.data() : nullptr;
    plan.path = start.path.c_str();
    plan.folder = start.folder;
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

    if (status.empty()) return new zrProcess{pid, false, 0, nullptr};

    errorCode = std::atoi(status.c_str());
    errorText = errorCode != 0 ? ErrorText(errorCode) : status;
    int ignored;
    WaitPid(pid, &ignored, 0);
    return nullptr;
}

int BadHandleError() {
    return EBADF;
}

int NoMemoryError() {
    return ENOMEM;
}

std::string ErrorText(int code) {
    return ZRProcesses::ErrorText(code);
}

void ReleaseChild(zrProcess* process) {
    (void)process;
}

std::vector<std::pair<std::string, std::string>> ReadOwnEnvironment() {
    std::vector<std::pair<std::string, std::string>> variables;
    if (environ == nullptr) return variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr) continue;
        variables.emplace_back(std::string(*entry, static_cast<size_t>(equals - *entry)),
                               std::string(equals + 1));
    }
    return variables;
}

bool LookupUserHome(const char* user, std::string& home, std::string& shell) {
    ZRProcesses::UserIdentity identity;
    if (!ZRProcesses::LookupUser(user, identity)) return false;
    home = identity.home;
    shell = identity.shell;
    return true;
}

bool SendBroadcastDatagram(const char* address, int port, const std::string& packet) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address, &destination.sin_addr) != 1) return false;

    ZRProcesses::Descriptor socketFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
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
    return sent == static_cast<ssize_t>(packet.size());
}

const char* SystemEventCommand(int event) {
    switch (event) {
        case ZRProcesses::kSystemShutdown:
            return "shutdown -h now";
        case ZRProcesses::kSystemSleep:
        case 2:
            return "shutdown -s now";
        case ZRProcesses::kSystemRestart:
            return "shutdown -r now";
        case ZRProcesses::kSystemLogout:
            return "shutdown -k now";
        default:
            return nullptr;
    }
}

}  // namespace ZRPlatform

namespace ZRProcesses {

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

}  // namespace ZRProcesses
}  // namespace ZRFramework
