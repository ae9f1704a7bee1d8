// Handle-based mutexes, a writer-preferring read/write locker, conditionals and joinable threads.
#ifndef ZRFRAMEWORK_THREADS_H
#define ZRFRAMEWORK_THREADS_H

#include <pthread.h>

#include <atomic>
#include <map>

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRProcesses {

// A heap-allocated default (non-recursive) pthread mutex.
typedef pthread_mutex_t* zrMutex;

struct _posix_conditional_var {
    zrMutex mutex;  // copied from the caller's handle at creation
    pthread_cond_t* cond;
};
typedef _posix_conditional_var* zrConditional;

struct _zrRWLocker {
    zrMutex mutex;  // guards every other field
    zrConditional readersCond;
    zrConditional writersCond;
    int lockState;  // > 0 read holds, -1 (or less when recursive) write hold, 0 free
    int waitingReaders;
    int waitingWriters;
    bool recursive;
    pthread_t writerThread;
    std::map<pthread_t, int> readerThreads;
};

struct zrThreadObj {
    pthread_t thread;
    std::atomic<bool> finished;  // read by the owner while the thread runs
    int exitCode;
};

// The entry receives the start record; it ends with EndThread(code, startRecord).
typedef void* (*zrThreadEntry)(void* startRecord);

ZRFRAMEWORK_API zrMutex CreateMutex();
ZRFRAMEWORK_API void LockMutex(zrMutex mutex);
ZRFRAMEWORK_API void UnlockMutex(zrMutex mutex);
ZRFRAMEWORK_API bool TryLockMutex(zrMutex mutex);
ZRFRAMEWORK_API bool DestroyMutex(zrMutex mutex);

// `recursive` lets a thread re-enter the read holds or the write hold it already has.
ZRFRAMEWORK_API _zrRWLocker* CreateRWLocker(bool recursive);
ZRFRAMEWORK_API void LockReadRWLocker(_zrRWLocker* locker);
ZRFRAMEWORK_API void LockWriteRWLocker(_zrRWLocker* locker);
ZRFRAMEWORK_API void UnlockRWLocker(_zrRWLocker* locker);
ZRFRAMEWORK_API bool TryLockReadRWLocker(_zrRWLocker* locker);
ZRFRAMEWORK_API bool TryLockWriteRWLocker(_zrRWLocker* locker);
// Timed forms are not offered: always false, the locker is not touched.
ZRFRAMEWORK_API bool TryLockReadRWLocker(_zrRWLocker* locker, int milliseconds);
ZRFRAMEWORK_API bool TryLockWriteRWLocker(_zrRWLocker* locker, int milliseconds);
ZRFRAMEWORK_API bool DestroyRWLocker(_zrRWLocker* locker);

ZRFRAMEWORK_API zrConditional CreateConditional(zrMutex* mutexRef);
ZRFRAMEWORK_API bool WaitConditional(zrConditional cond);
// False when the time-out expired.
ZRFRAMEWORK_API bool WaitTimedConditional(zrConditional cond, int milliseconds);
ZRFRAMEWORK_API bool SignalConditional(zrConditional cond);
ZRFRAMEWORK_API bool BroadcastSignalConditional(zrConditional cond);
ZRFRAMEWORK_API bool DestroyConditional(zrConditional cond);

ZRFRAMEWORK_API zrThreadObj* SpawnThread(zrThreadEntry entry, void* data);
ZRFRAMEWORK_API void* GetThreadData(void* startRecord);
[[noreturn]] ZRFRAMEWORK_API void EndThread(int exitCode, void* startRecord);
ZRFRAMEWORK_API int CheckJoinableThread(zrThreadObj* thread);
// Waits, frees the object and returns the code given to EndThread.
ZRFRAMEWORK_API int JoinThread(zrThreadObj* thread);
ZRFRAMEWORK_API int TerminateThread(zrThreadObj* thread);

}  // namespace ZRProcesses
}  // namespace ZRFramework

#endif
