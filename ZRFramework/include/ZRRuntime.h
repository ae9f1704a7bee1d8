// Library start-up and shut-down, the default logger, and host information: name, hardware
// addresses, processors, byte swaps, sleeping and machine-wide unique locks.
#ifndef ZRFRAMEWORK_RUNTIME_H
#define ZRFRAMEWORK_RUNTIME_H

#include <array>
#include <string>
#include <vector>

#include "ZRFrameworkExport.h"

namespace ZRFramework {

struct zrLogger;

// Platform codes of GetRunningPlatformOS (the node operating-system codes of the farm).
constexpr int kPlatformWindows = 1;
constexpr int kPlatformLinux = 2;
constexpr int kPlatformMacOS = 4;

// Stores the base path (the folder of the running program), creates the seed lock and seeds the
// counter. The argument is not used.
ZRFRAMEWORK_API void InitializeLibrary(const char* programPath);
// Destroys the seed lock and stops the performance monitor.
ZRFRAMEWORK_API void ShutdownLibrary();

// Where the framework's own failure messages go; not owned by the library.
ZRFRAMEWORK_API void SetDefaultLogger(zrLogger* logger);
ZRFRAMEWORK_API void RemoveDefaultLogger();
ZRFRAMEWORK_API zrLogger* GetDefaultLogger();

// The base path stored by InitializeLibrary; empty before it.
ZRFRAMEWORK_API std::string GetModuleBasePath();
// The folder of the running program, empty when it cannot be read. POSIX gives "/" for a
// program at the root; Windows cuts GetModuleFileNameA before its last backslash.
ZRFRAMEWORK_API std::string GetBundlePath();

// Consecutive values, safe from any thread; after INT_MAX comes INT_MIN.
ZRFRAMEWORK_API int GetProgressiveSeed();
// 24 upper-case hexadecimal digits from four rand() values and the time. Each rand() value is
// cut to its low 16 bits, since this platform's rand() reaches 31 bits and the text would
// otherwise vary in length.
ZRFRAMEWORK_API std::string GenerateUniqueGUID();
// False when the name cannot be read; `name` is then unchanged.
ZRFRAMEWORK_API bool GetHostName(std::string& name);

// One link-layer interface: its name and six-byte hardware address.
struct zrLinkAddress {
    std::string name;
    std::array<unsigned char, 6> address;
};
// The hardware addresses of the wired and wireless interfaces, as 12 lower-case hexadecimal
// digits each, joined by "|"; empty when there is none. Those are the interfaces named "en*"
// (en0, enp3s0, eno1), "eth*" or "wl*" (wlan0, wlp2s0); loopback, bridges and virtual links
// are left out.
ZRFRAMEWORK_API std::string FormatMacAddresses(const std::vector<zrLinkAddress>& interfaces);
// FormatMacAddresses over the host's interfaces. On Windows the addresses of the NetBIOS
// adapters instead, or when there is none every adapter's address followed by a line feed, all
// joined by "|". The argument is not used.
ZRFRAMEWORK_API std::string GetHostMacAddresses(bool unused);
// Online processors (GetSystemInfo on Windows), at least 1.
ZRFRAMEWORK_API int GetProcessorsCount();
// kPlatformLinux or kPlatformWindows, as built.
ZRFRAMEWORK_API int GetRunningPlatformOS();

ZRFRAMEWORK_API void Swap2Bytes(void* value);
ZRFRAMEWORK_API void Swap4Bytes(void* value);
ZRFRAMEWORK_API void Swap8Bytes(void* value);

// Blocks for the whole time, even when signals interrupt it; nothing for 0 or less.
ZRFRAMEWORK_API void MicroSleep(int milliseconds);

#if defined(_WIN32)
// A machine-wide lock: a named mutex "Global\\" + name, created owned. Null when it exists
// already or cannot be made, or the name is empty. The lock lasts until DeleteUniqueLock or the
// end of the process.
ZRFRAMEWORK_API void* CreateUniqueLock(const char* name);
// Closes the handle; false for null.
ZRFRAMEWORK_API bool DeleteUniqueLock(void* lock);
#else
// A machine-wide lock: an exclusive, non-blocking flock on the file "/tmp/" + name, created
// with mode 0644 when missing. Returns the descriptor, or -1 when another holder has it (a
// second call in this process too), the file cannot be opened, or the name is empty, ".", ".."
// or holds a "/", which could reach outside /tmp. The lock lasts until DeleteUniqueLock or the end
// of the process; a child started meanwhile inherits the descriptor and with it the lock.
ZRFRAMEWORK_API int CreateUniqueLock(const char* name);
// Releases the lock, closes the descriptor and removes the file. False, touching nothing, for a
// negative descriptor or a name CreateUniqueLock refuses: the file may be another holder's.
ZRFRAMEWORK_API bool DeleteUniqueLock(int descriptor, const char* name);
#endif

}  // namespace ZRFramework

#endif
