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

// The user of the local seat's session. From utmp: among the console sessions (see
// IsSomeoneLogged) a graphical one on a local display (":0") wins over a virtual console
// ("tty1"), then the latest login. On Windows: the user of the session attached to the physical
// console. A copy the caller releases with ReleaseConsoleUsername; null when nobody is logged in
// at the console or the record cannot be read.
ZRFRAMEWORK_API char* CopyCurrentConsoleUsername();
// Releases a name from CopyCurrentConsoleUsername; null is ignored.
ZRFRAMEWORK_API void ReleaseConsoleUsername(char* name);

// Counts the live logins. From utmp (USER_PROCESS entries with a user name):
// - remote: the entry names a remote host (ssh or telnet on a pts line, a remote X display);
// - console: otherwise, the entry is on a virtual console ("tty" and digits, "console") or a
//   local X display (":0", ":1.0");
// - neither: pts lines without a remote host, that is terminal windows and multiplexers inside a
//   session already counted.
// Writes both counts (a null counter is skipped) and returns true; a missing utmp file counts as
// no sessions. Returns false, leaving the counters as they were, when utmp cannot be read.
// On Windows the counters are not reset: each active interactive logon session adds one to
// console and each active remote interactive one to remote, and the result is true even when
// the sessions cannot be listed. Before Windows Server 2003 the users' volatile environments
// are read instead: console is reset to 0, each SESSIONNAME "console" adds one to it and any
// other adds one to remote; false only when HKEY_USERS cannot be opened.
ZRFRAMEWORK_API bool IsSomeoneLogged(int* consoleSessions, int* remoteSessions);

#ifdef _WIN32
// The service control manager. RegisterWin32Service hands `serviceMain` (a service main
// function) to the dispatcher under `name` and returns whether dispatching succeeded, after the
// service has stopped. InstallWin32Service creates a demand-started service of its own process
// whose command is this executable's full path followed directly by `arguments`; it runs as
// `account` only when both `account` and `password` are given, otherwise as the local system.
// UninstallWin32Service deletes the service. Both print the outcome on standard output and
// return whether they succeeded.
ZRFRAMEWORK_API bool RegisterWin32Service(const char* name, void* serviceMain);
ZRFRAMEWORK_API bool InstallWin32Service(const char* name, const char* displayName,
                                         const char* description, const char* account,
                                         const char* password, const char* arguments);
ZRFRAMEWORK_API bool UninstallWin32Service(const char* name);
#endif

}  // namespace ZRServices
}  // namespace ZRFramework

#endif
