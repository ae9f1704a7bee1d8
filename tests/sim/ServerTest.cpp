// The server loop over loopback: many clients at once, stalled and pipelined clients, malformed
// and oversized frames, --close-after and --compress, and the listings streamed or in lockstep.
// Every wait is bounded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "Protocol.h"
#include "Records.h"
#include "Server.h"
#include "SimTestSupport.h"
#include "ZRSocket.h"
#include "ZRStringHelper.h"

namespace {

using namespace zdsim;
using ZRFramework::ZRStringHelper::GetLine;

constexpr int kWaitMs = 10000;

struct Frame {
    unsigned char encoding;
    unsigned char code;
    std::string text;
};

std::string PlainFrame(unsigned char code, const std::string& text) {
    const char codeText[2] = {static_cast<char>(code), '\0'};
    char* raw = nullptr;
    unsigned long length = 0;
    unsigned long size = 0;
    ZRFramework::ZRSocket::EncodePlainMessage(codeText, text.c_str(), &raw, &length, &size);
    std::string frame(raw, size);
    ZRFramework::ZRSocket::destroyEncodedMessage(raw);
    return frame;
}

// A blocking client socket with bounded receives.
class TestClient {
public:
    // `receiveBuffer` (bytes, 0 for the system's) is fixed before connecting, so that a client
    // that stops reading fills up quickly.
    explicit TestClient(int port, int receiveBuffer = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(static_cast<uint16_t>(port));
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~TestClient() { close(fd_); }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool Connected() const { return connected_; }

    bool SendBytes(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    bool Send(unsigned char code, const std::string& text) {
        return SendBytes(PlainFrame(code, text));
    }

    // The next frame, or nothing when the connection ended or the wait ran out.
    std::optional<Frame> Receive() {
        for (;;) {
            uint64_t size = 0;
            using ZRFramework::ZRSocket::FrameStatus;
            if (ZRFramework::ZRSocket::ScanFrame(held_.data(), held_.size(), &size) ==
                FrameStatus::kComplete) {
                uint64_t length = 0;
                char* message =
                    ZRFramework::ZRSocket::DecodeFrame(held_.data(), size, UINT32_MAX, &length);
                if (message == nullptr) return std::nullopt;
                Frame frame{static_cast<unsigned char>(held_[0]),
                            static_cast<unsigned char>(message[0]),
                            std::string(message + 1, length)};
                ZRFramework::ZRSocket::destroyEncodedMessage(message);
                held_.erase(0, size);
                return frame;
            }
            if (!Fill()) return std::nullopt;
        }
    }

    // True when the server closes the connection (within the bounded wait) with nothing more.
    bool SeesClose() {
        while (held_.empty()) {
            if (!Fill()) return !timedOut_;
        }
        return false;
    }

    // True when nothing arrives within `ms`: for checking that the server holds a frame back.
    bool StaysQuiet(int ms) {
        if (!held_.empty()) return false;
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, ms) == 0;
    }

private:
    bool Fill() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, kWaitMs) != 1) {
            timedOut_ = true;
            return false;
        }
        char chunk[4096];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        held_.append(chunk, static_cast<size_t>(n));
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    bool timedOut_ = false;
    std::string held_;
};

std::string LoginPayload(const std::string& user, const std::string& password) {
    return "ws\n" + user + "\n" + EncodeBase64(password) + "\n4\n";
}

// The codes of `count` frames, or what came before the connection ended.
std::string ReceiveCodes(TestClient& client, size_t count, std::vector<Frame>* frames = nullptr) {
    std::string codes;
    for (size_t i = 0; i < count; ++i) {
        const std::optional<Frame> frame = client.Receive();
        if (!frame) break;
        codes += static_cast<char>(frame->code);
        if (frames != nullptr) frames->push_back(*frame);
    }
    return codes;
}

// A listing of `records` records: start, records, end.
std::string Listing(char start, char record, char end, size_t records) {
    return std::string(1, start) + std::string(records, record) + std::string(1, end);
}

class ServerTest : public testing::Test {
protected:
    ServerTest() {
        farm_.users = {{"ann", "pw", 0}};
        farm_.allowGuests = true;
        std::string error;
        EXPECT_TRUE(templates_.Add(simtest::TemplateText(3), "three.template", error));
        // Long enough that compression pays.
        EXPECT_TRUE(templates_.Add(simtest::TemplateText(4, std::string(300, 'x')), "four.template",
                                   error));
    }
    ~ServerTest() override { StopServer(); }

    void StartServer() {
        std::string error;
        ASSERT_TRUE(transcript_.Open(folder_ / "record.txt", error)) << error;
        server_ =
            std::make_unique<Server>(farm_, templates_, settings_, options_, &transcript_, nullptr);
        ASSERT_TRUE(server_->Start(error)) << error;
        ASSERT_GT(server_->Port(), 0);
        thread_ = std::thread([this] { served_ = server_->Run(); });
    }

    void StopServer() {
        if (!thread_.joinable()) return;
        server_->Stop();
        thread_.join();
        EXPECT_TRUE(served_);
    }

    std::vector<std::string> TranscriptLines() {
        std::vector<std::string> lines;
        std::string text = simtest::ReadFile(folder_ / "record.txt");
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    int Port() const { return server_->Port(); }

    simtest::TempFolder folder_;
    Farm farm_;
    TemplateCatalogue templates_;
    ProtocolSettings settings_;
    ServerOptions options_;
    TranscriptWriter transcript_;
    std::unique_ptr<Server> server_;
    std::thread thread_;
    std::atomic<bool> served_{false};
};

TEST_F(ServerTest, EightClientsLogInAndAskConcurrently) {
    StartServer();
    constexpr int kClients = 8;
    std::vector<std::string> failures(kClients);
    std::vector<int> clientNumbers(kClients, 0);
    {
        std::vector<std::unique_ptr<TestClient>> owned;
        for (int i = 0; i < kClients; ++i) {
            owned.push_back(std::make_unique<TestClient>(Port()));
            ASSERT_TRUE(owned.back()->Connected());
        }
        // All are connected before any speaks, so the server holds eight sessions at once.
        std::vector<std::thread> threads;
        for (int i = 0; i < kClients; ++i) {
            threads.emplace_back([&, i] {
                TestClient& client = *owned[i];
                const bool user = i % 2 == 0;
                std::string& failure = failures[i];
                if (!client.Send(Code::kLogin,
                                 LoginPayload(user ? "ann" : "guest" + std::to_string(i),
                                              user ? "pw" : "")) ||
                    !client.Send(Code::kStatusRequest, "") ||
                    !client.Send(Code::kHashesRequest, "")) {
                    failure = "send failed";
                    return;
                }
                const auto login = client.Receive();
                const auto status = client.Receive();
                const auto hashes = client.Receive();
                if (!login || login->code != Code::kLoginResult ||
                    login->text != (user ? "0\n" : "2\n"))
                    failure += "bad login reply;";
                if (!status || status->code != Code::kStatus || GetLine(status->text, 12) != "610")
                    failure += "bad status reply;";
                else
                    clientNumbers[i] = std::stoi(GetLine(status->text, 10));
                if (!hashes || hashes->code != Code::kHashes ||
                    hashes->text != templates_.HashesMap())
                    failure += "bad hashes reply;";
            });
        }
        for (std::thread& t : threads)
            t.join();
    }
    for (int i = 0; i < kClients; ++i)
        EXPECT_EQ(failures[i], "") << "client " << i;
    std::sort(clientNumbers.begin(), clientNumbers.end());
    for (int i = 0; i < kClients; ++i)
        EXPECT_EQ(clientNumbers[i], i + 1);

    StopServer();
    const std::vector<std::string> lines = TranscriptLines();
    ASSERT_EQ(lines.size(), 3u * kClients);
    // Each client's frames appear in the order it sent them.
    for (int client = 1; client <= kClients; ++client) {
        std::string codes;
        for (const std::string& line : lines) {
            const std::string prefix = std::to_string(client) + " ";
            if (line.rfind(prefix, 0) == 0) codes += line.substr(prefix.size(), 2) + ",";
        }
        EXPECT_EQ(codes, "20,23,D1,") << "client " << client;
    }
}

TEST_F(ServerTest, AStalledClientDoesNotHoldUpOthers) {
    StartServer();
    TestClient stalled(Port());
    const std::string frame = PlainFrame(Code::kStatusRequest, "");
    ASSERT_TRUE(stalled.SendBytes(frame.substr(0, 3)));

    TestClient other(Port());
    ASSERT_TRUE(other.Send(Code::kStatusRequest, ""));
    const auto reply = other.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, Code::kStatus);

    ASSERT_TRUE(stalled.SendBytes(frame.substr(3)));
    const auto late = stalled.Receive();
    ASSERT_TRUE(late.has_value());
    EXPECT_EQ(late->code, Code::kStatus);
}

TEST_F(ServerTest, FramesSplitOrPipelinedAreAllAnswered) {
    StartServer();
    TestClient client(Port());
    const std::string login = PlainFrame(Code::kLogin, LoginPayload("ann", "pw"));
    for (char byte : login)
        ASSERT_TRUE(client.SendBytes(std::string(1, byte)));
    auto reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->text, "0\n");

    ASSERT_TRUE(client.SendBytes(PlainFrame(Code::kTemplateRequest, "3") +
                                 PlainFrame(Code::kTemplateRequest, "4") +
                                 PlainFrame(Code::kStatusRequest, "")));
    reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(GetLine(reply->text, 1), "3");
    reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(GetLine(reply->text, 1), "4");
    EXPECT_EQ(simtest::DecodeBase64(GetLine(reply->text, 4)), templates_.Find(4)->text);
    reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, Code::kStatus);
}

TEST_F(ServerTest, MalformedFramesAndUnknownCodesAreDroppedAndLaterFramesServed) {
    StartServer();
    TestClient client(Port());
    const std::string emptyLength("\x01\x00\x00\x00\x00", 5);
    const std::string noInflate("\x02\x09\x00\x00\x00\xD1\x10\x00\x00\x00garb", 14);
    ASSERT_TRUE(client.SendBytes(emptyLength + noInflate + PlainFrame(Code::kSoftRestart, "") +
                                 PlainFrame(Code::kStatusRequest, "")));
    const auto reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, Code::kStatus);
    StopServer();
    EXPECT_EQ(TranscriptLines(), (std::vector<std::string>{"1 B7", "1 23"}));
}

TEST_F(ServerTest, TheTranscriptShowsEveryPayloadByteAndCompressedFramesDecoded) {
    StartServer();
    TestClient client(Port());
    const std::string withNul(
        "\x01\x05\x00\x00\x00\xB7"
        "a\0b\n",
        10);
    char* raw = nullptr;
    unsigned long length = 0;
    unsigned long size = 0;
    const std::string repeated(200, 'r');
    ZRFramework::ZRSocket::encodeMessage("\x2E", repeated.c_str(), &raw, &length, &size);
    const std::string compressed(raw, size);
    ZRFramework::ZRSocket::destroyEncodedMessage(raw);
    ASSERT_EQ(compressed[0], 2);
    ASSERT_TRUE(client.SendBytes(withNul + compressed + PlainFrame(Code::kStatusRequest, "")));
    ASSERT_TRUE(client.Receive().has_value());
    StopServer();
    EXPECT_EQ(TranscriptLines(),
              (std::vector<std::string>{"1 B7 a\\x00b\\n", "1 2E " + repeated, "1 23"}));
}

TEST_F(ServerTest, AFrameOverTheLimitEndsOnlyThatConnection) {
    options_.maxFrame = 1024;
    StartServer();
    TestClient greedy(Port());
    TestClient modest(Port());
    // A header announcing 5000 bytes is refused before they arrive.
    ASSERT_TRUE(greedy.SendBytes(std::string("\x01\x88\x13\x00\x00\x23", 6)));
    EXPECT_TRUE(greedy.SeesClose());

    ASSERT_TRUE(modest.Send(Code::kLogin, std::string(900, 'a')));
    const auto reply = modest.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, Code::kLoginResult);
}

TEST_F(ServerTest, CloseAfterAnswersTheNthFrameThenCloses) {
    options_.closeAfter = 2;
    StartServer();
    TestClient client(Port());
    ASSERT_TRUE(client.SendBytes(PlainFrame(Code::kLogin, LoginPayload("ann", "pw")) +
                                 PlainFrame(Code::kStatusRequest, "") +
                                 PlainFrame(Code::kStatusRequest, "")));
    auto reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, Code::kLoginResult);
    reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, Code::kStatus);
    EXPECT_TRUE(client.SeesClose());

    // Counting is per connection.
    TestClient next(Port());
    ASSERT_TRUE(next.Send(Code::kStatusRequest, ""));
    ASSERT_TRUE(next.Receive().has_value());
    StopServer();
    EXPECT_EQ(TranscriptLines().size(), 3u);
}

TEST_F(ServerTest, CloseAfterZeroClosesOnAccept) {
    options_.closeAfter = 0;
    StartServer();
    TestClient client(Port());
    EXPECT_TRUE(client.SeesClose());
}

TEST_F(ServerTest, RepliesArePlainUnlessCompressionIsAsked) {
    for (const bool compress : {false, true}) {
        options_.compress = compress;
        StartServer();
        TestClient client(Port());
        ASSERT_TRUE(client.Send(Code::kTemplateRequest, "4"));
        ASSERT_TRUE(client.Send(Code::kLogin, LoginPayload("ann", "pw")));
        const auto big = client.Receive();
        const auto small = client.Receive();
        ASSERT_TRUE(big.has_value() && small.has_value());
        EXPECT_EQ(big->encoding, compress ? 2 : 1);
        EXPECT_EQ(simtest::DecodeBase64(GetLine(big->text, 4)), templates_.Find(4)->text);
        EXPECT_EQ(small->encoding, 1);
        EXPECT_EQ(small->text, "0\n");
        StopServer();
    }
}

TEST_F(ServerTest, EmptyRepliesUseTheEmptyEncoding) {
    settings_.hashesText = "";
    StartServer();
    TestClient client(Port());
    ASSERT_TRUE(client.Send(Code::kHashesRequest, ""));
    const auto reply = client.Receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->encoding, 0);
    EXPECT_EQ(reply->code, Code::kHashes);
    EXPECT_EQ(reply->text, "");
}

TEST_F(ServerTest, PipelinedListingStreamsThenServesTheRequestsThatFollowedIt) {
    GeneratorSpec spec;
    spec.jobs = 300;
    spec.nodes = 12;
    Farm generated = GenerateFarm(spec);
    farm_.jobs = generated.jobs;
    farm_.nodes = generated.nodes;
    farm_.statistics.totalBytesIn = 5000000001LL;
    StartServer();
    TestClient client(Port());
    // Sent before any of the listing arrives: served after it, in order.
    ASSERT_TRUE(client.Send(Code::kJobsRequest, "") && client.Send(Code::kStatusRequest, "") &&
                client.Send(Code::kStatisticsRequest, ""));
    std::vector<Frame> frames;
    EXPECT_EQ(ReceiveCodes(client, 304, &frames), Listing('F', 'D', 'E', 300) + "n\xC2");
    ASSERT_EQ(frames.size(), 304u);
    for (size_t i = 1; i <= 300; ++i)
        ASSERT_EQ(GetLine(frames[i].text, 14), std::to_string(farm_.jobs[i - 1].id));
    EXPECT_EQ(simtest::DecodeBase64(GetLine(frames[303].text, 1)),
              StatisticsText(farm_.statistics));

    // The acknowledgements come late, as a busy client sends them, and are only counted.
    std::string acks;
    for (int i = 0; i < 301; ++i)
        acks += PlainFrame(Code::kJobsAck, "");
    ASSERT_TRUE(client.SendBytes(acks + PlainFrame(Code::kNodesRequest, "")));
    EXPECT_EQ(ReceiveCodes(client, 14), Listing('N', 'K', 'L', 12));
    StopServer();
    const std::vector<std::string> lines = TranscriptLines();
    ASSERT_EQ(lines.size(), 3u + 301u + 1u);
    EXPECT_EQ(lines[0], "1 2E");
    EXPECT_EQ(lines[3], "1 2F");
    EXPECT_EQ(lines.back(), "1 30");
}

TEST_F(ServerTest, LockstepSendsEachFrameOnlyAfterTheAcknowledgement) {
    settings_.lockstep = true;
    for (long id : {4, 8}) {
        Job job;
        job.id = id;
        job.packetType = PacketType::kMultiframe;
        for (long c : {1, 2})
            job.chunks.push_back(Chunk{c, 1, 1, 1, 0, 0, "", "", 1, 0});
        farm_.jobs.push_back(job);
    }
    StartServer();
    TestClient client(Port());
    ASSERT_TRUE(client.Send(Code::kJobsRequest, ""));
    EXPECT_EQ(ReceiveCodes(client, 1), "F");
    EXPECT_TRUE(client.StaysQuiet(200));
    // Waits for the listing, which waits for the client.
    ASSERT_TRUE(client.Send(Code::kStatusRequest, ""));
    std::string sequence;
    for (int ack = 0; ack < 3; ++ack) {
        ASSERT_TRUE(client.Send(Code::kJobsAck, ""));
        std::vector<Frame> frames;
        sequence += ReceiveCodes(client, 1, &frames);
        if (ack < 2) {
            ASSERT_EQ(frames.size(), 1u);
            EXPECT_EQ(GetLine(frames[0].text, 14), std::to_string(farm_.jobs[ack].id));
            EXPECT_TRUE(client.StaysQuiet(50));
        }
    }
    EXPECT_EQ(sequence, "DDE");
    EXPECT_EQ(ReceiveCodes(client, 1), "n");

    // The chunks of job 8, acknowledged with the job and chunk ids.
    ASSERT_TRUE(client.Send(Code::kChunksRequest, "8\n"));
    EXPECT_EQ(ReceiveCodes(client, 1), "U");
    ASSERT_TRUE(client.Send(Code::kChunksAck, "8\n0\n"));
    EXPECT_EQ(ReceiveCodes(client, 1), "S");
    ASSERT_TRUE(client.Send(Code::kChunksAck, "8\n1\n"));
    EXPECT_EQ(ReceiveCodes(client, 1), "S");
    ASSERT_TRUE(client.Send(Code::kChunksAck, "8\n2\n"));
    EXPECT_EQ(ReceiveCodes(client, 1), "T");
}

TEST_F(ServerTest, CommandsThatAddOrRemoveJobsWaitForAJobsListingInProgress) {
    settings_.lockstep = true;
    for (long id : {4, 8}) {
        Job job;
        job.id = id;
        job.name = "job" + std::to_string(id);
        farm_.jobs.push_back(job);
    }
    StartServer();
    TestClient lister(Port());
    TestClient controller(Port());
    ASSERT_TRUE(lister.Send(Code::kJobsRequest, ""));
    EXPECT_EQ(ReceiveCodes(lister, 1), "F");
    // A rename applies at once; the deletion and the folder wait for the listing to end, and
    // the status asked after them waits with them.
    ASSERT_TRUE(controller.Send(Code::kJobRename, "8\nrenamed\n") &&
                controller.Send(Code::kJobDelete, "4\n") &&
                controller.Send(Code::kNewFolder, "-1\nShots\n100\n") &&
                controller.Send(Code::kStatusRequest, ""));
    EXPECT_TRUE(controller.StaysQuiet(200));
    std::vector<Frame> records;
    for (int ack = 0; ack < 3; ++ack) {
        ASSERT_TRUE(lister.Send(Code::kJobsAck, ""));
        ReceiveCodes(lister, 1, &records);
    }
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(GetLine(records[0].text, 14), "4");
    EXPECT_EQ(GetLine(records[1].text, 13), "renamed");
    std::vector<Frame> answers;
    EXPECT_EQ(ReceiveCodes(controller, 2, &answers), "\xAEn");
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].text, "9\n");
    EXPECT_EQ(GetLine(answers[1].text, 2), "1");  // job 8 alone; the folder is not a job

    StopServer();
    const std::vector<std::string> lines = TranscriptLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "2 77 8\\nrenamed\\n"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "2 80 -1\\nShots\\n100\\n"), lines.end());
}

TEST_F(ServerTest, AClientThatStopsReadingHoldsABoundedQueueAndOthersAreServed) {
    options_.streamTopUp = 64 * 1024;
    GeneratorSpec spec;
    spec.jobs = 40000;
    spec.nodes = 10;
    spec.chunksPerJob = 0;
    spec.logs = 0;
    farm_ = GenerateFarm(spec);
    size_t largest = 0;
    for (const Job& job : farm_.jobs)
        largest = std::max(largest, JobRecord(job).size());
    StartServer();

    // About 18 MB of records, far beyond what the sockets buffer.
    TestClient stalled(Port(), 16 * 1024);
    ASSERT_TRUE(stalled.Send(Code::kJobsRequest, ""));
    TestClient other(Port());
    ASSERT_TRUE(other.Send(Code::kStatusRequest, "") && other.Send(Code::kJobsRequest, ""));
    EXPECT_EQ(ReceiveCodes(other, 40003), "n" + Listing('F', 'D', 'E', 40000));
    EXPECT_LE(server_->PeakQueuedOutput(), options_.streamTopUp + largest + 6);

    // The stalled listing resumes where it stopped and arrives whole.
    EXPECT_EQ(ReceiveCodes(stalled, 40002), Listing('F', 'D', 'E', 40000));
    EXPECT_LE(server_->PeakQueuedOutput(), options_.streamTopUp + largest + 6);
}

TEST_F(ServerTest, CloseAfterSendsAPipelinedListingWholeFirst) {
    options_.closeAfter = 1;
    farm_.logs.resize(50);
    StartServer();
    TestClient client(Port());
    ASSERT_TRUE(client.Send(Code::kLogsRequest, ""));
    EXPECT_EQ(ReceiveCodes(client, 52), Listing('c', 'd', 'e', 50));
    EXPECT_TRUE(client.SeesClose());
}

TEST(ServerStart, RefusesAnAddressItCannotUse) {
    Farm farm;
    TemplateCatalogue templates;
    ProtocolSettings settings;
    ServerOptions options;
    options.bindAddress = "not-an-address";
    Server server(farm, templates, settings, options, nullptr, nullptr);
    std::string error;
    EXPECT_FALSE(server.Start(error));
    EXPECT_EQ(error, "cannot listen on not-an-address:0");

    ServerOptions first;
    Server taken(farm, templates, settings, first, nullptr, nullptr);
    ASSERT_TRUE(taken.Start(error)) << error;
    ServerOptions same;
    same.port = taken.Port();
    Server second(farm, templates, settings, same, nullptr, nullptr);
    EXPECT_FALSE(second.Start(error));
    EXPECT_NE(error.find("Address already in use"), std::string::npos) << error;
}

}  // namespace
