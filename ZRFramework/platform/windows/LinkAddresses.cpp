// The host's hardware addresses on Windows: NetBIOS adapter statuses and the adapter list.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// Needs the types of <windows.h> first.
#include <iphlpapi.h>
#include <nb30.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "../LinkAddresses.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

// The adapter list is a few kilobytes; a size beyond this, or a list that keeps growing between
// calls, is not read.
constexpr ULONG kMaxAdapterBuffer = 1u << 20;
constexpr int kAdapterAttempts = 4;

// A status answer: the adapter's own record followed by room for its name table.
struct AdapterStatusBuffer {
    ADAPTER_STATUS status;
    NAME_BUFFER names[30];
};

}  // namespace

std::vector<zrHardwareAddress> ListNetbiosAddresses() {
    std::vector<zrHardwareAddress> addresses;
    LANA_ENUM adapters;
    std::memset(&adapters, 0, sizeof adapters);
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = NCBENUM;
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&adapters);
    ncb.ncb_length = sizeof adapters;
    if (Netbios(&ncb) != NRC_GOODRET) return addresses;

    const size_t count = std::min<size_t>(adapters.length, sizeof adapters.lana);
    for (size_t i = 0; i < count; ++i) {
        std::memset(&ncb, 0, sizeof ncb);
        ncb.ncb_command = NCBRESET;
        ncb.ncb_lana_num = adapters.lana[i];
        Netbios(&ncb);

        AdapterStatusBuffer answer;
        std::memset(&answer, 0, sizeof answer);
        std::memset(&ncb, 0, sizeof ncb);
        ncb.ncb_command = NCBASTAT;
        ncb.ncb_lana_num = adapters.lana[i];
        std::memset(ncb.ncb_callname, ' ', sizeof ncb.ncb_callname);
        ncb.ncb_callname[0] = '*';
        ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&answer);
        ncb.ncb_length = sizeof answer;
        if (Netbios(&ncb) != NRC_GOODRET) continue;
        zrHardwareAddress address;
        std::memcpy(address.data(), answer.status.adapter_address, address.size());
        addresses.push_back(address);
    }
    return addresses;
}

std::vector<zrLinkAddress> ListLinkAddresses() {
    std::vector<zrLinkAddress> interfaces;
    // 8-byte cells: the records hold pointers and 64-bit fields.
    std::vector<uint64_t> buffer;
    ULONG size = 648;
    DWORD result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < kAdapterAttempts && result == ERROR_BUFFER_OVERFLOW;
         ++attempt) {
        if (size == 0 || size > kMaxAdapterBuffer) return interfaces;
        buffer.assign((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
        size = static_cast<ULONG>(buffer.size() * sizeof(uint64_t));
        result = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (result != ERROR_SUCCESS) return interfaces;
    for (const IP_ADAPTER_INFO* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data());
         adapter; adapter = adapter->Next) {
        zrLinkAddress entry;
        entry.name.assign(adapter->AdapterName,
                          strnlen(adapter->AdapterName, sizeof adapter->AdapterName));
        static_assert(sizeof adapter->Address >= 6, "six address bytes");
        std::memcpy(entry.address.data(), adapter->Address, entry.address.size());
        interfaces.push_back(std::move(entry));
    }
    return interfaces;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
