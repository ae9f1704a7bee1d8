// The host's processor and memory statistics on Windows. They are not gathered yet: both
// readings report "not available", which the monitor treats as a failed reading.
#include "../HostStats.h"

namespace ZRFramework {
namespace ZRPlatform {

bool ReadProcessorTicks(std::vector<CpuTicks>&) {
    return false;
}

bool ReadMemoryFigures(MemoryFigures&) {
    return false;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
