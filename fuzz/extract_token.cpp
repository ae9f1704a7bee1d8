// Fuzzes both ExtractToken forms: every loop must end, and each successful call must shrink
// the source. The first three bytes choose the separator, the quote and the options.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ZRStringHelper.h"

namespace SH = ZRFramework::ZRStringHelper;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void PlainLoop(std::string source, const char* separator) {
    const std::string original = source;
    std::string token, rebuilt;
    size_t calls = 0;
    while (true) {
        const std::string before = source;
        if (!SH::ExtractToken(source, token, separator)) {
            Check(before.empty() && source.empty());
            break;
        }
        Check(source.size() < before.size());
        Check(++calls <= original.size());
        // What was cut off is the token plus at most one skipped character.
        Check(before.compare(0, token.size(), token) == 0);
        Check(token.size() + source.size() + 1 >= before.size());
    }
}

void QuotedLoop(std::string source, const char* separator, const char* quote, bool strip) {
    const size_t length = source.size();
    std::string token;
    size_t calls = 0;
    while (true) {
        const std::string before = source;
        const std::string tokenBefore = token;
        if (!SH::ExtractToken(source, token, separator, quote, strip)) {
            // Refusal changes nothing.
            Check(source == before && token == tokenBefore);
            break;
        }
        Check(source.size() < before.size());
        Check(token.size() <= before.size() - source.size());
        Check(++calls <= length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const char separator[3] = {static_cast<char>(data[0]),
                               static_cast<char>(data[2] & 0x80 ? '|' : 0), 0};
    const char quote[2] = {static_cast<char>(data[1]), 0};
    const uint8_t options = data[2];
    const std::string source(reinterpret_cast<const char*>(data + 3), size - 3);

    PlainLoop(source, separator);
    QuotedLoop(source, separator, quote, (options & 1) != 0);
    QuotedLoop(source, (options & 2) ? "" : separator, (options & 4) ? nullptr : quote,
               (options & 8) != 0);
    return 0;
}
