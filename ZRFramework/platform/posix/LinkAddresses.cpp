// Stands in for getifaddrs with AF_LINK: walks getifaddrs for AF_PACKET entries.
#include "../LinkAddresses.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

namespace ZRFramework {
namespace ZRPlatform {

std::vector<zrLinkAddress> ListLinkAddresses() {
    std::vector<zrLinkAddress> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return interfaces;
    std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, freeifaddrs);
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_name || !entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        zrLinkAddress address;
        if (link->sll_halen != address.address.size()) continue;
        address.name = entry->ifa_name;
        std::memcpy(address.address.data(), link->sll_addr, address.address.size());
        interfaces.push_back(std::move(address));
    }
    return interfaces;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
