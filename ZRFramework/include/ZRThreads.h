// Handle-based mutexes, a writer-preferring read/write locker, conditionals and joinable threads.
#ifndef ZRFRAMEWORK_THREADS_H
#define ZRFRAMEWORK_THREADS_H

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include <atomic>
#include <map>

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRProcesses {

#if defined(_WIN32)
// A heap-allocated critical section: re-entrant for the thread that holds it.
struct _win_zrMutex;
typedef _win_zrMutex* zrMutex;
// Waiters as a list of manual-reset events; reads the caller's mutex variable at each wait.
struct _win32_conditional_var;
typedef _win32_conditional_var* zrConditional;
typedef unsigned long zrThreadId;
typedef void* zrPlatformThread;  // the thread's handle
typedef unsigned zrThreadResult;
#define ZRTHREAD_CALL __stdcall
#else
// A heap-allocated default (non-recursive) pthread mutex.
typedef pthread_mutex_t* zrMutex;

struct _posix_conditional_var {
    zrMutex mutex;  // copied from the caller's handle at creation
    pthread_cond_t* cond;
};
typedef _posix_conditional_var* zrConditional;
typedef pthread_t zrThreadId;
typedef pthread_t zrPlatformThread;
typedef void* zrThreadResult;
#define ZRTHREAD_CALL
#endif

struct _zrRWLocker {
    zrMutex mutex;  // guards every other field
    zrConditional readersCond;
    zrConditional writersCond;
    int lockState;  // > 0 read holds, -1 (or less when recursive) write hold, 0 free
    int waitingReaders;
    int waitingWriters;
    bool recursive;
    zrThreadId writerThread;
    std::map<zrThreadId, int> readerThreads;
};

struct zrThreadObj {
    zrPlatformThread thread;
    std::atomic<bool> finished;  // read by the owner while the thread runs
    int exitCode;
};

// The entry has the platform's thread signature; declare it as
// "zrThreadResult ZRTHREAD_CALL Entry(void* startRecord)". It receives the start record and
// ends with EndThread(code, startRecord). An entry that simply returns leaves `finished` false
// and the exit code 0; its start record is freed.
typedef zrThreadResult(ZRTHREAD_CALL* zrThreadEntry)(void* startRecord);

// <windows.h> maps CreateMutex to CreateMutexA or CreateMutexW: declare the real name whatever
// was included before, and forwarders for the mapped names that a later include produces.
#pragma push_macro("CreateMutex")
#undef CreateMutex
ZRFRAMEWORK_API zrMutex CreateMutex();
ZRFRAMEWORK_API void LockMutex(zrMutex mutex);
ZRFRAMEWORK_API void UnlockMutex(zrMutex mutex);
ZRFRAMEWORK_API bool TryLockMutex(zrMutex mutex);
ZRFRAMEWORK_API bool DestroyMutex(zrMutex mutex);
inline zrMutex CreateMutexA() {
    return CreateMutex();
}
inline zrMutex CreateMutexW() {
    return CreateMutex();
}
#pragma pop_macro("CreateMutex")

// Holds a mutex for one scope. A null handle holds nothing, as LockMutex does with it.
class zrMutexLock {
public:
    explicit zrMutexLock(zrMutex mutex) : mutex_(mutex) { LockMutex(mutex_); }
    ~zrMutexLock() { UnlockMutex(mutex_); }
    zrMutexLock(const zrMutexLock&) = delete;
    zrMutexLock& operator=(const zrMutexLock&) = delete;

private:
    zrMutex mutex_;
};

// `recursive` lets a thread re-enter the holds it already has: a reader gets another read hold
// without deferring to waiting writers, and the write holder may take the write hold again. A
// read request from the write holder is granted as one more level of its write hold (lockState
// goes further below zero), so every hold of that thread is released by UnlockRWLocker in any
// order. A reader asking for the write hold still waits for its own read holds: do not upgrade.
// Without `recursive` no thread is tracked and a second hold by the same thread is a new hold.
ZRFRAMEWORK_API _zrRWLocker* CreateRWLocker(bool recursive);
ZRFRAMEWORK_API void LockReadRWLocker(_zrRWLocker* locker);
ZRFRAMEWORK_API void LockWriteRWLocker(_zrRWLocker* locker);
ZRFRAMEWORK_API void UnlockRWLocker(_zrRWLocker* locker);
ZRFRAMEWORK_API bool TryLockReadRWLocker(_zrRWLocker* locker);
ZRFRAMEWORK_API bool TryLockWriteRWLocker(_zrRWLocker* locker);
// Timed forms are not offered: always false, the locker is not touched.
ZRFRAMEWORK_API bool TryLockReadRWLocker(_zrRWLocker* locker, int milliseconds);
ZRFRAMEWORK_API bool TryLockWriteRWLocker(_zrRWLocker* locker, int milliseconds);
// Frees the locker and everything in it; the result is always false.
ZRFRAMEWORK_API bool DestroyRWLocker(_zrRWLocker* locker);

ZRFRAMEWORK_API zrConditional CreateConditional(zrMutex* mutexRef);
ZRFRAMEWORK_API bool WaitConditional(zrConditional cond);
// False when the time-out expired; a negative time-out counts as already expired.
ZRFRAMEWORK_API bool WaitTimedConditional(zrConditional cond, int milliseconds);
ZRFRAMEWORK_API bool SignalConditional(zrConditional cond);
ZRFRAMEWORK_API bool BroadcastSignalConditional(zrConditional cond);
ZRFRAMEWORK_API bool DestroyConditional(zrConditional cond);

ZRFRAMEWORK_API zrThreadObj* SpawnThread(zrThreadEntry entry, void* data);
ZRFRAMEWORK_API void* GetThreadData(void* startRecord);
[[noreturn]] ZRFRAMEWORK_API void EndThread(int exitCode, void* startRecord);
ZRFRAMEWORK_API int CheckJoinableThread(zrThreadObj* thread);
// Waits without limit, frees the object and returns the code given to EndThread. When the join
// itself fails (-1) the object is kept, since the thread may still be using it.
ZRFRAMEWORK_API int JoinThread(zrThreadObj* thread);
// Stops the thread (0 when the request was delivered); it must still be joined. On Windows
// the thread ends at once with the code -1 and its start record is not freed.
ZRFRAMEWORK_API int TerminateThread(zrThreadObj* thread);

}  // namespace ZRProcesses
}  // namespace ZRFramework

#endif
