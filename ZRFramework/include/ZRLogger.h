// Dated log lines to a file, standard output and the system log, filtered by level, rotated by
// hour, day or month, optionally written by a detached writer thread.
#ifndef ZRFRAMEWORK_LOGGER_H
#define ZRFRAMEWORK_LOGGER_H

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
    ZRProcesses::zrMutex queueLock = nullptr;
    ZRProcesses::zrConditional drained = nullptr;
    ZRProcesses::zrThreadObj* writer = nullptr;
    int rotation = 0;
    struct tm periodStart = {};
    bool detached = false;
    bool stop = false;
    zrLogRotationCallback rotationCallback = nullptr;
    std::list<std::string> queue;
};

namespace ZRLogger {

ZRFRAMEWORK_API void CreateLogger(zrLogger* logger, int level, int flags);
ZRFRAMEWORK_API void DestroyLogger(zrLogger* logger);
ZRFRAMEWORK_API void SetLoggerFile(zrLogger* logger, const char* fileName);
ZRFRAMEWORK_API void SetLoggerBasePath(zrLogger* logger, std::string basePath);
ZRFRAMEWORK_API void SetLoggerIdentity(zrLogger* logger, std::string identity);
// Values up to 7 store 128 + n; larger values are ignored.
ZRFRAMEWORK_API void SetLoggerFacility(zrLogger* logger, int facility);
ZRFRAMEWORK_API void SetLoggerRotation(zrLogger* logger, int mode);
ZRFRAMEWORK_API void SetLoggerRotationCallback(zrLogger* logger, zrLogRotationCallback callback);
ZRFRAMEWORK_API void SetLoggerDetachedStatus(zrLogger* logger, bool detached);
ZRFRAMEWORK_API void FlushDetachedThread(zrLogger* logger);
// A null logger or a level above the logger's discards the entry.
ZRFRAMEWORK_API void AddLogEntry(zrLogger* logger, int level, const char* source,
                                 const char* format, ...) __attribute__((format(printf, 4, 5)));
ZRFRAMEWORK_API void DumpLogString(zrLogger* logger, std::string& line, int level, bool flush);
ZRFRAMEWORK_API void CheckLogRotation(zrLogger* logger);

}  // namespace ZRLogger
}  // namespace ZRFramework

#endif
