// TSV cells, JSON texts and numbers, and the lines of a record stream.
#include "RecordOutput.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <unordered_set>
#include <utility>

#include "CommandLine.h"
#include "ConsoleOutput.h"
#include "DisplayWidth.h"

namespace {

// Appends the JSON escaping of valid UTF-8, without the quotes.
void appendValidRun(std::string& out, std::string_view run) {
    if (run.empty()) return;
    // Most texts need no escape at all, and the serializer would give them back unchanged.
    const bool plain = std::all_of(run.begin(), run.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && c != '"' && c != '\\';
    });
    if (plain) {
        out.append(run);
        return;
    }
    const std::string quoted = nlohmann::json(std::string(run))
                                   .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    out.append(quoted, 1, quoted.size() - 2);
}

}  // namespace

void appendTsvCell(std::string& out, std::string_view text) {
    const size_t at = out.size();
    out.append(text);
    for (size_t i = at; i < out.size(); ++i)
        if (out[i] == '\t' || out[i] == '\r' || out[i] == '\n') out[i] = ' ';
}

void appendJsonText(std::string& out, std::string_view text) {
    out.push_back('"');
    size_t runStart = 0;
    size_t i = 0;
    while (i < text.size()) {
        uint32_t c = 0;
        const size_t length = zdDecodeUtf8(text, i, c);
        if (length > 0) {
            i += length;
            continue;
        }
        appendValidRun(out, text.substr(runStart, i - runStart));
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u00%02x", static_cast<unsigned char>(text[i]));
        out.append(escape, 6);
        runStart = ++i;
    }
    appendValidRun(out, text.substr(runStart));
    out.push_back('"');
}

void appendJsonNumber(std::string& out, std::string_view text) {
    long long integer = 0;
    const char* end = text.data() + text.size();
    if (!text.empty()) {
        const std::from_chars_result r = std::from_chars(text.data(), end, integer);
        if (r.ec == std::errc() && r.ptr == end) {
            out += nlohmann::json(integer).dump();
            return;
        }
    }
    // Cells of fractions are short; a long text is no number this tool formats.
    double value = NAN;
    const bool decimal = text.find_first_not_of("0123456789.-+eE") == std::string_view::npos;
    if (decimal && !text.empty() && text.size() < 64) {
        const std::string copy(text);
        char* stop = nullptr;
        value = std::strtod(copy.c_str(), &stop);
        if (stop != copy.c_str() + copy.size()) value = NAN;
    }
    out += std::isfinite(value) ? nlohmann::json(value).dump() : std::string("null");
}

zdRecordStream::zdRecordStream(zdOutputFormat format, std::string_view kind,
                               std::vector<zdRecordMember> members, bool headers)
    : format_(format), headers_(headers), members_(std::move(members)) {
    if (format_ != kOutputJson) return;
    opening_ = "{";
    appendJsonText(opening_, "kind");
    opening_ += ':';
    appendJsonText(opening_, kind);
    // A member may appear once: the kind, then the first column of each keyword.
    std::unordered_set<std::string> seen{"kind"};
    for (const zdRecordMember& member : members_) {
        std::string key;
        if (seen.insert(member.key).second) {
            key = ",";
            appendJsonText(key, member.key);
            key += ':';
        }
        jsonKeys_.push_back(std::move(key));
    }
}

void zdRecordStream::Headers(std::string& out) const {
    if (format_ != kOutputTsv || !headers_) return;
    for (size_t i = 0; i < members_.size(); ++i) {
        if (i > 0) out.push_back('\t');
        appendTsvCell(out, members_[i].key);
    }
    out.push_back('\n');
}

void zdRecordStream::Begin(std::string& out) const {
    out += opening_;
}

void zdRecordStream::Cell(std::string& out, size_t member, std::string_view text) const {
    if (format_ == kOutputTsv) {
        if (member > 0) out.push_back('\t');
        appendTsvCell(out, text);
        return;
    }
    const std::string& key = jsonKeys_[member];
    if (key.empty()) return;
    out += key;
    if (members_[member].number)
        appendJsonNumber(out, text);
    else
        appendJsonText(out, text);
}

void zdRecordStream::End(std::string& out) const {
    if (format_ == kOutputJson) out.push_back('}');
    out.push_back('\n');
}

void zdRecordStream::Record(std::string& out, const std::vector<std::string>& cells) const {
    Begin(out);
    for (size_t i = 0; i < cells.size() && i < members_.size(); ++i)
        Cell(out, i, cells[i]);
    End(out);
}

void writeRecordText(std::string& text) {
    if (nVerbose >= 1 && !text.empty()) zdWrite(stdout, text.data(), text.size());
    text.clear();
}
