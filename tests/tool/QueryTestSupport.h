// Shared by the query tests: record texts as the Dispatcher sends them, frames, a fresh state of
// the run settings, and golden files.
#ifndef ZD_TESTS_TOOL_QUERYTESTSUPPORT_H
#define ZD_TESTS_TOOL_QUERYTESTSUPPORT_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "CommandLine.h"
#include "FakeDispatcher.h"
#include "ListingRecords.h"
#include "PayloadText.h"
#include "Queries.h"
#include "TableOutput.h"
#include "TestFolders.h"

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
    return zdProtocol::EncodeBase64(bytes);
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

// The record as the Dispatcher writes it; `attributeBlock`, when set, goes out as it is.
inline std::string JobText(const Job& j) {
    std::string block;
    for (const auto& [name, value] : j.attributes)
        zdProtocol::AppendPropertyGroup(block, name, value, true, false);
    jobentry r;
    r.subtm = j.subtm;
    r.pktype = j.pktype;
    r.engine = j.engine;
    r.priority = j.priority;
    r.maxcpu = 4;
    r.workingcpu = 2;
    r.endtm = j.endtm;
    r.starttm = j.starttm;
    r.status = j.status;
    r.progress = j.progress;
    r.submitter = j.submitter;
    r.name = j.name;
    r.id = j.id;
    r.pksize = 5;
    r.pool = j.pool;
    r.parent = j.parent;
    r.type = j.type;
    r.depend = j.depend;
    r.requeued = j.requeued;
    r.locked = j.locked;
    r.archived = j.archived;
    const std::string marker = "\x01raw block\x01";
    r.attributeBlock = j.attributeBlock.empty() ? std::string_view(block) : marker;
    r.group = j.group;
    r.department = j.department;
    zdProtocol::JobExtras extras;
    extras.notes = extras.mail = "unused";
    std::string text;
    zdProtocol::AppendJobRecord(text, r, extras);
    if (!j.attributeBlock.empty()) {
        const std::string encoded = zdProtocol::EncodeBase64(marker);
        text.replace(text.find(encoded), encoded.size(), j.attributeBlock);
    }
    return text;
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
    cpuentry r;
    r.id = n.id;
    r.os = n.os;
    r.name = n.name;
    r.num = "8";
    r.ip = n.ip;
    r.sst = n.sst;
    r.cpuusage = n.cpu;
    r.ramusage = n.ram;
    r.jobid = n.jobid;
    r.status = n.status;
    r.version = 616;
    r.priority = 50;
    r.notes = n.notes;
    std::string text;
    zdProtocol::AppendNodeRecord(text, r, {"render", true});
    return text;
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
    chunkentry r;
    r.id = c.id;
    r.st = c.st;
    r.et = c.et;
    r.renderby = c.renderby;
    r.result = c.result;
    r.status = c.status;
    r.requeued = c.requeued;
    zdProtocol::ChunkExtras extras;
    extras.jobId = 7;
    extras.startFrame = std::strtod(c.sf.c_str(), nullptr);
    extras.endFrame = std::strtod(c.ef.c_str(), nullptr);
    extras.byFrame = c.bf;
    std::string text;
    zdProtocol::AppendChunkRecord(text, r, extras);
    return text;
}

inline std::string PoolText(const std::string& pool, const std::string& node,
                            const std::string& ip) {
    std::string text;
    zdProtocol::AppendPoolRecord(text, {pool, node, ip, ""});
    return text;
}

inline std::string LogText(int type, const std::string& time, const std::string& entry,
                           const std::string& host = "dispatcher") {
    logentry r;
    r.type = type;
    r.time = time;
    r.entry = entry;
    r.ip = "127.0.0.1";
    r.host = host;
    r.user = "admin";
    std::string text;
    zdProtocol::AppendLogRecord(text, r);
    return text;
}

// One frame as the Dispatcher sends it (plain text).
inline std::string Frame(unsigned char code, const std::string& text) {
    return zdtest::PlainFrame(code, text);
}

// Run settings, column lists and query state as a run starts; times print in UTC.
inline void FreshRun() {
    resetRunSettings();
    resetColumnLists();
    resetQueryState();
    nVerbose = 1;
    zdTest::SetEnv("TZ", "UTC");
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

// Every line of JSON Lines output, parsed; a line that does not parse, or is not an object,
// fails the test.
inline std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        EXPECT_TRUE(object.is_object()) << "not a JSON object: " << line;
        objects.push_back(std::move(object));
    }
    return objects;
}

// The tool against a fake Dispatcher that the test plays.
class DispatcherTest : public testing::Test {
protected:
    void SetUp() override {
        FreshRun();
        dispatcher_ = std::make_unique<zdtest::FakeDispatcher>();
    }
    void TearDown() override {
        dispatcher_.reset();
        resetRunSettings();
        resetColumnLists();
        resetQueryState();
    }

    // What the Dispatcher says, all at once: the tool finds it waiting.
    void Serve(const std::string& frames) { dispatcher_->QueueBytes(frames); }

    static std::string Listing(unsigned char start, unsigned char record, unsigned char end,
                               const std::vector<std::string>& records) {
        std::string frames = Frame(start, "");
        for (const std::string& text : records)
            frames += Frame(record, text);
        return frames + Frame(end, "");
    }

    std::unique_ptr<zdtest::FakeDispatcher> dispatcher_;
};

}  // namespace querytest

#endif
