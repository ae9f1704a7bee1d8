// The listing conversations without sockets: the codes of each listing, the frame sequences
// pipelined and lockstep, the checking of acknowledgements and streaming in bounded batches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Listings.h"
#include "Records.h"
#include "SimTestSupport.h"
#include "ZRSocket.h"
#include "ZRStringHelper.h"

namespace {

using namespace zdsim;
using ZRFramework::ZRStringHelper::GetLine;

struct Frame {
    unsigned char encoding;
    char code;
    std::string text;
};

// Splits whole frames; anything left over fails the test.
std::vector<Frame> Split(const std::string& bytes) {
    std::vector<Frame> frames;
    size_t at = 0;
    while (at < bytes.size()) {
        uint64_t size = 0;
        const char* data = bytes.data() + at;
        if (ZRFramework::ZRSocket::ScanFrame(data, bytes.size() - at, &size) !=
            ZRFramework::ZRSocket::FrameStatus::kComplete) {
            ADD_FAILURE() << "incomplete or malformed frame at byte " << at;
            break;
        }
        uint64_t length = 0;
        char* message = ZRFramework::ZRSocket::DecodeFrame(data, size, UINT32_MAX, &length);
        if (message == nullptr) {
            ADD_FAILURE() << "frame does not decode at byte " << at;
            break;
        }
        frames.push_back(
            {static_cast<unsigned char>(data[0]), message[0], std::string(message + 1, length)});
        ZRFramework::ZRSocket::destroyEncodedMessage(message);
        at += size;
    }
    return frames;
}

std::string Codes(const std::vector<Frame>& frames) {
    std::string codes;
    for (const Frame& f : frames)
        codes += f.code;
    return codes;
}

// All the frames that may go now.
std::vector<Frame> Drain(ListingConversation& listing, bool compress = false) {
    std::string out;
    listing.Produce(out, SIZE_MAX, compress);
    return Split(out);
}

class ListingsTest : public testing::Test {
protected:
    ListingsTest() {
        for (long id : {3, 5, 9}) {
            Job job;
            job.id = id;
            job.name = "job" + std::to_string(id);
            farm_.jobs.push_back(job);
        }
        farm_.jobs[1].packetType = PacketType::kSingleHost;
        for (long c : {1, 2, 4}) {
            Chunk chunk;
            chunk.id = c;
            farm_.jobs[0].chunks.push_back(chunk);
        }
        for (const char* name : {"a", "b"}) {
            Node node;
            node.id = name[0] == 'a' ? 1 : 2;
            node.name = name;
            node.ip = std::string("10.0.0.") + name;
            farm_.nodes.push_back(node);
        }
        farm_.pools = {{"p1", {"a", "b"}}, {"empty", {}}, {"p2", {"b"}}};
        farm_.logs.resize(4);
    }

    ListingConversation Make(ListingKind kind, bool lockstep, const std::string& payload = "") {
        return ListingConversation(kind, payload, cache_, farm_, lockstep);
    }

    Farm farm_;
    RecordCache cache_{farm_};
};

TEST_F(ListingsTest, EachListingHasItsCodes) {
    struct Row {
        ListingKind kind;
        const char* codes;  // request, start, ack, record, end
    };
    const Row rows[] = {{ListingKind::kJobs, ".F/DE"},
                        {ListingKind::kNodes, "0N1KL"},
                        {ListingKind::kLogs, "%c&de"},
                        {ListingKind::kPools, ",Z-[\\"},
                        {ListingKind::kChunks, "2U3ST"}};
    for (const Row& row : rows) {
        const ListingCodes& c = CodesOf(row.kind);
        EXPECT_EQ(
            std::string({char(c.request), char(c.start), char(c.ack), char(c.record), char(c.end)}),
            row.codes);
        EXPECT_EQ(ListingRequested(c.request), row.kind);
        EXPECT_TRUE(IsListingAcknowledgement(c.ack));
    }
    EXPECT_FALSE(ListingRequested(0x23).has_value());
    EXPECT_FALSE(IsListingAcknowledgement(0x23));
}

TEST_F(ListingsTest, PipelinedSendsEverythingAtOnceAndCountsAcknowledgements) {
    const struct {
        ListingKind kind;
        std::string payload;
        std::string codes;
    } cases[] = {
        {ListingKind::kJobs, "", "FDDDE"},
        {ListingKind::kNodes, "", "NKKL"},
        {ListingKind::kLogs, "", "cdddde"},
        {ListingKind::kPools, "", "Z[[[[[[\\"},  // p1, a, b, empty, p2, b
        {ListingKind::kChunks, "3\n", "USSST"},
    };
    for (const auto& c : cases) {
        ListingConversation listing = Make(c.kind, false, c.payload);
        const std::vector<Frame> frames = Drain(listing);
        EXPECT_EQ(Codes(frames), c.codes);
        EXPECT_TRUE(listing.Sent());
        EXPECT_FALSE(listing.WaitingForAck());
        // Start and end carry no text; encoding 0 says so.
        EXPECT_EQ(frames.front().encoding, 0);
        EXPECT_EQ(frames.back().encoding, 0);
        EXPECT_EQ(listing.AcksExpected(), c.codes.size() - 1);
        for (size_t i = 0; i < listing.AcksExpected(); ++i)
            EXPECT_TRUE(listing.Acknowledge(listing.ExpectedAck(i)));
        EXPECT_EQ(listing.AcksUnexpected(), 0u);
        EXPECT_FALSE(listing.Acknowledge(listing.ExpectedAck(0)));  // one too many
        EXPECT_EQ(listing.AcksUnexpected(), 1u);
    }
}

TEST_F(ListingsTest, LockstepReleasesOneFramePerAcknowledgement) {
    ListingConversation listing = Make(ListingKind::kJobs, true);
    EXPECT_EQ(Codes(Drain(listing)), "F");
    EXPECT_TRUE(listing.WaitingForAck());
    EXPECT_EQ(Codes(Drain(listing)), "");  // nothing more until the start is acknowledged
    std::string sequence;
    for (int ack = 0; ack < 4; ++ack) {
        ASSERT_TRUE(listing.Acknowledge(""));
        const std::vector<Frame> frames = Drain(listing);
        ASSERT_EQ(frames.size(), 1u) << "after acknowledgement " << ack;
        sequence += frames[0].code;
        if (frames[0].code == 'D') {
            EXPECT_EQ(GetLine(frames[0].text, 14), std::to_string(farm_.jobs[ack].id));
        }
    }
    EXPECT_EQ(sequence, "DDDE");
    EXPECT_TRUE(listing.Sent());
    EXPECT_FALSE(listing.WaitingForAck());
}

TEST_F(ListingsTest, ChunkAcknowledgementsAreCheckedAgainstTheJobAndChunkIds) {
    ListingConversation listing = Make(ListingKind::kChunks, true, "3\n");
    EXPECT_EQ(listing.JobId(), 3);
    EXPECT_EQ(Codes(Drain(listing)), "U");
    EXPECT_EQ(listing.ExpectedAck(0), "3\n0\n");
    EXPECT_TRUE(listing.Acknowledge("3\n0\n"));
    const std::vector<Frame> first = Drain(listing);
    ASSERT_EQ(Codes(first), "S");
    EXPECT_EQ(GetLine(first[0].text, 2), "1");
    EXPECT_EQ(listing.ExpectedAck(1), "3\n1\n");
    // A wrong acknowledgement is counted, and still moves a lockstep listing on.
    EXPECT_FALSE(listing.Acknowledge("3\n7\n"));
    EXPECT_EQ(listing.AcksUnexpected(), 1u);
    const std::vector<Frame> second = Drain(listing);
    ASSERT_EQ(Codes(second), "S");
    EXPECT_EQ(GetLine(second[0].text, 2), "2");
    EXPECT_TRUE(listing.Acknowledge("3\n2\n"));
    EXPECT_EQ(listing.ExpectedAck(3), "3\n4\n");
}

TEST_F(ListingsTest, ChunksOfAJobWithoutChunksOrOfNoJobAreAnEmptyListing) {
    for (const char* payload : {"5\n", "77\n", "x\n", ""}) {
        ListingConversation listing = Make(ListingKind::kChunks, false, payload);
        EXPECT_EQ(Codes(Drain(listing)), "UT") << payload;
    }
}

TEST_F(ListingsTest, PoolRowsComeInPoolOrderWithTheirMembers) {
    ListingConversation listing = Make(ListingKind::kPools, false);
    std::vector<std::string> rows;
    for (const Frame& frame : Drain(listing))
        if (frame.code == '[')
            rows.push_back(GetLine(frame.text, 1) + "|" + GetLine(frame.text, 2) + "|" +
                           GetLine(frame.text, 3));
    EXPECT_EQ(rows, (std::vector<std::string>{"p1||", "p1|a|10.0.0.a", "p1|b|10.0.0.b", "empty||",
                                              "p2||", "p2|b|10.0.0.b"}));
}

TEST_F(ListingsTest, NodeRecordsNameTheirPools) {
    ListingConversation listing = Make(ListingKind::kNodes, false);
    const std::vector<Frame> frames = Drain(listing);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(GetLine(frames[1].text, 22), "p1");
    EXPECT_EQ(GetLine(frames[2].text, 22), "p1,p2");
}

TEST_F(ListingsTest, ABudgetStreamsWholeFramesInBatches) {
    GeneratorSpec spec;
    spec.jobs = 500;
    spec.nodes = 20;
    farm_ = GenerateFarm(spec);
    cache_.Clear();
    ListingConversation listing = Make(ListingKind::kJobs, false);
    std::string all;
    size_t batches = 0;
    while (!listing.Sent()) {
        std::string batch;
        ASSERT_GT(listing.Produce(batch, 8192, false), 0u);
        // Over the budget by less than one record at most.
        EXPECT_LT(batch.size(), 8192u + 4096u);
        all += batch;
        ++batches;
    }
    EXPECT_GT(batches, 10u);
    const std::vector<Frame> frames = Split(all);
    ASSERT_EQ(frames.size(), 502u);
    for (size_t i = 1; i <= 500; ++i)
        EXPECT_EQ(frames[i].text, JobRecord(farm_.jobs[i - 1])) << i;
}

TEST_F(ListingsTest, CompressedFramesDecodeToTheSameRecords) {
    ListingConversation plain = Make(ListingKind::kJobs, false);
    ListingConversation packed = Make(ListingKind::kJobs, false);
    const std::vector<Frame> a = Drain(plain);
    const std::vector<Frame> b = Drain(packed, true);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(b[1].encoding, 2);
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(a[i].text, b[i].text);
}

TEST_F(ListingsTest, TheCacheRendersOnceAndForgetsOnClear) {
    const std::string* first = &cache_.JobText(1);
    EXPECT_EQ(*first, JobRecord(farm_.jobs[1]));
    EXPECT_EQ(&cache_.JobText(1), first);
    EXPECT_EQ(cache_.JobById(9), &farm_.jobs[2]);
    EXPECT_EQ(cache_.JobById(4), nullptr);
    EXPECT_EQ(cache_.NodeByName("b"), &farm_.nodes[1]);
    farm_.jobs[1].name = "renamed";
    cache_.Clear();
    EXPECT_EQ(GetLine(cache_.JobText(1), 13), "renamed");
}

}  // namespace
