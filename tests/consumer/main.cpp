// The framework's headers before a full <windows.h> (no lean or NOMINMAX: an outside program
// may include it so): its macros must not rename the framework calls that follow.
#include <cstdio>
#include <fstream>
#include <string>

#include <ZRFramework/ZRBase64.h>
#include <ZRFramework/ZRFileSystem.h>
#include <ZRFramework/ZRMd5.h>
#include <ZRFramework/ZRPropertyMap.h>
#include <ZRFramework/ZRStringHelper.h>
#include <ZRFramework/ZRThreads.h>
#include <ZRTemplateEngine/ZRTemplateMacros.h>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace ZRFramework;

std::string WindowsFirstChecks();

int main() {
    std::printf("upper=%s\n", ZRStringHelper::ToUpper("consumer").c_str());

    const char text[] = "abc";
    ZRMd5::md5_state_s state;
    unsigned char digest[16];
    char hex[33];
    ZRMd5::md5_init(&state);
    ZRMd5::md5_append(&state, reinterpret_cast<const unsigned char*>(text), 3);
    ZRMd5::md5_finish(&state, digest);
    ZRMd5::md5_string(digest, hex);
    std::printf("md5=%s\n", hex);

    char* encoded = nullptr;
    ZRBase64::EncodeAlloc("hello", 5, &encoded);
    std::printf("base64=%s\n", encoded ? encoded : "");
    ZRBase64::DeleteBuffer(&encoded);

    ZRProcesses::zrMutex mutex = ZRProcesses::CreateMutex();
    ZRProcesses::LockMutex(mutex);
    ZRProcesses::UnlockMutex(mutex);
    std::printf("after.mutex=%s\n", mutex && ZRProcesses::DestroyMutex(mutex) ? "ok" : "bad");

    { std::ofstream("after.txt") << "1"; }
    const bool moved = ZRFileSystem::MoveFile("after.txt", "after.moved");
    std::printf("after.move=%s\n", moved && ZRFileSystem::CheckFile("after.moved") &&
                                           !ZRFileSystem::CheckFile("after.txt")
                                       ? "ok"
                                       : "bad");
#ifdef _WIN32
    // The system's own macros still work after the framework's headers.
    const bool systemMoved = MoveFile("after.moved", "after.system") != 0;
    std::printf("after.system=%s\n",
                systemMoved && ZRFileSystem::CheckFile("after.system") ? "ok" : "bad");
    HANDLE systemMutex = CreateMutex(nullptr, FALSE, nullptr);
    std::printf("after.systemmutex=%s\n", systemMutex && CloseHandle(systemMutex) ? "ok" : "bad");
#endif

    std::fputs(WindowsFirstChecks().c_str(), stdout);

    zrPropertyMap attributes;
    attributes.SetString("name", "render", true, false);
    std::printf("template=%s\n",
                ZRTemplateManager::subst_macro("job %ATTR(name) done", &attributes).c_str());
    return 0;
}
