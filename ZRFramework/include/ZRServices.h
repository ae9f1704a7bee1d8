// Running as a background service: detaching into a daemon, and who is logged in to the machine,
// split into console and remote sessions.
#ifndef ZRFRAMEWORK_SERVICES_H
#define ZRFRAMEWORK_SERVICES_H

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRServices {

// On Windows nothing is done and the result is true. Elsewhere: forks; the calling process ends at
// once with _exit(exitCode) and the child goes on as the daemon: leader of a new session, working
// folder "/", file-creation mask 0, and descriptors 0, 1 and 2 on /dev/null (closed only if
// /dev/null cannot be opened). Standard I/O buffers are flushed before the fork so output written
// earlier reaches its destination once. Returns true in the daemon; false, still in the calling
// process, when the fork fails.
ZRFRAMEWORK_API bool ForkAndDaemon(int exitCode);

// The user of the local seat's session, read from utmp: among the console sessions (see
// IsSomeoneLogged) a graphical one on a local display (":0") wins over a virtual console
// ("tty1"), then the latest login. A copy the caller releases with ReleaseConsoleUsername; null
// when nobody is logged in at the console or utmp cannot be read.
ZRFRAMEWORK_API char* CopyCurrentConsoleUsername();
// Releases a name from CopyCurrentConsoleUsername; null is ignored.
ZRFRAMEWORK_API void ReleaseConsoleUsername(char* name);

// Counts the live logins recorded in utmp (USER_PROCESS entries with a user name):
// - remote: the entry names a remote host (ssh or telnet on a pts line, a remote X display);
// - console: otherwise, the entry is on a virtual console ("tty" and digits, "console") or a
//   local X display (":0", ":1.0");
// - neither: pts lines without a remote host, that is terminal windows and multiplexers inside a
//   session already counted.
// Writes both counts (a null counter is skipped) and returns true; a missing utmp file counts as
// no sessions. Returns false, leaving the counters as they were, when utmp cannot be read, and
// always on Windows, where logon sessions are not available yet (the console user is null there).
ZRFRAMEWORK_API bool IsSomeoneLogged(int* consoleSessions, int* remoteSessions);

#ifdef _WIN32
// The service control manager. Not available in this build yet: each prints so on standard
// output and returns false.
ZRFRAMEWORK_API bool RegisterWin32Service(const char* name, void* serviceMain);
ZRFRAMEWORK_API bool InstallWin32Service(const char* name, const char* displayName,
                                         const char* description, const char* account,
                                         const char* password, const char* arguments);
ZRFRAMEWORK_API bool UninstallWin32Service(const char* name);
#endif

}  // namespace ZRServices
}  // namespace ZRFramework

#endif
