// Mutexes as critical sections, conditionals as waiter lists of manual-reset events, and
// joinable threads through _beginthreadex.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <process.h>
#include <windows.h>

#include <stdint.h>

#include <algorithm>
#include <list>
#include <memory>
#include <new>

#include "../Threads.h"
#include "ZRThreads.h"

// The framework's own CreateMutex is defined here, not the Win32 macro's A/W function.
#undef CreateMutex

namespace ZRProcesses = ZRFramework::ZRProcesses;

struct ZRFramework::ZRProcesses::_win_zrMutex {
    CRITICAL_SECTION section;
};

struct ZRFramework::ZRProcesses::_win32_conditional_var {
    zrMutex* mutexRef;  // read at each wait: the caller may replace its mutex
    CRITICAL_SECTION lock;
    std::list<HANDLE> waiters;
};

namespace ZRFramework {
namespace ZRPlatform {

ZRProcesses::zrThreadId CurrentThreadId() {
    return GetCurrentThreadId();
}

bool SameThread(ZRProcesses::zrThreadId a, ZRProcesses::zrThreadId b) {
    return a == b;
}

}  // namespace ZRPlatform

namespace ZRProcesses {

namespace {

struct ThreadStartRecord {
    void* data;
    zrThreadObj* thread;
    zrThreadEntry entry;
};

unsigned __stdcall ThreadTrampoline(void* arg) {
    auto* record = static_cast<ThreadStartRecord*>(arg);
    record->entry(record);
    // The entry returned without EndThread.
    delete record;
    return 0;
}

// `timeout` in milliseconds or INFINITE; false when it expired before a signal.
bool Wait(zrConditional cond, DWORD timeout) {
    if (!cond || !cond->mutexRef || !*cond->mutexRef) return false;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) return false;
    EnterCriticalSection(&cond->lock);
    cond->waiters.push_back(event);
    LeaveCriticalSection(&cond->lock);

    const zrMutex mutex = *cond->mutexRef;
    LeaveCriticalSection(&mutex->section);
    const bool signalled = WaitForSingleObject(event, timeout) == WAIT_OBJECT_0;
    bool woken = signalled;
    if (!signalled) {
        // A signal that came between the time-out and here already took the event out.
        EnterCriticalSection(&cond->lock);
        auto it = std::find(cond->waiters.begin(), cond->waiters.end(), event);
        if (it != cond->waiters.end()) {
            cond->waiters.erase(it);
        } else {
            woken = true;
        }
        LeaveCriticalSection(&cond->lock);
    }
    CloseHandle(event);
    EnterCriticalSection(&mutex->section);
    return woken;
}

}  // namespace

// ---- Mutexes ----

zrMutex CreateMutex() {
    auto* mutex = new (std::nothrow) _win_zrMutex;
    if (!mutex) return nullptr;
    InitializeCriticalSection(&mutex->section);
    return mutex;
}

void LockMutex(zrMutex mutex) {
    if (mutex) EnterCriticalSection(&mutex->section);
}

void UnlockMutex(zrMutex mutex) {
    if (mutex) LeaveCriticalSection(&mutex->section);
}

bool TryLockMutex(zrMutex mutex) {
    return mutex && TryEnterCriticalSection(&mutex->section) != 0;
}

bool DestroyMutex(zrMutex mutex) {
    if (!mutex) return false;
    DeleteCriticalSection(&mutex->section);
    delete mutex;
    return true;
}

// ---- Conditionals ----

zrConditional CreateConditional(zrMutex* mutexRef) {
    if (!mutexRef || !*mutexRef) return nullptr;
    auto* cond = new (std::nothrow) _win32_conditional_var;
    if (!cond) return nullptr;
    cond->mutexRef = mutexRef;
    InitializeCriticalSection(&cond->lock);
    return cond;
}

bool WaitConditional(zrConditional cond) {
    return Wait(cond, INFINITE);
}

bool WaitTimedConditional(zrConditional cond, int milliseconds) {
    return Wait(cond, milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds));
}

bool SignalConditional(zrConditional cond) {
    if (!cond) return false;
    EnterCriticalSection(&cond->lock);
    const bool hadWaiter = !cond->waiters.empty();
    if (hadWaiter) {
        SetEvent(cond->waiters.front());
        cond->waiters.pop_front();
    }
    LeaveCriticalSection(&cond->lock);
    return hadWaiter;
}

bool BroadcastSignalConditional(zrConditional cond) {
    if (!cond) return false;
    EnterCriticalSection(&cond->lock);
    for (HANDLE event : cond->waiters)
        SetEvent(event);
    cond->waiters.clear();
    LeaveCriticalSection(&cond->lock);
    return true;
}

bool DestroyConditional(zrConditional cond) {
    if (!cond) return false;
    DeleteCriticalSection(&cond->lock);
    delete cond;
    return false;
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
    const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadTrampoline, record.get(), 0, nullptr);
    // An object without a thread could never be joined: report the failure instead.
    if (handle == 0) return nullptr;
    thread->thread = reinterpret_cast<HANDLE>(handle);
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
        delete record;
    }
    _endthreadex(0);
    // _endthreadex does not return; the loop tells the compiler so.
    for (;;) {
    }
}

int CheckJoinableThread(zrThreadObj* thread) {
    return thread && thread->finished ? 1 : 0;
}

int JoinThread(zrThreadObj* thread) {
    if (!thread) return -1;
    if (WaitForSingleObject(thread->thread, INFINITE) != WAIT_OBJECT_0) return -1;
    CloseHandle(thread->thread);
    const int exitCode = thread->exitCode;
    delete thread;
    return exitCode;
}

int TerminateThread(zrThreadObj* thread) {
    if (!thread) return -1;
    return ::TerminateThread(thread->thread, static_cast<DWORD>(-1)) ? 0 : -1;
}

}  // namespace ZRProcesses
}  // namespace ZRFramework
