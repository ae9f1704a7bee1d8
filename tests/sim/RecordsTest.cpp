// The record texts line by line, read back the way the tool reads them (line n with GetLine, the
// attribute block with ExtractToken), and the 32-line statistics text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FarmModel.h"
#include "Protocol.h"
#include "Records.h"
#include "SimTestSupport.h"
#include "ZRStringHelper.h"

namespace {

using namespace zdsim;
using ZRFramework::ZRStringHelper::ExtractToken;
using ZRFramework::ZRStringHelper::TokenizeString;

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the last line has no line feed";
    return lines;
}

struct Group {
    std::string name, value, first, second;
    bool operator==(const Group& o) const {
        return name == o.name && value == o.value && first == o.first && second == o.second;
    }
};

// The tool's reading: groups of four lines until an empty name or the end of the text.
std::vector<Group> ReadAttributeGroups(std::string text) {
    std::vector<Group> groups;
    for (;;) {
        Group g;
        if (!ExtractToken(text, g.name, "\n") || g.name.empty()) break;
        ExtractToken(text, g.value, "\n");
        ExtractToken(text, g.first, "\n");
        ExtractToken(text, g.second, "\n");
        groups.push_back(g);
    }
    return groups;
}

Job FullJob() {
    Job job;
    job.id = 12;
    job.name = "sq010\nbeauty";  // a line feed must not shift the lines after it
    job.type = 0;
    job.parent = 1;
    job.status = JobStatus::kStartedWithWarnings;
    job.priority = 120;
    job.packetType = PacketType::kImageSlicing;
    job.packetSize = 4;
    job.engine = 130;
    job.maxNodes = 6;
    job.workingNodes = 2;
    job.maxInstances = 3;
    job.paused = true;
    job.locked = true;
    job.archived = false;
    job.skipErrors = true;
    job.submitTime = 1717401200;
    job.startTime = 1717401260;
    job.endTime = 0;
    job.progress = 40;
    job.requeued = 2;
    job.submitter = "alice";
    job.pool = "render";
    job.depend = "10,11";
    job.group = "Aurora";
    job.department = "lighting";
    job.notes = "note\r";
    job.mail = "a@b";
    job.chunkTimeout = 90;
    job.attributes = {{"start_frame", {"1", true, false}},
                      {"job_file", {"/p/a b.scene", true, true}},
                      {"quality", {"", false, false}},
                      {"multi", {"x\ny", true, false}}};
    Chunk done;
    done.status = ChunkStatus::kCompleted;
    done.requeued = 1;
    Chunk sent;
    sent.status = ChunkStatus::kSent;
    job.chunks = {done, sent, Chunk{}};
    return job;
}

TEST(Records, JobRecordHasItsThirtySixLinesInPlace) {
    const Job job = FullJob();
    const std::vector<std::string> lines = LinesOf(JobRecord(job));
    ASSERT_EQ(lines.size(), size_t(kJobLines));
    const std::vector<std::string> expected = {
        "1717401200", "8", "130", "120", "6", "2", "1", "0", "1717401260", "4", "40", "alice",
        "sq010 beauty", "12", "4", "render", "1", "1", "0", "10,11", "2",
        // 22-31: chunks, done, sent, chunk requeues, instances, time-out, notes, mail, last
        // change, reserved
        "3", "1", "1", "1", "3", "90", "note ", "a@b", "1717401260", "0", "1", "0", lines[33],
        "Aurora", "lighting"};
    EXPECT_EQ(lines, expected);
}

TEST(Records, AttributeBlockDecodesBackToTheGroupsInOrder) {
    const Job job = FullJob();
    const std::string line34 = LinesOf(JobRecord(job))[33];
    const std::string block = simtest::DecodeBase64(line34);
    EXPECT_EQ(block, AttributeBlock(job));
    const std::vector<Group> expected = {{"start_frame", "1", "1", "0"},
                                         {"job_file", "/p/a b.scene", "1", "1"},
                                         {"quality", "", "0", "0"},
                                         {"multi", "x y", "1", "0"}};
    EXPECT_EQ(ReadAttributeGroups(block), expected);

    Job bare;
    EXPECT_EQ(LinesOf(JobRecord(bare))[33], "");
}

TEST(Records, FolderRecordsSayTypeOneAndTheirParent) {
    Job folder;
    folder.id = 2;
    folder.type = 1;
    folder.parent = 1;
    const std::vector<std::string> lines = LinesOf(JobRecord(folder));
    EXPECT_EQ(lines[13], "2");
    EXPECT_EQ(lines[17], "1");
    EXPECT_EQ(lines[18], "1");
}

TEST(Records, NodeRecordHasItsTwentyFourLinesInPlace) {
    Node node;
    node.id = 7;
    node.name = "node07";
    node.os = NodeOs::kOsX;
    node.processors = 12;
    node.ip = "10.0.1.17";
    node.renderStatus = "Rendering";
    node.cpuUsage = "97%";
    node.ramUsage = "41.2 GB";
    node.processPriority = 10;
    node.jobId = 12;
    node.chunkId = 3;
    node.status = NodeStatus::kInProgress;
    node.scheduledPause = 1;
    node.jobName = "sq010";
    node.chunkFrames = "11.000-15.000";
    node.chunkRange = "11-15";
    node.logPath = "/var/log/n7.log";
    node.supportMask = "0x1F";
    node.version = 616;
    node.realtimeLog = 1;
    node.priority = 2;
    node.notes = "new disk";
    const std::vector<std::string> expected = {"3",
                                               "7",
                                               "4",
                                               "node07",
                                               "12",
                                               "10.0.1.17",
                                               "Rendering",
                                               "97%",
                                               "41.2 GB",
                                               "10",
                                               "12",
                                               "8",
                                               "1",
                                               "sq010",
                                               "11.000-15.000",
                                               "11-15",
                                               "/var/log/n7.log",
                                               "0x1F",
                                               "616",
                                               "1",
                                               "2",
                                               "render,comp",
                                               "1",
                                               "new disk"};
    EXPECT_EQ(LinesOf(NodeRecord(node, "render,comp")), expected);
    node.status = NodeStatus::kOffline;
    EXPECT_EQ(LinesOf(NodeRecord(node, ""))[22], "0");
}

TEST(Records, ChunkRecordHasItsThirteenLinesInPlace) {
    Job job;
    job.id = 12;
    job.packetType = PacketType::kMultiframe;
    job.packetSize = 5;
    Chunk chunk;
    chunk.id = 3;
    chunk.startFrame = 11;
    chunk.endFrame = 15.5;
    chunk.byFrame = 2;
    chunk.startTime = 1717401801;
    chunk.endTime = 1717402000;
    chunk.renderBy = "node01";
    chunk.result = "OK";
    chunk.status = ChunkStatus::kCompletedWithWarnings;
    chunk.requeued = 1;
    const std::vector<std::string> expected = {"12",         "3",      "11", "15.5", "1717401801",
                                               "1717402000", "node01", "OK", "8",    "1",
                                               "5",          "2",      "1"};
    EXPECT_EQ(LinesOf(ChunkRecord(job, chunk)), expected);
}

TEST(Records, FrameTextIsShortestExact) {
    EXPECT_EQ(FrameText(1001), "1001");
    EXPECT_EQ(FrameText(-2), "-2");
    EXPECT_EQ(FrameText(12.25), "12.25");
    EXPECT_DOUBLE_EQ(std::atof(FrameText(0.1).c_str()), 0.1);
}

TEST(Records, PoolRowsTellPoolsFromMembersByTheAddressLine) {
    Pool pool{"render", {"node01", "bare"}};
    Node member;
    member.id = 1;
    member.name = "node01";
    member.ip = "10.0.1.11";
    Node bare;
    bare.id = 9;
    bare.name = "bare";
    EXPECT_EQ(LinesOf(PoolRow(pool)), (std::vector<std::string>{"render", "", "", "2"}));
    EXPECT_EQ(LinesOf(PoolMemberRow(pool, member)),
              (std::vector<std::string>{"render", "node01", "10.0.1.11", "1"}));
    // An address-less member would read as a pool without one.
    EXPECT_EQ(LinesOf(PoolMemberRow(pool, bare))[2], "0.0.0.0");
}

TEST(Records, LogRecordHasItsSixLines) {
    LogEntry log{LogType::kError, "2024/06/03 10:30:02", "node05\nstopped", "10.0.1.15", "node05",
                 "system"};
    EXPECT_EQ(LinesOf(LogRecord(log)),
              (std::vector<std::string>{"8", "2024/06/03 10:30:02", "node05 stopped", "10.0.1.15",
                                        "node05", "system"}));
}

TEST(Records, StatisticsTextHasThirtyTwoLinesInFieldOrder) {
    Statistics stats;
    stats.runningSince = 1717405200;
    stats.updatedOn = 1717412400;
    stats.totalBytesIn = 5000000001LL;
    stats.httpBytesOut = 45690000;
    stats.totalKbsIn = 678.13;
    stats.httpKbsOut = 6.2;
    stats.rcConnections = 11;
    stats.unavailableClients = 3;
    const std::string text = StatisticsText(stats);
    const std::vector<std::string> lines = LinesOf(text);
    ASSERT_EQ(lines.size(), size_t(kStatisticsLines));
    EXPECT_EQ(lines[0], "1717405200");
    EXPECT_EQ(lines[1], "1717412400");
    EXPECT_EQ(lines[2], "5000000001");
    EXPECT_EQ(lines[3], "0");
    EXPECT_EQ(lines[11], "45690000");
    EXPECT_EQ(lines[12], "678.13");
    EXPECT_EQ(lines[13], "0.00");
    EXPECT_EQ(lines[21], "6.20");
    EXPECT_EQ(lines[22], "11");
    EXPECT_EQ(lines[31], "3");
    // The tool splits with TokenizeString and wants at least 32 lines.
    EXPECT_EQ(TokenizeString(text, "\n").size(), size_t(kStatisticsLines));
}

TEST(Records, StatisticsReplyCarriesTheTextInBase64OnLineOne) {
    Farm farm;
    farm.statistics.totalBytesOut = 7400000000LL;
    TemplateCatalogue templates;
    ProtocolSettings settings;
    const Context context{&farm, &templates, &settings};
    Session session;
    bool known = false;
    const Replies replies = HandleMessage(context, session, Code::kStatisticsRequest, "", &known);
    EXPECT_TRUE(known);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, Code::kStatistics);
    const std::vector<std::string> lines = LinesOf(replies[0].text);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(simtest::DecodeBase64(lines[0]), StatisticsText(farm.statistics));
}

// Every record of the sample farm keeps its line count whatever its texts hold.
TEST(Records, EverySampleRecordHasItsLineCount) {
    Farm farm;
    std::string error;
    ASSERT_TRUE(LoadFarmFile(ZD_EXAMPLES_DIR "/farm.json", farm, error)) << error;
    for (const Job& job : farm.jobs) {
        EXPECT_EQ(LinesOf(JobRecord(job)).size(), size_t(kJobLines)) << job.id;
        EXPECT_EQ(ReadAttributeGroups(AttributeBlock(job)).size(), job.attributes.size());
        for (const Chunk& chunk : job.chunks)
            EXPECT_EQ(LinesOf(ChunkRecord(job, chunk)).size(), size_t(kChunkLines));
    }
    for (const Node& node : farm.nodes)
        EXPECT_EQ(LinesOf(NodeRecord(node, "")).size(), size_t(kNodeLines)) << node.name;
    for (const LogEntry& log : farm.logs)
        EXPECT_EQ(LinesOf(LogRecord(log)).size(), size_t(kLogLines));
    for (const Pool& pool : farm.pools)
        EXPECT_EQ(LinesOf(PoolRow(pool)).size(), size_t(kPoolLines));
}

}  // namespace
