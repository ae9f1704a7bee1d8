// The control commands and submissions applied to a farm: node, job, chunk and Dispatcher
// commands, password changes, new and edited jobs, folders and refusals, and the records the
// listings then carry.
#include <gtest/gtest.h>

#include <string>

#include "Protocol.h"
#include "Records.h"
#include "SimTestSupport.h"
#include "ZRStringHelper.h"

namespace {

using namespace zdsim;
using ZRFramework::ZRStringHelper::GetLine;

// Line 25 holds `properties` as given; the other lines are a multi-frame job on template 1.
std::string JobRecordPayload(const std::string& name, long id, const std::string& properties,
                             long parent = -1) {
    return "1\n1\n50\n2\n0\n\n" + name + "\n" + std::to_string(id) + "\n5\nrender\n1\n" +
           std::to_string(parent) + "\n0\n3,4\n1\na@b\n0\n0\nCompleted\n0\n0\nCompleted\n1\n30\n" +
           properties + "\n0\nproj\nfx\n";
}

class ControlTest : public testing::Test {
protected:
    ControlTest() {
        farm_.users = {{"ann", "pw", 0}};
        farm_.jobs.resize(2);
        farm_.jobs[0].id = 1;
        farm_.jobs[0].type = 1;
        Job& job = farm_.jobs[1];
        job.id = 5;
        job.parent = 1;
        job.status = JobStatus::kStarted;
        job.workingNodes = 1;
        for (long c : {1, 2, 3})
            job.chunks.push_back(Chunk{c, double(c), double(c), 1, 0, 0, "", "", 1, 0});
        job.chunks[1].status = ChunkStatus::kSent;
        // Node 7 renders chunk 2 of job 5; node 8 idles.
        farm_.nodes.resize(2);
        farm_.nodes[0].id = 7;
        farm_.nodes[0].status = NodeStatus::kInProgress;
        farm_.nodes[0].jobId = 5;
        farm_.nodes[0].chunkId = 2;
        farm_.nodes[1].id = 8;
        session_.user = "ann";
        session_.loginResult = 0;
    }

    Context context() { return Context{&farm_, &templates_, &settings_}; }
    Replies Send(unsigned char code, const std::string& payload, std::string* note = nullptr) {
        bool known = false;
        Replies replies = HandleMessage(context(), session_, code, payload, &known, note);
        EXPECT_TRUE(known) << int(code);
        return replies;
    }
    Job& job(long id) { return const_cast<Job&>(*farm_.FindJob(id)); }
    const Node& node(long id) { return *farm_.FindNode(id); }

    Farm farm_;
    TemplateCatalogue templates_;
    ProtocolSettings settings_;
    Session session_;
};

TEST_F(ControlTest, NodeCommandsSetTheStatusAndRequeueTheChunk) {
    const struct {
        unsigned char code;
        int status;
    } cases[] = {
        {Code::kNodePause, NodeStatus::kPaused},
        {Code::kNodeKillGoOn, NodeStatus::kIdle},
        {Code::kNodeKillRedo, NodeStatus::kIdle},
        {Code::kNodeKillPause, NodeStatus::kPaused},
        {Code::kNodeKillReinit, NodeStatus::kIdle},
        {Code::kNodeSoftRestart, NodeStatus::kIdle},
        {Code::kJobNodesKillPause, NodeStatus::kPaused},
        {Code::kJobNodesKillRedo, NodeStatus::kIdle},
    };
    const Farm start = farm_;
    for (const auto& c : cases) {
        farm_ = start;
        const bool byJob = c.code == Code::kJobNodesKillPause || c.code == Code::kJobNodesKillRedo;
        EXPECT_TRUE(Send(c.code, byJob ? "5\n" : "7\n").empty());
        EXPECT_EQ(node(7).status, c.status) << int(c.code);
        EXPECT_EQ(node(7).jobId, 0) << int(c.code);
        const Chunk& chunk = job(5).chunks[1];
        EXPECT_EQ(chunk.status, ChunkStatus::kOnHold) << int(c.code);
        EXPECT_EQ(chunk.requeued, 1);
        EXPECT_EQ(job(5).workingNodes, 0);
        EXPECT_EQ(node(8).status, NodeStatus::kIdle);
    }
    Send(Code::kNodeResume, "7\n");
    EXPECT_EQ(node(7).status, NodeStatus::kIdle);
}

TEST_F(ControlTest, JobCommandsChangeWhatTheJobRecordShows) {
    const struct {
        unsigned char code;
        const char* payload;
        int line;  // of the job record
        const char* shown;
    } cases[] = {
        {Code::kJobPause, "5\n", 7, "1"},
        {Code::kJobResume, "5\n", 7, "0"},
        {Code::kJobRename, "5\nfinal comp\n", 13, "final comp"},
        {Code::kJobPriority, "5\n7\n", 4, "7"},
        {Code::kJobPool, "gpu\n5\n", 16, "gpu"},
        {Code::kJobMaxNodes, "5\n12\n", 5, "12"},
        {Code::kJobDepend, "5\n2,3\n", 20, "2,3"},
        {Code::kJobNotes, "5\nredo the sky\n", 28, "redo the sky"},
        {Code::kJobLock, "5\n", 32, "1"},
        {Code::kJobUnlock, "5\n", 32, "0"},
        {Code::kJobArchive, "5\n", 33, "1"},
        {Code::kJobUnarchive, "5\n", 33, "0"},
        {Code::kJobProject, "5\nspring\n", 35, "spring"},
        {Code::kJobDepartment, "5\nlighting\n", 36, "lighting"},
        {Code::kJobParent, "-1\n5\n", 18, "-1"},
        {Code::kJobParent, "1\n5\n", 18, "1"},
    };
    for (const auto& c : cases) {
        std::string note;
        EXPECT_TRUE(Send(c.code, c.payload, &note).empty());
        EXPECT_EQ(note, "") << int(c.code);
        EXPECT_EQ(GetLine(JobRecord(job(5)), c.line), c.shown) << int(c.code);
    }
}

TEST_F(ControlTest, ReinitRequeuesEverythingAndDeleteFreesNodesAndKeepsChildren) {
    job(5).chunks[0].status = ChunkStatus::kCompleted;
    Send(Code::kJobReinit, "5\n");
    for (const Chunk& chunk : job(5).chunks)
        EXPECT_EQ(chunk.status, ChunkStatus::kOnHold);
    EXPECT_EQ(job(5).status, JobStatus::kOnQueue);
    EXPECT_EQ(node(7).jobId, 0);

    farm_.nodes[0].jobId = 5;
    Send(Code::kJobDelete, "1\n");  // the folder: job 5 moves up
    EXPECT_EQ(farm_.FindJob(1), nullptr);
    EXPECT_EQ(job(5).parent, -1);
    Send(Code::kJobDelete, "5\n");
    EXPECT_TRUE(farm_.jobs.empty());
    EXPECT_EQ(node(7).jobId, 0);
}

TEST_F(ControlTest, ChunkCommandsFreeTheNodeAndTheJobFollowsItsChunks) {
    // Completing the chunk node 7 renders frees the node without counting a requeue.
    Send(Code::kChunkComplete, "5\n2\n");
    EXPECT_EQ(job(5).chunks[1].requeued + job(5).requeued + job(5).workingNodes, 0);
    EXPECT_EQ(node(7).status, NodeStatus::kIdle);
    EXPECT_EQ(job(5).progress, 33);
    Send(Code::kChunkRequeue, "5\n2\n");
    EXPECT_EQ(job(5).chunks[1].status, ChunkStatus::kOnHold);
    EXPECT_EQ(job(5).chunks[1].requeued, 1);
    for (const char* chunk : {"5\n1\n", "5\n2\n", "5\n3\n"})
        Send(Code::kChunkComplete, chunk);
    EXPECT_EQ(job(5).status, JobStatus::kCompleted);
    Send(Code::kChunkRequeue, "5\n3\n");
    EXPECT_EQ(job(5).status, JobStatus::kOnQueue);
}

TEST_F(ControlTest, UnknownIdsAndBadArgumentsAreIgnoredWithANote) {
    const Farm start = farm_;
    const struct {
        unsigned char code;
        const char* payload;
    } cases[] = {
        {Code::kNodePause, "99\n"},        {Code::kJobPause, "99\n"},
        {Code::kJobPool, "5\n"},           {Code::kChunkRequeue, "5\n99\n"},
        {Code::kChunkComplete, "99\n1\n"}, {Code::kJobPriority, "5\nhigh\n"},
        {Code::kJobParent, "5\n5\n"},      {Code::kJobParent, "5\n1\n"},  // into itself, below
        {Code::kJobParent, "42\n5\n"},     {Code::kJobDelete, ""},
        {Code::kJobMaxNodes, "5\n-1\n"},
    };
    for (const auto& c : cases) {
        std::string note;
        EXPECT_TRUE(Send(c.code, c.payload, &note).empty());
        EXPECT_NE(note, "") << int(c.code) << " " << c.payload;
        EXPECT_EQ(JobRecord(job(5)), JobRecord(start.jobs[1])) << int(c.code);
        EXPECT_EQ(JobRecord(job(1)), JobRecord(start.jobs[0])) << int(c.code);
    }
}

TEST_F(ControlTest, DispatcherCommandsToggleResetAndChangeThePassword) {
    farm_.statistics.runningSince = 77;
    farm_.statistics.totalBytesIn = 1000;
    farm_.statistics.controlKbsOut = 2.5;
    farm_.statistics.rcConnections = 4;
    farm_.statistics.idleClients = 1;
    Replies replies = Send(Code::kStatisticsReset, "");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, Code::kStatus);
    Statistics expected;
    expected.runningSince = 77;
    expected.idleClients = 1;
    EXPECT_EQ(StatisticsText(farm_.statistics), StatisticsText(expected));

    for (const char* shown : {"1", "0", "1"}) {
        replies = Send(Code::kSelectionLogic, "");
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].code, Code::kStatus);
        EXPECT_EQ(GetLine(replies[0].text, 1), shown);
    }
    EXPECT_TRUE(Send(Code::kSoftRestart, "").empty());

    const struct {
        std::string payload;
        const char* answer;
        const char* password;  // afterwards
    } cases[] = {
        {EncodeBase64("wrong") + "\n" + EncodeBase64("new") + "\n", "0\n", "pw"},
        {EncodeBase64("pw") + "\n" + EncodeBase64("new") + "\n", "1\n", "new"},
        {EncodeBase64("pw") + "\n" + EncodeBase64("again") + "\n", "0\n", "new"},
        {EncodeBase64("new") + "\n\n", "1\n", ""},
    };
    for (const auto& c : cases) {
        replies = Send(Code::kPasswordChange, c.payload);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0], (Reply{Code::kPasswordResult, c.answer})) << c.payload;
        EXPECT_EQ(farm_.users[0].password, c.password);
    }
    session_.user = "guest";
    session_.loginResult = LoginResult::kGuest;
    EXPECT_EQ(Send(Code::kPasswordChange, "\n" + EncodeBase64("x") + "\n")[0].text, "0\n");
}

TEST_F(ControlTest, ANewJobKeepsItsRecordAndAttributes) {
    const std::string properties = "frames\n1-10\n1\n0\nscene\n/s/a.ma\n1\n1\n";
    Replies replies =
        Send(Code::kNewJob, JobRecordPayload("lighting", -1, EncodeBase64(properties), 1));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Reply{Code::kSubmitted, "6\n"}));
    EXPECT_EQ(job(6).submitter, "ann");
    const std::string record = JobRecord(job(6));
    EXPECT_EQ(GetLine(record, 13), "lighting");
    EXPECT_EQ(GetLine(record, 18), "1");
    EXPECT_EQ(GetLine(record, 20), "3,4");
    EXPECT_EQ(simtest::DecodeBase64(GetLine(record, 34)), properties);
    EXPECT_EQ(GetLine(record, 35), "proj");
    EXPECT_EQ(GetLine(record, 36), "fx");

    // An edit replaces what the record says and keeps who and what the job is.
    replies = Send(Code::kEditedJob, JobRecordPayload("relit", 6, EncodeBase64("frames\n5\n0\n0\n")));
    EXPECT_EQ(replies[0], (Reply{Code::kSubmitted, "6\n"}));
    EXPECT_EQ(job(6).name, "relit");
    EXPECT_EQ(job(6).submitter, "ann");
    EXPECT_EQ(AttributeBlock(job(6)), "frames\n5\n0\n0\n");

    replies = Send(Code::kNewFolder, "1\nPlates\n80\n");
    EXPECT_EQ(replies[0], (Reply{Code::kSubmitted, "7\n"}));
    EXPECT_EQ(GetLine(JobRecord(job(7)), 18), "1");
}

TEST_F(ControlTest, SubmissionsAreRefusedWithoutChangingTheFarm) {
    std::string error;
    ASSERT_TRUE(templates_.Add(simtest::TemplateText(1), "one.template", error)) << error;
    settings_.checkEngines = true;
    std::string noTemplate = JobRecordPayload("x", -1, "");
    noTemplate.replace(2, 1, "9");  // template 9
    std::string cut = JobRecordPayload("x", -1, "");
    cut.resize(cut.size() - 3);  // line 28 missing
    job(5).locked = true;
    const struct {
        unsigned char code;
        std::string payload;
        unsigned char answer;
    } cases[] = {
        {Code::kNewJob, noTemplate, Code::kRefusedContent},
        {Code::kNewJob, cut, Code::kRefused},
        {Code::kNewJob, JobRecordPayload("", -1, ""), Code::kRefused},
        {Code::kNewJob, JobRecordPayload("x", -1, "!!"), Code::kRefused},
        {Code::kNewJob, JobRecordPayload("x", -1, "", 5), Code::kRefusedContent},
        {Code::kEditedJob, JobRecordPayload("x", 42, ""), Code::kRefusedContent},
        {Code::kEditedJob, JobRecordPayload("x", 1, ""), Code::kRefusedContent},  // a folder
        {Code::kEditedJob, JobRecordPayload("x", 5, ""), Code::kRefusedContent},  // locked
        {Code::kNewFolder, "-1\n\n100\n", Code::kRefused},
        {Code::kNewFolder, "5\nPlates\n100\n", Code::kRefusedContent},
        {Code::kNewFolder, "x\nPlates\n100\n", Code::kRefused},
    };
    const Farm start = farm_;
    for (const auto& c : cases) {
        const Replies replies = Send(c.code, c.payload);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].code, c.answer) << c.payload;
        EXPECT_EQ(farm_.jobs.size(), start.jobs.size());
        EXPECT_EQ(JobRecord(job(5)), JobRecord(start.jobs[1]));
    }
    EXPECT_EQ(Send(Code::kNewJob, JobRecordPayload("x", -1, ""))[0].code, Code::kSubmitted);

    settings_.refuseSubmissions = true;
    for (unsigned char code : {Code::kNewJob, Code::kEditedJob, Code::kNewFolder})
        EXPECT_EQ(
            Send(code, code == Code::kNewFolder ? "-1\nA\n1\n" : JobRecordPayload("y", 6, ""))[0]
                .code,
            Code::kRefusedContent);
    EXPECT_EQ(job(6).name, "x");
    EXPECT_EQ(farm_.jobs.size(), 3u);
}

TEST(AttributeBlock, GroupsStopAtAnEmptyNameAndAreBounded) {
    std::vector<std::pair<std::string, Attribute>> attributes;
    ASSERT_TRUE(ParseAttributeBlock("a\n1\n1\n0\nb\n\n0\n1\n\nc\n1\n1\n", attributes));
    ASSERT_EQ(attributes.size(), 2u);
    EXPECT_EQ(attributes[1].second.value, "");
    EXPECT_TRUE(attributes[1].second.pathSubstitution);

    attributes.clear();
    ASSERT_TRUE(ParseAttributeBlock("a\n1\n1\n0\na\n2\n0\n0\nlast", attributes));
    ASSERT_EQ(attributes.size(), 2u);  // a repeated name replaces; a cut group still counts
    EXPECT_EQ(attributes[0].second.value, "2");
    EXPECT_EQ(attributes[1].first, "last");
    EXPECT_FALSE(attributes[1].second.specified);

    std::string many;
    for (size_t i = 0; i <= kMaxAttributes; ++i)
        many += "n" + std::to_string(i) + "\nv\n1\n0\n";
    attributes.clear();
    EXPECT_FALSE(ParseAttributeBlock(many, attributes));
}

}  // namespace
