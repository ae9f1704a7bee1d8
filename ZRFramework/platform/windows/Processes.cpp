// Processes on Windows: CreateProcessA with anonymous pipes passed through an explicit handle
// list, process objects for waiting and killing, priority classes, and UDP broadcast through
// Winsock. Pipe ends are C runtime descriptors over the pipe handles, so that they look the same
// as on POSIX to callers.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h brings in windows.h.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "../Processes.h"
#include "Accounts.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

// The exit code given to a child we kill: what a POSIX child ended by SIGKILL reports, so that
// a killed child never reads as a success.
constexpr UINT kKilledExitCode = 128 + 9;

HANDLE HandleOf(int fd) {
    return fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
}

void CloseIfOpen(int& fd) {
    if (fd >= 0) _close(fd);
    fd = -1;
}

void SetError(int& errorCode, std::string& errorText, DWORD code) {
    errorCode = static_cast<int>(code);
    errorText = ErrorText(errorCode);
}

// "name=value" and a NUL for each variable, then a NUL: an empty environment still ends in two.
std::string EnvironmentBlock(const ZRProcesses::zrEnvironment& environment) {
    std::string block;
    for (const auto& variable : environment.variables) {
        if (variable.first.empty()) continue;
        block += variable.first + "=" + variable.second;
        block += '\0';
    }
    block += '\0';
    if (block.size() == 1) block += '\0';
    return block;
}

// Inheritance is switched on only for the duration of one CreateProcess call, and the handle
// list stops any other inheritable handle of ours from reaching the child.
class InheritedHandles {
public:
    explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        std::sort(handles_.begin(), handles_.end());
        handles_.erase(std::unique(handles_.begin(), handles_.end()), handles_.end());
        for (HANDLE handle : handles_)
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    ~InheritedHandles() {
        for (HANDLE handle : handles_)
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
        if (attributes_ != nullptr) {
            DeleteProcThreadAttributeList(attributes_);
            delete[] reinterpret_cast<char*>(attributes_);
        }
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    // Null when the list cannot be built.
    LPPROC_THREAD_ATTRIBUTE_LIST Attributes() {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        char* memory = new (std::nothrow) char[size];
        if (memory == nullptr) return nullptr;
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory);
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            delete[] memory;
            return nullptr;
        }
        attributes_ = list;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                       handles_.size() * sizeof(HANDLE), nullptr, nullptr))
            return nullptr;
        return list;
    }

private:
    std::vector<HANDLE> handles_;
    LPPROC_THREAD_ATTRIBUTE_LIST attributes_ = nullptr;
};

void MarkEnded(ZRProcesses::zrProcess* process) {
    DWORD code = 0;
    GetExitCodeProcess(static_cast<HANDLE>(process->handle), &code);
    process->reaped = true;
    process->exitCode = static_cast<long>(code);
}

bool HasEnded(HANDLE process) {
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// The token of an interactive log-on of `account`, or null.
HANDLE LogOn(const char* account, const char* password) {
    if (account == nullptr || *account == '\0') return nullptr;
    std::string user, domain;
    SplitAccount(account, user, domain);
    HANDLE token = nullptr;
    if (!LogonUserA(user.c_str(), domain.c_str(), password != nullptr ? password : "",
                    LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token))
        return nullptr;
    return token;
}

}  // namespace

ZRProcesses::zrProcess* StartChild(const ChildStart& start, int& errorCode,
                                   std::string& errorText) {
    const bool asUser = start.user != nullptr && *start.user != '\0';
    HANDLE token = asUser ? LogOn(start.user, start.password) : nullptr;
    if (asUser && token == nullptr) {
        errorCode = 0;
        errorText = "Unable to impersonate user " + std::string(start.user);
        return nullptr;
    }
    struct TokenCloser {
        HANDLE token;
        ~TokenCloser() {
            if (token != nullptr) CloseHandle(token);
        }
    } closer{token};

    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    std::vector<HANDLE> handles;
    ZRProcesses::zrPipeHandles* const pipes = start.pipes;
    if (pipes != nullptr) {
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = HandleOf(pipes->childStdIn);
        startup.StartupInfo.hStdOutput = HandleOf(pipes->childStdOut);
        startup.StartupInfo.hStdError =
            pipes->mergeStdErr ? startup.StartupInfo.hStdOutput : HandleOf(pipes->childStdErr);
        handles = {startup.StartupInfo.hStdInput, startup.StartupInfo.hStdOutput,
                   startup.StartupInfo.hStdError};
        for (HANDLE handle : handles) {
            if (handle == INVALID_HANDLE_VALUE) {
                SetError(errorCode, errorText, ERROR_INVALID_HANDLE);
                return nullptr;
            }
        }
    }
    InheritedHandles inherited(handles);
    DWORD flags = 0;
    if (pipes != nullptr) {
        startup.lpAttributeList = inherited.Attributes();
        if (startup.lpAttributeList == nullptr) {
            SetError(errorCode, errorText, GetLastError());
            return nullptr;
        }
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }

    std::string environment;
    if (start.environment != nullptr) environment = EnvironmentBlock(*start.environment);
    // CreateProcessA may write to the command line.
    std::vector<char> commandLine(start.commandLine.begin(), start.commandLine.end());
    commandLine.push_back('\0');
    const bool folder = start.folder != nullptr && *start.folder != '\0';

    PROCESS_INFORMATION created{};
    void* const block = start.environment != nullptr ? &environment[0] : nullptr;
    const char* const where = folder ? start.folder : nullptr;
    const BOOL inherit = pipes != nullptr ? TRUE : FALSE;
    const BOOL ok =
        token != nullptr
            ? CreateProcessAsUserA(token, start.path.c_str(), commandLine.data(), nullptr, nullptr,
                                   inherit, flags, block, where, &startup.StartupInfo, &created)
            : CreateProcessA(start.path.c_str(), commandLine.data(), nullptr, nullptr, inherit,
                             flags, block, where, &startup.StartupInfo, &created);
    if (!ok) {
        SetError(errorCode, errorText, GetLastError());
        return nullptr;
    }
    CloseHandle(created.hThread);
    if (pipes != nullptr) {
        CloseIfOpen(pipes->childStdIn);
        CloseIfOpen(pipes->childStdOut);
        CloseIfOpen(pipes->childStdErr);
    }
    auto* process = new (std::nothrow)
        ZRProcesses::zrProcess{static_cast<int>(created.dwProcessId), false, 0, created.hProcess};
    if (process == nullptr) {
        CloseHandle(created.hProcess);
        SetError(errorCode, errorText, ERROR_NOT_ENOUGH_MEMORY);
    }
    return process;
}

int BadHandleError() {
    return ERROR_INVALID_HANDLE;
}

int NoMemoryError() {
    return ERROR_NOT_ENOUGH_MEMORY;
}

std::string ErrorText(int code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result =
        length > 0 && text != nullptr ? std::string(text, length) : "Error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    return result;
}

void ReleaseChild(ZRProcesses::zrProcess* process) {
    if (process->handle != nullptr) CloseHandle(static_cast<HANDLE>(process->handle));
    process->handle = nullptr;
}

std::vector<std::pair<std::string, std::string>> ReadOwnEnvironment() {
    std::vector<std::pair<std::string, std::string>> variables;
    char* block = GetEnvironmentStringsA();
    if (block == nullptr) return variables;
    for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
        // Names such as "=C:" (the working folder of a drive) begin with the separator.
        const char* equals = std::strchr(entry + 1, '=');
        if (equals == nullptr) continue;
        variables.emplace_back(std::string(entry, static_cast<size_t>(equals - entry)),
                               std::string(equals + 1));
    }
    FreeEnvironmentStringsA(block);
    return variables;
}

bool LookupUserHome(const char* user, std::string& home, std::string& shell) {
    (void)user;
    (void)home;
    (void)shell;
    return false;
}

bool SendBroadcastDatagram(const char* address, int port, const std::string& packet) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    bool sent = false;
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(static_cast<u_short>(port));
    const SOCKET s = inet_pton(AF_INET, address, &destination.sin_addr) == 1
                         ? socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)
                         : INVALID_SOCKET;
    if (s != INVALID_SOCKET) {
        const BOOL enable = TRUE;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        sent = setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&enable),
                          sizeof enable) == 0 &&
               bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
               sendto(s, packet.data(), static_cast<int>(packet.size()), 0,
                      reinterpret_cast<sockaddr*>(&destination),
                      sizeof destination) == static_cast<int>(packet.size());
        closesocket(s);
    }
    WSACleanup();
    return sent;
}

const char* SystemEventCommand(int event) {
    switch (event) {
        case ZRProcesses::kSystemShutdown:
            return "shutdown /s /t 0";
        case ZRProcesses::kSystemSleep:
        case 2:
            return "rundll32.exe powrprof.dll,SetSuspendState 0,1,0";
        case ZRProcesses::kSystemRestart:
            return "shutdown /r /t 0";
        case ZRProcesses::kSystemLogout:
            return "shutdown /l";
        default:
            return nullptr;
    }
}

}  // namespace ZRPlatform

namespace ZRProcesses {

using ZRPlatform::CloseIfOpen;
using ZRPlatform::HandleOf;

int WaitProcess(zrProcess* process, bool block, int timeout, long& exitCode) {
    if (process == nullptr) return kWaitError;
    if (!process->reaped) {
        const HANDLE handle = static_cast<HANDLE>(process->handle);
        if (handle == nullptr) return kWaitError;
        const DWORD limit = block ? INFINITE : timeout > 0 ? static_cast<DWORD>(timeout) * 1000 : 0;
        const DWORD result = WaitForSingleObject(handle, limit);
        if (result == WAIT_TIMEOUT) return timeout == 0 && !block ? kWaitRunning : kWaitTimeout;
        if (result != WAIT_OBJECT_0) return kWaitError;
        ZRPlatform::MarkEnded(process);
    }
    exitCode = process->exitCode;
    return kWaitExited;
}

int GetCurrentProcessPid() {
    return static_cast<int>(GetCurrentProcessId());
}

bool TerminateProcess(int pid) {
    if (pid < 1) return false;
    const HANDLE handle =
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (handle == nullptr) return false;
    const bool done = ::TerminateProcess(handle, ZRPlatform::kKilledExitCode) != 0 ||
                      ZRPlatform::HasEnded(handle);
    CloseHandle(handle);
    return done;
}

bool TerminateProcess(zrProcess* process) {
    if (process == nullptr) return false;
    if (process->reaped) return true;
    const HANDLE handle = static_cast<HANDLE>(process->handle);
    if (handle == nullptr) return false;
    if (!::TerminateProcess(handle, ZRPlatform::kKilledExitCode) && !ZRPlatform::HasEnded(handle))
        return false;
    WaitForSingleObject(handle, INFINITE);
    ZRPlatform::MarkEnded(process);
    return true;
}

// ---- Pipes ----

zrPipeHandles* CreatePipes(bool mergeStdErr) {
    // Read end, write end, and whether the parent keeps the read end.
    int ends[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
    const int count = mergeStdErr ? 2 : 3;
    for (int i = 0; i < count; ++i) {
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        // Not inheritable: a pipe reaches only the child it is given to.
        if (!CreatePipe(&read, &write, nullptr, 0)) break;
        ends[i][0] = _open_osfhandle(reinterpret_cast<intptr_t>(read), _O_RDONLY | _O_BINARY);
        if (ends[i][0] < 0) CloseHandle(read);
        ends[i][1] = _open_osfhandle(reinterpret_cast<intptr_t>(write), _O_WRONLY | _O_BINARY);
        if (ends[i][1] < 0) CloseHandle(write);
        if (ends[i][0] < 0 || ends[i][1] < 0) break;
    }
    bool complete = true;
    for (int i = 0; i < count; ++i)
        complete = complete && ends[i][0] >= 0 && ends[i][1] >= 0;
    if (!complete) {
        for (auto& pair : ends) {
            CloseIfOpen(pair[0]);
            CloseIfOpen(pair[1]);
        }
        return nullptr;
    }
    // ends[0]: child's output, ends[1]: child's input, ends[2]: child's error.
    return new zrPipeHandles{ends[0][0], ends[1][1], ends[2][0], ends[1][0],
                             ends[0][1], ends[2][1], mergeStdErr};
}

int ReadPipe(int fd, char* buffer, int size) {
    if (fd < 0 || buffer == nullptr || size <= 0) return -1;
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    DWORD available = 0;
    if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    if (available == 0) return 0;
    DWORD got = 0;
    const DWORD wanted = std::min(available, static_cast<DWORD>(size));
    if (!ReadFile(handle, buffer, wanted, &got, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return static_cast<int>(got);
}

int WritePipe(int fd, const char* data, int size) {
    if (fd < 0 || data == nullptr || size < 0) return -1;
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return -1;
    int written = 0;
    while (written < size) {
        DWORD n = 0;
        if (!WriteFile(handle, data + written, static_cast<DWORD>(size - written), &n, nullptr))
            break;
        written += static_cast<int>(n);
    }
    return written > 0 || size == 0 ? written : -1;
}

void ClosePipeHandle(int fd) {
    if (fd >= 0) _close(fd);
}

// ---- Priorities ----

int GetProcessPriority(int pid) {
    const bool own = pid == 0;
    const HANDLE handle =
        own ? GetCurrentProcess()
            : OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (handle == nullptr) return 0;
    const DWORD priority = GetPriorityClass(handle);
    if (!own) CloseHandle(handle);
    switch (priority) {
        case REALTIME_PRIORITY_CLASS:
        case HIGH_PRIORITY_CLASS:
            return 4;
        case ABOVE_NORMAL_PRIORITY_CLASS:
            return 3;
        case NORMAL_PRIORITY_CLASS:
            return 2;
        case BELOW_NORMAL_PRIORITY_CLASS:
        case IDLE_PRIORITY_CLASS:
            return 1;
        default:
            return 0;
    }
}

bool SetProcessPriority(int pid, int level) {
    DWORD priority = NORMAL_PRIORITY_CLASS;
    switch (level) {
        case 4:
            priority = HIGH_PRIORITY_CLASS;
            break;
        case 3:
            priority = ABOVE_NORMAL_PRIORITY_CLASS;
            break;
        case 1:
            priority = BELOW_NORMAL_PRIORITY_CLASS;
            break;
        default:
            break;
    }
    const bool own = pid == 0;
    const HANDLE handle =
        own ? GetCurrentProcess()
            : OpenProcess(PROCESS_SET_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (handle == nullptr) return false;
    // The class is the process's: its threads follow it.
    const bool done = SetPriorityClass(handle, priority) != 0;
    if (!own) CloseHandle(handle);
    return done;
}

// ---- Users ----

// Windows gives a running process no new primary token: the calling thread takes the user on,
// permanently or not, until RevertUserImpersonation.
bool ImpersonateUser(const char* user, const char* password, bool permanent) {
    (void)permanent;
    const HANDLE token = ZRPlatform::LogOn(user, password);
    if (token == nullptr) return false;
    const bool done = ImpersonateLoggedOnUser(token) != 0;
    CloseHandle(token);
    return done;
}

bool RevertUserImpersonation() {
    return RevertToSelf() != 0;
}

}  // namespace ZRProcesses
}  // namespace ZRFramework
