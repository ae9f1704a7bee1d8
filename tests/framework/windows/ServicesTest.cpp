// Tests of services and sessions on Windows: a service installed into and removed from the service
// control manager under a unique name, with the texts printed on standard output; the decisions
// behind counting sessions on given names and values; and the live session readers.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../../../ZRFramework/platform/windows/SessionReaders.h"
#include "ZRServices.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRPlatform;

namespace {

const char kInstalled[] = "\nService installed successfully.\n";
const char kCannotInstall[] =
    "\nCannot install the service. You could haven't enough permissions or the service could be "
    "already installed.\n";
const char kRemoved[] = "\nService removed successfully.\n";
const char kCannotRemove[] =
    "\nCannot remove the service. You could haven't enough permissions or the service could be "
    "not installed.\n";

std::string UniqueServiceName() {
    return "ZRServicesTest" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(GetTickCount());
}

// Removes the service however the test ends.
class ServiceCleanup {
public:
    explicit ServiceCleanup(const std::string& name) : name_(name) {}
    ~ServiceCleanup() {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager == nullptr) return;
        SC_HANDLE service = OpenServiceA(manager, name_.c_str(), DELETE);
        if (service != nullptr) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }

private:
    std::string name_;
};

struct ServiceConfig {
    bool found = false;
    std::string binaryPath;
    std::string startName;
    std::string displayName;
    DWORD type = 0;
    DWORD start = 0;
    DWORD errorControl = 0;
    std::string description;
};

ServiceConfig QueryConfig(const std::string& name) {
    ServiceConfig config;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return config;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG);
    if (service != nullptr) {
        DWORD needed = 0;
        QueryServiceConfigA(service, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed + 1);
        auto* query = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (QueryServiceConfigA(service, query, needed, &needed)) {
            config.found = true;
            config.binaryPath = query->lpBinaryPathName ? query->lpBinaryPathName : "";
            config.startName = query->lpServiceStartName ? query->lpServiceStartName : "";
            config.displayName = query->lpDisplayName ? query->lpDisplayName : "";
            config.type = query->dwServiceType;
            config.start = query->dwStartType;
            config.errorControl = query->dwErrorControl;
        }
        needed = 0;
        QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
        std::vector<BYTE> text(needed + sizeof(SERVICE_DESCRIPTIONA));
        auto* description = reinterpret_cast<SERVICE_DESCRIPTIONA*>(text.data());
        if (QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, text.data(),
                                 static_cast<DWORD>(text.size()), &needed) &&
            description->lpDescription != nullptr) {
            config.description = description->lpDescription;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return config;
}

std::string OwnPath() {
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

}  // namespace

TEST(WindowsServicesTest, InstallsAndRemovesWithTheirTexts) {
    const std::string name = UniqueServiceName();
    ServiceCleanup cleanup(name);

    testing::internal::CaptureStdout();
    // An account without a password falls back to the local system account.
    const bool installed = ZRServices::InstallWin32Service(
        name.c_str(), "ZR services test", "Installed by the framework tests", ".\\nobody", "",
        " --service-test \"x y\"");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kInstalled);
    ASSERT_TRUE(installed);

    const ServiceConfig config = QueryConfig(name);
    ASSERT_TRUE(config.found);
    EXPECT_EQ(config.binaryPath, OwnPath() + " --service-test \"x y\"");
    EXPECT_EQ(config.displayName, "ZR services test");
    EXPECT_EQ(config.description, "Installed by the framework tests");
    EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config.start, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(config.errorControl, static_cast<DWORD>(SERVICE_ERROR_IGNORE));
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, config.startName.c_str(), -1,
                             "LocalSystem", -1),
              CSTR_EQUAL)
        << config.startName;

    testing::internal::CaptureStdout();
    EXPECT_FALSE(ZRServices::InstallWin32Service(name.c_str(), "again", "", "", "", ""));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kCannotInstall);
    EXPECT_EQ(QueryConfig(name).description, "Installed by the framework tests");

    testing::internal::CaptureStdout();
    EXPECT_TRUE(ZRServices::UninstallWin32Service(name.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kRemoved);
    EXPECT_FALSE(QueryConfig(name).found);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(ZRServices::UninstallWin32Service(name.c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kCannotRemove);
}

TEST(WindowsServicesTest, DispatcherRefusesAProcessNotStartedAsAService) {
    EXPECT_FALSE(ZRServices::RegisterWin32Service(nullptr, nullptr));
    void (*serviceMain)(DWORD, char**) = [](DWORD, char**) {};
    void* entry = nullptr;
    std::memcpy(&entry, &serviceMain, sizeof entry);
    EXPECT_FALSE(ZRServices::RegisterWin32Service("ZRServicesTestNotAService", entry));
}

TEST(WindowsSessionsTest, ChoosesTheReaderByVersion) {
    EXPECT_FALSE(UsesLogonSessions(4, 0));
    EXPECT_FALSE(UsesLogonSessions(5, 0));
    EXPECT_FALSE(UsesLogonSessions(5, 1));
    EXPECT_TRUE(UsesLogonSessions(5, 2));
    EXPECT_TRUE(UsesLogonSessions(6, 0));
    EXPECT_TRUE(UsesLogonSessions(10, 0));
}

TEST(WindowsSessionsTest, CountsActiveInteractiveLogonsOntoTheCallersCounters) {
    SessionCounts counts = {4, 7};
    CountLogonSession(kInteractiveLogon, true, counts);
    CountLogonSession(kRemoteInteractiveLogon, true, counts);
    CountLogonSession(kRemoteInteractiveLogon, true, counts);
    CountLogonSession(kInteractiveLogon, false, counts);
    CountLogonSession(kRemoteInteractiveLogon, false, counts);
    CountLogonSession(3, true, counts);  // network
    CountLogonSession(5, true, counts);  // service
    EXPECT_EQ(counts.console, 5);
    EXPECT_EQ(counts.remote, 9);
}

TEST(WindowsSessionsTest, ParsesSidNames) {
    ParsedSid sid;
    ASSERT_TRUE(ParseSidName("S-1-5-21-3623811015-3361044348-30300820-1013", sid));
    EXPECT_EQ(sid.revision, 1);
    EXPECT_EQ(sid.authority, 5u);
    ASSERT_EQ(sid.subAuthorityCount, 5);
    EXPECT_EQ(sid.subAuthorities[0], 21ul);
    EXPECT_EQ(sid.subAuthorities[1], 3623811015ul);
    EXPECT_EQ(sid.subAuthorities[4], 1013ul);

    ASSERT_TRUE(ParseSidName("S-1-5-18", sid));
    EXPECT_EQ(sid.subAuthorityCount, 1);
    // The authority is read as hexadecimal.
    ASSERT_TRUE(ParseSidName("S-1-1a-2", sid));
    EXPECT_EQ(sid.authority, 0x1au);
    // At most eight subauthorities are read.
    ASSERT_TRUE(ParseSidName("S-1-5-1-2-3-4-5-6-7-8-9", sid));
    EXPECT_EQ(sid.subAuthorityCount, 8);
    EXPECT_EQ(sid.subAuthorities[7], 8ul);

    EXPECT_FALSE(ParseSidName("S-1-5", sid));
    EXPECT_FALSE(ParseSidName(".DEFAULT", sid));
    EXPECT_FALSE(ParseSidName("", sid));
}

TEST(WindowsSessionsTest, WalksTheUsersHive) {
    const std::string user = "S-1-5-21-1-2-3-1001";
    const std::string other = "S-1-5-21-1-2-3-1002";
    std::map<std::string, std::vector<std::string>> values = {
        {user + "\\Volatile Environment", {"Console", "RDP-Tcp#3", "ica-tcp#1"}},
        {other + "\\Volatile Environment", {"console"}},
        // Keys that must not be read: not a user, skipped names, not a SID.
        {"S-1-5-18\\Volatile Environment", {"Console"}},
        {user + "_Classes\\Volatile Environment", {"Console"}},
        {".default\\Volatile Environment", {"Console"}},
        {"nobody\\Volatile Environment", {"Console"}},
    };
    std::vector<std::string> asked;
    const SessionNameSource source = [&](const std::string& key) {
        asked.push_back(key);
        const auto found = values.find(key);
        return found == values.end() ? std::vector<std::string>() : found->second;
    };
    const UserAccountTest isUser = [](const ParsedSid& sid) {
        return sid.authority == 5 && sid.subAuthorityCount == 5 && sid.subAuthorities[0] == 21;
    };

    SessionCounts counts = {9, 4};
    CountRegistrySessions({".DEFAULT", ".default", user, user + "_Classes", "S-1-5-18", "nobody",
                           other, "S-1-5-21-1-2-3-1003"},
                          source, isUser, counts);
    EXPECT_EQ(counts.console, 2);
    EXPECT_EQ(counts.remote, 6);
    EXPECT_EQ(asked, (std::vector<std::string>{user + "\\Volatile Environment",
                                               other + "\\Volatile Environment",
                                               "S-1-5-21-1-2-3-1003\\Volatile Environment"}));

    counts = {3, 1};
    CountRegistrySessions({}, source, isUser, counts);
    EXPECT_EQ(counts.console, 0);
    EXPECT_EQ(counts.remote, 1);
}

TEST(WindowsSessionsTest, LiveReadersAnswer) {
    // Nothing is known about who is logged in here, only how the counters move.
    int console = 7;
    int remote = 3;
    EXPECT_TRUE(ZRServices::IsSomeoneLogged(&console, &remote));
    EXPECT_GE(console, 7);
    EXPECT_GE(remote, 3);
    EXPECT_TRUE(ZRServices::IsSomeoneLogged(nullptr, nullptr));

    SessionCounts counts = {7, 3};
    ASSERT_TRUE(ReadRegistrySessionCounts(counts));
    EXPECT_GE(counts.console, 0);
    EXPECT_LT(counts.console, 7);
    EXPECT_GE(counts.remote, 3);
}

TEST(WindowsSessionsTest, TheConsoleSessionIsActive) {
    EXPECT_FALSE(IsSessionActive(0xFFFFFFF0ul));
    const DWORD consoleSession = WTSGetActiveConsoleSessionId();
    if (consoleSession == 0xFFFFFFFF) GTEST_SKIP() << "no session is attached to the console";
    // Asked without the helper, to tell a missing interface from a wrong answer.
    typedef BOOL(WINAPI * QueryFunction)(HANDLE, DWORD, int, LPSTR*, DWORD*);
    HMODULE wtsapi = LoadLibraryA("wtsapi32.dll");
    ASSERT_NE(wtsapi, nullptr);
    const QueryFunction query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(wtsapi, "WTSQuerySessionInformationA")));
    ASSERT_NE(query, nullptr);
    LPSTR state = nullptr;
    DWORD bytes = 0;
    const int kConnectState = 8;
    const BOOL readable = query(nullptr, consoleSession, kConnectState, &state, &bytes);
    FreeLibrary(wtsapi);
    if (!readable) GTEST_SKIP() << "the connection state of sessions cannot be read here (Wine)";
    EXPECT_TRUE(IsSessionActive(consoleSession));
}

TEST(WindowsSessionsTest, ConsoleUserIsTheSessionsUser) {
    DWORD session = 0;
    const DWORD consoleSession = WTSGetActiveConsoleSessionId();
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || session != consoleSession) {
        GTEST_SKIP() << "the tests do not run in the console session";
    }
    char* name = ZRServices::CopyCurrentConsoleUsername();
    ASSERT_NE(name, nullptr);
    char own[256];
    DWORD length = sizeof own;
    ASSERT_TRUE(GetUserNameA(own, &length));
    EXPECT_STREQ(name, own);
    ZRServices::ReleaseConsoleUsername(name);
}
