// Tests for ZRMemoryManager: allocation results and exhaustion reported as std::bad_alloc.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <new>

#include "ZRMemoryManager.h"

using namespace ZRFramework::ZRMemoryManager;

TEST(MemoryManager, AllocatesUsableMemory) {
    void* p = AllocateMemory(4096);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x5a, 4096);
    ReleaseMemory(p, 4096);
    ReleaseMemory(nullptr, 0);
}

// Sanitizer runs need allocator_may_return_null=1 (set by the asan and tsan test presets).
TEST(MemoryManager, ExhaustionThrowsBadAlloc) {
    if (sizeof(unsigned long) < sizeof(void*))
        GTEST_SKIP() << "unsigned long is 32 bits here: its largest size, 4 GiB, may be granted";
    EXPECT_THROW(AllocateMemory(ULONG_MAX), std::bad_alloc);
}
