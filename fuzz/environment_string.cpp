// Fuzzes environment resolution and the environment block: the input's first lines up to an
// empty line are NAME=VALUE variables, the rest is the text to resolve.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ZRProcesses.h"

namespace ZP = ZRFramework::ZRProcesses;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

struct EnvironmentDeleter {
    void operator()(ZP::zrEnvironment* environment) const { ZP::DestroyEnvironment(environment); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find("\n\n");
    const std::string header = split == std::string::npos ? "" : input.substr(0, split);
    const std::string text = split == std::string::npos ? input : input.substr(split + 2);

    std::unique_ptr<ZP::zrEnvironment, EnvironmentDeleter> environment(
        ZP::CreateEnvironment(false));
    size_t longestValue = 0;
    bool valuesHoldPercent = false;
    for (size_t begin = 0; begin < header.size();) {
        size_t end = header.find('\n', begin);
        if (end == std::string::npos) end = header.size();
        const std::string line = header.substr(begin, end - begin);
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            const std::string value = line.substr(equals + 1);
            ZP::SetEnvironmentValue(environment.get(), line.substr(0, equals), value);
            if (value.size() > longestValue) longestValue = value.size();
            valuesHoldPercent = valuesHoldPercent || value.find('%') != std::string::npos;
        }
        begin = end + 1;
    }

    const std::string resolved = ZP::ResolveEnvironmentString(environment.get(), text);
    Check(resolved.size() <=
          text.size() + static_cast<size_t>(ZP::kMaxEnvironmentReferences) * longestValue);
    if (text.find('%') == std::string::npos) Check(resolved == text);
    // Below the bound every reference is resolved or removed, and plain values add none.
    size_t percents = 0;
    for (char c : text)
        percents += c == '%';
    if (!valuesHoldPercent && percents <= 2 * static_cast<size_t>(ZP::kMaxEnvironmentReferences))
        Check(resolved.find('%') == std::string::npos);

    // The block holds every named variable in order, then one more NUL.
    char* block = ZP::GetEnvironmentAnsiString(environment.get());
    Check(block != nullptr);
    const char* p = block;
    for (const auto& variable : environment->variables) {
        if (variable.first.empty()) continue;
        const std::string expected = variable.first + "=" + variable.second;
        // A NUL inside a name or value ends its string early; the rest is compared as stored.
        Check(std::memcmp(p, expected.data(), expected.size()) == 0);
        p += expected.size();
        Check(*p++ == '\0');
    }
    Check(*p == '\0');
    ZP::FreeEnvironmentAnsiString(block);
    return 0;
}
