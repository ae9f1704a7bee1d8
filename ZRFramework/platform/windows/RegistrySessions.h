// The decisions behind counting Windows sessions, as pure functions over what the system reports,
// so that they are tested on given names and values. Inline, so that the tests reach them without
// the library exporting them.
#ifndef ZRFRAMEWORK_PLATFORM_WINDOWS_REGISTRYSESSIONS_H
#define ZRFRAMEWORK_PLATFORM_WINDOWS_REGISTRYSESSIONS_H

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../Sessions.h"

namespace ZRFramework {
namespace ZRPlatform {

inline bool EqualsIgnoringCase(const std::string& a, const char* b) {
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

// Windows Server 2003 (5.2) and every version from 6 keep logon sessions with their connection
// state; older versions only leave traces in the users' registry hives.
inline bool UsesLogonSessions(unsigned long major, unsigned long minor) {
    return major >= 6 || (major == 5 && minor == 2);
}

// Logon types that stand for a person at a seat, and how they count.
constexpr unsigned long kInteractiveLogon = 2;
constexpr unsigned long kRemoteInteractiveLogon = 10;

// Adds one logon session to `counts`: interactive ones to console, remote interactive ones to
// remote, only while their terminal-services connection is active.
inline void CountLogonSession(unsigned long logonType, bool active, SessionCounts& counts) {
    if (!active) return;
    if (logonType == kInteractiveLogon) ++counts.console;
    if (logonType == kRemoteInteractiveLogon) ++counts.remote;
}

// A security identifier read from its text.
struct ParsedSid {
    int revision;
    unsigned int authority;
    unsigned long subAuthorities[8];
    int subAuthorityCount;
};

// Reads "S-revision-authority(hex)-sub-..." with up to eight subauthorities; false unless at
// least one subauthority is there, as a SID cannot be built without one.
inline bool ParseSidName(const std::string& name, ParsedSid& sid) {
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

// Names under HKEY_USERS that are never a logged-in user: the default profile and the
// per-user class hives.
inline bool IsSkippedUsersKey(const std::string& name) {
    return EqualsIgnoringCase(name, ".default") || name.find("Classes") != std::string::npos;
}

// The SESSIONNAME values found under one key of HKEY_USERS (a path below it): the key's own,
// then each of its subkeys'; missing keys and values give none.
typedef std::function<std::vector<std::string>(const std::string& key)> SessionNameSource;
// Whether a parsed SID names a user account.
typedef std::function<bool(const ParsedSid& sid)> UserAccountTest;

// The older systems' count over the names of HKEY_USERS' subkeys: console is reset to 0, then
// every "<sid>\Volatile Environment" of a user account adds its values, "console" (in any case)
// to console and any other value to remote; remote is not reset.
inline void CountRegistrySessions(const std::vector<std::string>& userKeys,
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

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
