// zdtool's manual page and bash completion against the flag table and the field catalogues:
// every flag and keyword documented, and the completion offering exactly what the parser takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "ManualPage.h"
#include "TableOutput.h"
#include "TestFolders.h"

namespace {

using zdTest::ManualEntry;

std::vector<std::string> sorted(std::vector<std::string> words) {
    std::sort(words.begin(), words.end());
    return words;
}

template <typename Record>
std::vector<std::string> keywordsOf(const zdCatalogue<Record>& catalogue) {
    std::vector<std::string> keywords;
    for (const zdField<Record>& field : catalogue)
        keywords.push_back(field.keyword);
    return keywords;
}

// Each record kind: its field-list flag and its catalogue's keywords.
struct Kind {
    const char* flag;
    std::vector<std::string> keywords;
};

std::vector<Kind> kinds() {
    return {{"-jf", keywordsOf(jobCatalogue)},
            {"-cf", keywordsOf(cpuCatalogue)},
            {"-hf", keywordsOf(chunkCatalogue)},
            {"-lf", keywordsOf(logCatalogue)},
            {"-pf", keywordsOf(poolCatalogue)}};
}

TEST(Manual, EveryFlagHasAnEntryNamingEachOfItsValues) {
    const std::vector<ManualEntry> entries = zdTest::ReadManualEntries(ZD_DOCS_DIR "/zdtool.1");
    ASSERT_FALSE(entries.empty());
    for (const zdFlagDescription& flag : describeFlags()) {
        auto entry = std::find_if(entries.begin(), entries.end(), [&](const ManualEntry& e) {
            return e.chapter == "OPTIONS" && !e.words.empty() && e.words[0] == flag.name;
        });
        if (entry == entries.end()) {
            ADD_FAILURE() << flag.name << " has no entry under OPTIONS in zdtool.1";
            continue;
        }
        EXPECT_EQ(entry->words.size() - 1, static_cast<size_t>(flag.values))
            << "the entry of " << flag.name << " names another number of values";
    }
}

TEST(Manual, EachFieldSectionListsExactlyItsCataloguesKeywords) {
    const std::vector<ManualEntry> entries = zdTest::ReadManualEntries(ZD_DOCS_DIR "/zdtool.1");
    for (const Kind& kind : kinds()) {
        std::vector<std::string> documented;
        bool found = false;
        for (const ManualEntry& entry : entries) {
            if (entry.chapter != "FIELDS" ||
                entry.section.find(std::string("(") + kind.flag + ")") == std::string::npos)
                continue;
            found = true;
            if (!entry.words.empty()) documented.push_back(entry.words[0]);
        }
        EXPECT_TRUE(found) << "no field section for " << kind.flag;
        EXPECT_EQ(sorted(documented), sorted(kind.keywords)) << "fields of " << kind.flag;
    }
}

#ifdef ZD_COMPLETION_SCRIPT

std::vector<std::string> flagNames() {
    std::vector<std::string> names;
    for (const zdFlagDescription& flag : describeFlags())
        names.push_back(flag.name);
    return names;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// What the completion offers for the command line `words`, the last being the word under the
// cursor, in `folder`. Anything bash says on standard error becomes part of the answer.
std::vector<std::string> complete(const std::vector<std::string>& words,
                                  const std::string& folder = ".") {
    const std::string driver =
        "source \"$1\" || exit 1; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _zdtool; "
        "printf '%s\\n' \"${COMPREPLY[@]}\"";
    std::string command = "cd " + quoted(folder) + " && bash --norc --noprofile -c " +
                          quoted(driver) + " bash " + quoted(ZD_COMPLETION_SCRIPT) + " zdtool";
    for (const std::string& word : words)
        command += " " + quoted(word);
    command += " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run bash";
        return {};
    }
    std::string output;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << output;
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        if (end > start) lines.push_back(output.substr(start, end - start));
    }
    return lines;
}

TEST(Completion, OffersExactlyTheFlagTableAndEachKindsKeywords) {
    EXPECT_EQ(sorted(complete({""})), sorted(flagNames()));
    for (const Kind& kind : kinds())
        EXPECT_EQ(sorted(complete({kind.flag, ""})), sorted(kind.keywords)) << kind.flag;
}

TEST(Completion, CompletesEachValueByTheFlagItFollows) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(sorted(complete({"-cpuk"})),
              sorted({"-cpukg", "-cpukp", "-cpukr", "-cpukpjob", "-cpukrjob"}));
    // The keyword after the last comma, the items before it kept.
    EXPECT_EQ(complete({"-jf", "id,na"}), Words{"id,name"});
    EXPECT_EQ(sorted(complete({"-hf", "id,,e"})), sorted({"id,,ef", "id,,et", "id,,elapsed"}));
    EXPECT_EQ(complete({"-o", ""}), (Words{"table", "tsv", "json"}));
    const Words letters = complete({"-q", "jc"});
    EXPECT_EQ(sorted(letters), sorted({"jch", "jcp", "jcl", "jcs", "jct", "jca", "jce"}));
    // Values are stepped over, also those that look like flags.
    EXPECT_EQ(complete({"-attr", "name", "value", ""}), (Words{"1", "0"}));
    EXPECT_EQ(complete({"-attr", "name", ""}), Words{});
    EXPECT_EQ(complete({"-n", "-q", "-jobr"}), (Words{"-jobr", "-jobri", "-jobrn", "-jobrm"}));
    EXPECT_EQ(complete({"-jobrn", "5", "-q"}), Words{});
}

TEST(Completion, CompletesPathsAfterFlagsThatTakeOne) {
    zdTest::TempFolder folder("zdtool-completion-");
    ASSERT_TRUE(folder.ok());
    std::ofstream(folder.path() + "/scene.lmn") << "x";
    std::ofstream(folder.path() + "/notes.txt") << "x";
    ASSERT_TRUE(std::filesystem::create_directory(folder.path() + "/shots"));
    EXPECT_EQ(sorted(complete({"-f", "s"}, folder.path())), sorted({"scene.lmn", "shots"}));
    EXPECT_EQ(complete({"-templatesdir", "s"}, folder.path()), std::vector<std::string>{"shots"});
    EXPECT_EQ(complete({"-n", "s"}, folder.path()), std::vector<std::string>{});
}

#endif

}  // namespace
