// Mutexes, conditionals and joinable threads over pthreads.
#include <errno.h>
#include <sys/time.h>
#include <time.h>

#include <memory>
#include <new>

#include "../Threads.h"
#include "ZRThreads.h"

namespace ZRFramework {
namespace ZRPlatform {

ZRProcesses::zrThreadId CurrentThreadId() {
    return pthread_self();
}

bool SameThread(ZRProcesses::zrThreadId a, ZRProcesses::zrThreadId b) {
    return pthread_equal(a, b) != 0;
}

}  // namespace ZRPlatform

namespace ZRProcesses {

namespace {

// What the entry function receives; `entry` is ours, so the trampoline can call it.
struct ThreadStartRecord {
    void* data;
    zrThreadObj* thread;
    zrThreadEntry entry;
};

void FreeStartRecord(void* record) {
    delete static_cast<ThreadStartRecord*>(record);
}

// Holds the start record of each spawned thread until the thread is done with it, so that a
// cancelled thread frees it at exit too. A key destructor is used rather than a destructor on
// the trampoline's stack: the cancellation unwind then needs no cleanup frames of ours.
struct StartRecordKey {
    pthread_key_t key;
    bool valid;
    StartRecordKey() { valid = pthread_key_create(&key, FreeStartRecord) == 0; }
};

const StartRecordKey& OwnedStartRecord() {
    static const StartRecordKey key;
    return key;
}

void SetOwnedStartRecord(ThreadStartRecord* record) {
    if (OwnedStartRecord().valid) pthread_setspecific(OwnedStartRecord().key, record);
}

zrThreadResult ThreadTrampoline(void* arg) {
    auto* record = static_cast<ThreadStartRecord*>(arg);
    SetOwnedStartRecord(record);
    record->entry(record);
    // The entry returned without EndThread.
    SetOwnedStartRecord(nullptr);
    delete record;
    return nullptr;
}

}  // namespace

// ---- Mutexes ----

zrMutex CreateMutex() {
    std::unique_ptr<pthread_mutex_t> mutex(new (std::nothrow) pthread_mutex_t);
    if (!mutex || pthread_mutex_init(mutex.get(), nullptr) != 0) return nullptr;
    return mutex.release();
}

void LockMutex(zrMutex mutex) {
    if (mutex) pthread_mutex_lock(mutex);
}

void UnlockMutex(zrMutex mutex) {
    if (mutex) pthread_mutex_unlock(mutex);
}

bool TryLockMutex(zrMutex mutex) {
    return mutex && pthread_mutex_trylock(mutex) == 0;
}

bool DestroyMutex(zrMutex mutex) {
    if (!mutex) return false;
    pthread_mutex_destroy(mutex);
    delete mutex;
    return true;
}

// ---- Conditionals ----

zrConditional CreateConditional(zrMutex* mutexRef) {
    if (!mutexRef || !*mutexRef) return nullptr;
    std::unique_ptr<pthread_cond_t> cond(new (std::nothrow) pthread_cond_t);
    if (!cond || pthread_cond_init(cond.get(), nullptr) != 0) return nullptr;
    auto* conditional = new (std::nothrow) _posix_conditional_var;
    if (!conditional) {
        pthread_cond_destroy(cond.get());
        return nullptr;
    }
    conditional->mutex = *mutexRef;
    conditional->cond = cond.release();
    return conditional;
}

bool WaitConditional(zrConditional cond) {
    if (!cond) return false;
    pthread_cond_wait(cond->cond, cond->mutex);
    return true;
}

bool WaitTimedConditional(zrConditional cond, int milliseconds) {
    if (!cond) return false;
    // A negative time-out would give a negative microsecond part, which the platform rejects
    // at once as if signalled; treat it as already expired instead.
    if (milliseconds < 0) milliseconds = 0;
    struct timeval now;
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec + milliseconds / 1000;
    long microseconds = static_cast<long>(now.tv_usec) + (milliseconds % 1000) * 1000L;
    if (microseconds >= 1000000) {
        seconds += 1;
        microseconds -= 1000000;
    }
    struct timespec deadline;
    deadline.tv_sec = seconds;
    deadline.tv_nsec = microseconds * 1000;
    return pthread_cond_timedwait(cond->cond, cond->mutex, &deadline) != ETIMEDOUT;
}

bool SignalConditional(zrConditional cond) {
    if (!cond) return false;
    pthread_cond_signal(cond->cond);
    return true;
}

bool BroadcastSignalConditional(zrConditional cond) {
    if (!cond) return false;
    pthread_cond_broadcast(cond->cond);
    return true;
}

bool DestroyConditional(zrConditional cond) {
    if (!cond) return false;
    pthread_cond_destroy(cond->cond);
    delete cond->cond;
    delete cond;
    return true;
}

// ---- Threads ----

zrThreadObj* SpawnThread(zrThreadEntry entry, void* data) {
    if (!entry) return nullptr;
    std::unique_ptr<zrThreadObj> thread(new (std::nothrow) zrThreadObj());
    std::unique_ptr<ThreadStartRecord> record(new (std::nothrow) ThreadStartRecord());
    if (!thread || !record) return nullptr;
    thread->finished = false;
    thread->exitCode = 0;
    record->data = data;
    record->thread = thread.get();
    record->entry = entry;

    OwnedStartRecord();  // create the key before any thread may need it
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return nullptr;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    const int rc = pthread_create(&thread->thread, &attr, ThreadTrampoline, record.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) return nullptr;
    record.release();  // the new thread owns it now
    return thread.release();
}

void* GetThreadData(void* startRecord) {
    return startRecord ? static_cast<ThreadStartRecord*>(startRecord)->data : nullptr;
}

void EndThread(int exitCode, void* startRecord) {
    auto* record = static_cast<ThreadStartRecord*>(startRecord);
    if (record) {
        record->thread->exitCode = exitCode;
        record->thread->finished = true;
        SetOwnedStartRecord(nullptr);
        delete record;
    }
    pthread_exit(nullptr);
}

int CheckJoinableThread(zrThreadObj* thread) {
    return thread && thread->finished ? 1 : 0;
}

int JoinThread(zrThreadObj* thread) {
    if (!thread) return -1;
    // If the join fails the thread may still run and write into the object: keep it.
    if (pthread_join(thread->thread, nullptr) != 0) return -1;
    const int exitCode = thread->exitCode;
    delete thread;
    return exitCode;
}

int TerminateThread(zrThreadObj* thread) {
    if (!thread) return -1;
    return pthread_cancel(thread->thread);
}

}  // namespace ZRProcesses
}  // namespace ZRFramework
