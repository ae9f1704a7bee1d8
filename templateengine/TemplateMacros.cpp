// TemplateMacros: %ATTR, %ISACTIVE and %ISNACTIVE expansion against a job's attributes, one
// macro per step, with bounds that stop attributes which refer back to themselves.
#include <cstring>
#include <string>
#include <vector>

#include "ZRStringHelper.h"
#include "ZRTemplateMacros.h"
#include "ZRTemplateManager.h"

namespace ZRFramework {
namespace ZRTemplateManager {

namespace {

// Expansions nested inside expansions; real templates nest two or three deep.
constexpr int kMaxMacroDepth = 64;
// Rounds of the resolving loop beyond one per macro of the original text.
constexpr size_t kMaxExtraRounds = 1024;
// How far expansion may grow the text before the rest is cut.
constexpr size_t kMaxGrowth = 256 * 1024;

enum class MacroKind { Active, Inactive, Attribute };

struct Prefix {
    const char* text;
    size_t length;
    MacroKind kind;
};
// In the order they are chosen, whatever their positions in the text.
constexpr Prefix kPrefixes[] = {{"%ISACTIVE(", 10, MacroKind::Active},
                                {"%ISNACTIVE(", 11, MacroKind::Inactive},
                                {"%ATTR(", 6, MacroKind::Attribute}};

bool ContainsMacro(const std::string& text) {
    for (const Prefix& prefix : kPrefixes)
        if (text.find(prefix.text) != std::string::npos) return true;
    return false;
}

size_t CountMacros(const std::string& text) {
    size_t count = 0;
    for (const Prefix& prefix : kPrefixes)
        for (size_t at = text.find(prefix.text); at != std::string::npos;
             at = text.find(prefix.text, at + prefix.length))
            ++count;
    return count;
}

bool IsActive(zrPropertyMap* attributes, const std::string& name, std::string* value) {
    if (!attributes) return false;
    std::string found;
    bool specified = false;
    if (!attributes->GetString(name.c_str(), found, &specified, nullptr) || !specified)
        return false;
    if (value) value->swap(found);
    return true;
}

// The attributes whose values are being expanded, outermost first. A reference back to one of
// them can only loop, so it expands to nothing.
typedef std::vector<std::string> ExpansionChain;

bool InChain(const ExpansionChain& chain, const std::string& name) {
    for (const std::string& open : chain)
        if (open == name) return true;
    return false;
}

std::string Substitute(std::string text, zrPropertyMap* attributes, ExpansionChain& chain,
                       int depth) {
    const Prefix* chosen = nullptr;
    size_t start = std::string::npos;
    for (const Prefix& prefix : kPrefixes) {
        start = text.find(prefix.text);
        if (start != std::string::npos) {
            chosen = &prefix;
            break;
        }
    }
    if (!chosen) return text;

    // Parentheses count wherever they stand, quotes included.
    const size_t innerStart = start + chosen->length;
    size_t close = std::string::npos;
    int open = 1;
    for (size_t i = innerStart; i < text.size(); ++i) {
        if (text[i] == '(') {
            ++open;
        } else if (text[i] == ')' && --open == 0) {
            close = i;
            break;
        }
    }
    if (close == std::string::npos) {
        text.erase(start);
        return text;
    }

    std::string replacement;
    // Past the depth bound the macro is dropped, which also keeps the stack small.
    if (depth < kMaxMacroDepth) {
        std::string inner = text.substr(innerStart, close - innerStart);
        if (chosen->kind == MacroKind::Attribute) {
            std::string value;
            if (!InChain(chain, inner) && IsActive(attributes, inner, &value)) {
                chain.push_back(inner);
                replacement = Substitute(std::move(value), attributes, chain, depth + 1);
                chain.pop_back();
            }
        } else {
            std::string name;
            ZRStringHelper::ExtractToken(inner, name, " ", "\"", true);
            if (!inner.empty() && inner.back() == ')') inner.pop_back();
            if (!inner.empty() && inner.front() == '(') inner.erase(0, 1);
            const bool active = IsActive(attributes, name, nullptr);
            if (active == (chosen->kind == MacroKind::Active))
                replacement = Substitute(std::move(inner), attributes, chain, depth + 1);
        }
    }
    text.replace(start, close + 1 - start, replacement);
    return text;
}

// Deletes every macro in one pass. A prefix always ends with '(', so checking the output's
// tail whenever one is appended also catches prefixes that a deletion joins together.
std::string DeleteMacros(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i++];
        out += c;
        if (c != '(') continue;
        for (const Prefix& prefix : kPrefixes) {
            if (out.size() < prefix.length ||
                out.compare(out.size() - prefix.length, prefix.length, prefix.text) != 0)
                continue;
            out.resize(out.size() - prefix.length);
            int open = 1;
            while (i < text.size() && open > 0) {
                if (text[i] == '(')
                    ++open;
                else if (text[i] == ')')
                    --open;
                ++i;
            }
            break;
        }
    }
    return out;
}

}  // namespace

std::string subst_macro(std::string text, zrPropertyMap* attributes) {
    ExpansionChain chain;
    return Substitute(std::move(text), attributes, chain, 0);
}

std::string zrTemplateManager::ResolveMacros(std::string text, zrPropertyMap* attributes) {
    size_t roundsLeft = CountMacros(text) + kMaxExtraRounds;
    const size_t sizeLimit = text.size() + kMaxGrowth;
    while (ContainsMacro(text)) {
        if (roundsLeft-- == 0 || text.size() > sizeLimit) return DeleteMacros(text);
        text = subst_macro(std::move(text), attributes);
    }
    return text;
}

}  // namespace ZRTemplateManager
}  // namespace ZRFramework
