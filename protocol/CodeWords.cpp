// The words of the farm's codes.
#include "CodeWords.h"

namespace zdProtocol {

namespace {

template <size_t N>
constexpr CodeSet SetOf(const CodeWord (&words)[N], const char* other) {
    return {words, N, other};
}

const CodeWord kJobTypeWords[] = {{JobType::kJob, "Job"}, {JobType::kFolder, "Folder"}};

const CodeWord kPacketTypeWords[] = {
    {PacketType::kMultiframe, "Multiframe"},
    {PacketType::kSingleHost, "Single host"},
    {PacketType::kBroadcast, "Broadcast"},
    {PacketType::kImageSlicing, "Image slicing"},
};

const CodeWord kJobStatusWords[] = {
    {JobStatus::kOnQueue, "On Queue"},
    {JobStatus::kStarted, "Started"},
    {JobStatus::kStartedWithWarnings, "Started(W)"},
    {JobStatus::kPreJobAction, "Pre-job Action"},
    {JobStatus::kPostJobAction, "Post-job Action"},
    {JobStatus::kPreJobActionPending, "Pre-job Action pending"},
    {JobStatus::kPostJobActionPending, "Post-job Action pending"},
    {JobStatus::kCompleted, "Completed"},
    {JobStatus::kCompletedWithWarnings, "Completed(W)"},
};

const CodeWord kNodeSystemWords[] = {
    {NodeOs::kWindows, "Windows"},
    {NodeOs::kLinux, "Linux"},
    {NodeOs::kOsX, "OS X"},
};

const CodeWord kNodeStatusWords[] = {
    {NodeStatus::kIdle, "Idle"},
    {NodeStatus::kPaused, "Paused"},
    {NodeStatus::kCompleted, "Completed"},
    {NodeStatus::kInProgress, "In progress"},
    {NodeStatus::kStarting, "Starting"},
    {NodeStatus::kPreChunk, "Pre chunk"},
    {NodeStatus::kPostChunk, "Post chunk"},
    {NodeStatus::kStreamingTemplates, "Streaming templates"},
    {NodeStatus::kKilled, "Killed"},
    {NodeStatus::kUnavailableByTimetable, "Unavailable by timetable"},
    {NodeStatus::kLogged, "Logged"},
    {NodeStatus::kOffline, "Offline"},
};

const CodeWord kChunkStatusWords[] = {
    {ChunkStatus::kOnHold, "On Hold"},
    {ChunkStatus::kSent, "Sent"},
    {ChunkStatus::kCompleted, "Completed"},
    {ChunkStatus::kCompletedWithWarnings, "Completed(W)"},
};

const CodeWord kLogTypeWords[] = {
    {LogType::kSystem, "System"},
    {LogType::kUser, "User"},
    {LogType::kClient, "Client"},
    {LogType::kError, "Error"},
};

}  // namespace

const CodeSet kJobTypes = SetOf(kJobTypeWords, "Invalid");
const CodeSet kPacketTypes = SetOf(kPacketTypeWords, "");
const CodeSet kJobStatuses = SetOf(kJobStatusWords, "Invalid");
const CodeSet kNodeSystems = SetOf(kNodeSystemWords, "Invalid");
const CodeSet kNodeStatuses = SetOf(kNodeStatusWords, "Invalid");
const CodeSet kChunkStatuses = SetOf(kChunkStatusWords, "UNDEFINED");
const CodeSet kLogTypes = SetOf(kLogTypeWords, "Invalid");

}  // namespace zdProtocol
