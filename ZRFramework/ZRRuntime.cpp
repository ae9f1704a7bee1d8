// Library start-up and shut-down, the default logger, the seed counter, unique identifiers,
// host information, byte swaps, sleeping and machine-wide unique locks.
#include "ZRRuntime.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

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

// Refuses names that would put the lock file anywhere but directly in /tmp: without a "/" only
// "." and ".." name something other than a file of /tmp itself.
bool LockPath(const char* name, std::string& path) {
    if (!name || !*name) return false;
    const std::string text(name);
    if (text.find('/') != std::string::npos || text == "." || text == "..") return false;
    path = "/tmp/" + text;
    return true;
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

std::string GetBundlePath() {
    // The link's length is not known ahead: grow until it fits.
    std::string target(256, '\0');
    while (true) {
        const ssize_t length = readlink("/proc/self/exe", &target[0], target.size());
        if (length < 0) return std::string();
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            break;
        }
        if (target.size() >= 65536) return std::string();
        target.resize(target.size() * 2);
    }
    const size_t slash = target.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : target.substr(0, slash);
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

bool GetHostName(std::string& name) {
    char buffer[256] = {};
    // One byte short of the buffer: a truncated name may come back without its terminator.
    if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
    name = buffer;
    return true;
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
    return FormatMacAddresses(ZRPlatform::ListLinkAddresses());
}

int GetProcessorsCount() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count < 1 ? 1 : static_cast<int>(std::min<long>(count, 1 << 20));
}

int GetRunningPlatformOS() {
    return kPlatformLinux;
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

void MicroSleep(int milliseconds) {
    if (milliseconds <= 0) return;
    // An absolute deadline lets an interrupted sleep resume for exactly what is left.
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

int CreateUniqueLock(const char* name) {
    std::string path;
    if (!LockPath(name, path)) return -1;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK, 0644);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool DeleteUniqueLock(int descriptor, const char* name) {
    std::string path;
    if (descriptor < 0 || !LockPath(name, path)) return false;
    flock(descriptor, LOCK_UN);
    close(descriptor);
    unlink(path.c_str());
    return true;
}

}  // namespace ZRFramework
