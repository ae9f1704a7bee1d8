// The framework's headers after a full <windows.h>, whose CreateMutex and MoveFile are macros
// that rename every later declaration and call of those names.
#ifdef _WIN32
#include <windows.h>
#endif

#include <fstream>
#include <string>

#include <ZRFramework/ZRFileSystem.h>
#include <ZRFramework/ZRProcesses.h>
#include <ZRFramework/ZRThreads.h>

using namespace ZRFramework;

std::string WindowsFirstChecks() {
    std::string out;
    ZRProcesses::zrMutex mutex = ZRProcesses::CreateMutex();
    ZRProcesses::LockMutex(mutex);
    ZRProcesses::UnlockMutex(mutex);
    out += std::string("first.mutex=") + (mutex && ZRProcesses::DestroyMutex(mutex) ? "ok" : "bad");
    out += "\n";

    { std::ofstream("first.txt") << "1"; }
    const bool moved = ZRFileSystem::MoveFile("first.txt", "first.moved");
    out += std::string("first.move=") +
           (moved && ZRFileSystem::CheckFile("first.moved") && !ZRFileSystem::CheckFile("first.txt")
                ? "ok"
                : "bad");
    out += "\n";
#ifdef _WIN32
    out += std::string("first.pid=") +
           (ZRProcesses::GetCurrentProcessPid() == static_cast<int>(GetCurrentProcessId()) ? "ok"
                                                                                           : "bad");
    out += "\n";
#endif
    return out;
}
