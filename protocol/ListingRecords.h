// The records of the listings (jobs, nodes, chunks, pool rows, logs) and the property groups of a
// job's attribute block: their line positions, and for each kind its writer beside its reader.
// The Dispatcher writes them, the tool reads them.
#ifndef ZDPROTOCOL_LISTINGRECORDS_H
#define ZDPROTOCOL_LISTINGRECORDS_H

#include <string>
#include <string_view>

namespace zdProtocol {

// Line positions, counted from 1.
namespace JobLine {
enum : int {
    kSubmitTime = 1,
    kPacketType,
    kEngine,
    kPriority,
    kMaxNodes,
    kWorkingNodes,
    kPaused,
    kEndTime,
    kStartTime,
    kStatus,
    kProgress,
    kSubmitter,
    kName,
    kId,
    kPacketSize,
    kPool,
    kSkipErrors,
    kParent,
    kType,
    kDepend,
    kRequeued,
    // 22-31: what a Dispatcher also tells of a job; the tool does not read them.
    kChunkCount,
    kChunksDone,
    kChunksSent,
    kChunkRequeues,
    kMaxInstances,
    kChunkTimeout,
    kNotes,
    kMail,
    kLastChange,
    kReserved,
    kLocked,
    kArchived,
    kAttributes,  // Base64 of the property groups
    kGroup,
    kDepartment,
    kCount = kDepartment,
};
}  // namespace JobLine

namespace NodeLine {
enum : int {
    kChunkId = 1,
    kId,
    kOs,
    kName,
    kProcessors,
    kIp,
    kRenderStatus,
    kCpuUsage,
    kRamUsage,
    kProcessPriority,
    kJobId,
    kStatus,
    kScheduledPause,
    kJobName,
    kChunkFrames,
    kChunkRange,
    kLogPath,
    kSupportMask,
    kVersion,
    kRealtimeLog,
    kPriority,
    kPools,      // not read by the tool
    kConnected,  // not read by the tool
    kNotes,
    kCount = kNotes,
};
}  // namespace NodeLine

namespace ChunkLine {
enum : int {
    kJobId = 1,  // not read by the tool
    kId,
    kStartFrame,
    kEndFrame,
    kStartTime,
    kEndTime,
    kRenderBy,
    kResult,
    kStatus,
    kPacketType,  // not read by the tool
    kPacketSize,  // not read by the tool
    kByFrame,
    kRequeued,
    kCount = kRequeued,
};
}  // namespace ChunkLine

// A pool row stands for the pool itself when its address is empty, else for one member node.
namespace PoolLine {
enum : int { kPool = 1, kNode, kIp, kExtra, kCount = kExtra };
}  // namespace PoolLine

namespace LogLine {
enum : int { kType = 1, kTime, kEntry, kIp, kHost, kUser, kCount = kUser };
}  // namespace LogLine

}  // namespace zdProtocol

// The records as the tool reads them. Texts are views into the payload they were read from.
struct jobentry {
    long subtm = 0;
    long endtm = 0;
    long starttm = 0;
    long id = 0;
    long parent = 0;
    int pktype = 0;
    int engine = 0;
    int priority = 0;
    int maxcpu = 0;
    int workingcpu = 0;
    int status = 0;
    int progress = 0;
    int pksize = 0;
    int type = 0;  // 0 job, 1 folder
    int requeued = 0;
    bool paused = false;
    bool skiperror = false;
    bool locked = false;
    bool archived = false;
    std::string_view submitter, name, pool, depend, group, department;
    std::string_view attributeBlock;  // Base64 of the property groups
};

struct cpuentry {
    long chunkid = 0;
    long id = 0;
    long jobid = 0;
    int os = 0;
    int ppriority = 0;
    int status = 0;
    int tpause = 0;
    int version = 0;
    int rtlog = 0;
    int priority = 0;
    std::string_view name, num, ip, sst, cpuusage, ramusage, jobname, chunknamef, chunkname,
        logpath, supmask, notes;
};

struct chunkentry {
    long id = 0;
    long st = 0;
    long et = 0;
    float sf = 0;
    float ef = 0;
    float bf = 0;
    int status = 0;
    int requeued = 0;
    std::string_view renderby, result;
    long elapsed() const { return et - st; }
};

struct poolentry {
    std::string_view parent, name, ip, extra;
};

struct logentry {
    int type = 0;
    std::string_view time, entry, ip, host, user;
};

namespace zdProtocol {

// What a Dispatcher writes on the lines the tool does not read.
struct JobExtras {
    long long chunkCount = 0, chunksDone = 0, chunksSent = 0, chunkRequeues = 0;
    long long maxInstances = 0, chunkTimeout = 0, lastChange = 0;
    std::string_view notes, mail;
};
struct NodeExtras {
    std::string_view pools;
    bool connected = false;
};
// The frames as the Dispatcher holds them, written exactly; the tool reads them into floats.
struct ChunkExtras {
    long long jobId = 0, packetType = 0, packetSize = 0;
    double startFrame = 0, endFrame = 0;
    long long byFrame = 0;
};

// Writers: append one record. `job.attributeBlock` holds the property groups before Base64.
void AppendJobRecord(std::string& out, const jobentry& job, const JobExtras& extras);
void AppendNodeRecord(std::string& out, const cpuentry& node, const NodeExtras& extras);
void AppendChunkRecord(std::string& out, const chunkentry& chunk, const ChunkExtras& extras);
void AppendPoolRecord(std::string& out, const poolentry& row);
void AppendLogRecord(std::string& out, const logentry& log);

// Readers: one pass over the lines; missing lines read as 0 or empty. Numbers follow the C
// library's rules. The views point into `payload`.
void ParseJobRecord(std::string_view payload, jobentry& job);
void ParseNodeRecord(std::string_view payload, cpuentry& node);
void ParseChunkRecord(std::string_view payload, chunkentry& chunk);
void ParsePoolRecord(std::string_view payload, poolentry& row);
void ParseLogRecord(std::string_view payload, logentry& log);

// Property groups, the text inside a job's attribute block and a submission's properties block:
// four lines per property (name, value, specified flag, path substitution flag).
// kOneLine turns line breaks and NULs into spaces; kAsGiven is how clients have always written
// their submissions' properties.
enum class TextRule { kOneLine, kAsGiven };
void AppendPropertyGroup(std::string& out, std::string_view name, std::string_view value,
                         bool specified, bool pathSubstitution, TextRule rule = TextRule::kOneLine);
// Calls visit(name, value, specifiedLine, pathSubstitutionLine) per group in order, up to the
// first empty name or the end of the text; missing lines are empty.
template <typename Visit>
void ForEachPropertyGroup(std::string_view text, Visit&& visit);

// ---- implementation of the template above ----

template <typename Visit>
void ForEachPropertyGroup(std::string_view text, Visit&& visit) {
    auto next = [&text](std::string_view& line) {
        if (text.empty()) {
            line = std::string_view();
            return false;
        }
        const size_t end = text.find('\n');
        line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        return true;
    };
    std::string_view name, value, specified, substitution;
    while (next(name) && !name.empty()) {
        next(value);
        next(specified);
        next(substitution);
        visit(name, value, specified, substitution);
    }
}

}  // namespace zdProtocol

#endif
