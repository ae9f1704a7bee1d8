// Kernel event queue for event loops and socket streams: read interest while a descriptor is
// watched, and one-shot write interest that is reported once and then dropped.
#ifndef ZRFRAMEWORK_EVENTQUEUE_H
#define ZRFRAMEWORK_EVENTQUEUE_H

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZREventQueue {

// Bits of zrQueueEvent::events. A hang-up or an error also sets kEventReadable, so that the
// owner's Read learns the connection is over.
constexpr int kEventReadable = 1;
constexpr int kEventWritable = 2;
constexpr int kEventHangUp = 4;
constexpr int kEventError = 8;

struct zrQueueEvent {
    int fd;
    int events;
};

// A new queue descriptor, or -1 with errno set.
ZRFRAMEWORK_API int CreateEventQueue();
// Closes the queue; close's result.
ZRFRAMEWORK_API int DestroyEventQueue(int queue);
// Watches fd for reading (level-triggered) and, with writeOnce, for writing until the next
// report that it is writable. Watching again without writeOnce drops a pending write interest.
// 0, or -1 with errno set.
ZRFRAMEWORK_API int WatchDescriptor(int queue, int fd, bool writeOnce);
// Stops watching fd; 0, or -1 with errno set.
ZRFRAMEWORK_API int UnwatchDescriptor(int queue, int fd);
// Waits up to `milliseconds` (-1: no limit) and fills at most `capacity` events. The count,
// 0 when the time ran out, or -1 with errno set (EINTR included).
ZRFRAMEWORK_API int WaitEventQueue(int queue, zrQueueEvent* events, int capacity, int milliseconds);

}  // namespace ZREventQueue
}  // namespace ZRFramework

#endif
