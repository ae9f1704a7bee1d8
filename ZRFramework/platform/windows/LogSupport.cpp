// Windows has no system log of the kind flag 8 writes to: the calls do nothing, and the
// logger's own numbers pass through unchanged to any replacement calls.
#include <time.h>

#include "../LogSupport.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

void SystemOpen(const char*, int, int) {}
void SystemWrite(int, const char*) {}
void SystemClose() {}

}  // namespace

const ZRLogger::zrSystemLogCalls& DefaultSystemLog() {
    static const ZRLogger::zrSystemLogCalls calls = {SystemOpen, SystemWrite, SystemClose};
    return calls;
}

int SystemLogOptions() {
    return 0;
}

int SystemLogFacility(int stored) {
    return stored;
}

int SystemLogPriority(int level) {
    return level;
}

time_t UtcSeconds(struct tm& fields) {
    return _mkgmtime(&fields);
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
