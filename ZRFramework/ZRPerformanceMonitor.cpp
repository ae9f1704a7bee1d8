// The performance monitor: its sampling thread, start and stop, the getters and the text forms
// of the figures.
#include "ZRPerformanceMonitor.h"

#include <chrono>
#include <climits>
#include <locale>
#include <memory>
#include <new>
#include <sstream>
#include <vector>

#include "ZRRuntime.h"
#include "ZRThreads.h"
#include "platform/HostStats.h"

namespace ZRFramework {

namespace ZRPerformanceMonitor {

namespace {

using ZRProcesses::zrConditional;
using ZRProcesses::zrMutex;
using ZRProcesses::zrMutexLock;
using ZRProcesses::zrThreadObj;

constexpr int kPassMilliseconds = 1000;

// Serialises start, stop and the getters, so that no getter reads figures that a concurrent
// stop is freeing. The monitor thread never takes it: a stop joins the thread while holding it.
// Made on first use and kept for the life of the process.
zrMutex LifecycleLock() {
    static const zrMutex lock = ZRProcesses::CreateMutex();
    return lock;
}

// Everything below is guarded by _monitor_mutex while the thread runs; the fields set at start
// (processorCount, the array pointer) stay fixed until the stop has joined the thread.
_perf_mon_data monitorData = {};
std::unique_ptr<double[]> usageArray;
uint64_t samplingPasses = 0;
zrMutex _monitor_mutex = nullptr;
zrConditional shutdownSignal = nullptr;  // wakes the thread out of its pause
zrThreadObj* _internal_performance_thread = nullptr;
bool _internal_performance_thread_shutdown = false;

// Called with _monitor_mutex held: waits one pass or until the shutdown flag is set. The
// deadline is kept on the steady clock so that early wake-ups do not shorten the pass.
void PauseLocked() {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPassMilliseconds);
    while (!_internal_performance_thread_shutdown) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return;
        ZRProcesses::WaitTimedConditional(shutdownSignal, static_cast<int>(left));
    }
}

std::vector<ZRPlatform::CpuTicks> Sample() {
    std::vector<ZRPlatform::CpuTicks> ticks;
    ZRPlatform::ReadProcessorTicks(ticks);  // a failed read leaves it empty: those usages read 0
    return ticks;
}

ZRProcesses::zrThreadResult ZRTHREAD_CALL MonitorThread(void*) {
    const int count = monitorData.processorCount;
    FillPerformanceData(&monitorData);
    std::vector<ZRPlatform::CpuTicks> previous = Sample();

    ZRProcesses::LockMutex(_monitor_mutex);
    while (!_internal_performance_thread_shutdown) {
        PauseLocked();
        if (_internal_performance_thread_shutdown) break;
        ZRProcesses::UnlockMutex(_monitor_mutex);

        std::vector<ZRPlatform::CpuTicks> current = Sample();
        const std::vector<double> usages = ZRPlatform::ProcessorUsages(previous, current, count);
        previous.swap(current);
        {
            zrMutexLock guard(_monitor_mutex);
            for (int i = 0; i < count; ++i)
                monitorData.processorUsage[i] = usages[i];
            ++samplingPasses;
        }
        FillPerformanceData(&monitorData);

        ZRProcesses::LockMutex(_monitor_mutex);
    }
    ZRProcesses::UnlockMutex(_monitor_mutex);
    return ZRProcesses::zrThreadResult();
}

// Called with the lifecycle lock held.
void ReleaseLocked() {
    ZRProcesses::DestroyConditional(shutdownSignal);
    shutdownSignal = nullptr;
    ZRProcesses::DestroyMutex(_monitor_mutex);
    _monitor_mutex = nullptr;
    usageArray.reset();
    monitorData = _perf_mon_data();
    samplingPasses = 0;
}

// Called with the lifecycle lock held.
void StartLocked() {
    if (_internal_performance_thread) return;
    const int count = GetProcessorsCount();
    usageArray.reset(new (std::nothrow) double[static_cast<size_t>(count)]());
    _monitor_mutex = ZRProcesses::CreateMutex();
    shutdownSignal = _monitor_mutex ? ZRProcesses::CreateConditional(&_monitor_mutex) : nullptr;
    if (!usageArray || !shutdownSignal) {
        ReleaseLocked();
        return;
    }
    monitorData = _perf_mon_data();
    monitorData.processorCount = count;
    monitorData.processorUsage = usageArray.get();
    monitorData.reserved = 0;
    samplingPasses = 0;
    _internal_performance_thread_shutdown = false;
    FillPerformanceData(&monitorData);
    _internal_performance_thread = ZRProcesses::SpawnThread(MonitorThread, nullptr);
    if (!_internal_performance_thread) ReleaseLocked();
}

// Starts the monitor when needed and hands `read` the figures under both locks.
template <typename Read>
auto Query(Read read) {
    zrMutexLock lifecycle(LifecycleLock());
    StartLocked();
    zrMutexLock figures(_monitor_mutex);
    return read();
}

}  // namespace

void StartPerformanceMonitor() {
    zrMutexLock lifecycle(LifecycleLock());
    StartLocked();
}

void StopPerformanceMonitor() {
    zrMutexLock lifecycle(LifecycleLock());
    if (_internal_performance_thread) {
        {
            zrMutexLock guard(_monitor_mutex);
            _internal_performance_thread_shutdown = true;
            ZRProcesses::SignalConditional(shutdownSignal);
        }
        ZRProcesses::JoinThread(_internal_performance_thread);
        _internal_performance_thread = nullptr;
    }
    ReleaseLocked();
}

double GetCpuUsage(int cpu) {
    return Query([cpu] {
        if (cpu < 0 || cpu >= monitorData.processorCount) return 0.0;
        return monitorData.processorUsage[cpu];
    });
}

uint64_t GetRamAmount() {
    return Query([] { return monitorData.memoryAmount; });
}

uint64_t GetRamUsage() {
    return Query([] { return monitorData.memoryUsage; });
}

uint64_t GetSwapAmount() {
    return Query([] { return monitorData.swapAmount; });
}

uint64_t GetSwapUsage() {
    return Query([] { return monitorData.swapUsage; });
}

uint64_t GetSamplingPasses() {
    return Query([] { return samplingPasses; });
}

std::string GetFormattedProcUsage() {
    return Query([] {
        return FormatProcessorUsages(monitorData.processorUsage, monitorData.processorCount);
    });
}

std::string GetFormattedRamUsage() {
    return Query([] {
        return FormatRamUsage(monitorData.memoryAmount, monitorData.memoryUsage,
                              monitorData.swapAmount, monitorData.swapUsage);
    });
}

int GetMountPaths(char** paths) {
    StartPerformanceMonitor();
    if (paths) *paths = nullptr;
    return 0;
}

int GetMountPathsUsage(char** usages) {
    StartPerformanceMonitor();
    if (usages) *usages = nullptr;
    return 0;
}

bool FillPerformanceData(_perf_mon_data* data) {
    if (!data) return false;
    ZRPlatform::MemoryFigures figures;
    const bool read = ZRPlatform::ReadMemoryFigures(figures);
    zrMutexLock guard(_monitor_mutex);
    if (!read) {
        data->memoryAmount = data->swapAmount = 100;
        data->memoryUsage = data->swapUsage = 0;
        return false;
    }
    data->memoryAmount = figures.total;
    data->memoryUsage = figures.total > figures.available ? figures.total - figures.available : 0;
    data->swapAmount = data->memoryAmount;
    data->swapUsage = data->memoryUsage;
    return true;
}

bool get_cpu_states(long* states, int cpu) {
    std::vector<ZRPlatform::CpuTicks> ticks;
    if (!states || cpu < 0 || !ZRPlatform::ReadProcessorTicks(ticks)) return false;
    if (static_cast<size_t>(cpu) >= ticks.size()) return false;
    // A 32-bit long (Windows) saturates rather than wrapping into negative counts.
    const auto toLong = [](uint64_t value) {
        return value > static_cast<uint64_t>(LONG_MAX) ? LONG_MAX : static_cast<long>(value);
    };
    states[0] = toLong(ticks[static_cast<size_t>(cpu)].user);
    states[1] = toLong(ticks[static_cast<size_t>(cpu)].system);
    states[2] = toLong(ticks[static_cast<size_t>(cpu)].idle);
    return true;
}

std::string FormatProcessorUsages(const double* usages, int count) {
    if (!usages || count <= 0) return std::string();
    std::ostringstream text;
    text.imbue(std::locale::classic());  // a decimal point whatever the program's locale
    text.precision(3);
    for (int i = 0; i < count; ++i) {
        if (i > 0) text << ' ';
        text << usages[i];
    }
    return text.str();
}

std::string FormatRamUsage(uint64_t memoryAmount, uint64_t memoryUsage, uint64_t swapAmount,
                           uint64_t swapUsage) {
    return std::to_string(memoryAmount) + '|' + std::to_string(memoryUsage) + '|' +
           std::to_string(swapAmount) + '|' + std::to_string(swapUsage);
}

}  // namespace ZRPerformanceMonitor
}  // namespace ZRFramework
