// How an account name of the process functions is taken apart for a Windows log-on.
#ifndef ZRFRAMEWORK_PLATFORM_WINDOWS_ACCOUNTS_H
#define ZRFRAMEWORK_PLATFORM_WINDOWS_ACCOUNTS_H

#include <string>

namespace ZRFramework {
namespace ZRPlatform {

// "DOMAIN\user" and "user@domain" name their domain; a bare name is an account of this
// machine ("."). The user part is never empty for a non-empty name without a final separator.
inline void SplitAccount(const std::string& account, std::string& user, std::string& domain) {
    const size_t backslash = account.find('\\');
    if (backslash != std::string::npos) {
        domain = account.substr(0, backslash);
        user = account.substr(backslash + 1);
        return;
    }
    const size_t at = account.rfind('@');
    if (at != std::string::npos && at > 0) {
        user = account.substr(0, at);
        domain = account.substr(at + 1);
        return;
    }
    user = account;
    domain = ".";
}

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
