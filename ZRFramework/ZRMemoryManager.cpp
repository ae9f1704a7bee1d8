// ZRMemoryManager: malloc/free wrappers that report exhaustion as std::bad_alloc.
#include "ZRMemoryManager.h"

#include <cstdlib>
#include <new>

namespace ZRFramework {
namespace ZRMemoryManager {

void* AllocateMemory(unsigned long size) {
    void* p = std::malloc(size);
    // A null result for zero bytes is allowed by malloc and is not exhaustion.
    if (p == nullptr && size != 0) throw std::bad_alloc();
    return p;
}

void ReleaseMemory(void* p, unsigned long /*size*/) {
    std::free(p);
}

}  // namespace ZRMemoryManager
}  // namespace ZRFramework
