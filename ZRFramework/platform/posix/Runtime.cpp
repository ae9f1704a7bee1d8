// Host information of a POSIX system: program folder, name, processors, sleeping and the
// flock-based unique lock.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "ZRRuntime.h"

namespace ZRFramework {

namespace {

// Refuses names that would put the lock file anywhere but directly in /tmp: without a "/" only
// "." and ".." name something other than a file of /tmp itself.
bool LockPath(const char* name, std::string& path) {
    if (!name || !*name) return false;
    const std::string text(name);
    if (text.find('/') != std::string::npos || text == "." || text == "..") return false;
    path = "/tmp/" + text;
    return true;
}

}  // namespace

std::string GetBundlePath() {
    // The link's length is not known ahead: grow until it fits.
    std::string target(256, '\0');
    while (true) {
        const ssize_t length = readlink("/proc/self/exe", &target[0], target.size());
        if (length < 0) return std::string();
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            break;
        }
        if (target.size() >= 65536) return std::string();
        target.resize(target.size() * 2);
    }
    const size_t slash = target.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : target.substr(0, slash);
}

bool GetHostName(std::string& name) {
    char buffer[256] = {};
    // One byte short of the buffer: a truncated name may come back without its terminator.
    if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
    name = buffer;
    return true;
}

int GetProcessorsCount() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count < 1 ? 1 : static_cast<int>(std::min<long>(count, 1 << 20));
}

int GetRunningPlatformOS() {
    return kPlatformLinux;
}

void MicroSleep(int milliseconds) {
    if (milliseconds <= 0) return;
    // An absolute deadline lets an interrupted sleep resume for exactly what is left.
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

int CreateUniqueLock(const char* name) {
    std::string path;
    if (!LockPath(name, path)) return -1;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK, 0644);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool DeleteUniqueLock(int descriptor, const char* name) {
    std::string path;
    if (descriptor < 0 || !LockPath(name, path)) return false;
    flock(descriptor, LOCK_UN);
    close(descriptor);
    unlink(path.c_str());
    return true;
}

}  // namespace ZRFramework
