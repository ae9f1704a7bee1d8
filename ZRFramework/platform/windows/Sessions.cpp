// Who is logged in, from LSA logon sessions and their terminal-services state (or, on systems
// older than those, the users' volatile registry keys); the console user; and installing and
// running as a service through the service control manager.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After <windows.h>, which they build on.
#include <ntsecapi.h>
#include <wtsapi32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../Sessions.h"
#include "RegistrySessions.h"
#include "ZRServices.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

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

// The version the system really has: GetVersionExA answers with the version named in the
// program's manifest, so RtlGetVersion is asked first.
void ReadSystemVersion(unsigned long& major, unsigned long& minor) {
    typedef LONG(WINAPI * RtlGetVersionFunction)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll != nullptr) {
        // Through a generic function type, which the compiler accepts between function types.
        const RtlGetVersionFunction getVersion = reinterpret_cast<RtlGetVersionFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
        OSVERSIONINFOW info;
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
        if (getVersion != nullptr && getVersion(&info) == 0) {
            major = info.dwMajorVersion;
            minor = info.dwMinorVersion;
            return;
        }
    }
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (GetVersionExA(&info)) {
        major = info.dwMajorVersion;
        minor = info.dwMinorVersion;
        return;
    }
    major = 0;
    minor = 0;
}

// Names longer than this do not exist in the registry.
constexpr DWORD kMaxKeyName = 256;
// SESSIONNAME values longer than this are not read.
constexpr DWORD kMaxSessionName = 1024;

std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[kMaxKeyName];
        DWORD length = kMaxKeyName;
        const LONG status =
            RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

bool ReadSessionName(HKEY key, std::string& value) {
    char buffer[kMaxSessionName];
    DWORD type = 0;
    DWORD size = kMaxSessionName;
    if (RegQueryValueExA(key, "SESSIONNAME", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // A stored string need not end in a NUL.
    value.assign(buffer, strnlen(buffer, size));
    return true;
}

std::vector<std::string> SessionNamesUnder(HKEY users, const std::string& path) {
    std::vector<std::string> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(users, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
    std::string value;
    if (ReadSessionName(key, value)) values.push_back(value);
    for (const std::string& name : SubkeyNames(key)) {
        HKEY subkey = nullptr;
        if (RegOpenKeyExA(key, name.c_str(), 0, KEY_READ, &subkey) != ERROR_SUCCESS) continue;
        if (ReadSessionName(subkey, value)) values.push_back(value);
        RegCloseKey(subkey);
    }
    RegCloseKey(key);
    return values;
}

bool NamesUserAccount(const ParsedSid& parsed) {
    // Only revision 1 exists; AllocateAndInitializeSid builds no other.
    if (parsed.revision != SID_REVISION) return false;
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, 0}};
    authority.Value[2] = static_cast<BYTE>(parsed.authority >> 24);
    authority.Value[3] = static_cast<BYTE>(parsed.authority >> 16);
    authority.Value[4] = static_cast<BYTE>(parsed.authority >> 8);
    authority.Value[5] = static_cast<BYTE>(parsed.authority);
    const unsigned long* sub = parsed.subAuthorities;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&authority, static_cast<BYTE>(parsed.subAuthorityCount), sub[0],
                                  sub[1], sub[2], sub[3], sub[4], sub[5], sub[6], sub[7], &sid)) {
        return false;
    }
    char name[kMaxKeyName];
    char domain[kMaxKeyName];
    DWORD nameLength = kMaxKeyName;
    DWORD domainLength = kMaxKeyName;
    SID_NAME_USE use = SidTypeUnknown;
    const bool found =
        LookupAccountSidA(nullptr, sid, name, &nameLength, domain, &domainLength, &use) != 0;
    FreeSid(sid);
    return found && use == SidTypeUser;
}

}  // namespace

bool UsesLogonSessions(unsigned long major, unsigned long minor) {
    return major >= 6 || (major == 5 && minor == 2);
}

void CountLogonSession(unsigned long logonType, bool active, SessionCounts& counts) {
    if (!active) return;
    if (logonType == kInteractiveLogon) ++counts.console;
    if (logonType == kRemoteInteractiveLogon) ++counts.remote;
}

bool ParseSidName(const std::string& name, ParsedSid& sid) {
    ParsedSid parsed;
    std::memset(&parsed, 0, sizeof parsed);
    unsigned long* sub = parsed.subAuthorities;
    const int fields = std::sscanf(name.c_str(), "S-%d-%x-%lu-%lu-%lu-%lu-%lu-%lu-%lu-%lu",
                                   &parsed.revision, &parsed.authority, &sub[0], &sub[1], &sub[2],
                                   &sub[3], &sub[4], &sub[5], &sub[6], &sub[7]);
    if (fields < 3) return false;
    parsed.subAuthorityCount = fields - 2;
    sid = parsed;
    return true;
}

bool IsSkippedUsersKey(const std::string& name) {
    return EqualsIgnoringCase(name, ".default") || name.find("Classes") != std::string::npos;
}

void CountRegistrySessions(const std::vector<std::string>& userKeys,
                           const SessionNameSource& sessionNames,
                           const UserAccountTest& isUserAccount, SessionCounts& counts) {
    counts.console = 0;
    for (const std::string& name : userKeys) {
        if (IsSkippedUsersKey(name)) continue;
        ParsedSid sid;
        if (!ParseSidName(name, sid) || !isUserAccount(sid)) continue;
        for (const std::string& value : sessionNames(name + "\\Volatile Environment")) {
            if (EqualsIgnoringCase(value, "console")) {
                ++counts.console;
            } else {
                ++counts.remote;
            }
        }
    }
}

bool IsSessionActive(unsigned long sessionId) {
    LPSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSConnectState, &buffer,
                                     &bytes)) {
        return false;
    }
    bool active = false;
    if (buffer != nullptr && bytes >= sizeof(WTS_CONNECTSTATE_CLASS)) {
        WTS_CONNECTSTATE_CLASS state;
        std::memcpy(&state, buffer, sizeof state);
        active = state == WTSActive;
    }
    WTSFreeMemory(buffer);
    return active;
}

bool ReadLogonSessionCounts(SessionCounts& counts) {
    ULONG count = 0;
    PLUID sessions = nullptr;
    // An unreadable list still answers: nobody is counted.
    if (LsaEnumerateLogonSessions(&count, &sessions) != 0) return true;
    for (ULONG i = 0; i < count; ++i) {
        PSECURITY_LOGON_SESSION_DATA data = nullptr;
        if (LsaGetLogonSessionData(&sessions[i], &data) != 0 || data == nullptr) continue;
        const unsigned long type = data->LogonType;
        if (type == kInteractiveLogon || type == kRemoteInteractiveLogon) {
            CountLogonSession(type, IsSessionActive(data->Session), counts);
        }
        LsaFreeReturnBuffer(data);
    }
    if (sessions != nullptr) LsaFreeReturnBuffer(sessions);
    return true;
}

bool ReadRegistrySessionCounts(SessionCounts& counts) {
    HKEY users = nullptr;
    if (RegOpenKeyExA(HKEY_USERS, nullptr, 0, KEY_READ, &users) != ERROR_SUCCESS) return false;
    CountRegistrySessions(
        SubkeyNames(users),
        [users](const std::string& path) { return SessionNamesUnder(users, path); },
        NamesUserAccount, counts);
    RegCloseKey(users);
    return true;
}

bool ReadSessionCounts(SessionCounts& counts) {
    unsigned long major = 0;
    unsigned long minor = 0;
    ReadSystemVersion(major, minor);
    return UsesLogonSessions(major, minor) ? ReadLogonSessionCounts(counts)
                                           : ReadRegistrySessionCounts(counts);
}

bool ReadConsoleUser(std::string& user) {
    const DWORD session = WTSGetActiveConsoleSessionId();
    // No session is attached to the physical console while it is switched over.
    if (session == 0xFFFFFFFF) return false;
    LPSTR name = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &name,
                                     &bytes)) {
        return false;
    }
    const std::string found = name != nullptr ? std::string(name, strnlen(name, bytes)) : "";
    WTSFreeMemory(name);
    // The console session without anyone logged on has an empty user.
    if (found.empty()) return false;
    user = found;
    return true;
}

// A service is started detached by the service control manager.
bool BecomeDaemon(int exitCode) {
    (void)exitCode;
    return true;
}

}  // namespace ZRPlatform

namespace ZRServices {

namespace {

bool Report(const char* text, bool result) {
    std::fputs(text, stdout);
    std::fflush(stdout);
    return result;
}

const char kCannotConnect[] = "\nCannot connect to the service control manager.\n";

std::string RunningExecutablePath() {
    // Long paths exceed MAX_PATH; the result is cut short when the buffer is.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        if (length < buffer.size()) return std::string(buffer.data(), length);
        if (buffer.size() >= 32768) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

bool IsEmpty(const char* text) {
    return text == nullptr || text[0] == '\0';
}

}  // namespace

bool RegisterWin32Service(const char* name, void* serviceMain) {
    if (name == nullptr || serviceMain == nullptr) return false;
    SERVICE_TABLE_ENTRYA table[2];
    table[0].lpServiceName = const_cast<char*>(name);
    // The entry arrives as a plain pointer; its bits are the function's address.
    LPSERVICE_MAIN_FUNCTIONA entry = nullptr;
    static_assert(sizeof entry == sizeof serviceMain, "function and data pointers differ");
    std::memcpy(&entry, &serviceMain, sizeof entry);
    table[0].lpServiceProc = entry;
    table[1].lpServiceName = nullptr;
    table[1].lpServiceProc = nullptr;
    return StartServiceCtrlDispatcherA(table) != 0;
}

bool InstallWin32Service(const char* name, const char* displayName, const char* description,
                         const char* account, const char* password, const char* arguments) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) return Report(kCannotConnect, false);

    std::string path = RunningExecutablePath();
    if (arguments != nullptr) path += arguments;
    // The local system account runs the service unless both are given.
    const bool asSystem = IsEmpty(account) || IsEmpty(password);
    SC_HANDLE service =
        CreateServiceA(manager, name, displayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, path.c_str(), nullptr, nullptr,
                       nullptr, asSystem ? nullptr : account, asSystem ? nullptr : password);
    if (service == nullptr) {
        CloseServiceHandle(manager);
        return Report(
            "\nCannot install the service. You could haven't enough permissions or the "
            "service could be already installed.\n",
            false);
    }

    SERVICE_DESCRIPTIONA text;
    text.lpDescription = const_cast<char*>(description);
    ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return Report("\nService installed successfully.\n", true);
}

bool UninstallWin32Service(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return Report(kCannotConnect, false);
    SC_HANDLE service = OpenServiceA(manager, name, DELETE);
    // A service already marked for deletion cannot be removed again either.
    const bool removed = service != nullptr && DeleteService(service) != 0;
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!removed) {
        return Report(
            "\nCannot remove the service. You could haven't enough permissions or the "
            "service could be not installed.\n",
            false);
    }
    return Report("\nService removed successfully.\n", true);
}

}  // namespace ZRServices
}  // namespace ZRFramework
