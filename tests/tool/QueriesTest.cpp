// Query records: parsing from text, reception rules, display filters, and the conversations and
// identifier checks of query mode against a fake Dispatcher.
#include <climits>
#include <memory>
#include <thread>

#include "Connection.h"
#include "FakeDispatcher.h"
#include "PayloadText.h"
#include "QueryTestSupport.h"
#include "Statistics.h"

using namespace querytest;

namespace {

TEST(QueryNumbers, ReadLikeTheCLibraryAndClamp) {
    const std::pair<const char*, long> cases[] = {
        {"42", 42},
        {"  42abc", 42},
        {"\t-7", -7},
        {"+3", 3},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"0x10", 0},
        {"99999999999999999999999", LONG_MAX},
        {"-99999999999999999999999", LONG_MIN},
        {"-9223372036854775808", LONG_MIN},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(zdProtocol::ParseLong(text), value) << text;
    EXPECT_EQ(zdProtocol::ParseInt("3000000000"), INT_MAX);
    EXPECT_EQ(zdProtocol::ParseInt("-3000000000"), INT_MIN);
    EXPECT_EQ(zdProtocol::ParseInt("17 frames"), 17);
}

TEST(QueryRecords, JobFromItsThirtySixLines) {
    Job j;
    j.id = 12;
    j.name = "sq010_sh020_beauty";
    j.engine = 110;
    j.pktype = 2;
    j.status = 4;
    j.subtm = 1717401200;
    j.starttm = 1717401260;
    j.endtm = 1717409999;
    j.parent = 1;
    j.requeued = 2;
    j.archived = true;
    j.locked = true;
    j.submitter = "alice";
    j.pool = "render";
    j.depend = "3,4";
    j.group = "Aurora";
    j.department = "lighting";
    j.attributes = {{"start_frame", "1"}, {"quality", "high"}};
    const std::string text = JobText(j);
    jobentry job;
    zdProtocol::ParseJobRecord(text, job);
    std::string decoded;
    std::vector<std::string_view> attributes;
    jobAttributeValues(job, {"quality", "start_frame", "missing"}, decoded, attributes);
    EXPECT_EQ(job.id, 12);
    EXPECT_EQ(job.name, "sq010_sh020_beauty");
    EXPECT_EQ(job.engine, 110);
    EXPECT_EQ(job.pktype, 2);
    EXPECT_EQ(job.status, 4);
    EXPECT_EQ(job.subtm, 1717401200);
    EXPECT_EQ(job.starttm, 1717401260);
    EXPECT_EQ(job.endtm, 1717409999);
    EXPECT_EQ(job.parent, 1);
    EXPECT_EQ(job.requeued, 2);
    EXPECT_EQ(job.priority, 100);
    EXPECT_EQ(job.maxcpu, 4);
    EXPECT_EQ(job.workingcpu, 2);
    EXPECT_EQ(job.pksize, 5);
    EXPECT_FALSE(job.paused);
    EXPECT_FALSE(job.skiperror);
    EXPECT_TRUE(job.archived);
    EXPECT_TRUE(job.locked);
    EXPECT_EQ(job.submitter, "alice");
    EXPECT_EQ(job.pool, "render");
    EXPECT_EQ(job.depend, "3,4");
    EXPECT_EQ(job.group, "Aurora");
    EXPECT_EQ(job.department, "lighting");
    ASSERT_EQ(attributes.size(), 3u);
    EXPECT_EQ(attributes[0], "high");
    EXPECT_EQ(attributes[1], "1");
    EXPECT_EQ(attributes[2].data(), nullptr);  // absent
}

TEST(QueryRecords, MissingLinesReadAsZerosAndEmptyTexts) {
    jobentry job;
    job.archived = job.paused = true;
    zdProtocol::ParseJobRecord("1717401200\n2\n", job);
    std::string decoded;
    std::vector<std::string_view> attributes;
    jobAttributeValues(job, {"start_frame"}, decoded, attributes);
    EXPECT_EQ(job.subtm, 1717401200);
    EXPECT_EQ(job.pktype, 2);
    EXPECT_EQ(job.id, 0);
    EXPECT_TRUE(job.name.empty());
    EXPECT_FALSE(job.archived);
    EXPECT_FALSE(job.paused);
    EXPECT_EQ(attributes[0].data(), nullptr);

    cpuentry cpu;
    zdProtocol::ParseNodeRecord("", cpu);
    EXPECT_EQ(cpu.id, 0);
    EXPECT_TRUE(cpu.notes.empty());
    // The last line counts without its line feed.
    const std::string cut = Lines(23, {{2, "9"}}).append("no final feed");
    zdProtocol::ParseNodeRecord(cut, cpu);
    EXPECT_EQ(cpu.id, 9);
    EXPECT_EQ(cpu.notes, "no final feed");
}

TEST(QueryRecords, NodeChunkPoolAndLogFields) {
    Node n;
    n.id = 4;
    n.name = "node04";
    n.ip = "10.0.0.14";
    n.status = 8;
    n.os = 4;
    n.jobid = 12;
    n.notes = "spare";
    cpuentry cpu;
    const std::string nodeText = NodeText(n);
    zdProtocol::ParseNodeRecord(nodeText, cpu);
    EXPECT_EQ(cpu.id, 4);
    EXPECT_EQ(cpu.os, 4);
    EXPECT_EQ(cpu.name, "node04");
    EXPECT_EQ(cpu.num, "8");
    EXPECT_EQ(cpu.ip, "10.0.0.14");
    EXPECT_EQ(cpu.cpuusage, "5%");
    EXPECT_EQ(cpu.ramusage, "10%");
    EXPECT_EQ(cpu.jobid, 12);
    EXPECT_EQ(cpu.status, 8);
    EXPECT_EQ(cpu.version, 616);
    EXPECT_EQ(cpu.priority, 50);
    EXPECT_EQ(cpu.notes, "spare");  // line 24, after the two unused lines

    Chunk c;
    c.id = 3;
    c.sf = "1e3";
    c.ef = "12.5";
    c.st = 100;
    c.et = 250;
    c.status = 4;
    c.renderby = "node01";
    c.requeued = 2;
    chunkentry chunk;
    std::string text = ChunkText(c);
    // By frame, the line before the last, is read as an integer.
    text.replace(text.size() - 4, 4, "2.9\n2\n");
    zdProtocol::ParseChunkRecord(text, chunk);
    EXPECT_EQ(chunk.id, 3);
    EXPECT_FLOAT_EQ(chunk.sf, 1000.0f);
    EXPECT_FLOAT_EQ(chunk.ef, 12.5f);
    EXPECT_FLOAT_EQ(chunk.bf, 2.0f);
    EXPECT_EQ(chunk.elapsed(), 150);
    EXPECT_EQ(chunk.renderby, "node01");
    EXPECT_EQ(chunk.status, 4);
    EXPECT_EQ(chunk.requeued, 2);

    // Texts beyond the sizes of old fixed fields are kept whole.
    const std::string host(600, 'h'), entry(5000, 'e'), ip(40, '1'), user(900, 'u');
    logentry log;
    const std::string logText =
        "8\n" + std::string(300, 't') + "\n" + entry + "\n" + ip + "\n" + host + "\n" + user + "\n";
    zdProtocol::ParseLogRecord(logText, log);
    EXPECT_EQ(log.type, 8);
    EXPECT_EQ(log.time.size(), 300u);
    EXPECT_EQ(log.entry, entry);
    EXPECT_EQ(log.ip, ip);
    EXPECT_EQ(log.host, host);
    EXPECT_EQ(log.user, user);

    poolentry pool;
    const std::string pool300(300, 'p');
    const std::string poolText = PoolText(pool300, "node01", "10.0.0.11");
    zdProtocol::ParsePoolRecord(poolText, pool);
    EXPECT_EQ(pool.parent, pool300);
    EXPECT_EQ(pool.name, "node01");
    EXPECT_EQ(pool.ip, "10.0.0.11");
}

TEST(QueryRecords, AttributeBlockRules) {
    auto values = [](const std::string& block, const std::vector<std::string>& keys) {
        jobentry job;
        job.attributeBlock = block;
        std::string decoded;
        std::vector<std::string_view> found;
        jobAttributeValues(job, keys, decoded, found);
        std::vector<std::string> texts;
        for (std::string_view value : found)
            texts.push_back(value.data() ? std::string(value) : "<absent>");
        return texts;
    };
    // A later group of the same name replaces the value; an empty name ends the block.
    EXPECT_EQ(values(Base64("a\n1\n1\n0\nb\n2\n1\n1\na\n3\n0\n0\n\nc\n4\n1\n1\n"), {"a", "b", "c"}),
              (std::vector<std::string>{"3", "2", "<absent>"}));
    // A last group cut short keeps its name; its missing value is empty.
    EXPECT_EQ(values(Base64("x\n9\n1\n0\ny"), {"x", "y"}), (std::vector<std::string>{"9", ""}));
    EXPECT_EQ(values("", {"x"}), (std::vector<std::string>{"<absent>"}));
    EXPECT_EQ(values("*** not Base64 ***", {"x"}), (std::vector<std::string>{"<absent>"}));
    EXPECT_EQ(values("YWJj\n", {"abc"}), (std::vector<std::string>{"<absent>"}));
}

TEST(QueryRules, ArchiveModesFoldersAndTheQueriedJob) {
    struct Case {
        int mode;
        long queried;
        int type;
        bool archived;
        long id;
        bool retained;
    };
    const Case cases[] = {
        {0, -1, 0, false, 10, true}, {0, -1, 0, true, 10, false}, {0, 40, 0, true, 40, true},
        {0, 40, 0, true, 41, false}, {1, -1, 0, true, 10, true},  {1, -1, 0, false, 10, false},
        {1, 10, 0, false, 10, true}, {2, -1, 0, true, 10, true},  {2, -1, 0, false, 10, true},
        {7, -1, 0, true, 10, true},  {0, -1, 1, true, 1, true},   {1, -1, 1, false, 1, true},
        {2, -1, 1, true, 1, true},   {-3, -1, 1, false, 1, true},
    };
    for (const Case& c : cases) {
        FreshRun();
        queryArchiveMode = c.mode;
        jobid = static_cast<int>(c.queried);
        jobentry job;
        job.type = c.type;
        job.archived = c.archived;
        job.id = c.id;
        EXPECT_EQ(retainJob(job, queryOptionsFromSettings()), c.retained)
            << "mode " << c.mode << " job " << c.id << " archived " << c.archived;
    }
}

TEST(QueryRules, DisplayFilters) {
    FreshRun();
    jobentry job;
    job.id = 12;
    job.status = 2;
    job.engine = 110;
    job.parent = -1;
    EXPECT_TRUE(showJob(job, queryOptionsFromSettings()));
    queryJobParent = -1;  // -1 is a folder like any other; only -2 is off
    EXPECT_TRUE(showJob(job, queryOptionsFromSettings()));
    job.parent = 1;
    EXPECT_FALSE(showJob(job, queryOptionsFromSettings()));
    queryJobParent = -2;
    queryJobStatus = 4;
    EXPECT_FALSE(showJob(job, queryOptionsFromSettings()));
    queryJobStatus = 2;
    queryJobEngine = 120;
    EXPECT_FALSE(showJob(job, queryOptionsFromSettings()));
    queryJobEngine = 110;
    jobid = 13;
    EXPECT_FALSE(showJob(job, queryOptionsFromSettings()));
    jobid = 12;
    EXPECT_TRUE(showJob(job, queryOptionsFromSettings()));
    jobid = 0;  // what a deletion leaves: no particular job
    EXPECT_TRUE(showJob(job, queryOptionsFromSettings()));
    jobid = -12;  // names no job, so it matches none, not every one
    EXPECT_FALSE(showJob(job, queryOptionsFromSettings()));
    job.id = -12;
    EXPECT_FALSE(showJob(job, queryOptionsFromSettings()));
    job.id = 12;

    cpuentry cpu;
    cpu.id = 3;
    cpu.status = 8;
    cpu.os = 2;
    EXPECT_TRUE(showCpu(cpu, queryOptionsFromSettings()));
    queryCpuOs = 1;
    EXPECT_FALSE(showCpu(cpu, queryOptionsFromSettings()));
    queryCpuOs = 2;
    queryCpuStatus = 1;
    EXPECT_FALSE(showCpu(cpu, queryOptionsFromSettings()));
    queryCpuStatus = 8;
    cpuid = 4;
    EXPECT_FALSE(showCpu(cpu, queryOptionsFromSettings()));
    cpuid = 3;
    EXPECT_TRUE(showCpu(cpu, queryOptionsFromSettings()));

    chunkentry chunk;
    chunk.id = 0;
    EXPECT_TRUE(showChunk(chunk, queryOptionsFromSettings()));
    chunkid = 0;
    EXPECT_TRUE(showChunk(chunk, queryOptionsFromSettings()));
    chunkid = 1;
    EXPECT_FALSE(showChunk(chunk, queryOptionsFromSettings()));
}

class QueryConversation : public DispatcherTest {
protected:
    // Everything the tool has sent so far.
    std::string Sent() { return dispatcher_->Sent(); }

    static std::string Acks(unsigned char code, size_t count) {
        std::string frames;
        for (size_t i = 0; i < count; ++i)
            frames += Frame(code, "");
        return frames;
    }

    struct Outcome {
        int status;
        std::string out;
        std::string err;
    };
    Outcome RunQueries() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = runQueryMode();
        std::fflush(stdout);
        return {status, testing::internal::GetCapturedStdout(),
                testing::internal::GetCapturedStderr()};
    }

    static std::vector<std::string> ThreeJobs() {
        Job a, b, folder;
        a.id = 12;
        a.name = "beauty";
        b.id = 13;
        b.name = "comp";
        b.pktype = 2;
        folder.id = 1;
        folder.type = 1;
        folder.name = "Shots";
        return {JobText(folder), JobText(a), JobText(b)};
    }
};

TEST_F(QueryConversation, StreamedJobsAreAcknowledgedInOrderAndPrinted) {
    queryJobs = 1;
    nVerbose = 3;
    Serve(Frame('x', "noise before the start") +
          Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd, ThreeJobs()));
    Outcome run = RunQueries();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Sent(), Frame(zdCode::kJobsRequest, "") + Acks(zdCode::kJobsAck, 4));
    EXPECT_EQ(run.out,
              "\nReceiving Jobs list...\n\n"
              "ID   NAME     TYPE     PKTYPE        ENGINE   STATUS     PROGRESS   PRIORITY   "
              "REQUEUED   \n"
              "--   ----     ----     ------        ------   ------     --------   --------   "
              "--------   \n"
              "1  | Shots  | Folder | Multiframe  |        | On Queue | 0        | 100      | 0  "
              "      | \n"
              "12 | beauty | Job    | Multiframe  |        | On Queue | 0        | 100      | 0  "
              "      | \n"
              "13 | comp   | Job    | Single host |        | On Queue | 0        | 100      | 0  "
              "      | \n"
              "\n\nTotal jobs found: 3\n");
    EXPECT_EQ(jobIdTable, (std::vector<long>{1, 12, 13}));
    EXPECT_EQ(jobsRetained, 3);
}

TEST_F(QueryConversation, ADispatcherThatWaitsForEachAcknowledgementIsServed) {
    queryCpus = 1;
    std::vector<std::string> nodes;
    for (int i = 1; i <= 50; ++i) {
        Node n;
        n.id = i;
        nodes.push_back(NodeText(n));
    }
    std::string received;
    std::thread dispatcher([&] {
        zdtest::Msg msg;
        size_t next = 0;
        while (dispatcher_->NextFrame(msg)) {
            received += Frame(msg.code, msg.text);
            std::string reply;
            bool last = false;
            if (msg.code == zdCode::kNodesRequest) reply = Frame(zdCode::kNodesStart, "");
            if (msg.code == zdCode::kNodesAck) {
                last = next == nodes.size();
                reply = last ? Frame(zdCode::kNodesEnd, "")
                             : Frame(zdCode::kNodesRecord, nodes[next++]);
            }
            dispatcher_->QueueBytes(reply);
            if (last) break;
        }
    });
    Outcome run = RunQueries();
    dispatcher.join();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(received, Frame(zdCode::kNodesRequest, "") + Acks(zdCode::kNodesAck, 51));
    EXPECT_EQ(cpusReceived, 50);
    EXPECT_EQ(cpuIdTable.size(), 50u);
}

TEST_F(QueryConversation, ALostConnectionFailsTheRun) {
    queryLogs = 1;
    Serve(Frame(zdCode::kLogsStart, ""));
    dispatcher_->Hangup();
    Outcome run = RunQueries();
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.err, "Socket error while communicating with the Dispatcher.\n");
}

TEST_F(QueryConversation, PoolRowsWithoutAddressAreCountedNotListed) {
    queryPools = 1;
    nVerbose = 3;
    Serve(Listing(zdCode::kPoolsStart, zdCode::kPoolsRecord, zdCode::kPoolsEnd,
                  {PoolText("render", "", ""), PoolText("render", "node01", "10.0.0.11"),
                   PoolText("render", "node02", "10.0.0.12")}));
    Outcome run = RunQueries();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Sent(), Frame(zdCode::kPoolsRequest, "") + Acks(zdCode::kPoolsAck, 4));
    EXPECT_EQ(run.out,
              "\nReceiving Pools list...\n\n"
              "PARENT   NAME     IP          \n"
              "------   ----     --          \n"
              "render | node01 | 10.0.0.11 | \n"
              "render | node02 | 10.0.0.12 | \n"
              "\n\nTotal pools found: 1\n");
    EXPECT_EQ(poolsCounted, 1);
}

TEST_F(QueryConversation, LogsAndTheSelectionLogicLine) {
    ASSERT_TRUE(buildLogFormat("entry"));
    queryLogs = queryEngine = 1;
    selectionLogic = 1;
    Serve(Listing(zdCode::kLogsStart, zdCode::kLogsRecord, zdCode::kLogsEnd,
                  {LogText(1, "t", "first"), LogText(2, "t", "second")}));
    Outcome run = RunQueries();
    selectionLogic = 0;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "ENTRY    \n-----    \nfirst  | \nsecond | \n\nSelection logic: Active\n");
    EXPECT_EQ(logsReceived, 2);
}

TEST_F(QueryConversation, ArchivedJobNamedByJobIsKeptAndShownAlone) {
    queryJobs = 1;
    jobid = 40;
    Job archived, other, live;
    archived.id = 40;
    archived.archived = true;
    other.id = 41;
    other.archived = true;
    live.id = 5;
    Serve(Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd,
                  {JobText(archived), JobText(other), JobText(live)}));
    Outcome run = RunQueries();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(jobIdTable, (std::vector<long>{40, 5}));
    EXPECT_NE(run.out.find("\n40 | "), std::string::npos);
    EXPECT_EQ(run.out.find("\n5  | "), std::string::npos);
    EXPECT_EQ(jobsPrinted, 1);
}

TEST_F(QueryConversation, InvalidIdentifiersEndTheRun) {
    struct Case {
        const char* name;
        int jobs, cpus, chunks;
        int job, cpu, chunk;
        const char* err;
    };
    const Case cases[] = {
        {"unknown job", 1, 0, 0, 99, -1, -1, "\nInvalid job id 99.\n"},
        {"job not fetched", 0, 1, 0, 12, -1, -1, "\nInvalid job id 12.\n"},
        {"unknown node", 0, 1, 0, -1, 5, -1, "\nInvalid node id 5.\n"},
        {"chunks without a job", 0, 0, 1, -1, -1, -1, "\nCan't query chunks.Invalid job.\n"},
        {"chunk without chunks", 1, 0, 0, -1, -1, 3, "\nInvalid chunk id 3.\n"},
        {"chunk 0 is checked", 1, 0, 0, -1, -1, 0, "\nInvalid chunk id 0.\n"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        queryJobs = c.jobs;
        queryCpus = c.cpus;
        queryChunks = c.chunks;
        jobid = c.job;
        cpuid = c.cpu;
        chunkid = c.chunk;
        if (c.jobs || c.chunks)
            Serve(Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd, ThreeJobs()));
        if (c.cpus) {
            Node n;
            n.id = 4;
            Serve(Listing(zdCode::kNodesStart, zdCode::kNodesRecord, zdCode::kNodesEnd,
                          {NodeText(n)}));
        }
        Outcome run = RunQueries();
        EXPECT_EQ(run.status, -1) << c.name;
        EXPECT_EQ(run.err, c.err) << c.name;
    }
}

TEST_F(QueryConversation, JobZeroAndNodeZeroAreNotChecked) {
    queryJobs = queryCpus = 1;
    jobid = 0;
    cpuid = 0;
    Serve(Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd, ThreeJobs()) +
          Listing(zdCode::kNodesStart, zdCode::kNodesRecord, zdCode::kNodesEnd, {NodeText({})}));
    Outcome run = RunQueries();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(jobsPrinted, 3);  // 0 is no particular job
    EXPECT_EQ(cpusPrinted, 0);  // no node has id 0
}

TEST_F(QueryConversation, ChunksOfAJobWithTheirAcknowledgements) {
    queryChunks = 1;
    jobid = 12;
    chunkid = 2;
    nVerbose = 3;
    Chunk one, two;
    one.id = 1;
    two.id = 2;
    two.sf = "6";
    two.ef = "10";
    Serve(Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd, ThreeJobs()) +
          Listing(zdCode::kChunksStart, zdCode::kChunksRecord, zdCode::kChunksEnd,
                  {ChunkText(one), ChunkText(two)}));
    Outcome run = RunQueries();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Sent(),
              Frame(zdCode::kJobsRequest, "") + Acks(zdCode::kJobsAck, 4) +
                  Frame(zdCode::kChunksRequest, "12\n") + Frame(zdCode::kChunksAck, "12\n0\n") +
                  Frame(zdCode::kChunksAck, "12\n1\n") + Frame(zdCode::kChunksAck, "12\n2\n"));
    // Jobs are fetched for the chunk listing but not printed.
    EXPECT_EQ(run.out,
              "\nReceiving Jobs list...\n\n"
              "\nReceiving Job 12 Chunks list...\n\n"
              "ID   STARTFRAME   ENDFRAME   STATUS    \n"
              "--   ----------   --------   ------    \n"
              "2  | 6.000      | 10.000   | On Hold | \n"
              "\n\nTotal Job 12 Chunks found: 1\n");
    EXPECT_EQ(chunkIdTable, (std::vector<long>{1, 2}));
}

TEST_F(QueryConversation, NoChunkListingForSingleHostAndBroadcastJobs) {
    struct Case {
        int pktype;
        const char* message;
    };
    for (const Case& c :
         {Case{2, "No chunks for single host job\n"}, Case{4, "No chunks for broadcast jobs\n"}}) {
        TearDown();
        SetUp();
        queryChunks = 1;
        jobid = 12;
        chunkid = 3;
        Job job;
        job.id = 12;
        job.pktype = c.pktype;
        Serve(Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd, {JobText(job)}));
        Outcome run = RunQueries();
        EXPECT_EQ(run.out, c.message);
        // Nothing was asked for, so chunk 3 cannot be found.
        EXPECT_EQ(Sent(), Frame(zdCode::kJobsRequest, "") + Acks(zdCode::kJobsAck, 2));
        EXPECT_EQ(run.status, -1);
        EXPECT_EQ(run.err, "\nInvalid chunk id 3.\n");
    }
}

TEST_F(QueryConversation, StatisticsFetchEveryListingWithoutPrintingIt) {
    queryStats = 1;
    nVerbose = 3;
    Job archived;
    archived.id = 50;
    archived.archived = true;  // dropped: not counted
    std::vector<std::string> jobs = ThreeJobs();
    jobs.push_back(JobText(archived));
    Serve(
        Listing(zdCode::kJobsStart, zdCode::kJobsRecord, zdCode::kJobsEnd, jobs) +
        Listing(zdCode::kNodesStart, zdCode::kNodesRecord, zdCode::kNodesEnd,
                {NodeText({}), NodeText({})}) +
        Listing(zdCode::kLogsStart, zdCode::kLogsRecord, zdCode::kLogsEnd, {LogText(1, "t", "e")}) +
        Listing(zdCode::kPoolsStart, zdCode::kPoolsRecord, zdCode::kPoolsEnd,
                {PoolText("a", "", ""), PoolText("b", "", ""), PoolText("a", "n", "1.2.3.4")}) +
        Frame(zdCode::kStatistics, Base64("1\n2\n") + "\n"));
    Outcome run = RunQueries();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Sent(), Frame(zdCode::kJobsRequest, "") + Acks(zdCode::kJobsAck, 5) +
                          Frame(zdCode::kNodesRequest, "") + Acks(zdCode::kNodesAck, 3) +
                          Frame(zdCode::kLogsRequest, "") + Acks(zdCode::kLogsAck, 2) +
                          Frame(zdCode::kPoolsRequest, "") + Acks(zdCode::kPoolsAck, 4) +
                          Frame(zdCode::kStatisticsRequest, ""));
    EXPECT_EQ(run.out.rfind("\nReceiving Jobs list...\n\n\nTotal Job on Dispatcher: 3\n"
                            "Total Nodes on Dispatcher: 2\nTotal Logs on Dispatcher: 1\n"
                            "Total Pools on Dispatcher: 2\n",
                            0),
              0u)
        << run.out;
}

}  // namespace
