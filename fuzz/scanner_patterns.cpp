// Fuzzes the scanner's text handling: the input's lines are an APPFINDER key, a file name, a
// configuration value, a base path and an app exec; the rest of the input is ignored.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ZRStringHelper.h"
#include "ZRTemplateEngine.h"

using namespace ZRFramework::ZRTemplateManager;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines(5);
    size_t start = 0;
    for (std::string& line : lines) {
        if (start > input.size()) break;
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        line = input.substr(start, end - start);
        start = end + 1;
    }
    const std::string& key = lines[0];
    const std::string& name = lines[1];

    const bool matches = compareFilePattern(key, name);
    // Case never matters, on either side.
    Check(matches == compareFilePattern(ZRFramework::ZRStringHelper::ToUpper(key),
                                        ZRFramework::ZRStringHelper::ToLower(name)));
    // A name is matched by itself as a one-alternative key.
    if (!name.empty() && name.find('|') == std::string::npos) Check(compareFilePattern(name, name));

    zrTemplateScannerApp app;
    app.setBasePath(lines[3]);
    app.setAppExec(lines[4]);
    const std::string expanded = substConfigMacro(lines[2], &app);
    if (lines[2].find('%') == std::string::npos) Check(expanded == lines[2]);
    // Three insertions at most, each no longer than the longer path.
    const size_t longest = std::max(lines[3].size(), lines[4].size());
    Check(expanded.size() <= lines[2].size() + 4 * longest);
    return 0;
}
