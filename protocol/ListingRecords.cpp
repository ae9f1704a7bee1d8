// Writers and readers of the listing records, side by side per kind.
#include "ListingRecords.h"

#include "PayloadText.h"

namespace zdProtocol {

// ---- Jobs ----

void AppendJobRecord(std::string& out, const jobentry& job, const JobExtras& extras) {
    LineWriter lines(out);
    lines.Number(job.subtm);       // kSubmitTime
    lines.Number(job.pktype);      // kPacketType
    lines.Number(job.engine);      // kEngine
    lines.Number(job.priority);    // kPriority
    lines.Number(job.maxcpu);      // kMaxNodes
    lines.Number(job.workingcpu);  // kWorkingNodes
    lines.Flag(job.paused);        // kPaused
    lines.Number(job.endtm);       // kEndTime
    lines.Number(job.starttm);     // kStartTime
    lines.Number(job.status);      // kStatus
    lines.Number(job.progress);    // kProgress
    lines.Text(job.submitter);     // kSubmitter
    lines.Text(job.name);          // kName
    lines.Number(job.id);          // kId
    lines.Number(job.pksize);      // kPacketSize
    lines.Text(job.pool);          // kPool
    lines.Flag(job.skiperror);     // kSkipErrors
    lines.Number(job.parent);      // kParent
    lines.Number(job.type);        // kType
    lines.Text(job.depend);        // kDepend
    lines.Number(job.requeued);    // kRequeued
    lines.Number(extras.chunkCount);
    lines.Number(extras.chunksDone);
    lines.Number(extras.chunksSent);
    lines.Number(extras.chunkRequeues);
    lines.Number(extras.maxInstances);
    lines.Number(extras.chunkTimeout);
    lines.Text(extras.notes);
    lines.Text(extras.mail);
    lines.Number(extras.lastChange);
    lines.Number(0);                   // kReserved
    lines.Flag(job.locked);            // kLocked
    lines.Flag(job.archived);          // kArchived
    lines.Base64(job.attributeBlock);  // kAttributes
    lines.Text(job.group);             // kGroup
    lines.Text(job.department);        // kDepartment
}

void ParseJobRecord(std::string_view payload, jobentry& job) {
    LineReader lines(payload);
    job.subtm = lines.Long();
    job.pktype = lines.Int();
    job.engine = lines.Int();
    job.priority = lines.Int();
    job.maxcpu = lines.Int();
    job.workingcpu = lines.Int();
    job.paused = lines.Flag();
    job.endtm = lines.Long();
    job.starttm = lines.Long();
    job.status = lines.Int();
    job.progress = lines.Int();
    job.submitter = lines.Next();
    job.name = lines.Next();
    job.id = lines.Long();
    job.pksize = lines.Int();
    job.pool = lines.Next();
    job.skiperror = lines.Flag();
    job.parent = lines.Long();
    job.type = lines.Int();
    job.depend = lines.Next();
    job.requeued = lines.Int();
    lines.SkipTo(JobLine::kLocked);
    job.locked = lines.Flag();
    job.archived = lines.Flag();
    job.attributeBlock = lines.Next();
    job.group = lines.Next();
    job.department = lines.Next();
}

// ---- Nodes ----

void AppendNodeRecord(std::string& out, const cpuentry& node, const NodeExtras& extras) {
    LineWriter lines(out);
    lines.Number(node.chunkid);
    lines.Number(node.id);
    lines.Number(node.os);
    lines.Text(node.name);
    lines.Text(node.num);
    lines.Text(node.ip);
    lines.Text(node.sst);
    lines.Text(node.cpuusage);
    lines.Text(node.ramusage);
    lines.Number(node.ppriority);
    lines.Number(node.jobid);
    lines.Number(node.status);
    lines.Number(node.tpause);
    lines.Text(node.jobname);
    lines.Text(node.chunknamef);
    lines.Text(node.chunkname);
    lines.Text(node.logpath);
    lines.Text(node.supmask);
    lines.Number(node.version);
    lines.Number(node.rtlog);
    lines.Number(node.priority);
    lines.Text(extras.pools);
    lines.Flag(extras.connected);
    lines.Text(node.notes);
}

void ParseNodeRecord(std::string_view payload, cpuentry& node) {
    LineReader lines(payload);
    node.chunkid = lines.Long();
    node.id = lines.Long();
    node.os = lines.Int();
    node.name = lines.Next();
    node.num = lines.Next();
    node.ip = lines.Next();
    node.sst = lines.Next();
    node.cpuusage = lines.Next();
    node.ramusage = lines.Next();
    node.ppriority = lines.Int();
    node.jobid = lines.Long();
    node.status = lines.Int();
    node.tpause = lines.Int();
    node.jobname = lines.Next();
    node.chunknamef = lines.Next();
    node.chunkname = lines.Next();
    node.logpath = lines.Next();
    node.supmask = lines.Next();
    node.version = lines.Int();
    node.rtlog = lines.Int();
    node.priority = lines.Int();
    lines.SkipTo(NodeLine::kNotes);
    node.notes = lines.Next();
}

// ---- Chunks ----

void AppendChunkRecord(std::string& out, const chunkentry& chunk, const ChunkExtras& extras) {
    LineWriter lines(out);
    lines.Number(extras.jobId);
    lines.Number(chunk.id);
    lines.Shortest(extras.startFrame);
    lines.Shortest(extras.endFrame);
    lines.Number(chunk.st);
    lines.Number(chunk.et);
    lines.Text(chunk.renderby);
    lines.Text(chunk.result);
    lines.Number(chunk.status);
    lines.Number(extras.packetType);
    lines.Number(extras.packetSize);
    lines.Number(extras.byFrame);
    lines.Number(chunk.requeued);
}

void ParseChunkRecord(std::string_view payload, chunkentry& chunk) {
    LineReader lines(payload);
    lines.SkipTo(ChunkLine::kId);
    chunk.id = lines.Long();
    chunk.sf = lines.Float();
    chunk.ef = lines.Float();
    chunk.st = lines.Long();
    chunk.et = lines.Long();
    chunk.renderby = lines.Next();
    chunk.result = lines.Next();
    chunk.status = lines.Int();
    lines.SkipTo(ChunkLine::kByFrame);
    chunk.bf = static_cast<float>(lines.Int());  // whole frames on the wire
    chunk.requeued = lines.Int();
}

// ---- Pool rows and logs ----

void AppendPoolRecord(std::string& out, const poolentry& row) {
    LineWriter lines(out);
    lines.Text(row.parent);
    lines.Text(row.name);
    lines.Text(row.ip);
    lines.Text(row.extra);
}

void ParsePoolRecord(std::string_view payload, poolentry& row) {
    LineReader lines(payload);
    row.parent = lines.Next();
    row.name = lines.Next();
    row.ip = lines.Next();
    row.extra = lines.Next();
}

void AppendLogRecord(std::string& out, const logentry& log) {
    LineWriter lines(out);
    lines.Number(log.type);
    lines.Text(log.time);
    lines.Text(log.entry);
    lines.Text(log.ip);
    lines.Text(log.host);
    lines.Text(log.user);
}

void ParseLogRecord(std::string_view payload, logentry& log) {
    LineReader lines(payload);
    log.type = lines.Int();
    log.time = lines.Next();
    log.entry = lines.Next();
    log.ip = lines.Next();
    log.host = lines.Next();
    log.user = lines.Next();
}

// ---- Property groups ----

void AppendPropertyGroup(std::string& out, std::string_view name, std::string_view value,
                         bool specified, bool pathSubstitution, TextRule rule) {
    LineWriter lines(out);
    if (rule == TextRule::kOneLine) {
        lines.Text(name);
        lines.Text(value);
    } else {
        lines.Raw(name);
        lines.Raw(value);
    }
    lines.Flag(specified);
    lines.Flag(pathSubstitution);
}

}  // namespace zdProtocol
