// Fuzzes macro resolution: the input's first lines build the attributes ("name=value", a leading
// '!' marks one not specified), the rest after an empty line is the text to resolve.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ZRTemplateEngine.h"

using namespace ZRFramework::ZRTemplateManager;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool HasMacro(const std::string& text) {
    return text.find("%ISACTIVE(") != std::string::npos ||
           text.find("%ISNACTIVE(") != std::string::npos ||
           text.find("%ATTR(") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find("\n\n");
    const std::string head = split == std::string::npos ? std::string() : input.substr(0, split);
    const std::string text = split == std::string::npos ? input : input.substr(split + 2);

    ZRFramework::zrPropertyMap attributes;
    size_t start = 0;
    while (start < head.size()) {
        size_t end = head.find('\n', start);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(start, end - start);
        start = end + 1;
        const bool specified = line.empty() || line[0] != '!';
        if (!specified) line.erase(0, 1);
        const size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        attributes.SetString(name.c_str(), value, specified, false);
    }
    const int entries = attributes.GetSize();

    zrTemplateManager* manager = zrTemplateManager::AllocateClass();
    const std::string resolved = manager->ResolveMacros(text, &attributes);
    Check(!HasMacro(resolved));
    const std::string once = subst_macro(text, &attributes);
    Check(HasMacro(text) || once == text);
    Check(attributes.GetSize() == entries);
    zrTemplateManager::DestroyClass(manager);
    return 0;
}
