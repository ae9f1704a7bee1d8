// The farm's objects as listing records and statistics text, written with the protocol's
// writers so that the tool reads exactly what is written here.
#include "Records.h"

#include <algorithm>
#include <charconv>

#include "ListingRecords.h"
#include "Payloads.h"

namespace zdsim {

std::string FrameText(double frame) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, frame);
    return std::string(text, result.ptr);
}

std::string AttributeBlock(const Job& job) {
    std::string block;
    job.attributes.ForEach(
        [&block](std::string_view name, std::string_view value, bool specified, bool paths) {
            zdProtocol::AppendPropertyGroup(block, name, value, specified, paths);
        });
    return block;
}

void AppendJobRecord(std::string& out, const Job& job) {
    zdProtocol::JobExtras extras;
    for (const Chunk& chunk : job.chunks) {
        extras.chunksDone += chunk.status == ChunkStatus::kCompleted ||
                             chunk.status == ChunkStatus::kCompletedWithWarnings;
        extras.chunksSent += chunk.status == ChunkStatus::kSent;
        extras.chunkRequeues += chunk.requeued;
    }
    extras.chunkCount = static_cast<long long>(job.chunks.size());
    extras.maxInstances = job.maxInstances;
    extras.chunkTimeout = job.chunkTimeout;
    extras.notes = job.notes;
    extras.mail = job.mail;
    extras.lastChange = std::max({job.submitTime, job.startTime, job.endTime});

    const std::string block = AttributeBlock(job);
    jobentry record;
    record.subtm = job.submitTime;
    record.pktype = job.packetType;
    record.engine = job.engine;
    record.priority = job.priority;
    record.maxcpu = job.maxNodes;
    record.workingcpu = job.workingNodes;
    record.paused = job.paused;
    record.endtm = job.endTime;
    record.starttm = job.startTime;
    record.status = job.status;
    record.progress = job.progress;
    record.submitter = job.submitter;
    record.name = job.name;
    record.id = job.id;
    record.pksize = job.packetSize;
    record.pool = job.pool;
    record.skiperror = job.skipErrors;
    record.parent = job.parent;
    record.type = job.type;
    record.depend = job.depend;
    record.requeued = job.requeued;
    record.locked = job.locked;
    record.archived = job.archived;
    record.attributeBlock = block;
    record.group = job.group;
    record.department = job.department;
    zdProtocol::AppendJobRecord(out, record, extras);
}

std::string JobRecord(const Job& job) {
    std::string out;
    AppendJobRecord(out, job);
    return out;
}

void AppendNodeRecord(std::string& out, const Node& node, const std::string& pools) {
    const std::string processors = std::to_string(node.processors);
    cpuentry record;
    record.chunkid = node.chunkId;
    record.id = node.id;
    record.os = node.os;
    record.name = node.name;
    record.num = processors;
    record.ip = node.ip;
    record.sst = node.renderStatus;
    record.cpuusage = node.cpuUsage;
    record.ramusage = node.ramUsage;
    record.ppriority = node.processPriority;
    record.jobid = node.jobId;
    record.status = node.status;
    record.tpause = node.scheduledPause;
    record.jobname = node.jobName;
    record.chunknamef = node.chunkFrames;
    record.chunkname = node.chunkRange;
    record.logpath = node.logPath;
    record.supmask = node.supportMask;
    record.version = node.version;
    record.rtlog = node.realtimeLog;
    record.priority = node.priority;
    record.notes = node.notes;
    zdProtocol::AppendNodeRecord(out, record, {pools, node.status != NodeStatus::kOffline});
}

std::string NodeRecord(const Node& node, const std::string& pools) {
    std::string out;
    AppendNodeRecord(out, node, pools);
    return out;
}

void AppendChunkRecord(std::string& out, const Job& job, const Chunk& chunk) {
    chunkentry record;
    record.id = chunk.id;
    record.st = chunk.startTime;
    record.et = chunk.endTime;
    record.renderby = chunk.renderBy;
    record.result = chunk.result;
    record.status = chunk.status;
    record.bf = static_cast<float>(chunk.byFrame);
    record.requeued = chunk.requeued;
    zdProtocol::ChunkExtras extras;
    extras.jobId = job.id;
    extras.packetType = job.packetType;
    extras.packetSize = job.packetSize;
    extras.startFrame = chunk.startFrame;
    extras.endFrame = chunk.endFrame;
    extras.byFrame = chunk.byFrame;
    zdProtocol::AppendChunkRecord(out, record, extras);
}

std::string ChunkRecord(const Job& job, const Chunk& chunk) {
    std::string out;
    AppendChunkRecord(out, job, chunk);
    return out;
}

std::string PoolRow(const Pool& pool) {
    const std::string members = std::to_string(pool.members.size());
    std::string out;
    zdProtocol::AppendPoolRecord(out, {pool.name, "", "", members});
    return out;
}

std::string PoolMemberRow(const Pool& pool, const Node& member) {
    const std::string id = std::to_string(member.id);
    std::string out;
    zdProtocol::AppendPoolRecord(
        out, {pool.name, member.name, member.ip.empty() ? "0.0.0.0" : member.ip, id});
    return out;
}

std::string LogRecord(const LogEntry& log) {
    logentry record;
    record.type = log.type;
    record.time = log.time;
    record.entry = log.text;
    record.ip = log.ip;
    record.host = log.host;
    record.user = log.user;
    std::string out;
    zdProtocol::AppendLogRecord(out, record);
    return out;
}

std::string StatisticsText(const Statistics& statistics) {
    return zdProtocol::BuildStatisticsText(statistics);
}

}  // namespace zdsim
