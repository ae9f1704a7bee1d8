// The message catalogue against the byte values the Dispatcher expects, and the listing code sets.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "MessageCodes.h"

namespace {

TEST(MessageCodes, EveryCodeHasItsWireByte) {
    struct Expected {
        unsigned char code;
        unsigned char wire;
        const char* name;
    };
    const Expected table[] = {
        {zdCode::kLogin, 0x20, "login"},
        {zdCode::kLoginResult, 0x68, "login result"},
        {zdCode::kStatusRequest, 0x23, "status request"},
        {zdCode::kStatus, 0x6E, "status"},
        {zdCode::kSelectionLogic, 0x24, "selection logic"},
        {zdCode::kSoftRestart, 0xB7, "soft restart"},
        {zdCode::kPasswordChange, 0xBE, "password change"},
        {zdCode::kPasswordResult, 0xBF, "password result"},
        {zdCode::kStatisticsReset, 0xC1, "statistics reset"},
        {zdCode::kNodePause, 0x3A, "node pause"},
        {zdCode::kNodeResume, 0x3B, "node resume"},
        {zdCode::kNodeKillGoOn, 0x3C, "node kill and go on"},
        {zdCode::kNodeKillPause, 0x3D, "node kill and pause"},
        {zdCode::kNodeKillRedo, 0x3E, "node kill and redo"},
        {zdCode::kNodeKillReinit, 0x3F, "node kill and reinit"},
        {zdCode::kNodeSoftRestart, 0xB5, "node soft restart"},
        {zdCode::kJobNodesKillPause, 0xB9, "job nodes kill and pause"},
        {zdCode::kJobNodesKillRedo, 0xBA, "job nodes kill and redo"},
        {zdCode::kJobPause, 0x37, "job pause"},
        {zdCode::kJobResume, 0x38, "job resume"},
        {zdCode::kJobReinit, 0x39, "job reinit"},
        {zdCode::kJobRename, 0x77, "job rename"},
        {zdCode::kJobPriority, 0x78, "job priority"},
        {zdCode::kJobPool, 0x36, "job pool"},
        {zdCode::kJobMaxNodes, 0x97, "job max nodes"},
        {zdCode::kJobDepend, 0x8F, "job depend"},
        {zdCode::kJobNotes, 0x81, "job notes"},
        {zdCode::kJobDelete, 0x35, "job delete"},
        {zdCode::kJobParent, 0x1F, "job parent"},
        {zdCode::kJobUnlock, 0xF0, "job unlock"},
        {zdCode::kJobLock, 0xF1, "job lock"},
        {zdCode::kJobArchive, 0xFC, "job archive"},
        {zdCode::kJobUnarchive, 0xFD, "job unarchive"},
        {zdCode::kJobProject, 0x0B, "job project"},
        {zdCode::kJobDepartment, 0x0A, "job department"},
        {zdCode::kChunkRequeue, 0x41, "chunk requeue"},
        {zdCode::kChunkComplete, 0x42, "chunk complete"},
        {zdCode::kHashesRequest, 0xD1, "hashes request"},
        {zdCode::kHashes, 0xD4, "hashes"},
        {zdCode::kTemplateRequest, 0xD2, "template request"},
        {zdCode::kTemplate, 0xD3, "template"},
        {zdCode::kNewJob, 0x34, "new job"},
        {zdCode::kEditedJob, 0x76, "edited job"},
        {zdCode::kNewFolder, 0x80, "new folder"},
        {zdCode::kSubmitted, 0xAE, "submitted"},
        {zdCode::kRefused, 0x69, "refused"},
        {zdCode::kRefusedContent, 0xAF, "refused content"},
        {zdCode::kJobsRequest, 0x2E, "jobs request"},
        {zdCode::kJobsAck, 0x2F, "jobs ack"},
        {zdCode::kJobsStart, 0x46, "jobs start"},
        {zdCode::kJobsRecord, 0x44, "jobs record"},
        {zdCode::kJobsEnd, 0x45, "jobs end"},
        {zdCode::kNodesRequest, 0x30, "nodes request"},
        {zdCode::kNodesAck, 0x31, "nodes ack"},
        {zdCode::kNodesStart, 0x4E, "nodes start"},
        {zdCode::kNodesRecord, 0x4B, "nodes record"},
        {zdCode::kNodesEnd, 0x4C, "nodes end"},
        {zdCode::kLogsRequest, 0x25, "logs request"},
        {zdCode::kLogsAck, 0x26, "logs ack"},
        {zdCode::kLogsStart, 0x63, "logs start"},
        {zdCode::kLogsRecord, 0x64, "logs record"},
        {zdCode::kLogsEnd, 0x65, "logs end"},
        {zdCode::kPoolsRequest, 0x2C, "pools request"},
        {zdCode::kPoolsAck, 0x2D, "pools ack"},
        {zdCode::kPoolsStart, 0x5A, "pools start"},
        {zdCode::kPoolsRecord, 0x5B, "pools record"},
        {zdCode::kPoolsEnd, 0x5C, "pools end"},
        {zdCode::kChunksRequest, 0x32, "chunks request"},
        {zdCode::kChunksAck, 0x33, "chunks ack"},
        {zdCode::kChunksStart, 0x55, "chunks start"},
        {zdCode::kChunksRecord, 0x53, "chunks record"},
        {zdCode::kChunksEnd, 0x54, "chunks end"},
        {zdCode::kStatisticsRequest, 0xC0, "statistics request"},
        {zdCode::kStatistics, 0xC2, "statistics"},
    };
    std::set<unsigned char> seen;
    for (const Expected& e : table) {
        EXPECT_EQ(int(e.code), int(e.wire)) << e.name;
        // kStatus is the one code that answers several requests; no two names share a byte.
        EXPECT_TRUE(seen.insert(e.code).second) << e.name << " shares its byte";
    }
}

TEST(MessageCodes, ListingSetsAreDistinctAndConsistent) {
    const zdCode::Listing listings[] = {zdCode::kJobsListing, zdCode::kNodesListing,
                                        zdCode::kLogsListing, zdCode::kPoolsListing,
                                        zdCode::kChunksListing};
    const zdCode::Listing expected[] = {
        {zdCode::kJobsRequest, zdCode::kJobsStart, zdCode::kJobsAck, zdCode::kJobsRecord,
         zdCode::kJobsEnd, "jobs"},
        {zdCode::kNodesRequest, zdCode::kNodesStart, zdCode::kNodesAck, zdCode::kNodesRecord,
         zdCode::kNodesEnd, "nodes"},
        {zdCode::kLogsRequest, zdCode::kLogsStart, zdCode::kLogsAck, zdCode::kLogsRecord,
         zdCode::kLogsEnd, "logs"},
        {zdCode::kPoolsRequest, zdCode::kPoolsStart, zdCode::kPoolsAck, zdCode::kPoolsRecord,
         zdCode::kPoolsEnd, "pools"},
        {zdCode::kChunksRequest, zdCode::kChunksStart, zdCode::kChunksAck, zdCode::kChunksRecord,
         zdCode::kChunksEnd, "chunks"},
    };
    std::set<unsigned char> all;
    std::set<std::string> names;
    for (size_t i = 0; i < 5; ++i) {
        const zdCode::Listing& l = listings[i];
        const zdCode::Listing& e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_STREQ(l.name, e.name);
        EXPECT_EQ(l.request, e.request);
        EXPECT_EQ(l.start, e.start);
        EXPECT_EQ(l.ack, e.ack);
        EXPECT_EQ(l.record, e.record);
        EXPECT_EQ(l.end, e.end);
        // The client's acknowledgement follows its request; the Dispatcher's three codes differ.
        EXPECT_EQ(l.ack, l.request + 1);
        for (unsigned char code : {l.request, l.start, l.ack, l.record, l.end})
            EXPECT_TRUE(all.insert(code).second) << int(code) << " is used twice";
        EXPECT_TRUE(names.insert(l.name).second);
    }
    EXPECT_EQ(all.size(), 25u);
}

}  // namespace
