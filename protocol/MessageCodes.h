// The message codes of the Dispatcher conversation, shared by the writer and the reader of every
// message: the tool and the simulator both speak through these names and no others.
#ifndef ZDPROTOCOL_MESSAGECODES_H
#define ZDPROTOCOL_MESSAGECODES_H

namespace zdCode {

// Connection.
constexpr unsigned char kLogin = 0x20;
constexpr unsigned char kLoginResult = 0x68;
constexpr unsigned char kStatusRequest = 0x23;
constexpr unsigned char kStatus = 0x6E;  // also acknowledges kSelectionLogic and kStatisticsReset

// Dispatcher commands.
constexpr unsigned char kSelectionLogic = 0x24;
constexpr unsigned char kSoftRestart = 0xB7;
constexpr unsigned char kPasswordChange = 0xBE;
constexpr unsigned char kPasswordResult = 0xBF;
constexpr unsigned char kStatisticsReset = 0xC1;

// Node commands, payload "node\n"; the two job-wide ones take "job\n".
constexpr unsigned char kNodePause = 0x3A;
constexpr unsigned char kNodeResume = 0x3B;
constexpr unsigned char kNodeKillGoOn = 0x3C;
constexpr unsigned char kNodeKillPause = 0x3D;
constexpr unsigned char kNodeKillRedo = 0x3E;
constexpr unsigned char kNodeKillReinit = 0x3F;
constexpr unsigned char kNodeSoftRestart = 0xB5;
constexpr unsigned char kJobNodesKillPause = 0xB9;
constexpr unsigned char kJobNodesKillRedo = 0xBA;

// Job commands, payload "job\n" or "job\nargument\n"; pool and parent come before the job.
constexpr unsigned char kJobPause = 0x37;
constexpr unsigned char kJobResume = 0x38;
constexpr unsigned char kJobReinit = 0x39;
constexpr unsigned char kJobRename = 0x77;
constexpr unsigned char kJobPriority = 0x78;
constexpr unsigned char kJobPool = 0x36;
constexpr unsigned char kJobMaxNodes = 0x97;
constexpr unsigned char kJobDepend = 0x8F;
constexpr unsigned char kJobNotes = 0x81;
constexpr unsigned char kJobDelete = 0x35;
constexpr unsigned char kJobParent = 0x1F;
constexpr unsigned char kJobUnlock = 0xF0;
constexpr unsigned char kJobLock = 0xF1;
constexpr unsigned char kJobArchive = 0xFC;
constexpr unsigned char kJobUnarchive = 0xFD;
constexpr unsigned char kJobProject = 0x0B;
constexpr unsigned char kJobDepartment = 0x0A;

// Chunk commands, payload "job\nchunk\n".
constexpr unsigned char kChunkRequeue = 0x41;
constexpr unsigned char kChunkComplete = 0x42;

// Templates.
constexpr unsigned char kHashesRequest = 0xD1;
constexpr unsigned char kHashes = 0xD4;
constexpr unsigned char kTemplateRequest = 0xD2;
constexpr unsigned char kTemplate = 0xD3;

// Submissions and their answers.
constexpr unsigned char kNewJob = 0x34;
constexpr unsigned char kEditedJob = 0x76;
constexpr unsigned char kNewFolder = 0x80;
constexpr unsigned char kSubmitted = 0xAE;
constexpr unsigned char kRefused = 0x69;         // the record is malformed
constexpr unsigned char kRefusedContent = 0xAF;  // the record names what cannot be

// Listings: request, start, the client's acknowledgement, record, end.
constexpr unsigned char kJobsRequest = 0x2E;
constexpr unsigned char kJobsAck = 0x2F;
constexpr unsigned char kJobsStart = 0x46;
constexpr unsigned char kJobsRecord = 0x44;
constexpr unsigned char kJobsEnd = 0x45;
constexpr unsigned char kNodesRequest = 0x30;
constexpr unsigned char kNodesAck = 0x31;
constexpr unsigned char kNodesStart = 0x4E;
constexpr unsigned char kNodesRecord = 0x4B;
constexpr unsigned char kNodesEnd = 0x4C;
constexpr unsigned char kLogsRequest = 0x25;
constexpr unsigned char kLogsAck = 0x26;
constexpr unsigned char kLogsStart = 0x63;
constexpr unsigned char kLogsRecord = 0x64;
constexpr unsigned char kLogsEnd = 0x65;
constexpr unsigned char kPoolsRequest = 0x2C;
constexpr unsigned char kPoolsAck = 0x2D;
constexpr unsigned char kPoolsStart = 0x5A;
constexpr unsigned char kPoolsRecord = 0x5B;
constexpr unsigned char kPoolsEnd = 0x5C;
constexpr unsigned char kChunksRequest = 0x32;
constexpr unsigned char kChunksAck = 0x33;
constexpr unsigned char kChunksStart = 0x55;
constexpr unsigned char kChunksRecord = 0x53;
constexpr unsigned char kChunksEnd = 0x54;

// Statistics.
constexpr unsigned char kStatisticsRequest = 0xC0;
constexpr unsigned char kStatistics = 0xC2;

// The five codes of one listing conversation.
struct Listing {
    unsigned char request;
    unsigned char start;
    unsigned char ack;  // the client's reply to the start and to each record
    unsigned char record;
    unsigned char end;
    const char* name;
};

constexpr Listing kJobsListing{kJobsRequest, kJobsStart, kJobsAck, kJobsRecord, kJobsEnd, "jobs"};
constexpr Listing kNodesListing{kNodesRequest, kNodesStart, kNodesAck,
                                kNodesRecord,  kNodesEnd,   "nodes"};
constexpr Listing kLogsListing{kLogsRequest, kLogsStart, kLogsAck, kLogsRecord, kLogsEnd, "logs"};
constexpr Listing kPoolsListing{kPoolsRequest, kPoolsStart, kPoolsAck,
                                kPoolsRecord,  kPoolsEnd,   "pools"};
constexpr Listing kChunksListing{kChunksRequest, kChunksStart, kChunksAck,
                                 kChunksRecord,  kChunksEnd,   "chunks"};

}  // namespace zdCode

#endif
