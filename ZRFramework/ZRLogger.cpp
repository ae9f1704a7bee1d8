// The logger: entry formatting, the file, standard-output and system-log outputs, period
// rotation, and the detached writer thread.
#include "ZRLogger.h"

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "ZRFileSystem.h"
#include "ZRRuntime.h"
#include "platform/LocalTime.h"
#include "platform/LogSupport.h"

namespace ZRFramework {
namespace ZRLogger {

using namespace ZRProcesses;

namespace {

// Producers wait for a writer pass when more lines than this are queued.
constexpr size_t kQueueHighWater = 255;
constexpr int kIdleWaitMs = 200;
constexpr size_t kMaxMessageBytes = 4095;

std::atomic<time_t (*)()> gClock{nullptr};

// Null selects the platform's own calls; constant-initialised, so loggers made by static
// initialisers of other files see them too.
std::atomic<void (*)(const char*, int, int)> gOpen{nullptr};
std::atomic<void (*)(int, const char*)> gWrite{nullptr};
std::atomic<void (*)()> gClose{nullptr};

zrSystemLogCalls SystemLog() {
    const zrSystemLogCalls& system = ZRPlatform::DefaultSystemLog();
    void (*open)(const char*, int, int) = gOpen.load();
    void (*write)(int, const char*) = gWrite.load();
    void (*close)() = gClose.load();
    return {open ? open : system.open, write ? write : system.write, close ? close : system.close};
}

time_t Now() {
    time_t (*clock)() = gClock.load();
    return clock ? clock() : time(nullptr);
}

struct tm LocalNow() {
    const time_t now = Now();
    struct tm local = {};
    LocalTime(now, local);
    return local;
}

// openlog keeps the identity pointer, so the text must outlive every logger that used it.
const char* StableIdentity(const std::string& identity) {
    static std::mutex lock;
    static std::set<std::string> identities;
    std::lock_guard<std::mutex> guard(lock);
    return identities.insert(identity).first->c_str();
}

std::string LogPath(const zrLogger* logger) {
    return logger->basePath + "/" + logger->fileName;
}

// A rotation whose callback is still due; callbacks run after the queue lock is released so
// that they may log.
struct Rotation {
    zrLogRotationCallback callback;
    std::string path;
};

void RunCallbacks(const std::vector<Rotation>& rotations) {
    for (const Rotation& rotation : rotations)
        rotation.callback(rotation.path.c_str());
}

// The writer thread of each logger, so that it never waits on itself.
thread_local const zrLogger* tWriterOf = nullptr;

bool PeriodEnded(int mode, const struct tm& start, const struct tm& now) {
    switch (mode) {
        case kRotateHourly:
            // The day of the month too: an hour a week later has the same weekday.
            return start.tm_hour != now.tm_hour || start.tm_wday != now.tm_wday ||
                   start.tm_mday != now.tm_mday || start.tm_mon != now.tm_mon ||
                   start.tm_year != now.tm_year;
        case kRotateDaily:
            return start.tm_mday != now.tm_mday || start.tm_mon != now.tm_mon ||
                   start.tm_year != now.tm_year;
        case kRotateMonthly:
            return start.tm_mon != now.tm_mon || start.tm_year != now.tm_year;
        default:
            return false;
    }
}

std::string RotatedPrefix(int mode, const struct tm& start) {
    char prefix[96];
    const int month = start.tm_mon + 1;
    const int year = start.tm_year + 1900;
    if (mode == kRotateHourly) {
        snprintf(prefix, sizeof prefix, "%02d.%02d.%04d.%02d.", month, start.tm_mday, year,
                 start.tm_hour);
    } else if (mode == kRotateDaily) {
        snprintf(prefix, sizeof prefix, "%02d.%02d.%04d.", month, start.tm_mday, year);
    } else {
        snprintf(prefix, sizeof prefix, "%02d.%04d.", month, year);
    }
    return prefix;
}

// Caller holds the queue lock.
void RotateIfDue(zrLogger* logger, std::vector<Rotation>* rotations) {
    if (!logger->file) return;
    const struct tm now = LocalNow();
    if (!PeriodEnded(logger->rotation, logger->periodStart, now)) return;

    const std::string path = LogPath(logger);
    const std::string moved = logger->basePath + "/" +
                              RotatedPrefix(logger->rotation, logger->periodStart) +
                              logger->fileName;
    fclose(logger->file);
    ZRFileSystem::MoveFile(path, moved);
    logger->file = fopen(path.c_str(), "a");
    logger->periodStart = now;
    if (logger->rotationCallback) rotations->push_back({logger->rotationCallback, moved});
}

// Caller holds the queue lock.
void WriteLine(zrLogger* logger, const std::string& line, int level, bool flush,
               std::vector<Rotation>* rotations) {
    if (logger->flags & kLogToStdout) {
        fwrite(line.data(), 1, line.size(), stdout);
        fputc('\n', stdout);
        if (flush) fflush(stdout);
    }
    if (logger->flags & kLogToSyslog)
        SystemLog().write(ZRPlatform::SystemLogPriority(level), line.c_str());
    if ((logger->flags & kLogToFile) && logger->file) {
        RotateIfDue(logger, rotations);
        if (logger->file) {
            fwrite(line.data(), 1, line.size(), logger->file);
            fputc('\n', logger->file);
            if (flush) fflush(logger->file);
        }
    }
}

// Caller holds the queue lock and the logger is detached. Returns at once on the writer
// thread itself, which alone can finish a pass.
void WaitForPass(zrLogger* logger) {
    if (tWriterOf == logger) return;
    const unsigned long long start = logger->passes;
    SignalConditional(logger->wake);
    while (logger->detached && logger->passes == start)
        WaitConditional(logger->drained);
}

zrThreadResult ZRTHREAD_CALL WriterMain(void* startRecord) {
    auto* logger = static_cast<zrLogger*>(GetThreadData(startRecord));
    tWriterOf = logger;
    LockMutex(logger->queueLock);
    for (;;) {
        std::vector<Rotation> rotations;
        size_t written = 0;
        while (!logger->queue.empty()) {
            // The logger's own level, not the entry's, picks the system-log priority.
            WriteLine(logger, logger->queue.front(), logger->level, false, &rotations);
            logger->queue.pop_front();
            ++written;
        }
        // Flushing each pass keeps a crash from losing lines that sit in the buffer.
        if (written && logger->file) fflush(logger->file);
        ++logger->passes;
        BroadcastSignalConditional(logger->drained);

        // Checked in the same hold as the drain: once `detached` is off, producers write
        // directly, so no line can be queued after the last pass.
        const bool stopping = logger->stop;
        if (stopping) logger->detached = false;
        const bool flushStdout = written && (logger->flags & kLogToStdout);
        if (stopping || flushStdout || !rotations.empty()) {
            UnlockMutex(logger->queueLock);
            if (flushStdout) fflush(stdout);
            RunCallbacks(rotations);
            if (stopping) break;
            LockMutex(logger->queueLock);
            continue;
        }
        WaitTimedConditional(logger->wake, kIdleWaitMs);
    }
    tWriterOf = nullptr;
    return zrThreadResult();
}

}  // namespace

void CreateLogger(zrLogger* logger, int level, int flags) {
    if (!logger) return;
    logger->identity = "zrUtilsLog";
    logger->stateLock = CreateMutex();
    logger->queueLock = CreateMutex();
    logger->drained = CreateConditional(&logger->queueLock);
    logger->wake = CreateConditional(&logger->queueLock);
    logger->level = level;
    logger->flags = flags;
    logger->detached = false;
    logger->stop = false;
    logger->rotationCallback = nullptr;
    logger->writer = nullptr;
    logger->passes = 0;

    if (logger->basePath.empty()) logger->basePath = GetModuleBasePath();
    if (logger->fileName.empty()) logger->fileName = "default.log";
    const std::string path = LogPath(logger);
    logger->periodStart = LocalNow();

    if (flags & kLogToFile) {
        // Only a logger that writes a file creates its folder: the other outputs leave the
        // disk untouched.
        if (!ZRFileSystem::CheckDirectory(logger->basePath)) {
            ZRFileSystem::MakeDirectory(logger->basePath, true);
        }
        // A restarted program continues the period of the file's first line.
        if (FILE* existing = fopen(path.c_str(), "r")) {
            char head[21] = {};
            if (fread(head, 1, 20, existing) == 20) {
                int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
                if (sscanf(head, "%2d/%2d/%4d %2d:%2d:%2d", &month, &day, &year, &hour, &minute,
                           &second) == 6) {
                    struct tm start = {};
                    start.tm_mon = month - 1;
                    start.tm_mday = day;
                    start.tm_year = year - 1900;
                    start.tm_hour = hour;
                    start.tm_min = minute;
                    start.tm_sec = second;
                    start.tm_isdst = -1;
                    // Fill in the weekday without letting the local zone move the fields.
                    struct tm weekday = start;
                    weekday.tm_isdst = 0;
                    const time_t asUtc = ZRPlatform::UtcSeconds(weekday);
                    if (asUtc != static_cast<time_t>(-1)) {
                        start.tm_wday = weekday.tm_wday;
                        start.tm_yday = weekday.tm_yday;
                    }
                    logger->periodStart = start;
                }
            }
            fclose(existing);
        }
        logger->file = fopen(path.c_str(), "a");
    }

    if (flags & kLogToSyslog) {
        if (logger->facility == -1) logger->facility = 24;
        if (logger->identity.empty()) logger->identity = "zrUtilsLib";
        SystemLog().open(StableIdentity(logger->identity), ZRPlatform::SystemLogOptions(),
                         ZRPlatform::SystemLogFacility(logger->facility));
    }
}

void DestroyLogger(zrLogger* logger) {
    if (!logger) return;
    SetLoggerDetachedStatus(logger, false);
    {
        zrMutexLock guard(logger->queueLock);
        if (logger->file) {
            fclose(logger->file);
            logger->file = nullptr;
        }
        logger->queue.clear();
    }
    DestroyConditional(logger->drained);
    DestroyConditional(logger->wake);
    DestroyMutex(logger->queueLock);
    DestroyMutex(logger->stateLock);
    logger->drained = nullptr;
    logger->wake = nullptr;
    logger->queueLock = nullptr;
    logger->stateLock = nullptr;
    if (logger->flags & kLogToSyslog) SystemLog().close();
}

void SetLoggerFile(zrLogger* logger, const char* fileName) {
    if (!logger) return;
    zrMutexLock guard(logger->queueLock);
    logger->fileName = fileName ? fileName : "";
}

void SetLoggerBasePath(zrLogger* logger, std::string basePath) {
    if (!logger) return;
    zrMutexLock guard(logger->queueLock);
    logger->basePath = std::move(basePath);
}

void SetLoggerIdentity(zrLogger* logger, std::string identity) {
    if (!logger) return;
    zrMutexLock guard(logger->queueLock);
    logger->identity = std::move(identity);
}

void SetLoggerFacility(zrLogger* logger, int facility) {
    if (!logger || facility < 0 || facility > 7) return;
    zrMutexLock guard(logger->queueLock);
    logger->facility = 128 + facility;
}

void SetLoggerRotation(zrLogger* logger, int mode) {
    if (!logger) return;
    zrMutexLock guard(logger->queueLock);
    logger->rotation = mode;
}

void SetLoggerRotationCallback(zrLogger* logger, zrLogRotationCallback callback) {
    if (!logger) return;
    zrMutexLock guard(logger->queueLock);
    logger->rotationCallback = callback;
}

void SetLoggerDetachedStatus(zrLogger* logger, bool detached) {
    if (!logger || !logger->stateLock || !logger->queueLock || !logger->drained || !logger->wake) {
        return;
    }
    zrMutexLock state(logger->stateLock);
    if (detached && !logger->writer) {
        {
            zrMutexLock queue(logger->queueLock);
            logger->stop = false;
        }
        logger->writer = SpawnThread(WriterMain, logger);
        if (logger->writer) {
            zrMutexLock queue(logger->queueLock);
            logger->detached = true;
        }
    } else if (!detached && logger->writer) {
        {
            zrMutexLock queue(logger->queueLock);
            logger->stop = true;
            SignalConditional(logger->wake);
        }
        JoinThread(logger->writer);
        logger->writer = nullptr;
        zrMutexLock queue(logger->queueLock);
        logger->detached = false;
    }
}

void FlushDetachedThread(zrLogger* logger) {
    if (!logger || !logger->queueLock) return;
    zrMutexLock guard(logger->queueLock);
    // An empty queue means every earlier line was written and flushed in a finished pass.
    if (logger->detached && !logger->queue.empty()) WaitForPass(logger);
}

void AddLogEntry(zrLogger* logger, int level, const char* source, const char* format, ...) {
    if (!logger || level > logger->level) return;

    const struct tm now = LocalNow();
    char stamp[96];
    snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d", now.tm_mon + 1, now.tm_mday,
             now.tm_year + 1900, now.tm_hour, now.tm_min, now.tm_sec);
    char message[kMaxMessageBytes + 1];
    message[0] = '\0';
    if (format) {
        va_list args;
        va_start(args, format);
        vsnprintf(message, sizeof message, format, args);
        va_end(args);
    }
    std::string line = stamp;
    line += " - [";
    line += source ? source : "";
    line += "] ";
    line += message;

    std::vector<Rotation> rotations;
    {
        zrMutexLock guard(logger->queueLock);
        if (logger->detached && logger->queue.size() > kQueueHighWater) WaitForPass(logger);
        if (logger->detached) {
            // No wake-up here: waking the writer for each first line made it and the
            // producers take turns on the lock; it wakes when a pass is needed or on time.
            logger->queue.push_back(std::move(line));
            return;
        }
        WriteLine(logger, line, level, true, &rotations);
    }
    RunCallbacks(rotations);
}

void DumpLogString(zrLogger* logger, std::string& line, int level, bool flush) {
    if (!logger) return;
    std::vector<Rotation> rotations;
    {
        zrMutexLock guard(logger->queueLock);
        WriteLine(logger, line, level, flush, &rotations);
    }
    RunCallbacks(rotations);
}

void CheckLogRotation(zrLogger* logger) {
    if (!logger) return;
    std::vector<Rotation> rotations;
    {
        zrMutexLock guard(logger->queueLock);
        if (logger->flags & kLogToFile) RotateIfDue(logger, &rotations);
    }
    RunCallbacks(rotations);
}

void SetLoggerClock(time_t (*now)()) {
    gClock.store(now);
}

void SetLoggerSystemLogCalls(const zrSystemLogCalls* calls) {
    gOpen.store(calls ? calls->open : nullptr);
    gWrite.store(calls ? calls->write : nullptr);
    gClose.store(calls ? calls->close : nullptr);
}

}  // namespace ZRLogger
}  // namespace ZRFramework
