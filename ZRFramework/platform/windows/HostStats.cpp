// The host's processor and memory statistics on Windows: each processor's times from
// NtQuerySystemInformation, the machine's from GetSystemTimes when that is missing, and the
// memory status.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// Needs the types of <windows.h> first.
#include <winternl.h>

#include <cstring>

#include "../HostStats.h"
#include "ZRRuntime.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

typedef NTSTATUS(WINAPI* QuerySystemInformation)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);

// One processor group holds at most 64 processors, and the call reports one group.
constexpr size_t kMaxProcessors = 64;

uint64_t FromLargeInteger(const LARGE_INTEGER& value) {
    return value.QuadPart > 0 ? static_cast<uint64_t>(value.QuadPart) : 0;
}

uint64_t FromFileTime(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

QuerySystemInformation FindQuery() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return nullptr;
    const FARPROC found = GetProcAddress(ntdll, "NtQuerySystemInformation");
    // A function pointer round-trips through void (*)(void) by the language's rules.
    return reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void (*)(void)>(found));
}

bool ReadEachProcessor(std::vector<CpuTicks>& processors) {
    static const QuerySystemInformation query = FindQuery();
    if (!query) return false;
    SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION times[kMaxProcessors];
    std::memset(times, 0, sizeof times);
    ULONG length = 0;
    const NTSTATUS status =
        query(SystemProcessorPerformanceInformation, times, sizeof times, &length);
    if (status < 0 || length > sizeof times) return false;
    const size_t count = length / sizeof times[0];
    if (count == 0) return false;
    std::vector<CpuTicks> read;
    read.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        read.push_back(TicksFromProcessorTimes(FromLargeInteger(times[i].IdleTime),
                                               FromLargeInteger(times[i].KernelTime),
                                               FromLargeInteger(times[i].UserTime)));
    }
    processors.swap(read);
    return true;
}

// Every processor reads the machine's ticks, which gives each the machine's average usage.
bool ReadWholeMachine(std::vector<CpuTicks>& processors) {
    FILETIME idle, kernel, user;
    if (!GetSystemTimes(&idle, &kernel, &user)) return false;
    const CpuTicks machine =
        TicksFromProcessorTimes(FromFileTime(idle), FromFileTime(kernel), FromFileTime(user));
    processors.assign(static_cast<size_t>(GetProcessorsCount()), machine);
    return true;
}

}  // namespace

bool ReadProcessorTicks(std::vector<CpuTicks>& processors) {
    return ReadEachProcessor(processors) || ReadWholeMachine(processors);
}

bool ReadMemoryFigures(MemoryFigures& figures) {
    MEMORYSTATUSEX status;
    std::memset(&status, 0, sizeof status);
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status) || status.ullTotalPhys == 0) return false;
    figures.total = status.ullTotalPhys;
    figures.available =
        status.ullAvailPhys < status.ullTotalPhys ? status.ullAvailPhys : status.ullTotalPhys;
    return true;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
