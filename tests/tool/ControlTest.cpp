// Control commands over a socket pair: the frame each command sends, the replies the
// Dispatcher commands wait for, and the listing selected afterwards.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "Connection.h"
#include "Control.h"
#include "RunSettings.h"

namespace {

std::string frame(unsigned char code, const std::string& text) {
    uint32_t n = static_cast<uint32_t>(text.size() + 1);
    return std::string{char(text.empty() ? 0 : 1),
                       char(n),
                       char(n >> 8),
                       char(n >> 16),
                       char(n >> 24),
                       char(code)} +
           text;
}

class ControlTest : public testing::Test {
protected:
    void SetUp() override {
        resetRunSettings();
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        s = pair[0], peer_ = pair[1];
        allocateBuffers();
    }
    void TearDown() override {
        closeConnection();
        releaseBuffers();
        close(peer_);
        resetRunSettings();
    }
    // Everything the tool sent so far.
    std::string sent() {
        std::string bytes(1 << 16, '\0');
        ssize_t n = recv(peer_, &bytes[0], bytes.size(), MSG_DONTWAIT);
        return bytes.substr(0, n > 0 ? size_t(n) : 0);
    }
    int peer_ = -1;
};

TEST_F(ControlTest, EachCommandSendsOneFrame) {
    const struct {
        int *selector, value;
        unsigned char code;
        const char* payload;
    } cases[] = {
        {&controlCpu, 1, 0x3A, "4\n"},         {&controlCpu, 2, 0x3B, "4\n"},
        {&controlCpu, 3, 0x3C, "4\n"},         {&controlCpu, 4, 0x3E, "4\n"},
        {&controlCpu, 5, 0x3D, "4\n"},         {&controlCpu, 6, 0x3F, "4\n"},
        {&controlCpu, 7, 0xB5, "4\n"},         {&controlCpu, 8, 0xB9, "12\n"},
        {&controlCpu, 9, 0xBA, "12\n"},        {&controlJobs, 1, 0x37, "12\n"},
        {&controlJobs, 2, 0x38, "12\n"},       {&controlJobs, 3, 0x39, "12\n"},
        {&controlJobs, 4, 0x77, "12\nt x\n"},  {&controlJobs, 5, 0x78, "12\n3\n"},
        {&controlJobs, 6, 0x36, "t x\n12\n"},  {&controlJobs, 7, 0x97, "12\n3\n"},
        {&controlJobs, 8, 0x8F, "12\nt x\n"},  {&controlJobs, 9, 0x81, "12\nt x\n"},
        {&controlJobs, 10, 0x35, "12\n"},      {&controlJobs, 11, 0x1F, "3\n12\n"},
        {&controlJobs, 12, 0xF0, "12\n"},      {&controlJobs, 13, 0xF1, "12\n"},
        {&controlJobs, 14, 0xFC, "12\n"},      {&controlJobs, 15, 0xFD, "12\n"},
        {&controlJobs, 16, 0x0B, "12\nt x\n"}, {&controlJobs, 17, 0x0A, "12\nt x\n"},
        {&controlChunks, 1, 0x41, "12\n5\n"},  {&controlChunks, 2, 0x42, "12\n5\n"},
        {&controlDisp, 1, 0xB7, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        resetRunSettings();
        cpuid = 4, jobid = 12, chunkid = 5, intBuffer = 3;
        std::strcpy(strBuffer, "t x");
        *c.selector = c.value;
        EXPECT_EQ(runControlMode(), 0);
        EXPECT_EQ(sent(), frame(c.code, c.payload));
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
        std::string replies, out, err;
    } cases[] = {
        {3, frame(0xBF, "1\n") + frame(0x6E, "0\n"), "", ""},
        {4, frame(0x6E, "1\n"), "Dispatcher selection logic changed\n", ""},
        {2, frame(0x6E, "1\n") + frame(0xBF, "1\n"), "Account password successfully updated\n", ""},
        {2, frame(0xBF, "2\n"), "", "Dispatcher denied the operation.\n"},
    };
    for (const auto& c : cases) {
        controlDisp = c.value, queryActive = submitActive = 1;
        ASSERT_EQ(write(peer_, c.replies.data(), c.replies.size()), ssize_t(c.replies.size()));
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(runControlMode(), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(rcvbuf_bytesin, 0u);  // the dropped message and the reply were both read
        EXPECT_EQ(queryActive + submitActive, 0);
        sent();
    }
    close(peer_);  // a dead connection ends the wait instead of spinning
    peer_ = -1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(runControlMode(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Socket error while communicating with the Dispatcher.\n");
}

// Payloads longer than the 2048-byte formatting room of old go out whole.
TEST_F(ControlTest, LongPasswordsAndTextsGoOutWhole) {
    controlDisp = 2, password = "old", new_password = std::string(3000, 'n');
    std::string reply = frame(0xBF, "1\n");
    ASSERT_EQ(write(peer_, reply.data(), reply.size()), ssize_t(reply.size()));
    testing::internal::CaptureStdout();
    runControlMode();
    testing::internal::GetCapturedStdout();
    std::string payload = sent().substr(6);
    EXPECT_EQ(payload.substr(0, 5), "b2xk\n");
    EXPECT_EQ(payload.size(), 5u + 4000u + 1u);

    resetRunSettings();
    controlJobs = 9, jobid = 123456;
    std::memset(strBuffer, 'r', kStrBufferCapacity - 1);
    strBuffer[kStrBufferCapacity - 1] = '\0';
    runControlMode();
    EXPECT_EQ(sent(), frame(0x81, "123456\n" + std::string(kStrBufferCapacity - 1, 'r') + "\n"));
}

}  // namespace
