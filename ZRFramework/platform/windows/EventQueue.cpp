// The event queue over WSAPoll: Winsock has no kernel queue, so each queue is a table of watched
// sockets, polled in short slices so that a socket watched or armed during a wait is taken up
// by the wait already running.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winsock2.h>

#include <errno.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "ZREventQueue.h"

namespace ZRFramework {
namespace ZREventQueue {

namespace {

constexpr int kSliceMs = 20;

// Per queue: the watched sockets, each with its pending one-shot write interest.
using Watched = std::map<int, bool>;

std::mutex tableLock;
std::map<int, Watched> queues;
int lastQueue = 0;

int Fail(int error) {
    errno = error;
    return -1;
}

SOCKET Handle(int fd) {
    return static_cast<SOCKET>(static_cast<intptr_t>(fd));
}

// One poll over the queue's sockets as they are now; the count of events filled, or -1.
int PollOnce(int queue, zrQueueEvent* events, int capacity, int milliseconds) {
    std::vector<WSAPOLLFD> polled;
    {
        std::lock_guard<std::mutex> hold(tableLock);
        const auto found = queues.find(queue);
        if (found == queues.end()) return Fail(EBADF);
        for (const auto& entry : found->second) {
            WSAPOLLFD p{};
            p.fd = Handle(entry.first);
            p.events = static_cast<SHORT>(POLLRDNORM | (entry.second ? POLLWRNORM : 0));
            polled.push_back(p);
        }
    }
    if (polled.empty()) {
        Sleep(static_cast<DWORD>(milliseconds));
        return 0;
    }
    if (WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), milliseconds) == SOCKET_ERROR)
        return Fail(EINVAL);

    std::lock_guard<std::mutex> hold(tableLock);
    const auto found = queues.find(queue);
    if (found == queues.end()) return Fail(EBADF);
    int n = 0;
    for (const WSAPOLLFD& p : polled) {
        if (p.revents == 0 || n == capacity) continue;
        const int fd = static_cast<int>(p.fd);
        const auto watched = found->second.find(fd);
        if (watched == found->second.end()) continue;  // unwatched during the poll
        if (p.revents & POLLNVAL) {
            // A closed socket leaves the queue, as a kernel queue forgets it.
            found->second.erase(watched);
            continue;
        }
        int bits = 0;
        if (p.revents & POLLRDNORM) bits |= kEventReadable;
        if ((p.revents & POLLWRNORM) && watched->second) {
            bits |= kEventWritable;
            watched->second = false;
        }
        if (p.revents & POLLHUP) bits |= kEventHangUp | kEventReadable;
        if (p.revents & POLLERR) bits |= kEventError | kEventReadable;
        if (bits == 0) continue;
        events[n].fd = fd;
        events[n].events = bits;
        ++n;
    }
    return n;
}

}  // namespace

int CreateEventQueue() {
    std::lock_guard<std::mutex> hold(tableLock);
    queues[++lastQueue];
    return lastQueue;
}

int DestroyEventQueue(int queue) {
    std::lock_guard<std::mutex> hold(tableLock);
    return queues.erase(queue) == 1 ? 0 : Fail(EBADF);
}

int WatchDescriptor(int queue, int fd, bool writeOnce) {
    if (fd < 0) return Fail(EBADF);
    std::lock_guard<std::mutex> hold(tableLock);
    const auto found = queues.find(queue);
    if (found == queues.end()) return Fail(EBADF);
    found->second[fd] = writeOnce;
    return 0;
}

int UnwatchDescriptor(int queue, int fd) {
    std::lock_guard<std::mutex> hold(tableLock);
    const auto found = queues.find(queue);
    if (found == queues.end()) return Fail(EBADF);
    return found->second.erase(fd) == 1 ? 0 : Fail(ENOENT);
}

int WaitEventQueue(int queue, zrQueueEvent* events, int capacity, int milliseconds) {
    if (events == nullptr || capacity <= 0) return Fail(EINVAL);
    const DWORD start = GetTickCount();
    for (;;) {
        int slice = kSliceMs;
        if (milliseconds >= 0) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= static_cast<DWORD>(milliseconds))
                slice = 0;
            else
                slice = std::min<int>(kSliceMs, milliseconds - static_cast<int>(spent));
        }
        const int n = PollOnce(queue, events, capacity, slice);
        if (n != 0 || slice == 0) return n;
    }
}

}  // namespace ZREventQueue
}  // namespace ZRFramework
