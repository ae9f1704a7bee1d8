// Control commands over a socket pair: the frame each command sends, the replies the
// Dispatcher commands wait for, and the listing selected afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Connection.h"
#include "Control.h"
#include "FakeDispatcher.h"
#include "RunSettings.h"

namespace {

using namespace zdtest;
using namespace zdCode;

class ControlTest : public testing::Test {
protected:
    void SetUp() override { resetRunSettings(); }
    void TearDown() override { resetRunSettings(); }
    FakeDispatcher dispatcher_;
};

TEST_F(ControlTest, EachCommandSendsOneFrame) {
    const struct {
        int *selector, value;
        unsigned char code;
        const char* payload;
    } cases[] = {
        {&controlCpu, 1, kNodePause, "4\n"},
        {&controlCpu, 2, kNodeResume, "4\n"},
        {&controlCpu, 3, kNodeKillGoOn, "4\n"},
        {&controlCpu, 4, kNodeKillRedo, "4\n"},
        {&controlCpu, 5, kNodeKillPause, "4\n"},
        {&controlCpu, 6, kNodeKillReinit, "4\n"},
        {&controlCpu, 7, kNodeSoftRestart, "4\n"},
        {&controlCpu, 8, kJobNodesKillPause, "12\n"},
        {&controlCpu, 9, kJobNodesKillRedo, "12\n"},
        {&controlJobs, 1, kJobPause, "12\n"},
        {&controlJobs, 2, kJobResume, "12\n"},
        {&controlJobs, 3, kJobReinit, "12\n"},
        {&controlJobs, 4, kJobRename, "12\nt x\n"},
        {&controlJobs, 5, kJobPriority, "12\n3\n"},
        {&controlJobs, 6, kJobPool, "t x\n12\n"},
        {&controlJobs, 7, kJobMaxNodes, "12\n3\n"},
        {&controlJobs, 8, kJobDepend, "12\nt x\n"},
        {&controlJobs, 9, kJobNotes, "12\nt x\n"},
        {&controlJobs, 10, kJobDelete, "12\n"},
        {&controlJobs, 11, kJobParent, "3\n12\n"},
        {&controlJobs, 12, kJobUnlock, "12\n"},
        {&controlJobs, 13, kJobLock, "12\n"},
        {&controlJobs, 14, kJobArchive, "12\n"},
        {&controlJobs, 15, kJobUnarchive, "12\n"},
        {&controlJobs, 16, kJobProject, "12\nt x\n"},
        {&controlJobs, 17, kJobDepartment, "12\nt x\n"},
        {&controlChunks, 1, kChunkRequeue, "12\n5\n"},
        {&controlChunks, 2, kChunkComplete, "12\n5\n"},
        {&controlDisp, 1, kSoftRestart, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        resetRunSettings();
        cpuid = 4, jobid = 12, chunkid = 5, intBuffer = 3;
        std::strcpy(strBuffer, "t x");
        *c.selector = c.value;
        EXPECT_EQ(runControlMode(), 0);
        EXPECT_EQ(dispatcher_.SentFrames(), (std::vector<Msg>{{c.code, c.payload}}));
    }
}

TEST_F(ControlTest, TheListingAfterwardsShowsTheObject) {
    queryActive = queryLogs = queryStats = queryTemplates = 1;
    controlCpu = 8, jobid = 12;  // nodes working on a job: nodes and jobs
    runControlMode();
    EXPECT_EQ(queryCpus + queryJobs, 2);
    EXPECT_EQ(queryLogs + queryStats + queryTemplates + queryChunks, 0);
    controlCpu = 7;  // a soft restart shows nothing
    runControlMode();
    EXPECT_EQ(queryActive, 0);
    controlCpu = 0, controlJobs = 10, controlChunks = 1, queryActive = 1;
    runControlMode();
    EXPECT_EQ(jobid, 0);  // the deleted job is not looked up, and the chunks replace the jobs
    EXPECT_EQ(queryChunks + queryJobs, 1);
}

TEST_F(ControlTest, DispatcherCommandsWaitForTheirReply) {
    const struct {
        int value;
        std::vector<Msg> replies;
        std::string out, err;
    } cases[] = {
        {3, {{kPasswordResult, "1\n"}, {kStatus, "0\n"}}, "", ""},
        {4, {{kStatus, "1\n"}}, "Dispatcher selection logic changed\n", ""},
        {2,
         {{kStatus, "1\n"}, {kPasswordResult, "1\n"}},
         "Account password successfully updated\n",
         ""},
        {2, {{kPasswordResult, "2\n"}}, "", "Dispatcher denied the operation.\n"},
    };
    for (const auto& c : cases) {
        controlDisp = c.value, queryActive = submitActive = 1;
        for (const Msg& reply : c.replies)
            dispatcher_.Queue(reply.code, reply.text);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(runControlMode(), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(rcvbuf_bytesin, 0u);  // the dropped message and the reply were both read
        EXPECT_EQ(queryActive + submitActive, 0);
        dispatcher_.Sent();
    }
    dispatcher_.Hangup();  // a dead connection ends the wait instead of spinning
    testing::internal::CaptureStderr();
    EXPECT_EQ(runControlMode(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Socket error while communicating with the Dispatcher.\n");
}

// Payloads longer than the 2048-byte formatting room of old go out whole.
TEST_F(ControlTest, LongPasswordsAndTextsGoOutWhole) {
    controlDisp = 2, password = "old", new_password = std::string(3000, 'n');
    dispatcher_.Queue(kPasswordResult, "1\n");
    testing::internal::CaptureStdout();
    runControlMode();
    testing::internal::GetCapturedStdout();
    std::vector<Msg> sent = dispatcher_.SentFrames();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, kPasswordChange);
    EXPECT_EQ(sent[0].text.substr(0, 5), "b2xk\n");
    EXPECT_EQ(sent[0].text.size(), 5u + 4000u + 1u);

    resetRunSettings();
    controlJobs = 9, jobid = 123456;
    std::memset(strBuffer, 'r', kStrBufferCapacity - 1);
    strBuffer[kStrBufferCapacity - 1] = '\0';
    runControlMode();
    EXPECT_EQ(dispatcher_.SentFrames(),
              (std::vector<Msg>{
                  {kJobNotes, "123456\n" + std::string(kStrBufferCapacity - 1, 'r') + "\n"}}));
}

}  // namespace
