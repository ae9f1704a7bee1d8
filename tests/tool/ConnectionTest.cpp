// The tool's frame I/O over a socket pair: what it sends, and how it takes frames apart.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <thread>

#include "Connection.h"

namespace {

std::string plainFrame(char code, const std::string& text) {
    std::string frame(1, text.empty() ? '\0' : '\1');
    uint32_t length = static_cast<uint32_t>(text.size() + 1);
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<char>(length >> (8 * i)));
    frame.push_back(code);
    return frame + text;
}

std::string compressedFrame(char code, const std::string& text) {
    uLongf size = compressBound(text.size());
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(&packed[0]), &size,
             reinterpret_cast<const Bytef*>(text.data()), text.size());
    packed.resize(size);
    std::string frame(1, '\2');
    uint32_t length = static_cast<uint32_t>(size + 5);
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<char>(length >> (8 * i)));
    frame.push_back(code);
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<char>(text.size() >> (8 * i)));
    return frame + packed;
}

class ConnectionTest : public testing::Test {
protected:
    void SetUp() override {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        s = pair[0];
        peer_ = pair[1];
        allocateBuffers();
    }
    void TearDown() override {
        closeConnection();
        releaseBuffers();
        if (peer_ >= 0) close(peer_);
    }
    void peerSends(const std::string& bytes) {
        ASSERT_EQ(write(peer_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::string peerReceives(size_t count) {
        std::string bytes(count, '\0');
        size_t got = 0;
        while (got < count) {
            ssize_t r = read(peer_, &bytes[got], count - got);
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        bytes.resize(got);
        return bytes;
    }
    int peer_ = -1;
};

TEST_F(ConnectionTest, SendsPlainFramesOnly) {
    sendMsg(zdCode::kStatusRequest, "");
    EXPECT_EQ(peerReceives(6), std::string("\0\1\0\0\0\x23", 6));
    sendMsg("Q", "abc");
    EXPECT_EQ(peerReceives(9), std::string("\1\4\0\0\0Qabc", 9));
    std::string longText(5000, 'a');  // compressible, but the tool never compresses
    sendMsg(zdCode::kTemplateRequest, longText);
    EXPECT_EQ(peerReceives(6 + longText.size()), plainFrame('\xD2', longText));
}

TEST_F(ConnectionTest, TwoFramesInOneReadComeOneByOne) {
    peerSends(plainFrame('h', "0\n") + plainFrame('n', "1\n2\n"));
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(message[0], 'h');
    EXPECT_STREQ(rcvargs, "0\n");
    close(peer_);  // the second frame must come from the buffer, not a read
    peer_ = -1;
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(message[0], 'n');
    EXPECT_STREQ(rcvargs, "1\n2\n");
    EXPECT_FALSE(getNextMsg());
}

TEST_F(ConnectionTest, SplitFrameIsDeliveredWhenComplete) {
    std::string text(10000, 'x');
    std::string frame = plainFrame('D', text);
    peerSends(frame.substr(0, 3));
    peerSends(frame.substr(3, 4000));
    peerSends(frame.substr(4003));
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(message[0], 'D');
    EXPECT_EQ(std::string(rcvargs), text);
    EXPECT_EQ(rcvbuf_bytesin, 0u);
}

TEST_F(ConnectionTest, CompressedReplyLongerThanTheBufferGrowsIt) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + "\n";
    ASSERT_GT(text.size(), 4096u);
    peerSends(compressedFrame('\xD4', text));
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(static_cast<unsigned char>(message[0]), 0xD4);
    EXPECT_EQ(std::string(rcvargs), text);
    EXPECT_GE(rcvargs_size, text.size() + 1);
}

TEST_F(ConnectionTest, RefusesFramesItCannotHonour) {
    testing::internal::CaptureStderr();
    peerSends(std::string("\1\0\0\0\0", 5) + "x");  // length field 0
    EXPECT_FALSE(getNextMsg());
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Malformed frame"), std::string::npos);
}

TEST_F(ConnectionTest, RefusesHugeLengthsWithoutAllocating) {
    testing::internal::CaptureStderr();
    peerSends(std::string("\1\xff\xff\xff\x7fZ", 6));
    EXPECT_FALSE(getNextMsg());
    EXPECT_LT(rcvbuf_size, 16384u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Refusing a frame"), std::string::npos);
}

TEST_F(ConnectionTest, RefusesHugeInflatedSizes) {
    std::string frame = compressedFrame('n', "status text, compressed");
    frame[6] = frame[7] = frame[8] = '\xff';  // claims ~4 GiB once inflated
    frame[9] = '\x7f';
    testing::internal::CaptureStderr();
    peerSends(frame);
    EXPECT_FALSE(getNextMsg());
    EXPECT_LT(rcvargs_size, 16384u);
    testing::internal::GetCapturedStderr();
}

TEST_F(ConnectionTest, FailuresOfTheFrameItselfSayWhy) {
    std::string frame = compressedFrame('n', "some status text here");
    frame.back() ^= 0x55;
    testing::internal::CaptureStderr();
    peerSends(frame);
    EXPECT_FALSE(getNextMsg());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nA compressed message from the Dispatcher could not be inflated.\n");

    rcvbuf_bytesin = 0;
    testing::internal::CaptureStderr();
    peerSends(plainFrame('D', "a record cut short").substr(0, 12));
    close(peer_);
    peer_ = -1;
    EXPECT_FALSE(getNextMsg());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nThe Dispatcher closed the connection in the middle of a message.\n");
}

TEST_F(ConnectionTest, LargeFrameAndTheOneBehindItArriveWhole) {
    const std::string text(3 << 20, 'r');
    std::thread peer([&] { peerSends(plainFrame('D', text) + plainFrame('E', "end")); });
    ASSERT_TRUE(getNextMsg());
    EXPECT_EQ(message[0], 'D');
    EXPECT_EQ(std::string(rcvargs), text);
    ASSERT_TRUE(getNextMsg());
    EXPECT_STREQ(rcvargs, "end");
    peer.join();
}

TEST_F(ConnectionTest, WaitDropsOtherCodesAndReportsADeadPeer) {
    peerSends(plainFrame('x', "noise") + plainFrame('n', "status"));
    ASSERT_TRUE(waitForMsg(zdCode::kStatus));
    EXPECT_STREQ(rcvargs, "status");
    close(peer_);
    peer_ = -1;
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
