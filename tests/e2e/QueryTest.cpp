// zdtool's query mode against a real zdsim serving examples/farm.json: the tables, the chunk
// listing, the statistics report, the template reports, the frames the tool sends and the
// failures of invalid identifiers.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "E2eSupport.h"

namespace {

using e2e::E2eTest;
using e2e::ReadFile;

const std::string kFixtures = std::string(ZD_EXAMPLES_DIR) + "/../tests/fixtures/";

class QueryE2e : public E2eTest {
protected:
    void SetUp() override {
        E2eTest::SetUp();
        // Times print in the tool's zone; the tool inherits this one.
        setenv("TZ", "UTC", 1);
        tzset();
    }

    void Start(std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"--templates", std::string(ZD_EXAMPLES_DIR) + "/templates"});
        StartSimulator(extra);
    }

    // A query run at the default verbosity unless `extra` says otherwise.
    e2e::ToolRun Query(std::vector<std::string> extra) {
        std::vector<std::string> args = {"-s", "127.0.0.1", "-port", std::to_string(Port()),
                                         "-u", "admin",     "-p",    "farmadmin"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunTool(args);
    }

    // Compares with a golden file; ZD_UPDATE_FIXTURES=1 rewrites it instead.
    static void ExpectFixture(const std::string& actual, const std::string& name) {
        if (const char* update = std::getenv("ZD_UPDATE_FIXTURES"); update && *update == '1') {
            e2e::WriteFile(kFixtures + name, actual);
            return;
        }
        EXPECT_EQ(actual, ReadFile(kFixtures + name)) << "golden file " << name;
    }

    // The transcript's frames after the login, status and template phase, as "code payload".
    std::vector<std::string> QueryFrames() const {
        std::vector<std::string> frames;
        bool started = false;
        for (const std::string& line : Transcript()) {
            const std::string frame = line.substr(line.find(' ') + 1);
            const std::string code = frame.substr(0, 2);
            if (code == "2E" || code == "30" || code == "25" || code == "2C" || code == "32" ||
                code == "C0")
                started = true;
            if (started) frames.push_back(frame);
        }
        return frames;
    }

    // zdsim records the tool's last frames after the tool has exited: wait until they are in.
    std::vector<std::string> QueryFramesOnce(
        const std::function<bool(const std::vector<std::string>&)>& complete) {
        std::vector<std::string> frames;
        e2e::WaitInFolder(Path("."), [&] {
            frames = QueryFrames();
            return complete(frames);
        });
        return frames;
    }

    static long Count(const std::vector<std::string>& frames, const std::string& frame) {
        return std::count(frames.begin(), frames.end(), frame);
    }
};

TEST_F(QueryE2e, JobsTable) {
    Start();
    const e2e::ToolRun run = Query({"-q", "j"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ExpectFixture(run.out, "e2e_jobs.txt");
    const std::vector<std::string> frames = QueryFramesOnce([](const auto& f) {
        return Count(f, "2F") >= 15;  // the start and the sample farm's 14 jobs and folders
    });
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front(), "2E");
    // One acknowledgement for the start and one for each record.
    EXPECT_EQ(Count(frames, "2F"), static_cast<long>(frames.size()) - 1);
    EXPECT_GT(Count(frames, "2F"), 5);
}

TEST_F(QueryE2e, NodesWithChosenColumnsAndCodesAsNumbers) {
    Start();
    const e2e::ToolRun run = Query({"-q", "c", "-cf", "id,name,ip,status,os", "-C", "0"});
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectFixture(run.out, "e2e_nodes.txt");
}

TEST_F(QueryE2e, ChunksOfAMultiframeJobAndTheirAcknowledgements) {
    Start();
    const e2e::ToolRun run =
        Query({"-q", "h", "-job", "12", "-hf", "id,status,sf,ef,st,et,elapsed,renderby", "-v", "3",
               "-usecache"});
    EXPECT_EQ(run.status, 0) << run.err;
    const size_t listing = run.out.find("\nReceiving Job 12 Chunks list...\n\n");
    ASSERT_NE(listing, std::string::npos) << run.out;
    ExpectFixture(run.out.substr(listing), "e2e_chunks.txt");
    const std::vector<std::string> frames =
        QueryFramesOnce([](const auto& f) { return !f.empty() && f.back() == "33 12\\n5\\n"; });
    auto request = std::find(frames.begin(), frames.end(), "32 12\\n");
    ASSERT_GE(frames.end() - request, 3);
    EXPECT_EQ(*(request + 1), "33 12\\n0\\n");
    EXPECT_EQ(*(request + 2), "33 12\\n1\\n");
    EXPECT_EQ(frames.back(), "33 12\\n5\\n");
}

TEST_F(QueryE2e, NoChunksForASingleHostJob) {
    Start();
    const e2e::ToolRun run = Query({"-q", "h", "-job", "13", "-chunk", "1", "-usecache"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "\nNo chunks for single host job\n");
    EXPECT_EQ(run.err, "\nInvalid chunk id 1.\n");
    const std::vector<std::string> frames = QueryFrames();
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                            [](const std::string& f) { return f.rfind("32", 0) == 0; }),
              0);
}

TEST_F(QueryE2e, InvalidIdentifiersFailWithTheirMessage) {
    Start();
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"-q", "j", "-job", "999"}, "\nInvalid job id 999.\n"},
        {{"-q", "c", "-cpu", "77"}, "\nInvalid node id 77.\n"},
        {{"-q", "h"}, "\nCan't query chunks.Invalid job.\n"},
        {{"-q", "h", "-job", "12", "-chunk", "9"}, "\nInvalid chunk id 9.\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("-usecache");
        const e2e::ToolRun run = Query(args);
        EXPECT_EQ(run.status, 255) << c.err;
        EXPECT_EQ(run.err, c.err);
    }
}

TEST_F(QueryE2e, StatisticsReportFetchesTheListingsFirst) {
    Start();
    const e2e::ToolRun run = Query({"-q", "s", "-usecache"});
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectFixture(run.out, "e2e_stats.txt");
    std::vector<std::string> requests;
    for (const std::string& frame : QueryFrames()) {
        const std::string code = frame.substr(0, 2);
        if (code == "2E" || code == "30" || code == "25" || code == "2C" || code == "C0")
            requests.push_back(code);
    }
    EXPECT_EQ(requests, (std::vector<std::string>{"2E", "30", "25", "2C", "C0"}));
}

TEST_F(QueryE2e, PoolsLogsAndTheSelectionLogic) {
    Start({"--lockstep"});
    const e2e::ToolRun run = Query({"-q", "lpe", "-v", "3", "-usecache"});
    EXPECT_EQ(run.status, 0) << run.err;
    const size_t logs = run.out.find("\nReceiving Logs list...\n\n");
    ASSERT_NE(logs, std::string::npos) << run.out;
    ExpectFixture(run.out.substr(logs), "e2e_logs_pools.txt");
}

TEST_F(QueryE2e, TemplateListAndFieldDump) {
    Start();
    const e2e::ToolRun run = Query({"-q", "t", "-templfields", "110"});
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectFixture(run.out, "e2e_templates.txt");
}

// With -o json, standard output holds records alone; progress, totals and the closing message go
// to standard error.
TEST_F(QueryE2e, JsonOutputHoldsOnlyRecords) {
    Start();
    const e2e::ToolRun run = Query({"-templfields", "110", "-q", "ast", "-v", "3", "-o", "json"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::map<std::string, int> kinds;
    nlohmann::json stats;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(record.is_object()) << line;
        const std::string kind = record.value("kind", "");
        ++kinds[kind];
        if (kind == "stats") stats = record;
    }
    EXPECT_EQ(kinds.size(), 8u) << run.out;
    EXPECT_EQ(kinds["engine"], 1);
    EXPECT_EQ(kinds["stats"], 1);
    EXPECT_GT(kinds["template"], 1);
    EXPECT_GT(kinds["field"], 1);
    EXPECT_GT(kinds["pool"], 0);
    ASSERT_TRUE(stats.is_object());
    EXPECT_EQ(stats["jobs"], kinds["job"]);
    EXPECT_EQ(stats["nodes"], kinds["node"]);
    EXPECT_EQ(stats["logs"], kinds["log"]);
    for (const char* message :
         {"\nReceiving Jobs list...\n", "\nTotal jobs found: ", "\nCompleted.\n"})
        EXPECT_NE(run.err.find(message), std::string::npos) << message << " in " << run.err;
}

}  // namespace
