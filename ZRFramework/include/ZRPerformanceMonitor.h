// The performance monitor: a background thread that samples each processor's load and the
// host's memory figures once a second, and getters that hand out the latest values.
#ifndef ZRFRAMEWORK_PERFORMANCEMONITOR_H
#define ZRFRAMEWORK_PERFORMANCEMONITOR_H

#include <cstdint>
#include <string>

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRPerformanceMonitor {

struct _perf_mon_data {
    int processorCount;
    double* processorUsage;  // processorCount values, percent 0..100
    uint64_t reserved;       // zeroed at start
    uint64_t memoryAmount;   // bytes: free + active + inactive memory
    uint64_t memoryUsage;    // bytes: the active and inactive part of this pass's amount
    uint64_t swapAmount;     // repeats memoryAmount of the same pass
    uint64_t swapUsage;      // repeats memoryUsage of the same pass
};

// Starts the monitor unless it runs. Every getter below does so first.
ZRFRAMEWORK_API void StartPerformanceMonitor();
// Ends the thread without waiting out its pause, and frees the figures; a later start begins
// afresh.
ZRFRAMEWORK_API void StopPerformanceMonitor();

// Busy percentage of processor `cpu` over the last second; 0.0 for a number outside
// 0..count-1, and for every processor during the first second.
ZRFRAMEWORK_API double GetCpuUsage(int cpu);
ZRFRAMEWORK_API uint64_t GetRamAmount();
ZRFRAMEWORK_API uint64_t GetRamUsage();
ZRFRAMEWORK_API uint64_t GetSwapAmount();
ZRFRAMEWORK_API uint64_t GetSwapUsage();
// Completed sampling passes since the monitor started; the first ends after one second.
ZRFRAMEWORK_API uint64_t GetSamplingPasses();

// Every processor's usage in order, see FormatProcessorUsages.
ZRFRAMEWORK_API std::string GetFormattedProcUsage();
// The four memory figures, see FormatRamUsage.
ZRFRAMEWORK_API std::string GetFormattedRamUsage();

// Mount paths are not reported on this platform: both start the monitor, set *paths (when
// given) to null and return 0, the number of paths.
ZRFRAMEWORK_API int GetMountPaths(char** paths);
ZRFRAMEWORK_API int GetMountPathsUsage(char** usages);

// Refreshes the memory figures of `data` under the monitor's mutex. When the statistics cannot
// be read, both amounts become 100 and both usages 0, and the result is false.
ZRFRAMEWORK_API bool FillPerformanceData(_perf_mon_data* data);
// Fills states[0..2] with the user, system and idle ticks of processor `cpu`; false when they
// cannot be read or there is no such processor.
ZRFRAMEWORK_API bool get_cpu_states(long* states, int cpu);

// Each usage in the default floating format with 3 significant digits ("0", "12.3", "100"),
// separated by single spaces; empty for no processor.
ZRFRAMEWORK_API std::string FormatProcessorUsages(const double* usages, int count);
// "memory amount|memory usage|swap amount|swap usage", in decimal bytes.
ZRFRAMEWORK_API std::string FormatRamUsage(uint64_t memoryAmount, uint64_t memoryUsage,
                                           uint64_t swapAmount, uint64_t swapUsage);

}  // namespace ZRPerformanceMonitor
}  // namespace ZRFramework

#endif
