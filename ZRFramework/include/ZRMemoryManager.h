// malloc/free wrappers that report exhaustion as std::bad_alloc.
#ifndef ZRFRAMEWORK_MEMORYMANAGER_H
#define ZRFRAMEWORK_MEMORYMANAGER_H

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRMemoryManager {

ZRFRAMEWORK_API void* AllocateMemory(unsigned long size);
ZRFRAMEWORK_API void ReleaseMemory(void* p, unsigned long size);

}  // namespace ZRMemoryManager
}  // namespace ZRFramework

#endif
