// Running as a background service: the daemon fork, and the console user and session counts
// from the utmp layer.
#include "ZRServices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/Sessions.h"

namespace ZRFramework {
namespace ZRServices {

namespace {

// Leaves 0, 1 and 2 on /dev/null so that descriptors opened later never land on them and stray
// writes to standard output cannot reach an unrelated file or socket.
void DetachStandardDescriptors() {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
        close(STDERR_FILENO);
        return;
    }
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        // dup2 clears close-on-exec on the copy, so programs the daemon starts keep them.
        if (fd != null) dup2(null, fd);
    }
    if (null > STDERR_FILENO) close(null);
}

bool ReadSessions(std::vector<struct utmp>& records) {
    return ZRPlatform::ReadUtmpFile(ZRPlatform::GetUtmpPath(), records);
}

}  // namespace

bool ForkAndDaemon(int exitCode) {
    // The parent leaves through _exit and the daemon's standard output goes to /dev/null, so
    // anything still buffered would otherwise be lost.
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid > 0) _exit(exitCode);

    setsid();
    if (chdir("/") != 0) {
        // Nothing to fall back to; the daemon keeps the folder it inherited.
    }
    umask(0);
    DetachStandardDescriptors();
    return true;
}

char* CopyCurrentConsoleUsername() {
    std::vector<struct utmp> records;
    std::string user;
    if (!ReadSessions(records) || !ZRPlatform::FindConsoleUser(records, user)) return nullptr;
    char* copy = new (std::nothrow) char[user.size() + 1];
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, user.c_str(), user.size() + 1);
    return copy;
}

void ReleaseConsoleUsername(char* name) {
    delete[] name;
}

bool IsSomeoneLogged(int* consoleSessions, int* remoteSessions) {
    std::vector<struct utmp> records;
    if (!ReadSessions(records)) return false;
    const ZRPlatform::SessionCounts counts = ZRPlatform::CountSessions(records);
    if (consoleSessions != nullptr) *consoleSessions = counts.console;
    if (remoteSessions != nullptr) *remoteSessions = counts.remote;
    return true;
}

}  // namespace ZRServices
}  // namespace ZRFramework
