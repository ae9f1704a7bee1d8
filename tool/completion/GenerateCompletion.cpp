// Writes zdtool's bash completion script: fills the script template with the flag table, the
// values each flag expects and the field keywords of every record kind.
// Usage: zdtool_completion TEMPLATE OUTPUT
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "TableOutput.h"

namespace {

enum class Completion { kWords, kLetters, kFieldList, kFiles, kFolders, kHosts };

// What the position-th value of a flag completes to.
struct ValueCompletion {
    const char* flag;
    int position;  // from 1
    Completion kind;
    std::string words;
};

template <typename Record>
std::string keywordsOf(const zdCatalogue<Record>& catalogue) {
    std::string words;
    for (const zdField<Record>& field : catalogue) {
        if (!words.empty()) words += ' ';
        words += field.keyword;
    }
    return words;
}

std::vector<ValueCompletion> valueCompletions() {
    const std::string yesNo = "1 0";
    return {
        {"-s", 1, Completion::kHosts, ""},
        {"-templatesdir", 1, Completion::kFolders, ""},
        {"-o", 1, Completion::kWords, "table tsv json"},
        {"-H", 1, Completion::kWords, yesNo},
        {"-S", 1, Completion::kWords, yesNo},
        {"-C", 1, Completion::kWords, yesNo},
        // 'e' is not in the usage text but selects the selection-logic line.
        {"-q", 1, Completion::kLetters, "c j h p l s t a e"},
        {"-qarc", 1, Completion::kWords, "0 1 2"},
        {"-jf", 1, Completion::kFieldList, keywordsOf(jobCatalogue)},
        {"-cf", 1, Completion::kFieldList, keywordsOf(cpuCatalogue)},
        {"-hf", 1, Completion::kFieldList, keywordsOf(chunkCatalogue)},
        {"-lf", 1, Completion::kFieldList, keywordsOf(logCatalogue)},
        {"-pf", 1, Completion::kFieldList, keywordsOf(poolCatalogue)},
        {"-f", 1, Completion::kFiles, ""},
        {"-proj", 1, Completion::kFolders, ""},
        {"-dest", 1, Completion::kFolders, ""},
        {"-ske", 1, Completion::kWords, yesNo},
        {"-rmslices", 1, Completion::kWords, yesNo},
        {"-si", 1, Completion::kWords, yesNo},
        {"-attr", 3, Completion::kWords, yesNo},
        {"-ojn", 1, Completion::kWords, "0 1 2"},
        {"-ocn", 1, Completion::kWords, "0 1 2"},
    };
}

// Flag names go into case patterns and single-quoted words unescaped.
bool plainName(const char* name) {
    if (*name != '-') return false;
    for (const char* c = name; *c; ++c) {
        const bool letterOrDigit =
            (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        if (!letterOrDigit && *c != '-') return false;
    }
    return true;
}

std::string caseLine(const ValueCompletion& value) {
    std::string call;
    switch (value.kind) {
        case Completion::kWords:
            call = "_zdtool_words '" + value.words + "'";
            break;
        case Completion::kLetters:
            call = "_zdtool_letters '" + value.words + "'";
            break;
        case Completion::kFieldList:
            call = "_zdtool_list '" + value.words + "'";
            break;
        case Completion::kFiles:
            call = "_zdtool_paths -f";
            break;
        case Completion::kFolders:
            call = "_zdtool_paths -d";
            break;
        case Completion::kHosts:
            call = "_zdtool_hosts";
            break;
    }
    return "        \"" + std::string(value.flag) + " " + std::to_string(value.position) + "\") " +
           call + " ;;\n";
}

bool replace(std::string& text, const std::string& placeholder, const std::string& with) {
    const size_t at = text.find(placeholder);
    if (at == std::string::npos) return false;
    text.replace(at, placeholder.size(), with);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Usage: %s TEMPLATE OUTPUT\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string script = buffer.str();
    if (!in || script.empty()) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }

    const std::vector<zdFlagDescription> flags = describeFlags();
    std::string names;
    std::map<int, std::string> byCount;  // value count -> "a|b|c"
    for (const zdFlagDescription& flag : flags) {
        if (!plainName(flag.name)) {
            std::fprintf(stderr, "%s: flag name %s needs quoting\n", argv[0], flag.name);
            return 1;
        }
        if (!names.empty()) names += ' ';
        names += flag.name;
        if (flag.values == 0) continue;
        std::string& group = byCount[flag.values];
        if (!group.empty()) group += '|';
        group += flag.name;
    }
    std::string counts;
    for (auto it = byCount.rbegin(); it != byCount.rend(); ++it)
        counts += "        " + it->second + ") _zdtool_n=" + std::to_string(it->first) + " ;;\n";

    // A completion for a flag that is gone, or for a value it no longer takes, is a mistake
    // here, not something to drop silently.
    std::string cases;
    for (const ValueCompletion& value : valueCompletions()) {
        bool known = false;
        for (const zdFlagDescription& flag : flags)
            known =
                known || (value.flag == std::string(flag.name) && value.position <= flag.values);
        if (!known) {
            std::fprintf(stderr, "%s: no flag %s with a value %d\n", argv[0], value.flag,
                         value.position);
            return 1;
        }
        cases += caseLine(value);
    }
    counts.pop_back();  // the template's own line end follows each placeholder
    cases.pop_back();

    if (!replace(script, "@FLAGS@", names) || !replace(script, "@VALUE_COUNTS@", counts) ||
        !replace(script, "@VALUE_CASES@", cases)) {
        std::fprintf(stderr, "%s: %s lacks a placeholder\n", argv[0], argv[1]);
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << script;
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
