// Every payload read back by its reader: the listing records and statistics as the simulator
// writes them, and what the tool writes (login, submissions, commands, chunk requests) as the
// Dispatcher's side reads it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FarmModel.h"
#include "ListingRecords.h"
#include "MessageCodes.h"
#include "PayloadText.h"
#include "Payloads.h"
#include "Protocol.h"
#include "Records.h"

namespace {

using namespace zdProtocol;
using zdsim::Job;

// A text holding every character that must not reach the reader as it is.
std::string Unsafe(const char* head) {
    return std::string(head) + std::string("\n1\r2\0003", 6);
}
std::string Safe(const char* head) {
    return std::string(head) + " 1 2 3";
}

Job FullJob(bool flags) {
    Job job;
    job.id = 4101;
    job.name = Unsafe("sq010");
    job.type = 1;
    job.parent = 4001;
    job.status = zdsim::JobStatus::kStartedWithWarnings;
    job.priority = 120;
    job.packetType = zdsim::PacketType::kImageSlicing;
    job.packetSize = 5;
    job.engine = 130;
    job.maxNodes = 6;
    job.workingNodes = 3;
    job.maxInstances = 7;
    job.paused = flags;
    job.skipErrors = !flags;
    job.locked = flags;
    job.archived = !flags;
    job.submitTime = 1717401200;
    job.startTime = 1717401260;
    job.endTime = 1717401900;
    job.progress = 40;
    job.requeued = 2;
    job.submitter = "alice";
    job.pool = "render";
    job.depend = "10,11";
    job.group = "Aurora";
    job.department = Unsafe("lighting");
    job.notes = Unsafe("notes");
    job.mail = "a@b";
    job.chunkTimeout = 90;
    // Not in name order: the block keeps the job's order.
    job.attributes = {{"zz_first", {"1", true, false}},
                      {"job_file", {Unsafe("/p/a"), true, true}},
                      {"aa_last", {"", false, true}}};
    return job;
}

TEST(RoundTrip, JobRecordReadsBackEveryField) {
    for (const bool flags : {true, false}) {
        SCOPED_TRACE(flags);
        const Job job = FullJob(flags);
        const std::string text = zdsim::JobRecord(job);
        jobentry read;
        ParseJobRecord(text, read);
        EXPECT_EQ(read.subtm, job.submitTime);
        EXPECT_EQ(read.pktype, job.packetType);
        EXPECT_EQ(read.engine, job.engine);
        EXPECT_EQ(read.priority, job.priority);
        EXPECT_EQ(read.maxcpu, job.maxNodes);
        EXPECT_EQ(read.workingcpu, job.workingNodes);
        EXPECT_EQ(read.paused, job.paused);
        EXPECT_EQ(read.endtm, job.endTime);
        EXPECT_EQ(read.starttm, job.startTime);
        EXPECT_EQ(read.status, job.status);
        EXPECT_EQ(read.progress, job.progress);
        EXPECT_EQ(read.submitter, job.submitter);
        EXPECT_EQ(read.name, Safe("sq010"));
        EXPECT_EQ(read.id, job.id);
        EXPECT_EQ(read.pksize, job.packetSize);
        EXPECT_EQ(read.pool, job.pool);
        EXPECT_EQ(read.skiperror, job.skipErrors);
        EXPECT_EQ(read.parent, job.parent);
        EXPECT_EQ(read.type, job.type);
        EXPECT_EQ(read.depend, job.depend);
        EXPECT_EQ(read.requeued, job.requeued);
        EXPECT_EQ(read.locked, job.locked);
        EXPECT_EQ(read.archived, job.archived);
        EXPECT_EQ(read.group, job.group);
        EXPECT_EQ(read.department, Safe("lighting"));
        EXPECT_EQ(LineOf(text, JobLine::kNotes), Safe("notes"));

        std::string block;
        ASSERT_TRUE(DecodeBase64(read.attributeBlock, block));
        std::vector<std::vector<std::string>> groups;
        ForEachPropertyGroup(block, [&](std::string_view name, std::string_view value,
                                        std::string_view specified, std::string_view substitution) {
            groups.push_back({std::string(name), std::string(value), std::string(specified),
                              std::string(substitution)});
        });
        const std::vector<std::vector<std::string>> expected = {
            {"zz_first", "1", "1", "0"},
            {"job_file", Safe("/p/a"), "1", "1"},
            {"aa_last", "", "0", "1"}};
        EXPECT_EQ(groups, expected);
    }
}

TEST(RoundTrip, NodeRecordReadsBackEveryField) {
    zdsim::Node node;
    node.id = 7;
    node.name = "node07";
    node.os = zdsim::NodeOs::kOsX;
    node.processors = 12;
    node.ip = "10.0.1.17";
    node.renderStatus = Unsafe("Rendering");
    node.cpuUsage = "97%";
    node.ramUsage = "41.2 GB";
    node.processPriority = 10;
    node.jobId = 4101;
    node.chunkId = 3;
    node.status = zdsim::NodeStatus::kInProgress;
    node.scheduledPause = 1;
    node.jobName = "sq010";
    node.chunkFrames = "11.000-15.000";
    node.chunkRange = "11-15";
    node.logPath = "/logs/node07.log";
    node.supportMask = "0110";
    node.version = 616;
    node.realtimeLog = 5;
    node.priority = 55;
    node.notes = Unsafe("spare");
    // The pools line sits between the last number and the notes.
    const std::string text = zdsim::NodeRecord(node, "render,comp");
    cpuentry read;
    ParseNodeRecord(text, read);
    EXPECT_EQ(read.chunkid, node.chunkId);
    EXPECT_EQ(read.id, node.id);
    EXPECT_EQ(read.os, node.os);
    EXPECT_EQ(read.name, node.name);
    EXPECT_EQ(read.num, "12");
    EXPECT_EQ(read.ip, node.ip);
    EXPECT_EQ(read.sst, Safe("Rendering"));
    EXPECT_EQ(read.cpuusage, node.cpuUsage);
    EXPECT_EQ(read.ramusage, node.ramUsage);
    EXPECT_EQ(read.ppriority, node.processPriority);
    EXPECT_EQ(read.jobid, node.jobId);
    EXPECT_EQ(read.status, node.status);
    EXPECT_EQ(read.tpause, node.scheduledPause);
    EXPECT_EQ(read.jobname, node.jobName);
    EXPECT_EQ(read.chunknamef, node.chunkFrames);
    EXPECT_EQ(read.chunkname, node.chunkRange);
    EXPECT_EQ(read.logpath, node.logPath);
    EXPECT_EQ(read.supmask, node.supportMask);
    EXPECT_EQ(read.version, node.version);
    EXPECT_EQ(read.rtlog, node.realtimeLog);
    EXPECT_EQ(read.priority, node.priority);
    EXPECT_EQ(read.notes, Safe("spare"));
    EXPECT_EQ(LineOf(text, NodeLine::kPools), "render,comp");
}

TEST(RoundTrip, ChunkRecordReadsBackFramesAsFloats) {
    Job job;
    job.id = 4101;
    job.packetType = zdsim::PacketType::kMultiframe;
    job.packetSize = 5;
    zdsim::Chunk chunk;
    chunk.id = 9;
    chunk.byFrame = 3;
    chunk.startTime = 1717401300;
    chunk.endTime = 1717401345;
    chunk.renderBy = "node07";
    chunk.result = Unsafe("warn");
    chunk.status = zdsim::ChunkStatus::kCompletedWithWarnings;
    chunk.requeued = 2;
    for (const auto& [start, end] : {std::pair{12.5, 1001.25}, std::pair{0.1, 16777217.0}}) {
        chunk.startFrame = start;
        chunk.endFrame = end;
        chunkentry read;
        const std::string text = zdsim::ChunkRecord(job, chunk);
        ParseChunkRecord(text, read);
        EXPECT_EQ(read.id, chunk.id);
        EXPECT_EQ(read.sf, static_cast<float>(start));
        EXPECT_EQ(read.ef, static_cast<float>(end));
        EXPECT_EQ(read.st, chunk.startTime);
        EXPECT_EQ(read.et, chunk.endTime);
        EXPECT_EQ(read.elapsed(), 45);
        EXPECT_EQ(read.renderby, chunk.renderBy);
        EXPECT_EQ(read.result, Safe("warn"));
        EXPECT_EQ(read.status, chunk.status);
        EXPECT_EQ(read.bf, 3.0f);
        EXPECT_EQ(read.requeued, chunk.requeued);
    }
}

TEST(RoundTrip, PoolRowsTellPoolsFromMembers) {
    zdsim::Pool pool{"render", {"node07", "node08"}};
    zdsim::Node member;
    member.id = 7;
    member.name = "node07";
    member.ip = "10.0.1.17";

    poolentry read;
    const std::string poolRow = zdsim::PoolRow(pool);
    ParsePoolRecord(poolRow, read);
    EXPECT_EQ(read.parent, "render");
    EXPECT_EQ(read.name, "");
    EXPECT_EQ(read.ip, "");  // what marks the row as the pool itself
    EXPECT_EQ(read.extra, "2");

    const std::string memberRow = zdsim::PoolMemberRow(pool, member);
    ParsePoolRecord(memberRow, read);
    EXPECT_EQ(read.parent, "render");
    EXPECT_EQ(read.name, "node07");
    EXPECT_EQ(read.ip, "10.0.1.17");
    EXPECT_EQ(read.extra, "7");

    member.ip.clear();
    const std::string noAddress = zdsim::PoolMemberRow(pool, member);
    ParsePoolRecord(noAddress, read);
    EXPECT_EQ(read.ip, "0.0.0.0");
}

TEST(RoundTrip, LogRecordReadsBackEveryField) {
    zdsim::LogEntry log;
    log.type = zdsim::LogType::kClient;
    log.time = "2024-06-03 10:00:00";
    log.text = Unsafe("render started");
    log.ip = "10.0.1.17";
    log.host = "node07";
    log.user = "alice";
    logentry read;
    const std::string text = zdsim::LogRecord(log);
    ParseLogRecord(text, read);
    EXPECT_EQ(read.type, log.type);
    EXPECT_EQ(read.time, log.time);
    EXPECT_EQ(read.entry, Safe("render started"));
    EXPECT_EQ(read.ip, log.ip);
    EXPECT_EQ(read.host, log.host);
    EXPECT_EQ(read.user, log.user);
}

// Distinct values on every line; the byte counters beyond 32 bits.
DispatcherStatistics DistinctStatistics() {
    DispatcherStatistics s;
    const StatisticsField* fields = StatisticsFields();
    for (int i = 0; i < kStatisticsLines; ++i) {
        if (fields[i].average != nullptr)
            s.*fields[i].average = 100 + i + 0.25 * (i % 4);
        else
            s.*fields[i].whole = fields[i].narrow ? 1717400000 + i : 5000000000LL + (i - 2);
    }
    return s;
}

TEST(RoundTrip, StatisticsReplyReadsBackEveryValue) {
    zdsim::Farm farm;
    farm.statistics = DistinctStatistics();
    const zdsim::Context context{&farm, nullptr, nullptr};
    const zdsim::Replies replies = zdsim::HandleStatisticsRequest(context);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, zdCode::kStatistics);
    std::string text;
    ASSERT_TRUE(DecodeBase64(LineOf(replies[0].text, 1), text));
    EXPECT_EQ(text, zdsim::StatisticsText(farm.statistics));

    DispatcherStatistics read;
    ASSERT_TRUE(ParseStatisticsText(text, read));
    const StatisticsField* fields = StatisticsFields();
    for (int i = 0; i < kStatisticsLines; ++i) {
        SCOPED_TRACE(fields[i].key);
        if (fields[i].average != nullptr)
            EXPECT_EQ(read.*fields[i].average, farm.statistics.*fields[i].average);
        else
            EXPECT_EQ(read.*fields[i].whole, farm.statistics.*fields[i].whole);
    }
    EXPECT_EQ(read.totalBytesIn, 5000000000LL);
}

TEST(RoundTrip, StatisticsTextNeedsThirtyTwoLines) {
    const DispatcherStatistics full = DistinctStatistics();
    const std::string text = BuildStatisticsText(full);
    EXPECT_EQ(CountLines(text), size_t(kStatisticsLines));

    DispatcherStatistics read = full;
    const std::string shortText = text.substr(0, text.rfind('\n', text.size() - 2) + 1);
    ASSERT_EQ(CountLines(shortText), size_t(kStatisticsLines - 1));
    EXPECT_FALSE(ParseStatisticsText(shortText, read));
    EXPECT_EQ(read.unavailableClients, full.unavailableClients);
    EXPECT_EQ(read.runningSince, full.runningSince);

    // An empty line still counts, and reads as 0.
    const std::string withEmpty = "\n" + text.substr(text.find('\n') + 1);
    ASSERT_TRUE(ParseStatisticsText(withEmpty, read));
    EXPECT_EQ(read.runningSince, 0);
    EXPECT_EQ(read.updatedOn, full.updatedOn);
    EXPECT_EQ(read.unavailableClients, full.unavailableClients);
}

TEST(RoundTrip, StatusAndTemplateReplies) {
    StatusPayload status;
    status.selectionLogic = 1;
    status.jobs = 21;
    status.runningJobs = 3;
    status.nodes = 17;
    status.renderingNodes = 5;
    status.version = "6.1.6";
    status.build = "1234";
    status.host = "dispatcher";
    status.runningSince = 1717400000;
    status.client = 2;
    status.loginResult = 9;
    status.protocolVersion = kProtocolVersion;
    const std::string text = BuildStatus(status);
    EXPECT_EQ(CountLines(text), 12u);
    const StatusPayload read = ParseStatus(text);
    EXPECT_EQ(read.selectionLogic, 1);
    EXPECT_EQ(read.jobs, 21);
    EXPECT_EQ(read.runningJobs, 3);
    EXPECT_EQ(read.nodes, 17);
    EXPECT_EQ(read.renderingNodes, 5);
    EXPECT_EQ(read.version, "6.1.6");
    EXPECT_EQ(read.build, "1234");
    EXPECT_EQ(read.host, "dispatcher");
    EXPECT_EQ(read.runningSince, 1717400000);
    EXPECT_EQ(read.client, 2);
    EXPECT_EQ(read.loginResult, 9);
    EXPECT_EQ(read.protocolVersion, 610);
    // A short status leaves the protocol version at 0.
    EXPECT_EQ(ParseStatus("1\n2\n").protocolVersion, 0);

    int uid = 0;
    EXPECT_TRUE(ParseStrictInt(BuildTemplateRequest(130), uid));
    EXPECT_EQ(uid, 130);
    const std::string body = EncodeBase64("SET TEMPLATE_LOGIC MULTIFRAME\n");
    const std::string replyText = BuildTemplateReply({130, "Scene", "scene.t", body});
    const TemplateReply reply = ParseTemplateReply(replyText);
    EXPECT_EQ(reply.uid, 130);
    EXPECT_EQ(reply.name, "Scene");
    EXPECT_EQ(reply.fileName, "scene.t");
    EXPECT_EQ(reply.textBase64, body);
    const std::string emptyText = BuildEmptyTemplateReply();
    const TemplateReply empty = ParseTemplateReply(emptyText);
    EXPECT_EQ(BuildEmptyTemplateReply(), "\n\n\n\n");
    EXPECT_EQ(empty.uid, 0);
    EXPECT_EQ(empty.fileName, "");
    EXPECT_EQ(empty.textBase64, "");
}

TEST(RoundTrip, LoginAndOneNumberReplies) {
    const std::string text = BuildLogin({"ws01", "ann", EncodeBase64("secret"), kClientKind});
    EXPECT_EQ(text, "ws01\nann\nc2VjcmV0\n4\n");
    const LoginPayload read = ParseLogin(text);
    EXPECT_EQ(read.host, "ws01");
    EXPECT_EQ(read.user, "ann");
    EXPECT_EQ(read.passwordBase64, "c2VjcmV0");
    EXPECT_EQ(read.kind, "4");
    // Empty user and password keep their lines.
    const std::string bareText = BuildLogin({"ws01", "", "", kClientKind});
    const LoginPayload bare = ParseLogin(bareText);
    EXPECT_EQ(bare.user, "");
    EXPECT_EQ(bare.passwordBase64, "");
    EXPECT_EQ(bare.kind, "4");

    EXPECT_EQ(ParseNumberReply(BuildNumberReply(LoginResult::kGuest)), 2);
    EXPECT_EQ(ParseNumberReply(BuildNumberReply(-1)), -1);
}

SubmissionRecord FullSubmission() {
    SubmissionRecord r;
    r.jobType = 8;
    r.engine = 130;
    r.priority = 120;
    r.maxInstances = 3;
    r.name = "sq010 beauty";
    r.jobId = 25;
    r.packetSize = 4;
    r.pool = "render";
    r.skipErrors = true;
    r.parent = 40;
    r.wait = "10,11";
    r.overrideMail = true;
    r.mail = "a@b";
    r.overrideJobNotifications = true;
    r.jobNotifications = true;
    r.jobNotificationLevel = "With warnings";
    r.overrideChunkNotifications = true;
    r.chunkNotifications = true;
    r.chunkNotificationLevel = "Completed";
    r.overrideChunkTimeout = true;
    r.chunkTimeout = 90;
    r.propertiesBase64 = "c3RhcnQ=";
    r.group = "Aurora";
    r.department = "lighting";
    return r;
}

TEST(RoundTrip, SubmissionReadsBackOrSaysWhyNot) {
    const SubmissionRecord sent = FullSubmission();
    const std::string text = BuildSubmission(sent);
    EXPECT_EQ(text,
              "8\n130\n120\n3\n0\n\nsq010 beauty\n25\n4\nrender\n1\n40\n0\n10,11\n1\na@b\n1\n1\n"
              "With warnings\n1\n1\nCompleted\n1\n90\nc3RhcnQ=\n0\nAurora\nlighting\n");
    SubmissionRecord read;
    std::string why;
    ASSERT_TRUE(ParseSubmission(text, read, why)) << why;
    EXPECT_EQ(read.jobType, sent.jobType);
    EXPECT_EQ(read.engine, sent.engine);
    EXPECT_EQ(read.priority, sent.priority);
    EXPECT_EQ(read.maxInstances, sent.maxInstances);
    EXPECT_EQ(read.name, sent.name);
    EXPECT_EQ(read.packetSize, sent.packetSize);
    EXPECT_EQ(read.pool, sent.pool);
    EXPECT_EQ(read.skipErrors, sent.skipErrors);
    EXPECT_EQ(read.parent, sent.parent);
    EXPECT_EQ(read.wait, sent.wait);
    EXPECT_EQ(read.mail, sent.mail);
    EXPECT_EQ(read.jobNotificationLevel, sent.jobNotificationLevel);
    EXPECT_EQ(read.chunkNotificationLevel, sent.chunkNotificationLevel);
    EXPECT_EQ(read.overrideChunkTimeout, sent.overrideChunkTimeout);
    EXPECT_EQ(read.chunkTimeout, sent.chunkTimeout);
    EXPECT_EQ(read.propertiesBase64, sent.propertiesBase64);
    EXPECT_EQ(read.group, sent.group);
    EXPECT_EQ(read.department, sent.department);

    // Empty texts at the end still make a whole record.
    SubmissionRecord bare;
    const std::string bareText = BuildSubmission(bare);
    ASSERT_TRUE(ParseSubmission(bareText, read, why)) << why;
    EXPECT_EQ(read.parent, -1);
    EXPECT_EQ(read.department, "");

    const std::string cut = text.substr(0, text.rfind('\n', text.size() - 2) + 1);
    EXPECT_FALSE(ParseSubmission(cut, read, why));
    EXPECT_EQ(why, "the job record is cut short");

    SubmissionRecord bad = sent;
    bad.overrideChunkTimeout = false;
    bad.propertiesBase64 = "";
    std::string withText = BuildSubmission(bad);
    const size_t at = withText.find("\n90\n");
    ASSERT_NE(at, std::string::npos);
    // A time-out that is not overridden is not read.
    withText.replace(at, 4, "\nsoon\n");
    EXPECT_TRUE(ParseSubmission(withText, read, why)) << why;
    bad.overrideChunkTimeout = true;
    withText = BuildSubmission(bad);
    withText.replace(withText.find("\n90\n"), 4, "\nsoon\n");
    EXPECT_FALSE(ParseSubmission(withText, read, why));
    EXPECT_EQ(why, "a number of the job record does not read");
    std::string badParent = BuildSubmission(sent);
    badParent.replace(badParent.find("\n40\n"), 4, "\n40x\n");
    EXPECT_FALSE(ParseSubmission(badParent, read, why));
}

TEST(RoundTrip, FolderCommandsAndChunkRequests) {
    FolderPayload folder;
    const std::string text = BuildFolder({-1, "Shots", 100});
    EXPECT_EQ(text, "-1\nShots\n100\n");
    ASSERT_TRUE(ParseFolder(text, folder));
    EXPECT_EQ(folder.parent, -1);
    EXPECT_EQ(folder.name, "Shots");
    EXPECT_EQ(folder.priority, 100);
    EXPECT_FALSE(ParseFolder("-1\nShots\n", folder));
    EXPECT_FALSE(ParseFolder("x\nShots\n100\n", folder));

    // Pool and parent put the argument first; every other command the ID.
    EXPECT_EQ(BuildCommand(zdCode::kJobPool, 12, "render"), "render\n12\n");
    EXPECT_EQ(BuildCommand(zdCode::kJobParent, 12, 3L), "3\n12\n");
    EXPECT_EQ(BuildCommand(zdCode::kJobRename, 12, "new name"), "12\nnew name\n");
    EXPECT_EQ(BuildCommand(zdCode::kChunkRequeue, 12, 5L), "12\n5\n");
    EXPECT_EQ(BuildCommand(zdCode::kJobPause, 12), "12\n");
    for (const unsigned char code :
         {zdCode::kJobPool, zdCode::kJobParent, zdCode::kJobPriority, zdCode::kJobDepend,
          zdCode::kJobDepartment, zdCode::kChunkComplete}) {
        SCOPED_TRACE(int(code));
        const std::string command = BuildCommand(code, 12, "arg");
        EXPECT_NE(CommandIdLine(code), CommandArgumentLine(code));
        EXPECT_EQ(LineOf(command, CommandIdLine(code)), "12");
        EXPECT_EQ(LineOf(command, CommandArgumentLine(code)), "arg");
    }

    EXPECT_EQ(ParseChunksRequest(BuildChunksRequest(4101)), 4101);
    EXPECT_EQ(ParseChunksRequest("4101"), 4101);
    EXPECT_EQ(ParseChunksRequest("-3\r\n"), -3);
    EXPECT_EQ(ParseChunksRequest(""), 0);
    EXPECT_EQ(ParseChunksRequest(" 12\n"), 0);
    EXPECT_EQ(ParseChunksRequest("12x\n"), 0);
    EXPECT_EQ(BuildChunkAck(4101, 0), "4101\n0\n");
    EXPECT_EQ(BuildChunkAck(4101, 9), "4101\n9\n");
}

}  // namespace
