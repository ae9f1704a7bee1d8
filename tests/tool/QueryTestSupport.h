// Shared by the query tests: record texts as the Dispatcher sends them, frames, a fresh state of
// the run settings, and golden files.
#ifndef ZD_TESTS_TOOL_QUERYTESTSUPPORT_H
#define ZD_TESTS_TOOL_QUERYTESTSUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "CommandLine.h"
#include "Queries.h"
#include "TableOutput.h"
#include "ZRBase64.h"

namespace querytest {

// A record text of `count` lines; `values` sets lines by number, the others stay empty.
inline std::string Lines(int count, const std::map<int, std::string>& values) {
    std::string text;
    for (int line = 1; line <= count; ++line) {
        auto found = values.find(line);
        if (found != values.end()) text += found->second;
        text += '\n';
    }
    return text;
}

inline std::string Base64(const std::string& bytes) {
    char* encoded = nullptr;
    unsigned long size = ZRFramework::ZRBase64::EncodeAlloc(bytes.data(), bytes.size(), &encoded);
    std::string text = size ? std::string(encoded, size - 1) : std::string();
    ZRFramework::ZRBase64::DeleteBuffer(&encoded);
    return text;
}

// The attribute block of a job: name, value and two flags per attribute.
inline std::string AttributeBlock(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string text;
    for (const auto& [name, value] : pairs)
        text += name + "\n" + value + "\n1\n0\n";
    return Base64(text);
}

struct Job {
    long id = 1;
    std::string name = "job";
    int type = 0;
    int pktype = 1;
    int engine = 0;
    int priority = 100;
    int status = 1;
    int progress = 0;
    int requeued = 0;
    long parent = -1;
    long subtm = 0;
    long starttm = 0;
    long endtm = 0;
    bool archived = false;
    bool locked = false;
    std::string submitter, pool, depend, group, department;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string attributeBlock;  // used instead of `attributes` when set
};

inline std::string JobText(const Job& j) {
    return Lines(36,
                 {{1, std::to_string(j.subtm)},
                  {2, std::to_string(j.pktype)},
                  {3, std::to_string(j.engine)},
                  {4, std::to_string(j.priority)},
                  {5, "4"},
                  {6, "2"},
                  {7, "0"},
                  {8, std::to_string(j.endtm)},
                  {9, std::to_string(j.starttm)},
                  {10, std::to_string(j.status)},
                  {11, std::to_string(j.progress)},
                  {12, j.submitter},
                  {13, j.name},
                  {14, std::to_string(j.id)},
                  {15, "5"},
                  {16, j.pool},
                  {17, "0"},
                  {18, std::to_string(j.parent)},
                  {19, std::to_string(j.type)},
                  {20, j.depend},
                  {21, std::to_string(j.requeued)},
                  {22, "unused"},
                  {31, "unused"},
                  {32, j.locked ? "1" : "0"},
                  {33, j.archived ? "1" : "0"},
                  {34, j.attributeBlock.empty() ? AttributeBlock(j.attributes) : j.attributeBlock},
                  {35, j.group},
                  {36, j.department}});
}

struct Node {
    long id = 1;
    std::string name = "node";
    int os = 2;
    int status = 1;
    std::string ip = "10.0.0.1";
    std::string sst = "Idle";
    std::string ram = "10%";
    std::string cpu = "5%";
    std::string notes;
    long jobid = 0;
};

inline std::string NodeText(const Node& n) {
    return Lines(24, {{1, "0"},
                      {2, std::to_string(n.id)},
                      {3, std::to_string(n.os)},
                      {4, n.name},
                      {5, "8"},
                      {6, n.ip},
                      {7, n.sst},
                      {8, n.cpu},
                      {9, n.ram},
                      {10, "0"},
                      {11, std::to_string(n.jobid)},
                      {12, std::to_string(n.status)},
                      {13, "0"},
                      {19, "616"},
                      {21, "50"},
                      {22, "render"},
                      {24, n.notes}});
}

struct Chunk {
    long id = 1;
    std::string sf = "1", ef = "5";
    int bf = 1;
    long st = 0, et = 0;
    int status = 1;
    std::string renderby, result;
    int requeued = 0;
};

inline std::string ChunkText(const Chunk& c) {
    return Lines(13, {{1, "7"},
                      {2, std::to_string(c.id)},
                      {3, c.sf},
                      {4, c.ef},
                      {5, std::to_string(c.st)},
                      {6, std::to_string(c.et)},
                      {7, c.renderby},
                      {8, c.result},
                      {9, std::to_string(c.status)},
                      {12, std::to_string(c.bf)},
                      {13, std::to_string(c.requeued)}});
}

inline std::string PoolText(const std::string& pool, const std::string& node,
                            const std::string& ip) {
    return pool + "\n" + node + "\n" + ip + "\n\n";
}

inline std::string LogText(int type, const std::string& time, const std::string& entry,
                           const std::string& host = "dispatcher") {
    return std::to_string(type) + "\n" + time + "\n" + entry + "\n127.0.0.1\n" + host + "\nadmin\n";
}

// One frame as the Dispatcher sends it (plain text).
inline std::string Frame(unsigned char code, const std::string& text) {
    std::string frame(1, text.empty() ? '\0' : '\1');
    const uint32_t length = static_cast<uint32_t>(text.size() + 1);
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<char>(length >> (8 * i)));
    frame.push_back(static_cast<char>(code));
    return frame + text;
}

// Run settings, column lists and query state as a run starts; times print in UTC.
inline void FreshRun() {
    resetRunSettings();
    resetColumnLists();
    resetQueryState();
    nVerbose = 1;
    setenv("TZ", "UTC", 1);
    tzset();
}

// The table that a listing of these record texts prints, every record retained, with the run
// settings of the moment.
template <typename Record, typename Parse, typename Show>
std::string TableText(zdColumns<Record> columns, const std::vector<std::string>& texts, Parse parse,
                      Show show) {
    const zdQueryOptions options = queryOptionsFromSettings();
    forgetTemplateNames();
    const std::vector<std::string> keys = columns.attributeKeys;
    zdListing<Record> listing(std::move(columns), options);
    zdCellContext context;
    context.constants = options.constants;
    context.engineName = templateName;
    std::string decoded;
    std::vector<std::string_view> values;
    for (const std::string& text : texts) {
        Record record;
        parse(text, record);
        if constexpr (std::is_same_v<Record, jobentry>) {
            jobAttributeValues(record, keys, decoded, values);
            context.attributes = values.data();
        }
        listing.Add(record, show(record, options), context);
    }
    return listing.Text();
}

inline std::string JobTableText(const std::vector<std::string>& texts) {
    return TableText(jobColumnsOf(jobColumns), texts, zdProtocol::ParseJobRecord, showJob);
}
inline std::string NodeTableText(const std::vector<std::string>& texts) {
    return TableText(cpuColumnsOf(cpuColumns), texts, zdProtocol::ParseNodeRecord, showCpu);
}
inline std::string ChunkTableText(const std::vector<std::string>& texts) {
    return TableText(chunkColumnsOf(chunkColumns), texts, zdProtocol::ParseChunkRecord, showChunk);
}
inline std::string PoolTableText(const std::vector<std::string>& texts) {
    return TableText(poolColumnsOf(poolColumns), texts, zdProtocol::ParsePoolRecord,
                     [](const poolentry&, const zdQueryOptions&) { return true; });
}
inline std::string LogTableText(const std::vector<std::string>& texts) {
    return TableText(logColumnsOf(logColumns), texts, zdProtocol::ParseLogRecord,
                     [](const logentry&, const zdQueryOptions&) { return true; });
}

inline std::string Fixture(const std::string& name) {
    std::ifstream in(std::string(ZD_FIXTURES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Compares with a golden file; ZD_UPDATE_FIXTURES=1 rewrites the file from the output instead.
inline void ExpectFixture(const std::string& actual, const std::string& name) {
    if (const char* update = std::getenv("ZD_UPDATE_FIXTURES"); update && *update == '1') {
        std::ofstream(std::string(ZD_FIXTURES_DIR) + "/" + name, std::ios::binary) << actual;
        return;
    }
    EXPECT_EQ(actual, Fixture(name)) << "golden file " << name;
}

}  // namespace querytest

#endif
