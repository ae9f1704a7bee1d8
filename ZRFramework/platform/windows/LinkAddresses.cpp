// Stands in for getifaddrs with AF_LINK: the adapter walk is not available on Windows yet, so
// no interface is listed.
#include "../LinkAddresses.h"

namespace ZRFramework {
namespace ZRPlatform {

std::vector<zrLinkAddress> ListLinkAddresses() {
    return std::vector<zrLinkAddress>();
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
