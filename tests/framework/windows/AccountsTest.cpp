// Tests of log-on and impersonation on Windows: how account names are taken apart, and what
// happens to accounts that cannot log on.
#include <gtest/gtest.h>

#include <string>

#include "../../../ZRFramework/platform/windows/Accounts.h"
#include "ZRProcesses.h"
#include "ZRRuntime.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace ZP = ZRFramework::ZRProcesses;

namespace {

TEST(AccountsTest, NamesSplitIntoUserAndDomain) {
    const struct {
        const char* account;
        const char* user;
        const char* domain;
    } cases[] = {{"render", "render", "."},
                 {"FARM\\render", "render", "FARM"},
                 {"render@farm.example", "render", "farm.example"},
                 {"@odd", "@odd", "."},
                 {".\\local", "local", "."},
                 {"a@b@c", "a@b", "c"}};
    for (const auto& c : cases) {
        std::string user, domain;
        ZRFramework::ZRPlatform::SplitAccount(c.account, user, domain);
        EXPECT_EQ(user, c.user) << c.account;
        EXPECT_EQ(domain, c.domain) << c.account;
    }
}

// Wine's log-on accepts every account with a token that nothing can use; a real system refuses.
bool LogOnAcceptsStrangers() {
    HANDLE token = nullptr;
    const bool accepted = LogonUserA("zr-no-such-user", ".", "wrong", LOGON32_LOGON_INTERACTIVE,
                                     LOGON32_PROVIDER_DEFAULT, &token) != 0;
    if (accepted && token != nullptr) CloseHandle(token);
    return accepted;
}

TEST(AccountsTest, UnknownAccountsNeitherImpersonateNorSpawn) {
    EXPECT_FALSE(ZP::ImpersonateUser("zr-no-such-user", "wrong", false));
    EXPECT_FALSE(ZP::ImpersonateUser("", "", true));
    EXPECT_FALSE(ZP::ImpersonateUser(nullptr, nullptr, true));
    EXPECT_TRUE(ZP::RevertUserImpersonation());  // nothing taken on: the thread is itself

    int code = -1;
    std::string text;
    const std::string child = ZRFramework::GetBundlePath() + "\\zr_test_child.exe";
    ZP::zrProcess* process = ZP::SpawnProcess(child.c_str(), "", nullptr, nullptr, nullptr, code,
                                              text, "zr-no-such-user", "wrong");
    EXPECT_EQ(process, nullptr);
    if (process != nullptr) {
        ZP::TerminateProcess(process);
        ZP::CloseProcess(process);
    }
    if (LogOnAcceptsStrangers()) {
        // The log-on passes, so the start itself fails, with the system's error.
        EXPECT_NE(code, 0);
        EXPECT_FALSE(text.empty());
    } else {
        EXPECT_EQ(code, 0);
        EXPECT_EQ(text, "Unable to impersonate user zr-no-such-user");
    }
}

}  // namespace
