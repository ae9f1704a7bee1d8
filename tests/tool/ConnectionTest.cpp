// The tool's frame I/O over a socket pair: what it sends, and how it takes frames apart.
#include <gtest/gtest.h>

#include <string>

#include "Connection.h"
#include "FakeDispatcher.h"

namespace {

using namespace zdtest;

class ConnectionTest : public testing::Test {
protected:
    FakeDispatcher dispatcher_;
};

TEST_F(ConnectionTest, SendsPlainFramesOnly) {
    sendMsg(zdCode::kStatusRequest, "");
    EXPECT_EQ(dispatcher_.Sent(), std::string("\0\1\0\0\0\x23", 6));
    sendMsg("Q", "abc");
    EXPECT_EQ(dispatcher_.Sent(), std::string("\1\4\0\0\0Qabc", 9));
    std::string longText(5000, 'a');  // compressible, but the tool never compresses
    sendMsg(zdCode::kTemplateRequest, longText);
    EXPECT_EQ(dispatcher_.Sent(), PlainFrame(zdCode::kTemplateRequest, longText));
}

TEST_F(ConnectionTest, TwoFramesInOneReadComeOneByOne) {
    dispatcher_.QueueBytes(PlainFrame(zdCode::kLoginResult, "0\n") +
                           PlainFrame(zdCode::kStatus, "1\n2\n"));
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(ReceivedCode(), zdCode::kLoginResult);
    EXPECT_STREQ(rcvargs, "0\n");
    dispatcher_.Hangup();  // the second frame must come from the buffer, not a read
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(ReceivedCode(), zdCode::kStatus);
    EXPECT_STREQ(rcvargs, "1\n2\n");
    EXPECT_FALSE(getNextMsg());
}

TEST_F(ConnectionTest, SplitFrameIsDeliveredWhenComplete) {
    std::string text(10000, 'x');
    std::string frame = PlainFrame(zdCode::kJobsRecord, text);
    dispatcher_.QueueBytes(frame.substr(0, 3));
    dispatcher_.QueueBytes(frame.substr(3, 4000));
    dispatcher_.QueueBytes(frame.substr(4003));
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(ReceivedCode(), zdCode::kJobsRecord);
    EXPECT_EQ(std::string(rcvargs), text);
    EXPECT_EQ(rcvbuf_bytesin, 0u);
}

TEST_F(ConnectionTest, CompressedReplyLongerThanTheBufferGrowsIt) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + "\n";
    ASSERT_GT(text.size(), 4096u);
    dispatcher_.QueueCompressed(zdCode::kHashes, text);
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(ReceivedCode(), zdCode::kHashes);
    EXPECT_EQ(std::string(rcvargs), text);
    EXPECT_GE(rcvargs_size, text.size() + 1);
}

TEST_F(ConnectionTest, RefusesFramesItCannotHonour) {
    testing::internal::CaptureStderr();
    dispatcher_.QueueBytes(std::string("\1\0\0\0\0", 5) + "x");  // length field 0
    EXPECT_FALSE(getNextMsg());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Malformed frame"), std::string::npos);
}

TEST_F(ConnectionTest, RefusesHugeLengthsWithoutAllocating) {
    testing::internal::CaptureStderr();
    dispatcher_.QueueBytes(std::string("\1\xff\xff\xff\x7fZ", 6));
    EXPECT_FALSE(getNextMsg());
    EXPECT_LT(rcvbuf_size, 16384u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Refusing a frame"), std::string::npos);
}

TEST_F(ConnectionTest, RefusesHugeInflatedSizes) {
    std::string frame = CompressedFrame(zdCode::kStatus, "status text, status text, status text");
    frame[6] = frame[7] = frame[8] = '\xff';  // claims ~4 GiB once inflated
    frame[9] = '\x7f';
    testing::internal::CaptureStderr();
    dispatcher_.QueueBytes(frame);
    EXPECT_FALSE(getNextMsg());
    EXPECT_LT(rcvargs_size, 16384u);
    testing::internal::GetCapturedStderr();
}

TEST_F(ConnectionTest, FailuresOfTheFrameItselfSayWhy) {
    std::string frame = CompressedFrame(zdCode::kStatus, "status text, status text, status text");
    frame.back() ^= 0x55;
    testing::internal::CaptureStderr();
    dispatcher_.QueueBytes(frame);
    EXPECT_FALSE(getNextMsg());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nA compressed message from the Dispatcher could not be inflated.\n");

    rcvbuf_bytesin = 0;
    testing::internal::CaptureStderr();
    dispatcher_.QueueBytes(PlainFrame(zdCode::kJobsRecord, "a record cut short").substr(0, 12));
    dispatcher_.Hangup();
    EXPECT_FALSE(getNextMsg());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nThe Dispatcher closed the connection in the middle of a message.\n");
}

TEST_F(ConnectionTest, LargeFrameAndTheOneBehindItArriveWhole) {
    const std::string text(3 << 20, 'r');
    dispatcher_.QueueInBackground(PlainFrame(zdCode::kJobsRecord, text) +
                                  PlainFrame(zdCode::kJobsEnd, "end"));
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(ReceivedCode(), zdCode::kJobsRecord);
    EXPECT_EQ(std::string(rcvargs), text);
    ASSERT_TRUE(getNextMsg());
    EXPECT_STREQ(rcvargs, "end");
}

TEST_F(ConnectionTest, WaitDropsOtherCodesAndReportsADeadPeer) {
    dispatcher_.Queue(zdCode::kJobsRecord, "noise");
    dispatcher_.Queue(zdCode::kStatus, "status");
    ASSERT_TRUE(waitForMsg(zdCode::kStatus));
    EXPECT_STREQ(rcvargs, "status");
    dispatcher_.Hangup();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(waitForMsg(zdCode::kStatus));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Socket error while communicating with the Dispatcher.\n");
}

TEST(GetStringLine, PicksWholeLinesOfAnyLength) {
    EXPECT_EQ(getstringline("first\nsecond", 1), "first");
    EXPECT_EQ(getstringline("first\nsecond", 2), "second");
    EXPECT_EQ(getstringline("first\nsecond", 3), "");
    EXPECT_EQ(getstringline("a\n", 2), "");
    EXPECT_EQ(getstringline("a\n", 0), "");
    std::string longLine(300000, 'q');
    EXPECT_EQ(getstringline(("x\n" + longLine + "\ny").c_str(), 2), longLine);
}

}  // namespace
