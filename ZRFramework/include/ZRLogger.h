// Dated log lines to a file, standard output and the system log, filtered by level, rotated by
// hour, day or month, optionally written by a detached writer thread.
#ifndef ZRFRAMEWORK_LOGGER_H
#define ZRFRAMEWORK_LOGGER_H

#include <cstdio>
#include <ctime>
#include <list>
#include <string>

#include "ZRFrameworkExport.h"
#include "ZRThreads.h"

namespace ZRFramework {

// Output flags.
constexpr int kLogToStdout = 2;
constexpr int kLogToFile = 4;
constexpr int kLogToSyslog = 8;

// Rotation modes.
constexpr int kRotateNever = 0;
constexpr int kRotateHourly = 1;
constexpr int kRotateDaily = 2;
constexpr int kRotateMonthly = 3;

// Called after each rotation with the path the old file was moved to. In detached mode it runs
// on the writer thread, outside the logger's locks, so it may log to the same logger.
typedef void (*zrLogRotationCallback)(const char* rotatedPath);

// Created by the caller (empty strings, facility -1), completed by CreateLogger.
struct zrLogger {
    int level = 0;
    int flags = 0;
    int facility = -1;
    FILE* file = nullptr;
    std::string fileName;
    std::string basePath;
    std::string identity;
    ZRProcesses::zrMutex stateLock = nullptr;
    ZRProcesses::zrMutex queueLock = nullptr;  // also guards the outputs, file and period
    ZRProcesses::zrConditional drained = nullptr;
    ZRProcesses::zrThreadObj* writer = nullptr;
    int rotation = 0;
    struct tm periodStart = {};
    bool detached = false;
    bool stop = false;
    zrLogRotationCallback rotationCallback = nullptr;
    std::list<std::string> queue;
    // Wakes the idle writer at once when a producer or a flush needs a pass, and on stop.
    ZRProcesses::zrConditional wake = nullptr;
    // Passes the writer has finished; waiters compare it under the queue lock.
    unsigned long long passes = 0;
};

namespace ZRLogger {

ZRFRAMEWORK_API void CreateLogger(zrLogger* logger, int level, int flags);
ZRFRAMEWORK_API void DestroyLogger(zrLogger* logger);
ZRFRAMEWORK_API void SetLoggerFile(zrLogger* logger, const char* fileName);
ZRFRAMEWORK_API void SetLoggerBasePath(zrLogger* logger, std::string basePath);
ZRFRAMEWORK_API void SetLoggerIdentity(zrLogger* logger, std::string identity);
// Values 0 to 7 store 128 + n; other values are ignored. The system log is opened with
// LOG_LOCAL0 + n for a stored 128 + n, and with LOG_DAEMON (24) when no facility was set.
ZRFRAMEWORK_API void SetLoggerFacility(zrLogger* logger, int facility);
ZRFRAMEWORK_API void SetLoggerRotation(zrLogger* logger, int mode);
// CreateLogger clears the callback: set it afterwards.
ZRFRAMEWORK_API void SetLoggerRotationCallback(zrLogger* logger, zrLogRotationCallback callback);
// Stopping writes every line still queued before it returns.
ZRFRAMEWORK_API void SetLoggerDetachedStatus(zrLogger* logger, bool detached);
// When detached, returns once every line queued before the call is written and flushed.
ZRFRAMEWORK_API void FlushDetachedThread(zrLogger* logger);
// A null logger or a level above the logger's discards the entry. Not detached, the caller
// writes under the logger's queue lock, so lines of concurrent callers never interleave.
ZRFRAMEWORK_API void AddLogEntry(zrLogger* logger, int level, const char* source,
                                 const char* format, ...) ZR_PRINTF_FORMAT(4, 5);
ZRFRAMEWORK_API void DumpLogString(zrLogger* logger, std::string& line, int level, bool flush);
ZRFRAMEWORK_API void CheckLogRotation(zrLogger* logger);

// Process-wide source of "now" for entry times and rotation; null restores time().
ZRFRAMEWORK_API void SetLoggerClock(time_t (*now)());

// What the loggers call to reach the system log; tests replace them to keep it untouched.
struct zrSystemLogCalls {
    void (*open)(const char* identity, int options, int facility);
    void (*write)(int priority, const char* line);
    void (*close)();
};
// Process-wide; null, or a null member, restores the system log calls (syslog on POSIX; none
// on Windows).
ZRFRAMEWORK_API void SetLoggerSystemLogCalls(const zrSystemLogCalls* calls);

}  // namespace ZRLogger
}  // namespace ZRFramework

#endif
