// The host's link-layer addresses. POSIX stands in for getifaddrs with AF_LINK through the
// AF_PACKET interfaces; Windows asks NetBIOS first and falls back on the adapter list.
#ifndef ZRFRAMEWORK_PLATFORM_LINKADDRESSES_H
#define ZRFRAMEWORK_PLATFORM_LINKADDRESSES_H

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "ZRRuntime.h"

namespace ZRFramework {
namespace ZRPlatform {

typedef std::array<unsigned char, 6> zrHardwareAddress;

// Every interface whose link-layer address is six bytes long, in the order the system lists
// them; empty when the list cannot be read. On Windows: the adapter list (GetAdaptersInfo),
// named by the adapter names, every adapter's first six address bytes.
std::vector<zrLinkAddress> ListLinkAddresses();

#if defined(_WIN32)
// The addresses of the NetBIOS adapters whose status could be read, in adapter order.
std::vector<zrHardwareAddress> ListNetbiosAddresses();
#endif

// The Windows text: the NetBIOS addresses joined by "|" when there is any, otherwise every
// adapter's address, each followed by a line feed, joined by "|". The line feeds are kept
// because receivers of the text have always been given them. Inline and free of system types,
// so that both builds test it.
inline std::string FormatWindowsMacAddresses(const std::vector<zrHardwareAddress>& netbios,
                                             const std::vector<zrLinkAddress>& adapters) {
    std::string text;
    const auto append = [&text](const zrHardwareAddress& a, bool lineFeed) {
        char group[16];
        std::snprintf(group, sizeof group, "%2.2x%2.2x%2.2x%2.2x%2.2x%2.2x", a[0], a[1], a[2], a[3],
                      a[4], a[5]);
        text += group;
        if (lineFeed) text += '\n';
        text += '|';
    };
    if (!netbios.empty()) {
        for (const zrHardwareAddress& address : netbios)
            append(address, false);
    } else {
        for (const zrLinkAddress& adapter : adapters)
            append(adapter.address, true);
    }
    if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
