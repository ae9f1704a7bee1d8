// Local time on POSIX: localtime_r and tzset.
#include "../LocalTime.h"

#include <time.h>

namespace ZRFramework {

bool LocalTime(std::time_t when, std::tm& parts) {
    return localtime_r(&when, &parts) != nullptr;
}

void ReloadTimeZone() {
    tzset();
}

}  // namespace ZRFramework
