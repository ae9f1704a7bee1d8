// Local time on Windows: localtime_s (its arguments in the other order) and _tzset.
#include "../LocalTime.h"

#include <time.h>

namespace ZRFramework {

bool LocalTime(std::time_t when, std::tm& parts) {
    return localtime_s(&parts, &when) == 0;
}

void ReloadTimeZone() {
    _tzset();
}

}  // namespace ZRFramework
