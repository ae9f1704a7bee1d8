// Processes, pipes and environments: command-line splitting, spawning, process trees from the
// process table, environment blocks and host actions. The system calls are behind
// platform/Processes.h.
#include "ZRProcesses.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "platform/ProcessTable.h"
#include "platform/Processes.h"

namespace ZRFramework {
namespace ZRProcesses {

namespace {

// Process trees are cut below this depth.
constexpr int kMaxTreeDepth = 20;

struct ArgvDeleter {
    void operator()(char** argv) const { zr_free_argv_array(argv); }
};
typedef std::unique_ptr<char*, ArgvDeleter> ArgvArray;

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

void SetError(int& errorCode, std::string& errorText, int code) {
    errorCode = code;
    errorText = ZRPlatform::ErrorText(code);
}

void CloseIfOpen(int& fd) {
    ClosePipeHandle(fd);
    fd = -1;
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
    errorCode = 0;
    errorText.clear();
    const std::string executable = path != nullptr ? path : "";
    if (pipes != nullptr && (pipes->childStdIn < 0 || pipes->childStdOut < 0 ||
                             (!pipes->mergeStdErr && pipes->childStdErr < 0))) {
        SetError(errorCode, errorText, ZRPlatform::BadHandleError());
        return nullptr;
    }

    const bool quoted = executable.find(' ') != std::string::npos;
    const std::string commandLine = (quoted ? "\"" + executable + "\"" : executable) + " " +
                                    (arguments != nullptr ? arguments : "");
    ArgvArray argv(zr_create_argv_array(commandLine.c_str()));
    if (!argv) {
        SetError(errorCode, errorText, ZRPlatform::NoMemoryError());
        return nullptr;
    }
    const ZRPlatform::ChildStart start = {executable, commandLine, argv.get(), folder,
                                          pipes,      environment, user,       password};
    return ZRPlatform::StartChild(start, errorCode, errorText);
}

int GetProcessPid(zrProcess* process) {
    return process != nullptr ? process->pid : 0;
}

void TerminateProcTree(_procs_tree* tree) {
    if (tree == nullptr) return;
    if (tree->children != nullptr)
        for (_procs_tree** child = tree->children; *child != nullptr; ++child)
            TerminateProcTree(*child);
    TerminateProcess(tree->pid);
}

bool CloseProcess(zrProcess* process) {
    if (process != nullptr) ZRPlatform::ReleaseChild(process);
    delete process;
    return true;
}

// ---- Pipes ----

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

// ---- Priorities ----

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
    if (inherit) {
        for (auto& variable : ZRPlatform::ReadOwnEnvironment())
            environment->variables.emplace(std::move(variable.first), std::move(variable.second));
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
    std::string home;
    std::string shell;
    if (!ZRPlatform::LookupUserHome(user, home, shell)) return false;
    variables["HOME"] = home;
    variables["SHELL"] = shell;
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
    return ZRPlatform::SendBroadcastDatagram(address, port, packet);
}

bool SendWOL(std::string mac, int port) {
    return SendWOLTo(mac, "255.255.255.255", port);
}

void SetSystemCommandRunner(zrSystemCommandRunner runner) {
    commandRunner.store(runner != nullptr ? runner : &RunWithSystem);
}

bool SendSystemEvent(int event) {
    if (const char* command = ZRPlatform::SystemEventCommand(event)) commandRunner.load()(command);
    return true;
}

int SendAppleEventToSystemProcess(unsigned int eventCode) {
    (void)eventCode;
    return kSystemEventUnavailable;
}

}  // namespace ZRProcesses
}  // namespace ZRFramework
