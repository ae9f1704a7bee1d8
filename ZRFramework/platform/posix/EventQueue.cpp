// Stands in for kqueue/kevent: an event queue over epoll with a level-triggered read filter and a
// one-shot write filter per descriptor, as the socket stream registers them.
#include <errno.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "ZREventQueue.h"

namespace ZRFramework {
namespace ZREventQueue {

namespace {

constexpr int kMaxEventsPerWait = 64;

int Control(int queue, int op, int fd, uint32_t interest) {
    epoll_event ev{};
    ev.events = interest;
    ev.data.fd = fd;
    return epoll_ctl(queue, op, fd, &ev);
}

}  // namespace

int CreateEventQueue() {
    return epoll_create1(EPOLL_CLOEXEC);
}

int DestroyEventQueue(int queue) {
    return close(queue);
}

int WatchDescriptor(int queue, int fd, bool writeOnce) {
    const uint32_t interest = EPOLLIN | (writeOnce ? EPOLLOUT : 0u);
    // The kernel forgets a registration when its descriptor is closed, so whether to add or to
    // modify is the kernel's to say; two threads may race to add.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (Control(queue, EPOLL_CTL_MOD, fd, interest) == 0) return 0;
        if (errno != ENOENT) return -1;
        if (Control(queue, EPOLL_CTL_ADD, fd, interest) == 0) return 0;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

int UnwatchDescriptor(int queue, int fd) {
    epoll_event unused{};  // old kernels want a non-null event even for DEL
    return epoll_ctl(queue, EPOLL_CTL_DEL, fd, &unused);
}

int WaitEventQueue(int queue, zrQueueEvent* events, int capacity, int milliseconds) {
    if (events == nullptr || capacity <= 0) {
        errno = EINVAL;
        return -1;
    }
    epoll_event raw[kMaxEventsPerWait];
    const int n = epoll_wait(queue, raw, std::min(capacity, kMaxEventsPerWait), milliseconds);
    for (int i = 0; i < n; ++i) {
        const uint32_t got = raw[i].events;
        const int fd = raw[i].data.fd;
        int bits = 0;
        if (got & EPOLLIN) bits |= kEventReadable;
        if (got & EPOLLOUT) bits |= kEventWritable;
        if (got & EPOLLHUP) bits |= kEventHangUp | kEventReadable;
        if (got & EPOLLERR) bits |= kEventError | kEventReadable;
        events[i].fd = fd;
        events[i].events = bits;
        // One registration carries both filters, so the one-shot write filter is used up here,
        // keeping the read interest. An arming that another thread makes after epoll_wait
        // returned may be withdrawn by this, but this report reaches the caller after it, which
        // is all the one-shot contract promises (a report after each arming).
        if (got & EPOLLOUT) Control(queue, EPOLL_CTL_MOD, fd, EPOLLIN);
    }
    return n;
}

}  // namespace ZREventQueue
}  // namespace ZRFramework
