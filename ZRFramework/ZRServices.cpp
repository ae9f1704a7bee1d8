// Running as a background service, and who is logged in, through the platform's session layer.
#include "ZRServices.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/Sessions.h"

namespace ZRFramework {
namespace ZRServices {

bool ForkAndDaemon(int exitCode) {
    return ZRPlatform::BecomeDaemon(exitCode);
}

char* CopyCurrentConsoleUsername() {
    std::string user;
    if (!ZRPlatform::ReadConsoleUser(user)) return nullptr;
    char* copy = new (std::nothrow) char[user.size() + 1];
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, user.c_str(), user.size() + 1);
    return copy;
}

void ReleaseConsoleUsername(char* name) {
    delete[] name;
}

bool IsSomeoneLogged(int* consoleSessions, int* remoteSessions) {
    // Some systems add to the caller's counters rather than replace them.
    ZRPlatform::SessionCounts counts = {consoleSessions != nullptr ? *consoleSessions : 0,
                                        remoteSessions != nullptr ? *remoteSessions : 0};
    if (!ZRPlatform::ReadSessionCounts(counts)) return false;
    if (consoleSessions != nullptr) *consoleSessions = counts.console;
    if (remoteSessions != nullptr) *remoteSessions = counts.remote;
    return true;
}

}  // namespace ZRServices
}  // namespace ZRFramework
