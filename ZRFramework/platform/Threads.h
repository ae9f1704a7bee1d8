// The calling thread's identity, as the read/write locker records its holders.
#ifndef ZRFRAMEWORK_PLATFORM_THREADS_H
#define ZRFRAMEWORK_PLATFORM_THREADS_H

#include "ZRThreads.h"

namespace ZRFramework {
namespace ZRPlatform {

ZRProcesses::zrThreadId CurrentThreadId();
bool SameThread(ZRProcesses::zrThreadId a, ZRProcesses::zrThreadId b);

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
