// Who is logged in to the machine and running detached from it, as each platform records them.
#ifndef ZRFRAMEWORK_PLATFORM_SESSIONS_H
#define ZRFRAMEWORK_PLATFORM_SESSIONS_H

#include <string>

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRPlatform {

struct SessionCounts {
    int console;
    int remote;
};

// The live console and remote logins; false when the system's record of them cannot be read.
// `counts` arrives holding the caller's counters (0 for a missing one): a platform whose record
// is complete replaces them, Windows adds to them (its oldest versions reset the console one).
bool ReadSessionCounts(SessionCounts& counts);

// The user of the local seat's session; false, with `user` unchanged, when there is none or the
// record cannot be read.
bool ReadConsoleUser(std::string& user);

// Detaches the process from its caller; see ForkAndDaemon.
bool BecomeDaemon(int exitCode);

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
