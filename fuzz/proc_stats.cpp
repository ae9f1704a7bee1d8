// Fuzzes the /proc/stat and /proc/meminfo parsers and the usage arithmetic over their results:
// usages stay within 0..100 and free memory never yields a usage above the amount.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../ZRFramework/platform/HostStats.h"
#include "ZRPerformanceMonitor.h"

namespace HS = ZRFramework::ZRPlatform;
namespace PM = ZRFramework::ZRPerformanceMonitor;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<HS::CpuTicks> ticks;
    if (HS::ParseProcStat(text, ticks)) {
        Check(!ticks.empty());
        // Every pair of processors stands for a previous and a current sample.
        std::vector<HS::CpuTicks> shifted(ticks.begin() + 1, ticks.end());
        const int count = static_cast<int>(ticks.size());
        const std::vector<double> usages = HS::ProcessorUsages(ticks, shifted, count);
        Check(usages.size() == ticks.size());
        for (double usage : usages)
            Check(!std::isnan(usage) && usage >= 0.0 && usage <= 100.0);
        Check(usages.back() == 0.0);  // no current sample for the last one
        const std::string formatted = PM::FormatProcessorUsages(usages.data(), count);
        Check(!formatted.empty() && formatted.back() != ' ');
    } else {
        Check(ticks.empty());
    }

    HS::MemoryFigures figures = {1, 2};
    if (HS::ParseProcMeminfo(text, figures)) {
        const uint64_t used =
            figures.total > figures.available ? figures.total - figures.available : 0;
        Check(used <= figures.total);
        Check(!PM::FormatRamUsage(figures.total, used, figures.total, used).empty());
    } else {
        Check(figures.total == 1 && figures.available == 2);
    }
    return 0;
}
