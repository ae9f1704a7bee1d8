// Machine-readable records for scripts: tab-separated lines under one header line, or JSON Lines
// with one object per record. Records stream out one at a time; nothing of them is kept.
#ifndef ZDTOOL_RECORDOUTPUT_H
#define ZDTOOL_RECORDOUTPUT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "RunSettings.h"

// One TSV cell: tabs, carriage returns and line feeds become spaces, so a cell never splits a
// line.
void appendTsvCell(std::string& out, std::string_view text);
// A quoted JSON string. A byte that is not part of valid UTF-8 becomes \u00XX of its own value,
// so every line parses and the byte can be told back.
void appendJsonText(std::string& out, std::string_view text);
// A JSON number from a decimal cell; null when the cell is empty or holds no finite number.
void appendJsonNumber(std::string& out, std::string_view text);

// One member of a record: its keyword, and whether its cell is a decimal number.
struct zdRecordMember {
    std::string key;
    bool number = false;
};

// The records of one kind. Cells are given in member order, each record between Begin and End.
class zdRecordStream {
public:
    // `format` is kOutputTsv or kOutputJson; `kind` is the JSON "kind" member.
    zdRecordStream(zdOutputFormat format, std::string_view kind,
                   std::vector<zdRecordMember> members, bool headers);

    // TSV with headers on: the line of keywords. Nothing otherwise.
    void Headers(std::string& out) const;
    void Begin(std::string& out) const;
    void Cell(std::string& out, size_t member, std::string_view text) const;
    void End(std::string& out) const;

    // One whole record from its cells.
    void Record(std::string& out, const std::vector<std::string>& cells) const;

private:
    zdOutputFormat format_;
    bool headers_;
    std::vector<zdRecordMember> members_;
    std::string opening_;                // {"kind":"..."
    std::vector<std::string> jsonKeys_;  // ,"key": per member; empty for a member left out
};

// Whether query mode prints records for scripts rather than tables.
inline bool streamsRecords(zdOutputFormat format) {
    return format == kOutputTsv || format == kOutputJson;
}

// Record text to standard output at verbosity 1 or more; `text` is emptied.
void writeRecordText(std::string& text);

#endif
