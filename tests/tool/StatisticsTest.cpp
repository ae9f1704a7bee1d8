// The statistics text and the report of query letter s.
#include "Connection.h"
#include "FakeDispatcher.h"
#include "QueryTestSupport.h"
#include "Statistics.h"

#include <algorithm>

using namespace querytest;

namespace {

// The 32 lines of the statistics text, numbered from 1.
std::string StatsText(const std::map<int, std::string>& values, int lines = 32) {
    return Lines(lines, values);
}

class Statistics : public testing::Test {
protected:
    void SetUp() override {
        FreshRun();
        dstats = zdDispatcherStats{};
        dispatcher_version = "6.1.6 - Build 2417";
        protocol_version = 610;
    }
    void TearDown() override {
        dstats = zdDispatcherStats{};
        dispatcher_version.clear();
        protocol_version = 0;
        resetQueryState();
    }
};

TEST_F(Statistics, DecodesEveryLineInItsPlace) {
    std::map<int, std::string> values;
    for (int line = 1; line <= 32; ++line)
        values[line] = std::to_string(line * 10);
    values[3] = "5000000000";
    values[13] = "12.345";
    std::string encoded = Base64(StatsText(values));
    update_stats(encoded);
    EXPECT_EQ(dstats.runningSince, 10);
    EXPECT_EQ(dstats.updatedOn, 20);
    EXPECT_EQ(dstats.totalBytesIn, 5000000000LL);
    EXPECT_EQ(dstats.httpBytesOut, 120);
    EXPECT_FLOAT_EQ(dstats.totalKbsIn, 12.345f);
    EXPECT_FLOAT_EQ(dstats.httpKbsOut, 220.0f);
    EXPECT_EQ(dstats.rcConnections, 230);
    EXPECT_EQ(dstats.managementConnections, 240);
    EXPECT_EQ(dstats.unavailableClients, 320);
}

TEST_F(Statistics, ShortOrBrokenTextsLeaveZeros) {
    std::map<int, std::string> values;
    for (int line = 1; line <= 32; ++line)
        values[line] = "7";
    for (std::string encoded :
         {Base64(StatsText(values, 31)), std::string("not base64!"), std::string()}) {
        update_stats(encoded);
        EXPECT_EQ(dstats.rcConnections, 0);
        EXPECT_EQ(dstats.totalBytesIn, 0);
    }
    // Empty lines count as lines: 32 lines with empty ones decode as zeros where empty.
    std::string encoded = Base64(StatsText({{32, "9"}}));
    update_stats(encoded);
    EXPECT_EQ(dstats.unavailableClients, 9);
    EXPECT_EQ(dstats.runningSince, 0);
}

TEST_F(Statistics, ReportOfZerosFromAThirtyOneLineText) {
    jobsRetained = 4;
    cpusReceived = 3;
    logsReceived = 2;
    poolsCounted = 1;
    std::map<int, std::string> values;
    for (int line = 1; line <= 31; ++line)
        values[line] = "1";
    std::string encoded = Base64(StatsText(values, 31));
    update_stats(encoded);
    ExpectFixture(statsReport(listingCounts()), "stats_zeros.txt");
}

TEST_F(Statistics, ReportWithCountersBeyondThirtyTwoBits) {
    std::map<int, std::string> values;
    for (int line = 1; line <= 32; ++line)
        values[line] = std::to_string(line);
    values[1] = "1717000000";
    values[2] = "1717400000";
    values[7] = "5000000000";
    values[4] = "-1";
    values[13] = "1.005";
    values[22] = "123456.789";
    std::string encoded = Base64(StatsText(values));
    update_stats(encoded);
    const std::string report = statsReport(listingCounts());
    ExpectFixture(report, "stats_counters.txt");
    EXPECT_NE(report.find("RC connections total bytes in: 5000000000\n"), std::string::npos);
}

TEST_F(Statistics, OneRecordForScripts) {
    jobsRetained = 4;
    poolsCounted = 1;
    std::map<int, std::string> values;
    for (int line = 1; line <= 32; ++line)
        values[line] = std::to_string(line);
    values[1] = "1717000000";
    values[7] = "5000000000";
    values[13] = "1.005";
    values[22] = "123456.789";
    std::string encoded = Base64(StatsText(values));
    update_stats(encoded);

    const std::string tsv = statsRecord(listingCounts(), kOutputTsv, true);
    ExpectFixture(tsv, "records_stats.tsv");
    const size_t header = tsv.find('\n');
    ASSERT_NE(header, std::string::npos);
    EXPECT_EQ(std::count(tsv.begin(), tsv.begin() + header, '\t'),
              std::count(tsv.begin() + header, tsv.end(), '\t'));
    EXPECT_EQ(statsRecord(listingCounts(), kOutputTsv, false), tsv.substr(header + 1));

    const std::string line = statsRecord(listingCounts(), kOutputJson, true);
    ExpectFixture(line, "records_stats.jsonl");
    std::vector<nlohmann::json> objects = JsonLines(line);
    ASSERT_EQ(objects.size(), 1u);
    nlohmann::json& stats = objects[0];
    EXPECT_EQ(stats["kind"], "stats");
    EXPECT_EQ(stats["jobs"], 4);
    EXPECT_EQ(stats["pools"], 1);
    EXPECT_EQ(stats["running_since"], "05/29/2024 16:26:40");
    EXPECT_EQ(stats["internal_version"], "6.1.6 - Build 2417");
    EXPECT_EQ(stats["protocol_version"], 610);
    EXPECT_EQ(stats["rc_bytes_in"], 5000000000LL);
    EXPECT_EQ(stats["rc_connections"], 23);
    EXPECT_EQ(stats["unavailable_clients"], 32);
    EXPECT_EQ(stats["total_kbs_in"], 1.0);  // rounded as the report shows it
    EXPECT_EQ(stats["http_kbs_out"], 123456.79);
    EXPECT_EQ(stats.size(), 39u);
}

// Other codes are skipped until the statistics arrive.
TEST_F(Statistics, QueryStatsWaitsForItsReply) {
    zdtest::FakeDispatcher dispatcher;
    std::map<int, std::string> values;
    for (int line = 1; line <= 32; ++line)
        values[line] = "0";
    values[23] = "17";
    dispatcher.Queue(zdCode::kStatus, "status\n");
    dispatcher.Queue(zdCode::kStatistics, Base64(StatsText(values)) + "\nignored\n");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(QueryStats(listingCounts()));
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\nRC Connections: 17\n"), std::string::npos) << out;
    EXPECT_EQ(dispatcher.SentFrames(),
              (std::vector<zdtest::Msg>{{zdCode::kStatisticsRequest, ""}}));

    dispatcher.Hangup();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(QueryStats(listingCounts()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Socket error while communicating with the Dispatcher.\n");
}

}  // namespace
