// The live readers of who is logged in, over the registry, LSA and terminal services; inline in
// this private header so that the tests run each on its own without the library exporting it.
#ifndef ZRFRAMEWORK_PLATFORM_WINDOWS_SESSIONREADERS_H
#define ZRFRAMEWORK_PLATFORM_WINDOWS_SESSIONREADERS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which they build on.
#include <ntsecapi.h>
#include <wtsapi32.h>

#include <cstring>
#include <string>
#include <vector>

#include "RegistrySessions.h"

namespace ZRFramework {
namespace ZRPlatform {

// Names longer than this do not exist in the registry.
constexpr DWORD kMaxKeyName = 256;
// SESSIONNAME values longer than this are not read.
constexpr DWORD kMaxSessionName = 1024;

inline std::vector<std::string> SubkeyNames(HKEY key) {
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

inline bool ReadSessionName(HKEY key, std::string& value) {
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

inline std::vector<std::string> SessionNamesUnder(HKEY users, const std::string& path) {
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

inline bool NamesUserAccount(const ParsedSid& parsed) {
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

inline bool IsSessionActive(unsigned long sessionId) {
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

inline bool ReadLogonSessionCounts(SessionCounts& counts) {
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

inline bool ReadRegistrySessionCounts(SessionCounts& counts) {
    HKEY users = nullptr;
    if (RegOpenKeyExA(HKEY_USERS, nullptr, 0, KEY_READ, &users) != ERROR_SUCCESS) return false;
    CountRegistrySessions(
        SubkeyNames(users),
        [users](const std::string& path) { return SessionNamesUnder(users, path); },
        NamesUserAccount, counts);
    RegCloseKey(users);
    return true;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
