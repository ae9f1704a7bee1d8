// Reads the tagged paragraphs (.TP) of a roff manual page, so tests can check that a program's
// flags, options and keywords each have their entry.
#ifndef ZD_TESTS_SUPPORT_MANUALPAGE_H
#define ZD_TESTS_SUPPORT_MANUALPAGE_H

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zdTest {

struct ManualEntry {
    std::string chapter;             // the .SH heading it is under
    std::string section;             // the .SS heading, empty before the chapter's first
    std::vector<std::string> words;  // the tag: the flag or keyword, then its value names
};

// Roff's font macros, quotes and the escaped hyphen dropped: what a reader sees.
inline std::string ManualText(std::string line) {
    std::string plain;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '-') {
            plain += '-';
            ++i;
        } else if (line[i] != '"') {
            plain += line[i];
        }
    }
    return plain;
}

inline std::vector<std::string> ManualWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// Empty when the file cannot be read.
inline std::vector<ManualEntry> ReadManualEntries(const std::string& path) {
    std::ifstream in(path);
    std::vector<ManualEntry> entries;
    std::string chapter, section, line;
    bool tagNext = false;
    while (std::getline(in, line)) {
        if (tagNext) {
            tagNext = false;
            std::vector<std::string> words = ManualWords(ManualText(line));
            // A tag set in a font macro: the macro's name is not part of it.
            if (!words.empty() && line[0] == '.') words.erase(words.begin());
            entries.push_back({chapter, section, words});
        } else if (line.rfind(".SH ", 0) == 0) {
            chapter = ManualText(line.substr(4));
            section.clear();
        } else if (line.rfind(".SS ", 0) == 0) {
            section = ManualText(line.substr(4));
        } else if (line == ".TP" || line.rfind(".TP ", 0) == 0) {
            tagNext = true;
        }
    }
    return entries;
}

}  // namespace zdTest

#endif
