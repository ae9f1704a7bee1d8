// What the logger needs from each platform: the system log behind flag 8, in the numbers the
// logger's settings are given in, and zone-free time arithmetic.
#ifndef ZRFRAMEWORK_PLATFORM_LOGSUPPORT_H
#define ZRFRAMEWORK_PLATFORM_LOGSUPPORT_H

#include <ctime>

#include "ZRLogger.h"

namespace ZRFramework {
namespace ZRPlatform {

// The calls that reach the system log by default; where there is none they do nothing.
const ZRLogger::zrSystemLogCalls& DefaultSystemLog();
int SystemLogOptions();
// The system's facility for a stored facility (128 + n, or 24), and its priority for a level.
int SystemLogFacility(int stored);
int SystemLogPriority(int level);

// Normalises `fields` as UTC, filling in the weekday; -1 when they cannot be represented.
time_t UtcSeconds(struct tm& fields);

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
