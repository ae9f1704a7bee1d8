// Tests of the mutexes, the read/write locker (plain and recursive), conditionals and threads,
// driven by real threads whose progress is observed through the locker's own fields.
#include <gtest/gtest.h>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // gtest may have defined it
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "ZRThreads.h"

using namespace ZRFramework::ZRProcesses;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = 5s;

#if defined(_WIN32)
zrThreadId Self() {
    return GetCurrentThreadId();
}
bool SameThread(zrThreadId a, zrThreadId b) {
    return a == b;
}
#else
zrThreadId Self() {
    return pthread_self();
}
bool SameThread(zrThreadId a, zrThreadId b) {
    return pthread_equal(a, b) != 0;
}
#endif

// Polls `condition` until it holds or the deadline passes.
bool Eventually(const std::function<bool()>& condition) {
    const auto end = Clock::now() + kDeadline;
    while (!condition()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct LockerView {
    int lockState;
    int waitingReaders;
    int waitingWriters;
    int ownReadHolds;  // the calling thread's entry in readerThreads, 0 when absent
    size_t readerThreadCount;
    zrThreadId writerThread;
};

LockerView View(_zrRWLocker* locker) {
    LockMutex(locker->mutex);
    auto it = locker->readerThreads.find(Self());
    LockerView view{locker->lockState,
                    locker->waitingReaders,
                    locker->waitingWriters,
                    it == locker->readerThreads.end() ? 0 : it->second,
                    locker->readerThreads.size(),
                    locker->writerThread};
    UnlockMutex(locker->mutex);
    return view;
}

bool WaitForWaitingWriters(_zrRWLocker* locker, int count) {
    return Eventually([&] { return View(locker).waitingWriters == count; });
}

bool WaitForWaitingReaders(_zrRWLocker* locker, int count) {
    return Eventually([&] { return View(locker).waitingReaders == count; });
}

struct LockerDeleter {
    void operator()(_zrRWLocker* locker) const { DestroyRWLocker(locker); }
};
using LockerPtr = std::unique_ptr<_zrRWLocker, LockerDeleter>;

// A writer thread that records when it got the write hold and releases it at once.
std::thread StartWriter(_zrRWLocker* locker, std::atomic<bool>& gotIt) {
    return std::thread([locker, &gotIt] {
        LockWriteRWLocker(locker);
        gotIt = true;
        UnlockRWLocker(locker);
    });
}

}  // namespace

// ---- Mutexes ----

TEST(MutexTest, TryLockFailsWhileAnotherThreadHolds) {
    zrMutex mutex = CreateMutex();
    ASSERT_NE(mutex, nullptr);
    LockMutex(mutex);
    bool takenWhileHeld = true;
    std::thread([&] { takenWhileHeld = TryLockMutex(mutex); }).join();
    EXPECT_FALSE(takenWhileHeld);
    UnlockMutex(mutex);

    bool takenWhenFree = false;
    std::thread([&] {
        takenWhenFree = TryLockMutex(mutex);
        if (takenWhenFree) UnlockMutex(mutex);
    }).join();
    EXPECT_TRUE(takenWhenFree);
    EXPECT_TRUE(DestroyMutex(mutex));
}

TEST(MutexTest, ScopedLockHoldsUntilItsScopeEnds) {
    zrMutex mutex = CreateMutex();
    ASSERT_NE(mutex, nullptr);
    auto takenElsewhere = [&] {
        bool taken = false;
        std::thread([&] {
            taken = TryLockMutex(mutex);
            if (taken) UnlockMutex(mutex);
        }).join();
        return taken;
    };
    {
        zrMutexLock hold(mutex);
        EXPECT_FALSE(takenElsewhere());
#if !defined(_WIN32)
        // The mutex is not recursive, and neither is the lock: the holder cannot take it again.
        EXPECT_FALSE(TryLockMutex(mutex));
#endif
    }
    EXPECT_TRUE(takenElsewhere());
    { zrMutexLock nothing(nullptr); }
    EXPECT_TRUE(DestroyMutex(mutex));
}

#if defined(_WIN32)
// A critical section lets its holder back in; others wait until every hold is given back.
TEST(MutexTest, WindowsHolderReentersAndReleasesEachHold) {
    zrMutex mutex = CreateMutex();
    ASSERT_NE(mutex, nullptr);
    auto takenElsewhere = [&] {
        bool taken = false;
        std::thread([&] {
            taken = TryLockMutex(mutex);
            if (taken) UnlockMutex(mutex);
        }).join();
        return taken;
    };
    LockMutex(mutex);
    LockMutex(mutex);
    EXPECT_TRUE(TryLockMutex(mutex));
    UnlockMutex(mutex);
    UnlockMutex(mutex);
    EXPECT_FALSE(takenElsewhere());
    UnlockMutex(mutex);
    EXPECT_TRUE(takenElsewhere());
    EXPECT_TRUE(DestroyMutex(mutex));
}
#endif

// ---- Read/write locker: the plain rules hold in both modes ----

class RWLockerTest : public ::testing::TestWithParam<bool> {
protected:
    LockerPtr locker_{CreateRWLocker(GetParam())};
    _zrRWLocker* l() { return locker_.get(); }
};

INSTANTIATE_TEST_SUITE_P(BothModes, RWLockerTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Recursive" : "Plain";
                         });

TEST_P(RWLockerTest, WaitingWriterBlocksNewReaderButNotTryLockRead) {
    ASSERT_NE(l(), nullptr);
    LockReadRWLocker(l());

    std::atomic<bool> writerIn{false};
    std::promise<void> releaseWriter;
    std::future<void> released = releaseWriter.get_future();
    std::thread writer([&] {
        LockWriteRWLocker(l());
        writerIn = true;
        released.wait();
        UnlockRWLocker(l());
    });
    ASSERT_TRUE(WaitForWaitingWriters(l(), 1));

    std::atomic<bool> readerIn{false};
    std::thread reader([&] {
        LockReadRWLocker(l());
        readerIn = true;
        UnlockRWLocker(l());
    });
    ASSERT_TRUE(WaitForWaitingReaders(l(), 1));
    EXPECT_EQ(View(l()).lockState, 1);
    EXPECT_FALSE(readerIn);

    EXPECT_TRUE(TryLockReadRWLocker(l()));
    EXPECT_EQ(View(l()).lockState, 2);

    UnlockRWLocker(l());
    UnlockRWLocker(l());
    // The freed locker goes to the waiting writer, not the waiting reader.
    ASSERT_TRUE(Eventually([&] { return writerIn.load(); }));
    LockerView view = View(l());
    EXPECT_EQ(view.lockState, -1);
    EXPECT_EQ(view.waitingReaders, 1);
    EXPECT_FALSE(readerIn);

    releaseWriter.set_value();
    writer.join();
    reader.join();
    EXPECT_TRUE(readerIn);
    view = View(l());
    EXPECT_EQ(view.lockState, 0);
    EXPECT_EQ(view.waitingReaders, 0);
    EXPECT_EQ(view.waitingWriters, 0);
    EXPECT_EQ(view.readerThreadCount, 0u);
}

TEST_P(RWLockerTest, OnlyTheLastOfThreeUnlocksLetsTheWriterIn) {
    ASSERT_NE(l(), nullptr);
    for (int i = 0; i < 3; ++i)
        LockReadRWLocker(l());
    std::atomic<bool> writerIn{false};
    std::thread writer = StartWriter(l(), writerIn);
    ASSERT_TRUE(WaitForWaitingWriters(l(), 1));

    for (int remaining = 2; remaining >= 1; --remaining) {
        UnlockRWLocker(l());
        const LockerView view = View(l());
        EXPECT_EQ(view.lockState, remaining);
        EXPECT_EQ(view.waitingWriters, 1);
        EXPECT_FALSE(writerIn);
    }
    UnlockRWLocker(l());
    ASSERT_TRUE(Eventually([&] { return writerIn.load(); }));
    writer.join();
    EXPECT_EQ(View(l()).lockState, 0);
}

TEST_P(RWLockerTest, UnlockOnFreeLockerChangesNothing) {
    ASSERT_NE(l(), nullptr);
    UnlockRWLocker(l());
    const LockerView view = View(l());
    EXPECT_EQ(view.lockState, 0);
    EXPECT_EQ(view.waitingReaders, 0);
    EXPECT_EQ(view.waitingWriters, 0);
    ASSERT_TRUE(TryLockWriteRWLocker(l()));
    EXPECT_EQ(View(l()).lockState, -1);
    UnlockRWLocker(l());
    EXPECT_EQ(View(l()).lockState, 0);
}

TEST_P(RWLockerTest, TryLockWriteFailsWithOneReader) {
    ASSERT_NE(l(), nullptr);
    LockReadRWLocker(l());
    bool taken = true;
    std::thread([&] { taken = TryLockWriteRWLocker(l()); }).join();
    EXPECT_FALSE(taken);
    EXPECT_EQ(View(l()).lockState, 1);
    UnlockRWLocker(l());
    EXPECT_TRUE(TryLockWriteRWLocker(l()));
    UnlockRWLocker(l());
}

TEST_P(RWLockerTest, TryLockReadFailsWhileAnotherThreadWrites) {
    ASSERT_NE(l(), nullptr);
    LockWriteRWLocker(l());
    bool readTaken = true;
    bool writeTaken = true;
    std::thread([&] {
        readTaken = TryLockReadRWLocker(l());
        writeTaken = TryLockWriteRWLocker(l());
    }).join();
    EXPECT_FALSE(readTaken);
    EXPECT_FALSE(writeTaken);
    EXPECT_EQ(View(l()).lockState, -1);
    UnlockRWLocker(l());
}

// ---- Read/write locker: what the modes do differently ----

TEST(RWLockerModeTest, SameThreadWriteReentryOnlyWhenRecursive) {
    LockerPtr plain(CreateRWLocker(false));
    ASSERT_NE(plain, nullptr);
    LockWriteRWLocker(plain.get());
    EXPECT_FALSE(TryLockWriteRWLocker(plain.get()));
    EXPECT_FALSE(TryLockReadRWLocker(plain.get()));
    EXPECT_EQ(View(plain.get()).lockState, -1);
    UnlockRWLocker(plain.get());
    EXPECT_EQ(View(plain.get()).lockState, 0);
}

TEST(RWLockerModeTest, RecursiveReaderReentersPastWaitingWriter) {
    LockerPtr locker(CreateRWLocker(true));
    ASSERT_NE(locker, nullptr);
    _zrRWLocker* l = locker.get();
    LockReadRWLocker(l);
    EXPECT_EQ(View(l).ownReadHolds, 1);

    std::atomic<bool> writerIn{false};
    std::thread writer = StartWriter(l, writerIn);
    ASSERT_TRUE(WaitForWaitingWriters(l, 1));

    // Deferring to the writer here would wait for our own first hold forever.
    LockReadRWLocker(l);
    LockerView view = View(l);
    EXPECT_EQ(view.lockState, 2);
    EXPECT_EQ(view.ownReadHolds, 2);

    UnlockRWLocker(l);
    view = View(l);
    EXPECT_EQ(view.lockState, 1);
    EXPECT_EQ(view.ownReadHolds, 1);
    EXPECT_EQ(view.waitingWriters, 1);
    EXPECT_FALSE(writerIn);

    UnlockRWLocker(l);
    ASSERT_TRUE(Eventually([&] { return writerIn.load(); }));
    writer.join();
    view = View(l);
    EXPECT_EQ(view.lockState, 0);
    EXPECT_EQ(view.readerThreadCount, 0u);
}

TEST(RWLockerModeTest, RecursiveReadersAreCountedPerThread) {
    LockerPtr locker(CreateRWLocker(true));
    ASSERT_NE(locker, nullptr);
    _zrRWLocker* l = locker.get();
    LockReadRWLocker(l);
    ASSERT_TRUE(TryLockReadRWLocker(l));
    int otherHolds = 0;
    std::thread([&] {
        LockReadRWLocker(l);
        otherHolds = View(l).ownReadHolds;
        UnlockRWLocker(l);
    }).join();
    EXPECT_EQ(otherHolds, 1);
    LockerView view = View(l);
    EXPECT_EQ(view.lockState, 2);
    EXPECT_EQ(view.ownReadHolds, 2);
    EXPECT_EQ(view.readerThreadCount, 1u);
    UnlockRWLocker(l);
    UnlockRWLocker(l);
    EXPECT_EQ(View(l).readerThreadCount, 0u);
}

TEST(RWLockerModeTest, RecursiveWriterNestsWritesAndReads) {
    LockerPtr locker(CreateRWLocker(true));
    ASSERT_NE(locker, nullptr);
    _zrRWLocker* l = locker.get();
    LockWriteRWLocker(l);
    EXPECT_TRUE(SameThread(View(l).writerThread, Self()));
    LockWriteRWLocker(l);
    EXPECT_TRUE(TryLockWriteRWLocker(l));
    LockReadRWLocker(l);  // granted as a further write level rather than a deadlock
    EXPECT_TRUE(TryLockReadRWLocker(l));
    LockerView view = View(l);
    EXPECT_EQ(view.lockState, -5);
    EXPECT_EQ(view.readerThreadCount, 0u);

    // Another thread is no holder: it neither re-enters nor gets past the write hold.
    bool otherRead = true;
    bool otherWrite = true;
    std::thread([&] {
        otherRead = TryLockReadRWLocker(l);
        otherWrite = TryLockWriteRWLocker(l);
    }).join();
    EXPECT_FALSE(otherRead);
    EXPECT_FALSE(otherWrite);

    std::atomic<bool> writerIn{false};
    std::thread writer = StartWriter(l, writerIn);
    ASSERT_TRUE(WaitForWaitingWriters(l, 1));
    for (int level = -4; level <= -1; ++level) {
        UnlockRWLocker(l);
        EXPECT_EQ(View(l).lockState, level);
        EXPECT_FALSE(writerIn);
    }
    UnlockRWLocker(l);
    ASSERT_TRUE(Eventually([&] { return writerIn.load(); }));
    writer.join();
    view = View(l);
    EXPECT_EQ(view.lockState, 0);
    EXPECT_TRUE(SameThread(view.writerThread, zrThreadId()));
}

// ---- Conditionals ----

class ConditionalTest : public ::testing::Test {
protected:
    void SetUp() override {
        mutex_ = CreateMutex();
        ASSERT_NE(mutex_, nullptr);
        cond_ = CreateConditional(&mutex_);
        ASSERT_NE(cond_, nullptr);
    }
    void TearDown() override {
        DestroyConditional(cond_);
        DestroyMutex(mutex_);
    }
    // True once `count` waiters have entered their wait (they count themselves under the mutex).
    bool WaitForWaiters(const int& waiting, int count) {
        return Eventually([&] {
            LockMutex(mutex_);
            const bool reached = waiting == count;
            UnlockMutex(mutex_);
            return reached;
        });
    }
    zrMutex mutex_ = nullptr;
    zrConditional cond_ = nullptr;
};

TEST_F(ConditionalTest, TimedWaitWithoutSignalExpiresOnTime) {
    struct Case {
        int milliseconds;
        std::chrono::milliseconds atLeast;
    };
    // 1050 carries into the seconds; -5 must not count as signalled.
    const Case cases[] = {{0, 0ms}, {-5, 0ms}, {40, 35ms}, {1050, 1000ms}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.milliseconds);
        LockMutex(mutex_);
        const auto start = Clock::now();
        const bool signalled = WaitTimedConditional(cond_, c.milliseconds);
        const auto elapsed = Clock::now() - start;
        UnlockMutex(mutex_);
        EXPECT_FALSE(signalled);
        EXPECT_GE(elapsed, c.atLeast);
        EXPECT_LT(elapsed, c.atLeast + 2s);
    }
}

TEST_F(ConditionalTest, SignalledWaitsReturnTrue) {
    for (bool timed : {true, false}) {
        SCOPED_TRACE(timed ? "timed" : "untimed");
        int waiting = 0;
        bool result = false;
        std::thread waiter([&] {
            LockMutex(mutex_);
            ++waiting;
            result = timed ? WaitTimedConditional(cond_, 10000) : WaitConditional(cond_);
            --waiting;
            UnlockMutex(mutex_);
        });
        ASSERT_TRUE(WaitForWaiters(waiting, 1));
        LockMutex(mutex_);
        EXPECT_TRUE(SignalConditional(cond_));
        UnlockMutex(mutex_);
        waiter.join();
        EXPECT_TRUE(result);
    }
}

// Windows reports whether a waiter was there to wake; POSIX always reports success.
TEST_F(ConditionalTest, SignalWithoutWaiterIsLost) {
#if defined(_WIN32)
    const bool expected = false;
#else
    const bool expected = true;
#endif
    LockMutex(mutex_);
    EXPECT_EQ(SignalConditional(cond_), expected);
    // The signal was not kept for a later waiter.
    EXPECT_FALSE(WaitTimedConditional(cond_, 20));
    UnlockMutex(mutex_);
}

TEST_F(ConditionalTest, BroadcastWakesEveryWaiter) {
    constexpr int kWaiters = 3;
    int waiting = 0;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([&] {
            LockMutex(mutex_);
            ++waiting;
            if (WaitTimedConditional(cond_, 10000)) ++woken;
            UnlockMutex(mutex_);
        });
    }
    ASSERT_TRUE(WaitForWaiters(waiting, kWaiters));
    LockMutex(mutex_);
    EXPECT_TRUE(BroadcastSignalConditional(cond_));
    UnlockMutex(mutex_);
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(woken, kWaiters);
}

// ---- Threads ----

namespace {

struct GatedExit {
    std::shared_future<void> go;
    int exitCode;
};

zrThreadResult ZRTHREAD_CALL EndAfterGate(void* startRecord) {
    auto* gate = static_cast<GatedExit*>(GetThreadData(startRecord));
    gate->go.wait();
    EndThread(gate->exitCode, startRecord);
}

zrThreadResult ZRTHREAD_CALL ReturnWithoutEnd(void* startRecord) {
    static_cast<std::atomic<bool>*>(GetThreadData(startRecord))->store(true);
    return zrThreadResult();
}

// No address-taken locals: the sanitizers leave the stack of a cancelled frame poisoned.
zrThreadResult ZRTHREAD_CALL BlockUntilCancelled(void* startRecord) {
    for (;;) {
#if defined(_WIN32)
        Sleep(INFINITE);
#else
        pause();
#endif
    }
    EndThread(99, startRecord);
}

}  // namespace

TEST(ThreadTest, EndThreadCodeReachesJoin) {
    for (int code : {0, 7, -3, INT_MIN}) {
        SCOPED_TRACE(code);
        std::promise<void> open;
        GatedExit gate{open.get_future().share(), code};
        zrThreadObj* thread = SpawnThread(EndAfterGate, &gate);
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(CheckJoinableThread(thread), 0);
        open.set_value();
        EXPECT_TRUE(Eventually([&] { return CheckJoinableThread(thread) == 1; }));
        EXPECT_EQ(JoinThread(thread), code);
    }
}

TEST(ThreadTest, ReturningEntryIsNotFinishedAndJoinsWithZero) {
    std::atomic<bool> returning{false};
    zrThreadObj* thread = SpawnThread(ReturnWithoutEnd, &returning);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(Eventually([&] { return returning.load(); }));
    EXPECT_EQ(CheckJoinableThread(thread), 0);
    EXPECT_EQ(JoinThread(thread), 0);
}

TEST(ThreadTest, TerminatedThreadStopsAndJoins) {
    zrThreadObj* thread = SpawnThread(BlockUntilCancelled, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(TerminateThread(thread), 0);
    EXPECT_EQ(JoinThread(thread), 0);
}
