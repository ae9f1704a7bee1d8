// The Dispatcher as a test plays it: the tool's connection on one end of a socket pair, frames
// queued for the tool and frames read back from it on the other.
#ifndef ZD_TESTS_TOOL_FAKEDISPATCHER_H
#define ZD_TESTS_TOOL_FAKEDISPATCHER_H

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Connection.h"
#include "MessageCodes.h"
#include "SocketPair.h"
#include "ToolSocket.h"
#include "ZRSocket.h"

namespace zdtest {

namespace wire = ZRFramework::ZRSocket;

// One decoded frame.
struct Msg {
    unsigned char code = 0;
    std::string text;
    bool operator==(const Msg& other) const { return code == other.code && text == other.text; }
};

inline void PrintTo(const Msg& msg, std::ostream* os) {
    static const char kHex[] = "0123456789ABCDEF";
    *os << "{0x" << kHex[msg.code >> 4] << kHex[msg.code & 15] << ", "
        << testing::PrintToString(msg.text) << "}";
}

inline std::vector<Msg> operator+(std::vector<Msg> a, const std::vector<Msg>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// `count` empty frames of `code`: the acknowledgements of a listing.
inline std::vector<Msg> Acks(unsigned char code, size_t count) {
    return std::vector<Msg>(count, Msg{code, ""});
}

namespace detail {
inline std::string FrameBytes(char* frame, unsigned long frameSize) {
    std::string bytes = frame ? std::string(frame, frameSize) : std::string();
    wire::destroyEncodedMessage(frame);
    return bytes;
}
}  // namespace detail

// Encoding 0 when the text is empty, 1 otherwise.
inline std::string PlainFrame(unsigned char code, const std::string& text) {
    const char codeText[2] = {static_cast<char>(code), '\0'};
    char* frame = nullptr;
    unsigned long size = 0;
    wire::EncodePlainMessage(codeText, text.c_str(), &frame, nullptr, &size);
    EXPECT_NE(frame, nullptr);
    return detail::FrameBytes(frame, size);
}

// Fails the test when the encoder finds `text` not worth compressing and sends it plain.
inline std::string CompressedFrame(unsigned char code, const std::string& text) {
    const char codeText[2] = {static_cast<char>(code), '\0'};
    char* frame = nullptr;
    unsigned long size = 0;
    wire::encodeMessage(codeText, text.c_str(), &frame, nullptr, &size);
    EXPECT_TRUE(frame && frame[0] == wire::kEncodingCompressed) << "text does not compress";
    return detail::FrameBytes(frame, size);
}

// The code of the frame the tool received last.
inline unsigned char ReceivedCode() {
    return static_cast<unsigned char>(message[0]);
}

class FakeDispatcher {
public:
    FakeDispatcher() {
        // Room for whole listings, so most tests can queue a conversation before the tool runs.
        intptr_t pair[2] = {-1, -1};
        EXPECT_TRUE(zdTest::MakeSocketPair(pair, 1 << 20));
        s = pair[0];
        peer_ = pair[1];
        allocateBuffers();
    }
    // Closing the tool's end first frees a background writer the tool left unread.
    ~FakeDispatcher() {
        closeConnection();
        releaseBuffers();
        Hangup();
    }
    FakeDispatcher(const FakeDispatcher&) = delete;
    FakeDispatcher& operator=(const FakeDispatcher&) = delete;

    // Frames wait in the socket until the tool reads them.
    void Queue(unsigned char code, const std::string& text = "") {
        QueueBytes(PlainFrame(code, text));
    }
    void QueueCompressed(unsigned char code, const std::string& text) {
        QueueBytes(CompressedFrame(code, text));
    }
    void QueueListing(const zdCode::Listing& listing, const std::vector<std::string>& records) {
        std::string frames = PlainFrame(listing.start, "");
        for (const std::string& record : records)
            frames += PlainFrame(listing.record, record);
        QueueBytes(frames + PlainFrame(listing.end, ""));
    }
    // Fails instead of blocking when the socket cannot hold the bytes: those need
    // QueueInBackground.
    void QueueBytes(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            zdSocketResult result;
            const long r = sendSome(peer_, bytes.data() + done, bytes.size() - done, result);
            if (r < 0 && result == zdSocketResult::kInterrupted) continue;
            if (r <= 0) break;
            done += static_cast<size_t>(r);
        }
        EXPECT_EQ(done, bytes.size()) << "the socket holds no more; queue in the background";
    }
    // Written by a thread as the tool reads, for more than the socket holds. Queue nothing else
    // until the tool has read these.
    void QueueInBackground(std::string bytes) {
        JoinWriter();
        writer_ = std::thread([this, bytes = std::move(bytes)] {
            size_t done = 0;
            while (done < bytes.size()) {
                zdSocketResult result;
                const long r = sendSome(peer_, bytes.data() + done, bytes.size() - done, result);
                if (r < 0 && result == zdSocketResult::kWouldBlock) {
                    waitSocket(peer_, true, -1);
                    continue;
                }
                if (r < 0 && result == zdSocketResult::kInterrupted) continue;
                if (r <= 0) return;  // the tool's end is closed
                done += static_cast<size_t>(r);
            }
        });
    }

    // Closes the Dispatcher's end once the background writer is done: the tool reads what is
    // queued, then the end of the stream.
    void Hangup() {
        JoinWriter();
        if (peer_ != kNoSocket) closeSocket(peer_);
        peer_ = kNoSocket;
    }

    // Everything the tool sent and no call has taken yet.
    std::string Sent() {
        Drain();
        std::string bytes = pending_.substr(head_);
        pending_.clear();
        head_ = 0;
        return bytes;
    }
    // The same, decoded; half a frame or one the tool should not send fails the test.
    std::vector<Msg> SentFrames() {
        Drain();
        std::vector<Msg> frames;
        Msg msg;
        while (TakeSentFrame(msg))
            frames.push_back(std::move(msg));
        EXPECT_EQ(pending_.size(), head_) << "the tool sent part of a frame";
        pending_.clear();
        head_ = 0;
        return frames;
    }
    // Waits for the tool's next frame, for a Dispatcher that answers each one; false at the end
    // of the stream or after 10 seconds of silence.
    bool NextFrame(Msg& msg) {
        while (!TakeSentFrame(msg)) {
            if (!waitSocket(peer_, false, 10000)) {
                ADD_FAILURE() << "the tool sent nothing for 10 seconds";
                return false;
            }
            char buffer[65536];
            zdSocketResult result;
            const long r = receiveSome(peer_, buffer, sizeof buffer, result);
            if (r < 0 && result != zdSocketResult::kFailed) continue;
            if (r <= 0) return false;
            pending_.erase(0, head_);  // only part of a frame is left
            head_ = 0;
            pending_.append(buffer, static_cast<size_t>(r));
        }
        return true;
    }

private:
    void Drain() {
        char buffer[65536];
        for (;;) {
            zdSocketResult result;
            const long r = receiveSome(peer_, buffer, sizeof buffer, result);
            if (r < 0 && result == zdSocketResult::kInterrupted) continue;
            if (r <= 0) break;
            pending_.append(buffer, static_cast<size_t>(r));
        }
    }

    // The tool sends plain frames only: encoding 0 for an empty text, 1 otherwise.
    bool TakeSentFrame(Msg& msg) {
        const char* frame = pending_.data() + head_;
        uint64_t size = 0;
        wire::FrameStatus status = wire::ScanFrame(frame, pending_.size() - head_, &size);
        if (status == wire::FrameStatus::kIncomplete) return false;
        if (status == wire::FrameStatus::kMalformed) {
            ADD_FAILURE() << "malformed frame from the tool";
            head_ = pending_.size();
            return false;
        }
        uint64_t length = 0;
        char* decoded = wire::DecodeFrame(frame, size, kMaxFrameBytes, &length);
        EXPECT_NE(decoded, nullptr) << "undecodable frame from the tool";
        msg = decoded
                  ? Msg{static_cast<unsigned char>(decoded[0]), std::string(decoded + 1, length)}
                  : Msg{};
        wire::destroyEncodedMessage(decoded);
        const unsigned char encoding =
            msg.text.empty() ? wire::kEncodingEmpty : wire::kEncodingPlain;
        EXPECT_EQ(static_cast<unsigned char>(frame[0]), encoding)
            << "frame " << testing::PrintToString(msg);
        head_ += size;
        return true;
    }

    void JoinWriter() {
        if (writer_.joinable()) writer_.join();
    }

    zdSocketHandle peer_ = kNoSocket;
    std::string pending_;  // bytes from the tool; those from head_ on are not taken yet
    size_t head_ = 0;
    std::thread writer_;
};

}  // namespace zdtest

#endif
