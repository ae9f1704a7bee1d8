// Library start-up and shut-down, the default logger, and host information: name, hardware
// addresses, processors, byte swaps, sleeping and machine-wide unique locks.
#ifndef ZRFRAMEWORK_RUNTIME_H
#define ZRFRAMEWORK_RUNTIME_H

#include <string>

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

ZRFRAMEWORK_API std::string GetModuleBasePath();
// The folder of the running program; it stands in for the bundle path of other platforms.
ZRFRAMEWORK_API std::string GetBundlePath();

// Consecutive values, safe from any thread.
ZRFRAMEWORK_API int GetProgressiveSeed();
// 24 upper-case hexadecimal digits from four rand() values and the time.
ZRFRAMEWORK_API std::string GenerateUniqueGUID();
ZRFRAMEWORK_API bool GetHostName(std::string& name);
ZRFRAMEWORK_API std::string GetHostMacAddresses(bool unused);
ZRFRAMEWORK_API int GetProcessorsCount();
ZRFRAMEWORK_API int GetRunningPlatformOS();

ZRFRAMEWORK_API void Swap2Bytes(void* value);
ZRFRAMEWORK_API void Swap4Bytes(void* value);
ZRFRAMEWORK_API void Swap8Bytes(void* value);

ZRFRAMEWORK_API void MicroSleep(int milliseconds);

// A machine-wide lock on the file "/tmp/" + name: the descriptor, or -1 when another holder has
// it or the file cannot be opened.
ZRFRAMEWORK_API int CreateUniqueLock(const char* name);
ZRFRAMEWORK_API bool DeleteUniqueLock(int descriptor, const char* name);

}  // namespace ZRFramework

#endif
