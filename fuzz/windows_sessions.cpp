// Fuzzes the session count over the names and values of HKEY_USERS: the input's lines are key
// names, each followed by the SESSIONNAME values found under it, separated by tabs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "../ZRFramework/platform/windows/RegistrySessions.h"

using namespace ZRFramework::ZRPlatform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> keys;
    std::map<std::string, std::vector<std::string>> values;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        const std::string line = input.substr(start, end - start);
        const size_t tab = line.find('\t');
        const std::string key = line.substr(0, tab);
        keys.push_back(key);
        for (size_t from = tab; from != std::string::npos && from < line.size();) {
            const size_t next = line.find('\t', from + 1);
            values[key + "\\Volatile Environment"].push_back(line.substr(
                from + 1, next == std::string::npos ? std::string::npos : next - from - 1));
            from = next;
        }
        start = end + 1;
    }
    size_t expectedMost = 0;
    for (const std::string& key : keys) {
        ParsedSid sid;
        if (ParseSidName(key, sid) && (sid.subAuthorityCount < 1 || sid.subAuthorityCount > 8))
            std::abort();
        expectedMost += values[key + "\\Volatile Environment"].size();
    }
    SessionCounts counts = {5, 0};
    CountRegistrySessions(
        keys,
        [&values](const std::string& key) {
            const auto found = values.find(key);
            return found != values.end() ? found->second : std::vector<std::string>();
        },
        [](const ParsedSid& sid) { return sid.revision == 1; }, counts);
    // Console starts again from nothing; every counted value came from the input.
    if (counts.console < 0 || counts.remote < 0 ||
        static_cast<size_t>(counts.console) + static_cast<size_t>(counts.remote) > expectedMost)
        std::abort();
    return 0;
}
