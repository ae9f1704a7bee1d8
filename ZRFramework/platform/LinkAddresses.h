// Stands in for getifaddrs with AF_LINK: the link-layer (AF_PACKET) interfaces of the host.
#ifndef ZRFRAMEWORK_PLATFORM_LINKADDRESSES_H
#define ZRFRAMEWORK_PLATFORM_LINKADDRESSES_H

#include <vector>

#include "ZRRuntime.h"

namespace ZRFramework {
namespace ZRPlatform {

// Every interface whose link-layer address is six bytes long, in the order the system lists
// them; empty when the list cannot be read.
std::vector<zrLinkAddress> ListLinkAddresses();

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
