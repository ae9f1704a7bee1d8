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

#if defined(__SANITIZE_ADDRESS__)
#define ZD_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZD_ASAN 1
#endif
#endif

TEST(MemoryManager, ExhaustionThrowsBadAlloc) {
#ifdef ZD_ASAN
    GTEST_SKIP() << "the address sanitizer aborts on impossible allocations";
#else
    EXPECT_THROW(AllocateMemory(ULONG_MAX), std::bad_alloc);
#endif
}
