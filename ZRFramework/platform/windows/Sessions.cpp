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
#include "SessionReaders.h"
#include "ZRServices.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

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

}  // namespace

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
