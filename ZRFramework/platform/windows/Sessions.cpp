// Logon sessions, the console user and the service control manager are not available in this
// build yet: each says so and fails; running detached needs nothing here.
#include <cstdio>
#include <string>

#include "../Sessions.h"
#include "ZRServices.h"

namespace ZRFramework {
namespace ZRPlatform {

bool ReadSessionCounts(SessionCounts& counts) {
    (void)counts;
    return false;
}

bool ReadConsoleUser(std::string& user) {
    (void)user;
    return false;
}

// A service is started detached by the service control manager.
bool BecomeDaemon(int exitCode) {
    (void)exitCode;
    return true;
}

}  // namespace ZRPlatform

namespace ZRServices {

namespace {

bool NotAvailable() {
    std::printf("\nThe service control manager is not available.\n");
    return false;
}

}  // namespace

bool RegisterWin32Service(const char* name, void* serviceMain) {
    (void)name;
    (void)serviceMain;
    return NotAvailable();
}

bool InstallWin32Service(const char* name, const char* displayName, const char* description,
                         const char* account, const char* password, const char* arguments) {
    (void)name;
    (void)displayName;
    (void)description;
    (void)account;
    (void)password;
    (void)arguments;
    return NotAvailable();
}

bool UninstallWin32Service(const char* name) {
    (void)name;
    return NotAvailable();
}

}  // namespace ZRServices
}  // namespace ZRFramework
