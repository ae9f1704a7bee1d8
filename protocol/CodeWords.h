// The farm's code sets (job types and statuses, packet types, node systems and statuses, chunk
// statuses, log types) and the word the tool prints for each code: one table per set, read by the
// tool's columns and by the simulator's farm model.
#ifndef ZDPROTOCOL_CODEWORDS_H
#define ZDPROTOCOL_CODEWORDS_H

#include <cstddef>
#include <string_view>

namespace JobType {
constexpr int kJob = 0;
constexpr int kFolder = 1;
}  // namespace JobType
namespace JobStatus {
constexpr int kOnQueue = 1;
constexpr int kStarted = 2;
constexpr int kStartedWithWarnings = 4;
constexpr int kPreJobAction = 8;
constexpr int kPostJobAction = 16;
constexpr int kPreJobActionPending = 32;
constexpr int kPostJobActionPending = 64;
constexpr int kCompleted = 128;
constexpr int kCompletedWithWarnings = 256;
}  // namespace JobStatus
namespace PacketType {
constexpr int kMultiframe = 1;
constexpr int kSingleHost = 2;
constexpr int kBroadcast = 4;
constexpr int kImageSlicing = 8;
}  // namespace PacketType
namespace NodeStatus {
constexpr int kIdle = 1;
constexpr int kPaused = 2;
constexpr int kCompleted = 4;
constexpr int kInProgress = 8;
constexpr int kStarting = 16;
constexpr int kPreChunk = 32;
constexpr int kPostChunk = 4096;
constexpr int kStreamingTemplates = 8192;
constexpr int kKilled = 16384;
constexpr int kUnavailableByTimetable = 65536;
constexpr int kLogged = 131072;
constexpr int kOffline = 262144;
}  // namespace NodeStatus
namespace NodeOs {
constexpr int kWindows = 1;
constexpr int kLinux = 2;
constexpr int kOsX = 4;
}  // namespace NodeOs
namespace ChunkStatus {
constexpr int kOnHold = 1;
constexpr int kSent = 2;
constexpr int kCompleted = 4;
constexpr int kCompletedWithWarnings = 8;
}  // namespace ChunkStatus
namespace LogType {
constexpr int kSystem = 1;
constexpr int kUser = 2;
constexpr int kClient = 4;
constexpr int kError = 8;
}  // namespace LogType

namespace zdProtocol {

struct CodeWord {
    int code;
    const char* word;
};

// One code set: its words, and the word of every code it does not list.
struct CodeSet {
    const CodeWord* words;
    size_t count;
    const char* other;

    std::string_view WordOf(int code) const {
        for (size_t i = 0; i < count; ++i)
            if (words[i].code == code) return words[i].word;
        return other;
    }
    const CodeWord* begin() const { return words; }
    const CodeWord* end() const { return words + count; }
};

extern const CodeSet kJobTypes;
extern const CodeSet kPacketTypes;
extern const CodeSet kJobStatuses;
extern const CodeSet kNodeSystems;
extern const CodeSet kNodeStatuses;
extern const CodeSet kChunkStatuses;
extern const CodeSet kLogTypes;

}  // namespace zdProtocol

#endif
