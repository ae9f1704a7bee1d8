// The decisions behind counting Windows sessions, as pure functions over what the system reports,
// so that they are tested on given names and values.
#ifndef ZRFRAMEWORK_PLATFORM_WINDOWS_REGISTRYSESSIONS_H
#define ZRFRAMEWORK_PLATFORM_WINDOWS_REGISTRYSESSIONS_H

#include <functional>
#include <string>
#include <vector>

#include "../Sessions.h"
#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRPlatform {

// Windows Server 2003 (5.2) and every version from 6 keep logon sessions with their connection
// state; older versions only leave traces in the users' registry hives.
ZRFRAMEWORK_API bool UsesLogonSessions(unsigned long major, unsigned long minor);

// Logon types that stand for a person at a seat, and how they count.
constexpr unsigned long kInteractiveLogon = 2;
constexpr unsigned long kRemoteInteractiveLogon = 10;

// Adds one logon session to `counts`: interactive ones to console, remote interactive ones to
// remote, only while their terminal-services connection is active.
ZRFRAMEWORK_API void CountLogonSession(unsigned long logonType, bool active, SessionCounts& counts);

// A security identifier read from its text.
struct ParsedSid {
    int revision;
    unsigned int authority;
    unsigned long subAuthorities[8];
    int subAuthorityCount;
};

// Reads "S-revision-authority(hex)-sub-..." with up to eight subauthorities; false unless at
// least one subauthority is there, as a SID cannot be built without one.
ZRFRAMEWORK_API bool ParseSidName(const std::string& name, ParsedSid& sid);

// Names under HKEY_USERS that are never a logged-in user: the default profile and the
// per-user class hives.
ZRFRAMEWORK_API bool IsSkippedUsersKey(const std::string& name);

// The SESSIONNAME values found under one key of HKEY_USERS (a path below it): the key's own,
// then each of its subkeys'; missing keys and values give none.
typedef std::function<std::vector<std::string>(const std::string& key)> SessionNameSource;
// Whether a parsed SID names a user account.
typedef std::function<bool(const ParsedSid& sid)> UserAccountTest;

// The older systems' count over the names of HKEY_USERS' subkeys: console is reset to 0, then
// every "<sid>\Volatile Environment" of a user account adds its values, "console" (in any case)
// to console and any other value to remote; remote is not reset.
ZRFRAMEWORK_API void CountRegistrySessions(const std::vector<std::string>& userKeys,
                                           const SessionNameSource& sessionNames,
                                           const UserAccountTest& isUserAccount,
                                           SessionCounts& counts);

// Whether a terminal-services session is connected with someone working in it (WTSActive);
// false when its state cannot be read.
ZRFRAMEWORK_API bool IsSessionActive(unsigned long sessionId);

// The live readers behind ReadSessionCounts, one per kind of system; exposed so that each is
// run on its own whatever the system is.
ZRFRAMEWORK_API bool ReadLogonSessionCounts(SessionCounts& counts);
ZRFRAMEWORK_API bool ReadRegistrySessionCounts(SessionCounts& counts);

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
