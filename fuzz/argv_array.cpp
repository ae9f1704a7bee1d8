// Fuzzes the process area's text parsers: command-line splitting, /proc stat lines and MAC
// addresses for wake-on-LAN. Nothing is started.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../ZRFramework/platform/ProcessTable.h"
#include "ZRProcesses.h"

namespace ZP = ZRFramework::ZRProcesses;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string text = input.c_str();  // the splitter sees the text up to a NUL

    char** argv = ZP::zr_create_argv_array(text.c_str());
    Check(argv != nullptr);
    size_t count = 0;
    size_t bytes = 0;
    for (char** p = argv; *p != nullptr; ++p) {
        ++count;
        bytes += std::strlen(*p);
    }
    // Every argument takes at least one byte of the text; none holds more than the text.
    Check(count <= text.size());
    Check(bytes <= text.size());
    if (text.find_first_not_of(" \t") == std::string::npos) Check(count == 0);
    ZP::zr_free_argv_array(argv);

    ZRFramework::ZRPlatform::ProcessEntry entry{-1, -1, ""};
    if (ZRFramework::ZRPlatform::ParseProcStatLine(input, entry)) {
        Check(entry.pid >= 0 && entry.ppid >= 0);
        Check(entry.name.size() < input.size());
    }

    std::string packet;
    if (ZP::BuildWOLPacket(input, packet)) {
        Check(packet.size() == 102);
        Check(packet.compare(0, 6, std::string(6, '\xFF')) == 0);
        for (size_t i = 12; i < packet.size(); ++i)
            Check(packet[i] == packet[i - 6]);
    }
    return 0;
}
