// The broken-down local time of a moment, re-entrant on every platform.
#ifndef ZRFRAMEWORK_PLATFORM_LOCALTIME_H
#define ZRFRAMEWORK_PLATFORM_LOCALTIME_H

#include <ctime>

namespace ZRFramework {

// False when the moment cannot be represented.
bool LocalTime(std::time_t when, std::tm& parts);
// Re-reads the time zone from the environment.
void ReloadTimeZone();

}  // namespace ZRFramework

#endif
