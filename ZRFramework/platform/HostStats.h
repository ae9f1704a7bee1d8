// The host's processor tick and memory statistics. The usage arithmetic is shared; the POSIX
// build reads /proc/stat and /proc/meminfo through parsers kept pure so they are tested and
// fuzzed on fixed texts; Windows reads the system's processor times and memory status.
#ifndef ZRFRAMEWORK_PLATFORM_HOSTSTATS_H
#define ZRFRAMEWORK_PLATFORM_HOSTSTATS_H

#include <cstdint>
#include <string>
#include <vector>

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRPlatform {

// One processor's ticks folded into the three states the monitor knows: user is user + nice,
// system is system + irq + softirq + steal (time the processor was not ours to idle in), idle
// is idle + iowait. Counters saturate instead of wrapping.
struct CpuTicks {
    uint64_t user;
    uint64_t system;
    uint64_t idle;
};

// Memory figures in bytes, as the host's page statistics count them: total is the free, active
// and inactive memory together (MemFree + Active + Inactive), available the free part alone.
// Memory the kernel holds for itself is in neither. Windows: the physical memory and its
// available part.
struct MemoryFigures {
    uint64_t total;
    uint64_t available;
};

// Busy percentage between two samples: du/(du+ds+di)*100 + ds/(du+ds+di)*100, clamped to
// 0..100; 0 when no tick elapsed. Counters that went backwards give negative growth, which the
// clamp absorbs. Inline, so that the tests reach it without the library exporting it.
inline double ProcessorUsage(const CpuTicks& previous, const CpuTicks& current) {
    const double du = static_cast<double>(current.user) - static_cast<double>(previous.user);
    const double ds = static_cast<double>(current.system) - static_cast<double>(previous.system);
    const double di = static_cast<double>(current.idle) - static_cast<double>(previous.idle);
    const double total = du + ds + di;
    if (total == 0.0) return 0.0;
    const double usage = du / total * 100.0 + ds / total * 100.0;
    if (!(usage > 0.0)) return 0.0;  // also NaN
    return usage > 100.0 ? 100.0 : usage;
}

// The usage of processors 0..count-1; a processor missing from either sample reads 0.
inline std::vector<double> ProcessorUsages(const std::vector<CpuTicks>& previous,
                                           const std::vector<CpuTicks>& current, int count) {
    std::vector<double> usages(count > 0 ? static_cast<size_t>(count) : 0, 0.0);
    for (size_t i = 0; i < usages.size() && i < previous.size() && i < current.size(); ++i)
        usages[i] = ProcessorUsage(previous[i], current[i]);
    return usages;
}

// Windows processor times, in 100-nanosecond units, folded into ticks of a hundredth of a
// second like the POSIX clock ticks, so that the 32-bit long of get_cpu_states lasts months
// rather than minutes. Kernel time includes the idle time; a kernel time below it counts as no
// system time.
inline CpuTicks TicksFromProcessorTimes(uint64_t idle, uint64_t kernel, uint64_t user) {
    constexpr uint64_t kUnitsPerTick = 100000;
    CpuTicks ticks;
    ticks.user = user / kUnitsPerTick;
    ticks.system = (kernel > idle ? kernel - idle : 0) / kUnitsPerTick;
    ticks.idle = idle / kUnitsPerTick;
    return ticks;
}

// The live statistics, one entry per processor in order; false when they are not available
// on this host or cannot be read.
bool ReadProcessorTicks(std::vector<CpuTicks>& processors);
bool ReadMemoryFigures(MemoryFigures& figures);

#if !defined(_WIN32)
// The "cpuN" lines of a /proc/stat text, in the order listed (the aggregate "cpu" line is
// skipped). False when a processor line has fewer than four numeric fields or there is none.
ZRFRAMEWORK_API bool ParseProcStat(const std::string& text, std::vector<CpuTicks>& processors);

// False when MemFree, Active or Inactive is missing or unreadable.
ZRFRAMEWORK_API bool ParseProcMeminfo(const std::string& text, MemoryFigures& figures);
#endif

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
