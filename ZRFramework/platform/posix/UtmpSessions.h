// The login sessions recorded in utmp, sorted into console and remote ones by pure functions
// over records, so that they are tested on fixed records.
#ifndef ZRFRAMEWORK_PLATFORM_POSIX_UTMPSESSIONS_H
#define ZRFRAMEWORK_PLATFORM_POSIX_UTMPSESSIONS_H

#include <utmp.h>

#include <cstddef>
#include <string>
#include <vector>

#include "../Sessions.h"
#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRPlatform {

// How one utmp record counts. Only live logins (USER_PROCESS with a user name) count at all:
// - Remote: the host field names a machine, that is it is non-empty and not a local display
//   (ssh and telnet on a pts line, a remote X display "host:0").
// - Console: otherwise, when the line is a virtual console ("tty" and digits, "console") or a
//   local display (":" digits, optionally "." digits), as logins on the machine's own seat record.
// - None: everything else, notably pts lines without a remote host: terminal windows and
//   multiplexers inside a session that is already counted.
enum class SessionKind { None, Console, Remote };

SessionKind ClassifySession(const struct utmp& record);

ZRFRAMEWORK_API SessionCounts CountSessions(const std::vector<struct utmp>& records);

// The user of the local seat's session: among console sessions one on a local display wins over
// one on a virtual console, then the latest login, then the later record. False, with `user`
// unchanged, when there is no console session.
ZRFRAMEWORK_API bool FindConsoleUser(const std::vector<struct utmp>& records, std::string& user);

// The whole records held in `size` bytes of a utmp file; a trailing partial record is dropped.
// Fields are copied as they are: readers bound every text by its field size.
ZRFRAMEWORK_API std::vector<struct utmp> DecodeUtmpRecords(const void* data, size_t size);

// A utmp file holds one slot per terminal line, so it stays small; anything larger than this is
// not one and is refused rather than read into memory.
constexpr size_t kMaxUtmpRecords = 65536;

// Reads and decodes a utmp file. A missing file means no session was ever recorded and yields
// no records (the C library's own utmp readers treat it the same way); false when the file
// exists but cannot be read, or is larger than kMaxUtmpRecords records.
ZRFRAMEWORK_API bool ReadUtmpFile(const std::string& path, std::vector<struct utmp>& records);

// The file the session functions read: the system's utmp unless set; an empty path restores
// that. Tests point it at files they build.
ZRFRAMEWORK_API void SetUtmpPath(const std::string& path);
ZRFRAMEWORK_API std::string GetUtmpPath();

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
