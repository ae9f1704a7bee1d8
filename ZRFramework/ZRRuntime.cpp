// Library start-up and shut-down, the default logger, the seed counter, unique identifiers,
// hardware-address texts and byte swaps; the host queries are in the platform files.
#include "ZRRuntime.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "ZRPerformanceMonitor.h"
#include "ZRThreads.h"
#include "platform/LinkAddresses.h"

namespace ZRFramework {

namespace {

zrLogger* defaultLogger = nullptr;
std::string basePath;
ZRProcesses::zrMutex seedLock = nullptr;
int seedCounter = 0;

bool HasMacPrefix(const std::string& name) {
    for (const char* prefix : {"en", "eth", "wl"}) {
        if (name.compare(0, std::char_traits<char>::length(prefix), prefix) == 0) return true;
    }
    return false;
}

void ReverseBytes(void* value, size_t size) {
    if (!value) return;
    auto* bytes = static_cast<unsigned char*>(value);
    std::reverse(bytes, bytes + size);
}

}  // namespace

void InitializeLibrary(const char*) {
    basePath = GetBundlePath();
    if (!seedLock) seedLock = ZRProcesses::CreateMutex();
    seedCounter = rand();
}

void ShutdownLibrary() {
    ZRProcesses::DestroyMutex(seedLock);
    seedLock = nullptr;
    ZRPerformanceMonitor::StopPerformanceMonitor();
}

void SetDefaultLogger(zrLogger* logger) {
    defaultLogger = logger;
}

void RemoveDefaultLogger() {
    defaultLogger = nullptr;
}

zrLogger* GetDefaultLogger() {
    return defaultLogger;
}

std::string GetModuleBasePath() {
    return basePath;
}

int GetProgressiveSeed() {
    ZRProcesses::zrMutexLock hold(seedLock);
    const int seed = seedCounter;
    // Wrap through unsigned arithmetic: a signed overflow would be undefined.
    seedCounter = static_cast<int>(static_cast<unsigned int>(seedCounter) + 1u);
    return seed;
}

std::string GenerateUniqueGUID() {
    const time_t now = time(nullptr);
    unsigned int drawn[4];
    for (unsigned int& value : drawn)
        value = static_cast<unsigned int>(rand()) & 0xFFFFu;
    char text[64];
    snprintf(text, sizeof text, "%4.4X%4.4X%4.4X%4.4X%4.4lX", drawn[3], drawn[2], drawn[1],
             drawn[0], static_cast<unsigned long>(now));
    return text;
}

std::string FormatMacAddresses(const std::vector<zrLinkAddress>& interfaces) {
    std::string text;
    for (const zrLinkAddress& entry : interfaces) {
        if (!HasMacPrefix(entry.name)) continue;
        const auto& a = entry.address;
        char group[16];
        snprintf(group, sizeof group, "%2.2x%2.2x%2.2x%2.2x%2.2x%2.2x", a[0], a[1], a[2], a[3],
                 a[4], a[5]);
        text += group;
        text += '|';
    }
    if (!text.empty()) text.pop_back();
    return text;
}

std::string GetHostMacAddresses(bool) {
#if defined(_WIN32)
    // The adapter list is only walked when NetBIOS gave nothing.
    const std::vector<ZRPlatform::zrHardwareAddress> netbios = ZRPlatform::ListNetbiosAddresses();
    return ZRPlatform::FormatWindowsMacAddresses(
        netbios, netbios.empty() ? ZRPlatform::ListLinkAddresses() : std::vector<zrLinkAddress>());
#else
    return FormatMacAddresses(ZRPlatform::ListLinkAddresses());
#endif
}

void Swap2Bytes(void* value) {
    ReverseBytes(value, 2);
}

void Swap4Bytes(void* value) {
    ReverseBytes(value, 4);
}

void Swap8Bytes(void* value) {
    ReverseBytes(value, 8);
}

}  // namespace ZRFramework
