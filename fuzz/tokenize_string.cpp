// Fuzzes the tokenisers, GetLine, SplitCommandLines and the URL escapes, checking that tokens and
// lines put back together give the input and that decoding reverses encoding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ZRStringHelper.h"

namespace SH = ZRFramework::ZRStringHelper;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::string Join(const std::vector<std::string>& parts, char glue) {
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) joined += glue;
        joined += parts[i];
    }
    return joined;
}

void CheckTokenizers(const std::string& text, const std::string& separators) {
    const std::vector<std::string> tokens = SH::TokenizeString(text, separators);
    Check(tokens.size() <= text.size() + 1);
    if (separators.size() == 1) {
        // With one separator the tokens are the text cut at every separator, less a trailing one.
        std::string expected = text;
        if (!expected.empty() && expected.back() == separators[0]) expected.pop_back();
        Check(Join(tokens, separators[0]) == expected);
    }
    const std::set<std::string> unique(tokens.begin(), tokens.end());
    Check(SH::TokenizeStringToSet(text, separators) == unique);
    const size_t nonEmpty = static_cast<size_t>(std::count_if(
        tokens.begin(), tokens.end(), [](const std::string& t) { return !t.empty(); }));
    Check(SH::TokenizeStringToLongSet(text, separators).size() <= nonEmpty);
}

void CheckLines(const std::string& text) {
    // The C-string form sees the text up to its first NUL byte.
    const std::string visible(text.c_str());
    const int count = static_cast<int>(std::count(visible.begin(), visible.end(), '\n')) + 1;
    std::vector<std::string> lines;
    for (int n = 1; n <= count; ++n)
        lines.push_back(SH::GetLine(text.c_str(), n));
    Check(Join(lines, '\n') == visible);
    Check(SH::GetLine(text, count + 1).empty());
    Check(SH::GetLine(text, 0).empty());
}

void CheckURL(const std::string& text) {
    const std::string encoded = SH::EncodeURL(text);
    // A space is sent as '+', which decoding keeps as it is.
    std::string expected = text;
    std::replace(expected.begin(), expected.end(), ' ', '+');
    Check(SH::DecodeURL(encoded) == expected);
    Check(SH::DecodeURL(text).size() <= text.size());
}

void CheckCommandLine(const std::string& text) {
    std::string first, rest;
    if (SH::SplitCommandLines(text, first, rest)) {
        Check(!text.empty() && text[0] != ' ');
        Check(first.size() + rest.size() < text.size() + 1);
    } else {
        Check(first.empty() && rest.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte says how many of the following bytes form the separator set (0 to 3).
    const size_t separatorCount = std::min<size_t>(data[0] & 3, size - 1);
    const std::string separators(reinterpret_cast<const char*>(data + 1), separatorCount);
    const std::string text(reinterpret_cast<const char*>(data + 1 + separatorCount),
                           size - 1 - separatorCount);

    CheckTokenizers(text, separators);
    CheckLines(text);
    CheckURL(text);
    CheckCommandLine(text);
    return 0;
}
