// Records for scripts: TSV cells, JSON texts and numbers, and the listings of every kind printed
// with -o tsv and -o json.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "QueryTestSupport.h"
#include "RecordOutput.h"

using namespace querytest;
using nlohmann::json;

namespace {

std::string JsonText(std::string_view text) {
    std::string out;
    appendJsonText(out, text);
    return out;
}

std::string JsonNumber(std::string_view text) {
    std::string out;
    appendJsonNumber(out, text);
    return out;
}

TEST(RecordText, TsvCellsNeverSplitALine) {
    std::string cell;
    appendTsvCell(cell, "a\tb\rc\nd\x01");
    EXPECT_EQ(cell, "a b c d\x01");

    const zdRecordStream stream(kOutputTsv, "job", {{"id", true}, {"my\tkey", false}}, true);
    std::string out;
    stream.Headers(out);
    stream.Record(out, {"12", "two\nlines"});
    stream.Record(out, {"", ""});
    EXPECT_EQ(out, "id\tmy key\n12\ttwo lines\n\t\n");
    const zdRecordStream bare(kOutputTsv, "job", {{"id", true}}, false);
    out.clear();
    bare.Headers(out);
    EXPECT_EQ(out, "");
}

// Valid UTF-8 passes as it is; each byte outside it becomes the escape of its own value.
TEST(RecordText, JsonTextsParseAndKeepEveryByte) {
    struct Case {
        std::string text, line, value;
    };
    const Case cases[] = {
        {"plain", "\"plain\"", "plain"},
        {"a\tb\r\n\x01\"\\", "\"a\\tb\\r\\n\\u0001\\\"\\\\\"", "a\tb\r\n\x01\"\\"},
        {"caf\xc3\xa9 \xf0\x9f\x8e\xac", "\"caf\xc3\xa9 \xf0\x9f\x8e\xac\"",
         "caf\xc3\xa9 \xf0\x9f\x8e\xac"},
        {"ren\xe9", "\"ren\\u00e9\"", "ren\xc3\xa9"},
        {"\xff\xfe", "\"\\u00ff\\u00fe\"", "\xc3\xbf\xc3\xbe"},
        {"\xe2\x82"
         "A",
         "\"\\u00e2\\u0082A\"",
         "\xc3\xa2\xc2\x82"
         "A"},                                                                      // cut short
        {"\xc0\xaf", "\"\\u00c0\\u00af\"", "\xc3\x80\xc2\xaf"},                     // overlong
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\"", "\xc3\xad\xc2\xa0\xc2\x80"},  // surrogate
        {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\"",
         "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},  // above U+10FFFF
        {std::string("nul\0end", 7), "\"nul\\u0000end\"", std::string("nul\0end", 7)},
    };
    for (const Case& c : cases) {
        const std::string line = JsonText(c.text);
        EXPECT_EQ(line, c.line);
        const json parsed = json::parse(line, nullptr, false);
        ASSERT_TRUE(parsed.is_string()) << line;
        EXPECT_EQ(parsed.get<std::string>(), c.value) << line;
    }
}

TEST(RecordText, JsonNumbersFromDecimalCells) {
    EXPECT_EQ(JsonNumber("12"), "12");
    EXPECT_EQ(JsonNumber("-3"), "-3");
    EXPECT_EQ(JsonNumber("5000000000"), "5000000000");
    EXPECT_EQ(JsonNumber("1.500"), "1.5");
    EXPECT_EQ(JsonNumber("-0.250"), "-0.25");
    for (const char* none : {"", "inf", "-inf", "nan", "12abc", " 1"})
        EXPECT_EQ(JsonNumber(none), "null") << none;
}

TEST(RecordText, JsonObjectsNameEachMemberOnceAfterTheKind) {
    const zdRecordStream stream(
        kOutputJson, "job", {{"id", true}, {"kind", false}, {"id", true}, {"name", false}}, true);
    std::string out;
    stream.Headers(out);
    stream.Record(out, {"7", "custom", "7", "x"});
    EXPECT_EQ(out, "{\"kind\":\"job\",\"id\":7,\"name\":\"x\"}\n");
}

// Query mode against a fake Dispatcher, with -o tsv or -o json.
class RecordListing : public DispatcherTest {
protected:
    // A record text with `marker` replaced by bytes that a Dispatcher's writer would not send.
    static std::string Patch(std::string text, const std::string& marker, const std::string& raw) {
        text.replace(text.find(marker), marker.size(), raw);
        return text;
    }

    static std::vector<std::string> Jobs() {
        Job folder, beauty, comp;
        folder.id = 1;
        folder.type = 1;
        folder.name = "Shots";
        beauty.id = 12;
        beauty.name = "NAME";
        beauty.submitter = "SUBMITTER";
        beauty.group = "caf\xc3\xa9";
        beauty.status = 2;
        beauty.starttm = 1717000000;
        beauty.attributes = {{"start_frame", "1"}, {"quality", "high"}, {"remove_slices", "3"}};
        comp.id = 13;
        comp.name = "comp";
        comp.pktype = 2;
        comp.status = 128;
        return {
            JobText(folder),
            Patch(Patch(JobText(beauty), "NAME", "beauty\tpass\rv2"), "SUBMITTER", "ren\xe9\xff"),
            JobText(comp)};
    }

    // Jobs, nodes, logs, pools and the selection logic in one run, then the chunks of job 12 in
    // another: the standard output of both.
    std::string RunEveryKind(zdOutputFormat format) {
        EXPECT_TRUE(buildJobFormat(
            "id,name,submitter,group,status,engine,start,sf,quality,progress,remove_slices"));
        EXPECT_TRUE(buildCpuFormat("id,name,status,os,notes"));
        Node render, idle;
        render.id = 3;
        render.status = 8;
        render.notes = "NOTES";
        idle.id = 4;
        idle.name = "node\xe9";
        dispatcher_->QueueBytes(
            Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd, Jobs()) +
            Listing(zdCode::kNodesStart, zdCode::kNodesRecord, zdCode::kNodesEnd,
                    {Patch(NodeText(render), "NOTES", "left\tright\r"), NodeText(idle)}) +
            Listing(zdCode::kLogsStart, zdCode::kLogsRecord, zdCode::kLogsEnd,
                    {LogText(8, "2024/06/03 10:30:02", "disk full"), LogText(3, "t", "")}) +
            Listing(zdCode::kPoolsStart, zdCode::kPoolsRecord, zdCode::kPoolsEnd,
                    {PoolText("render", "", ""), PoolText("render", "node01", "10.0.0.11")}));
        queryJobs = queryCpus = queryLogs = queryPools = queryEngine = 1;
        selectionLogic = 1;
        std::string out = Run(format);
        selectionLogic = 0;

        resetQueryState();
        queryJobs = queryCpus = queryLogs = queryPools = queryEngine = 0;
        queryChunks = 1;
        jobid = 12;
        EXPECT_TRUE(buildChunkFormat("id,status,sf,bf,st,elapsed,renderby,result"));
        Chunk done, waiting;
        done.id = 1;
        done.sf = "1.5";
        done.status = 4;
        done.st = 1717000000;
        done.et = 1717000090;
        done.renderby = "node01";
        done.result = "RESULT";
        waiting.id = 2;
        dispatcher_->QueueBytes(
            Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd, Jobs()) +
            Listing(zdCode::kChunksStart, zdCode::kChunksRecord, zdCode::kChunksEnd,
                    {Patch(ChunkText(done), "RESULT", "OK\r"), ChunkText(waiting)}));
        return out + Run(format);
    }

    // runQueryMode with the format; progress and totals must all have gone to standard error.
    std::string Run(zdOutputFormat format) {
        outputFormat = format;
        nVerbose = 3;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = runQueryMode();
        std::fflush(stdout);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, 0) << err;
        EXPECT_NE(err.find("\nReceiving Jobs list...\n"), std::string::npos) << err;
        EXPECT_NE(err.find("Total"), std::string::npos) << err;
        return out;
    }
};

// The first object of `kind`.
json First(const std::vector<json>& objects, const std::string& kind) {
    for (const json& object : objects)
        if (object.value("kind", "") == kind) return object;
    ADD_FAILURE() << "no " << kind;
    return json::object();
}

TEST_F(RecordListing, EveryKindAsTsv) {
    const std::string out = RunEveryKind(kOutputTsv);
    ExpectFixture(out, "records_all.tsv");
    // One header line per listing, one line per printed record, a fixed count of cells.
    EXPECT_EQ(out.find("\n\n"), std::string::npos);
    EXPECT_EQ(out.find('\r'), std::string::npos);
    EXPECT_NE(out.find("12\tbeauty pass v2\tren\xe9\xff\tcaf\xc3\xa9\tStarted\t"),
              std::string::npos);
}

TEST_F(RecordListing, EveryKindAsJson) {
    const std::string out = RunEveryKind(kOutputJson);
    ExpectFixture(out, "records_all.jsonl");
    std::vector<json> objects = JsonLines(out);
    ASSERT_EQ(objects.size(), 3u + 2u + 2u + 1u + 1u + 2u);
    json& job = objects[1];
    EXPECT_EQ(job["kind"], "job");
    EXPECT_EQ(job["id"], 12);
    EXPECT_TRUE(job["id"].is_number_integer());
    EXPECT_EQ(job["name"], "beauty\tpass\rv2");
    EXPECT_EQ(job["submitter"], "ren\xc3\xa9\xc3\xbf");
    EXPECT_EQ(job["group"], "caf\xc3\xa9");
    EXPECT_EQ(job["status"], "Started");
    EXPECT_EQ(job["quality"], "high");
    EXPECT_EQ(job["remove_slices"], 3);
    EXPECT_TRUE(objects[0]["remove_slices"].is_null());
    EXPECT_EQ(First(objects, "node")["notes"], "left\tright\r");
    EXPECT_EQ(objects[4]["name"], "node\xc3\xa9");
    EXPECT_EQ(First(objects, "log")["type"], "Error");
    EXPECT_EQ(First(objects, "pool")["ip"], "10.0.0.11");
    EXPECT_EQ(First(objects, "engine")["selection_logic"], "Active");
    json chunk = First(objects, "chunk");
    EXPECT_EQ(chunk["sf"], 1.5);
    EXPECT_EQ(chunk["bf"], 1.0);
    EXPECT_EQ(chunk["result"], "OK\r");
    EXPECT_EQ(chunk["elapsed"], "0 days, 0 hours, 1 mins, 30 secs");
}

TEST_F(RecordListing, NoHeadersAndCodesAsNumbers) {
    nHeaders = 0;
    nCostants = 0;
    const std::string tsv = RunEveryKind(kOutputTsv);
    ExpectFixture(tsv, "records_codes.tsv");
    EXPECT_EQ(tsv.rfind("1\tShots\t\t\t1\t0\t", 0), 0u) << tsv;

    TearDown();
    SetUp();
    nHeaders = 0;
    nCostants = 0;
    const std::string out = RunEveryKind(kOutputJson);
    ExpectFixture(out, "records_codes.jsonl");
    std::vector<json> objects = JsonLines(out);
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects[1]["status"], 2);
    EXPECT_EQ(objects[1]["engine"], 0);
    EXPECT_EQ(First(objects, "node")["status"], 8);
    EXPECT_EQ(First(objects, "log")["type"], 8);
    EXPECT_EQ(First(objects, "chunk")["status"], 4);
}

// Messages that are not records go to standard error.
TEST_F(RecordListing, MessagesStayOffStandardOutput) {
    Job single;
    single.id = 12;
    single.pktype = 2;
    dispatcher_->QueueBytes(
        Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd, {JobText(single)}));
    queryChunks = 1;
    jobid = 12;
    outputFormat = kOutputJson;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(runQueryMode(), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "No chunks for single host job\n");
}

// Rows go out in batches while the listing runs: what is still held stays below one batch.
TEST_F(RecordListing, RowsAreWrittenAsTheyArriveNotKept) {
    outputFormat = kOutputTsv;
    const zdQueryOptions options = queryOptionsFromSettings();
    zdListing<logentry> listing(logColumnsOf(logColumns), options);
    zdCellContext context;
    const std::string text = LogText(1, "2024/06/03 09:00:00", std::string(200, 'e'));
    logentry log;
    zdProtocol::ParseLogRecord(text, log);
    testing::internal::CaptureStdout();
    for (int i = 0; i < 2000; ++i)
        listing.Add(log, true, context);
    std::fflush(stdout);
    const std::string written = testing::internal::GetCapturedStdout();
    const std::string held = listing.Text();
    EXPECT_LT(held.size(), 64u * 1024u);
    EXPECT_GT(written.size(), 300000u);
    const std::string all = written + held;
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2001);
    EXPECT_EQ(all.rfind("type\ttime\tentry\nSystem\t2024/06/03 09:00:00\teee", 0), 0u);
}

}  // namespace
