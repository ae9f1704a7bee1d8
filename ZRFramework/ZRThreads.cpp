// The writer-preferring read/write locker, written once over the platform's mutexes and
// conditionals.
#include "ZRThreads.h"

#include <memory>
#include <new>

#include "platform/Threads.h"

namespace ZRFramework {
namespace ZRProcesses {

namespace {

bool IsWriter(const _zrRWLocker* locker, zrThreadId self) {
    return locker->lockState < 0 && ZRPlatform::SameThread(locker->writerThread, self);
}

bool HasReadHold(const _zrRWLocker* locker, zrThreadId self) {
    auto it = locker->readerThreads.find(self);
    return it != locker->readerThreads.end() && it->second > 0;
}

// Called with the locker's mutex held and lockState >= 0.
void TakeReadHold(_zrRWLocker* locker, zrThreadId self) {
    ++locker->lockState;
    if (locker->recursive) ++locker->readerThreads[self];
}

// Called with the locker's mutex held and lockState == 0.
void TakeWriteHold(_zrRWLocker* locker, zrThreadId self) {
    --locker->lockState;
    if (locker->recursive) locker->writerThread = self;
}

}  // namespace

// ---- Read/write locker ----

_zrRWLocker* CreateRWLocker(bool recursive) {
    std::unique_ptr<_zrRWLocker> locker(new (std::nothrow) _zrRWLocker());
    if (!locker) return nullptr;
    locker->mutex = CreateMutex();
    if (!locker->mutex) return nullptr;
    locker->readersCond = CreateConditional(&locker->mutex);
    locker->writersCond = CreateConditional(&locker->mutex);
    if (!locker->readersCond || !locker->writersCond) {
        DestroyConditional(locker->readersCond);
        DestroyConditional(locker->writersCond);
        DestroyMutex(locker->mutex);
        return nullptr;
    }
    locker->lockState = 0;
    locker->waitingReaders = 0;
    locker->waitingWriters = 0;
    locker->recursive = recursive;
    locker->writerThread = zrThreadId();
    return locker.release();
}

void LockReadRWLocker(_zrRWLocker* locker) {
    if (!locker) return;
    const zrThreadId self = ZRPlatform::CurrentThreadId();
    zrMutexLock hold(locker->mutex);
    if (locker->recursive) {
        if (IsWriter(locker, self)) {
            // The write holder may read what it writes: another level of its write hold.
            --locker->lockState;
            return;
        }
        if (HasReadHold(locker, self)) {
            // Deferring to a waiting writer here would deadlock against our own hold.
            TakeReadHold(locker, self);
            return;
        }
    }
    while (locker->lockState < 0 || locker->waitingWriters > 0) {
        ++locker->waitingReaders;
        WaitConditional(locker->readersCond);
        --locker->waitingReaders;
    }
    TakeReadHold(locker, self);
}

void LockWriteRWLocker(_zrRWLocker* locker) {
    if (!locker) return;
    const zrThreadId self = ZRPlatform::CurrentThreadId();
    zrMutexLock hold(locker->mutex);
    if (locker->recursive && IsWriter(locker, self)) {
        --locker->lockState;
        return;
    }
    while (locker->lockState != 0) {
        ++locker->waitingWriters;
        WaitConditional(locker->writersCond);
        --locker->waitingWriters;
    }
    TakeWriteHold(locker, self);
}

void UnlockRWLocker(_zrRWLocker* locker) {
    if (!locker) return;
    zrMutexLock hold(locker->mutex);
    const int state = locker->lockState;
    if (state == 0) return;
    if (state > 0) {
        locker->lockState = state - 1;
        if (locker->recursive) {
            auto it = locker->readerThreads.find(ZRPlatform::CurrentThreadId());
            if (it != locker->readerThreads.end() && --it->second <= 0) {
                locker->readerThreads.erase(it);
            }
        }
        if (locker->lockState > 0) return;
    } else {
        locker->lockState = state + 1;
        if (locker->lockState < 0) return;
        locker->writerThread = zrThreadId();
    }
    if (locker->waitingWriters > 0) {
        SignalConditional(locker->writersCond);
    } else if (locker->waitingReaders > 0) {
        BroadcastSignalConditional(locker->readersCond);
    }
}

bool TryLockReadRWLocker(_zrRWLocker* locker) {
    if (!locker) return false;
    const zrThreadId self = ZRPlatform::CurrentThreadId();
    zrMutexLock hold(locker->mutex);
    if (locker->lockState >= 0) {
        TakeReadHold(locker, self);
        return true;
    }
    if (locker->recursive && IsWriter(locker, self)) {
        --locker->lockState;
        return true;
    }
    return false;
}

bool TryLockWriteRWLocker(_zrRWLocker* locker) {
    if (!locker) return false;
    const zrThreadId self = ZRPlatform::CurrentThreadId();
    zrMutexLock hold(locker->mutex);
    if (locker->lockState == 0) {
        TakeWriteHold(locker, self);
        return true;
    }
    if (locker->recursive && IsWriter(locker, self)) {
        --locker->lockState;
        return true;
    }
    return false;
}

bool TryLockReadRWLocker(_zrRWLocker*, int) {
    return false;
}

bool TryLockWriteRWLocker(_zrRWLocker*, int) {
    return false;
}

bool DestroyRWLocker(_zrRWLocker* locker) {
    if (!locker) return false;
    DestroyConditional(locker->readersCond);
    DestroyConditional(locker->writersCond);
    DestroyMutex(locker->mutex);
    delete locker;
    return false;
}

}  // namespace ZRProcesses
}  // namespace ZRFramework
