// Host information of Windows: program folder, name, processors, sleeping and the named-mutex
// unique lock.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <string>

#include "ZRRuntime.h"

namespace ZRFramework {

std::string GetBundlePath() {
    // The path's length is not known ahead: grow until it fits.
    std::string path(MAX_PATH, '\0');
    while (true) {
        const DWORD length = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 65536) return std::string();
        path.resize(path.size() * 2);
    }
    const size_t backslash = path.rfind('\\');
    return backslash == std::string::npos ? std::string() : path.substr(0, backslash);
}

bool GetHostName(std::string& name) {
    char buffer[256] = {};
    // One byte short of the buffer: a truncated name may come back without its terminator.
    int rc = gethostname(buffer, sizeof buffer - 1);
    if (rc != 0 && WSAGetLastError() == WSANOTINITIALISED) {
        // Winsock answers only once started; start it for this call alone.
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
        rc = gethostname(buffer, sizeof buffer - 1);
        WSACleanup();
    }
    if (rc != 0) return false;
    name = buffer;
    return true;
}

int GetProcessorsCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return std::max<int>(1, static_cast<int>(info.dwNumberOfProcessors));
}

int GetRunningPlatformOS() {
    return kPlatformWindows;
}

void MicroSleep(int milliseconds) {
    if (milliseconds <= 0) return;
    Sleep(static_cast<DWORD>(milliseconds));
}

void* CreateUniqueLock(const char* name) {
    if (!name || !*name) return nullptr;
    const std::string global = std::string("Global\\") + name;
    SetLastError(ERROR_SUCCESS);
    HANDLE lock = CreateMutexA(nullptr, TRUE, global.c_str());
    // An existing mutex comes back as a handle too, with ERROR_ALREADY_EXISTS: not ours.
    if (!lock) return nullptr;
    if (GetLastError() != ERROR_SUCCESS) {
        CloseHandle(lock);
        return nullptr;
    }
    return lock;
}

bool DeleteUniqueLock(void* lock) {
    if (!lock) return false;
    CloseHandle(static_cast<HANDLE>(lock));
    return true;
}

}  // namespace ZRFramework
