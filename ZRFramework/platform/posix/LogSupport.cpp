// The logger's system log is syslog.
#include <syslog.h>

#include <time.h>

#include "../LogSupport.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

void SystemOpen(const char* identity, int options, int facility) {
    openlog(identity, options, facility);
}
void SystemWrite(int priority, const char* line) {
    syslog(priority, "%s", line);
}
void SystemClose() {
    closelog();
}

}  // namespace

const ZRLogger::zrSystemLogCalls& DefaultSystemLog() {
    static const ZRLogger::zrSystemLogCalls calls = {SystemOpen, SystemWrite, SystemClose};
    return calls;
}

int SystemLogOptions() {
    return LOG_CONS | LOG_PID;
}

int SystemLogFacility(int stored) {
    if (stored >= 128 && stored <= 135) return LOG_LOCAL0 + ((stored - 128) << 3);
    if (stored > 0 && (stored & ~LOG_FACMASK) == 0) return stored;  // 24 is LOG_DAEMON
    return LOG_USER;
}

int SystemLogPriority(int level) {
    if (level == 1 || level == 3) return LOG_NOTICE;
    if (level == 4) return LOG_DEBUG;
    return LOG_INFO;
}

time_t UtcSeconds(struct tm& fields) {
    return timegm(&fields);
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
