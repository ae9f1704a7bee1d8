// Fuzzes every reader of the Dispatcher conversation from arbitrary bytes: the five listing
// records, property groups, status, template reply, login, submission, folder, chunk request,
// statistics text, Base64 and the number readers. The first byte picks the reader; the rest is
// the payload. Views must lie inside the payload, and what a writer re-writes exactly must read
// back the same.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ListingRecords.h"
#include "PayloadText.h"
#include "Payloads.h"

namespace {

using namespace zdProtocol;

void Check(bool condition) {
    if (!condition) std::abort();
}

// A line read from `payload`: inside it and without a line feed.
void CheckLine(std::string_view line, std::string_view payload) {
    if (line.empty()) return;
    Check(line.data() >= payload.data() &&
          line.data() + line.size() <= payload.data() + payload.size());
    Check(line.find('\n') == std::string_view::npos);
}

// The text writer turns carriage returns and NULs into spaces; only other texts come back.
bool Plain(std::string_view text) {
    return text.find('\r') == std::string_view::npos && text.find('\0') == std::string_view::npos;
}

void CheckText(std::string_view first, std::string_view again) {
    if (Plain(first)) Check(first == again);
}

bool SameFloat(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

void Job(std::string_view payload) {
    jobentry job;
    ParseJobRecord(payload, job);
    for (std::string_view line : {job.submitter, job.name, job.pool, job.depend, job.group,
                                  job.department, job.attributeBlock})
        CheckLine(line, payload);

    std::string block;
    const bool decoded = DecodeBase64(job.attributeBlock, block);
    if (decoded) {
        const char* last = block.data();
        ForEachPropertyGroup(block, [&](std::string_view name, std::string_view value,
                                        std::string_view specified, std::string_view substitution) {
            Check(!name.empty() && name.data() >= last);
            for (std::string_view line : {name, value, specified, substitution}) {
                CheckLine(line, block);
                if (!line.empty()) last = line.data() + line.size();
            }
        });
    }

    jobentry written = job;
    written.attributeBlock = decoded ? std::string_view(block) : std::string_view();
    std::string text;
    AppendJobRecord(text, written, JobExtras());
    Check(CountLines(text) == size_t(JobLine::kCount));
    jobentry again;
    ParseJobRecord(text, again);
    Check(again.subtm == job.subtm && again.pktype == job.pktype && again.engine == job.engine &&
          again.priority == job.priority && again.maxcpu == job.maxcpu &&
          again.workingcpu == job.workingcpu && again.paused == job.paused &&
          again.endtm == job.endtm && again.starttm == job.starttm && again.status == job.status &&
          again.progress == job.progress && again.id == job.id && again.pksize == job.pksize &&
          again.skiperror == job.skiperror && again.parent == job.parent &&
          again.type == job.type && again.requeued == job.requeued && again.locked == job.locked &&
          again.archived == job.archived);
    CheckText(job.submitter, again.submitter);
    CheckText(job.name, again.name);
    CheckText(job.pool, again.pool);
    CheckText(job.depend, again.depend);
    CheckText(job.group, again.group);
    CheckText(job.department, again.department);
    std::string blockAgain;
    Check(DecodeBase64(again.attributeBlock, blockAgain));
    if (decoded) Check(blockAgain == block);
}

void Node(std::string_view payload) {
    cpuentry node;
    ParseNodeRecord(payload, node);
    const std::string_view texts[] = {node.name,      node.num,      node.ip,      node.sst,
                                      node.cpuusage,  node.ramusage, node.jobname, node.chunknamef,
                                      node.chunkname, node.logpath,  node.supmask, node.notes};
    for (std::string_view line : texts)
        CheckLine(line, payload);

    std::string text;
    AppendNodeRecord(text, node, NodeExtras());
    Check(CountLines(text) == size_t(NodeLine::kCount));
    cpuentry again;
    ParseNodeRecord(text, again);
    Check(again.chunkid == node.chunkid && again.id == node.id && again.os == node.os &&
          again.ppriority == node.ppriority && again.jobid == node.jobid &&
          again.status == node.status && again.tpause == node.tpause &&
          again.version == node.version && again.rtlog == node.rtlog &&
          again.priority == node.priority);
    const std::string_view textsAgain[] = {again.name,    again.num,        again.ip,
                                           again.sst,     again.cpuusage,   again.ramusage,
                                           again.jobname, again.chunknamef, again.chunkname,
                                           again.logpath, again.supmask,    again.notes};
    for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i)
        CheckText(texts[i], textsAgain[i]);
}

void Chunk(std::string_view payload) {
    chunkentry chunk;
    ParseChunkRecord(payload, chunk);
    CheckLine(chunk.renderby, payload);
    CheckLine(chunk.result, payload);

    ChunkExtras extras;
    extras.startFrame = chunk.sf;
    extras.endFrame = chunk.ef;
    extras.byFrame = static_cast<long long>(chunk.bf);  // read from an int: always in range
    std::string text;
    AppendChunkRecord(text, chunk, extras);
    Check(CountLines(text) == size_t(ChunkLine::kCount));
    chunkentry again;
    ParseChunkRecord(text, again);
    Check(again.id == chunk.id && SameFloat(again.sf, chunk.sf) && SameFloat(again.ef, chunk.ef) &&
          again.st == chunk.st && again.et == chunk.et && again.status == chunk.status &&
          again.bf == chunk.bf && again.requeued == chunk.requeued);
    CheckText(chunk.renderby, again.renderby);
    CheckText(chunk.result, again.result);
}

void Pool(std::string_view payload) {
    poolentry row;
    ParsePoolRecord(payload, row);
    for (std::string_view line : {row.parent, row.name, row.ip, row.extra})
        CheckLine(line, payload);
    std::string text;
    AppendPoolRecord(text, row);
    poolentry again;
    ParsePoolRecord(text, again);
    CheckText(row.parent, again.parent);
    CheckText(row.name, again.name);
    CheckText(row.ip, again.ip);
    CheckText(row.extra, again.extra);
}

void Log(std::string_view payload) {
    logentry log;
    ParseLogRecord(payload, log);
    for (std::string_view line : {log.time, log.entry, log.ip, log.host, log.user})
        CheckLine(line, payload);
    std::string text;
    AppendLogRecord(text, log);
    logentry again;
    ParseLogRecord(text, again);
    Check(again.type == log.type);
    CheckText(log.time, again.time);
    CheckText(log.entry, again.entry);
    CheckText(log.ip, again.ip);
    CheckText(log.host, again.host);
    CheckText(log.user, again.user);
}

void PropertyGroups(std::string_view payload) {
    size_t groups = 0;
    const char* last = payload.data();
    ForEachPropertyGroup(payload, [&](std::string_view name, std::string_view value,
                                      std::string_view specified, std::string_view substitution) {
        ++groups;
        Check(!name.empty() && name.data() >= last);
        for (std::string_view line : {name, value, specified, substitution}) {
            CheckLine(line, payload);
            if (!line.empty()) last = line.data() + line.size();
        }
    });
    Check(groups * 4 <= CountLines(payload) + 3);
}

void Status(std::string_view payload) {
    const StatusPayload status = ParseStatus(payload);
    for (std::string_view line : {status.version, status.build, status.host})
        CheckLine(line, payload);
    const std::string text = BuildStatus(status);
    const StatusPayload again = ParseStatus(text);
    Check(again.selectionLogic == status.selectionLogic && again.jobs == status.jobs &&
          again.runningJobs == status.runningJobs && again.nodes == status.nodes &&
          again.renderingNodes == status.renderingNodes &&
          again.runningSince == status.runningSince && again.client == status.client &&
          again.loginResult == status.loginResult &&
          again.protocolVersion == status.protocolVersion);
    CheckText(status.version, again.version);
    CheckText(status.build, again.build);
    CheckText(status.host, again.host);
}

void Template(std::string_view payload) {
    const TemplateReply reply = ParseTemplateReply(payload);
    for (std::string_view line : {reply.name, reply.fileName, reply.textBase64})
        CheckLine(line, payload);
    const std::string text = BuildTemplateReply(reply);
    const TemplateReply again = ParseTemplateReply(text);
    Check(again.uid == reply.uid && again.name == reply.name && again.fileName == reply.fileName &&
          again.textBase64 == reply.textBase64);
}

void Login(std::string_view payload) {
    const LoginPayload login = ParseLogin(payload);
    for (std::string_view line : {login.host, login.user, login.passwordBase64, login.kind})
        CheckLine(line, payload);
    const std::string text = BuildLogin(login);
    const LoginPayload again = ParseLogin(text);
    Check(again.host == login.host && again.user == login.user &&
          again.passwordBase64 == login.passwordBase64 && again.kind == login.kind);
}

void Submission(std::string_view payload) {
    SubmissionRecord record;
    std::string why;
    if (!ParseSubmission(payload, record, why)) {
        Check(!why.empty());
        return;
    }
    const std::string_view texts[] = {record.name,
                                      record.pool,
                                      record.wait,
                                      record.mail,
                                      record.jobNotificationLevel,
                                      record.chunkNotificationLevel,
                                      record.propertiesBase64,
                                      record.group,
                                      record.department};
    for (std::string_view line : texts)
        CheckLine(line, payload);
    const std::string text = BuildSubmission(record);
    SubmissionRecord again;
    Check(ParseSubmission(text, again, why));
    Check(again.jobType == record.jobType && again.engine == record.engine &&
          again.priority == record.priority && again.maxInstances == record.maxInstances &&
          again.packetSize == record.packetSize && again.skipErrors == record.skipErrors &&
          again.parent == record.parent &&
          again.overrideChunkTimeout == record.overrideChunkTimeout &&
          again.chunkTimeout == record.chunkTimeout);
    const std::string_view textsAgain[] = {again.name,
                                           again.pool,
                                           again.wait,
                                           again.mail,
                                           again.jobNotificationLevel,
                                           again.chunkNotificationLevel,
                                           again.propertiesBase64,
                                           again.group,
                                           again.department};
    for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i)
        Check(texts[i] == textsAgain[i]);
}

void Folder(std::string_view payload) {
    FolderPayload folder;
    const bool read = ParseFolder(payload, folder);
    CheckLine(folder.name, payload);
    if (!read) return;
    FolderPayload again;
    const std::string text = BuildFolder(folder);
    Check(ParseFolder(text, again));
    Check(again.parent == folder.parent && again.name == folder.name &&
          again.priority == folder.priority);
}

void ChunksRequest(std::string_view payload) {
    const long id = ParseChunksRequest(payload);
    if (id != 0) Check(ParseChunksRequest(BuildChunksRequest(id)) == id);
}

void Statistics(std::string_view payload) {
    DispatcherStatistics statistics;
    statistics.totalBytesIn = 77;
    if (!ParseStatisticsText(payload, statistics)) {
        Check(statistics.totalBytesIn == 77);
        return;
    }
    DispatcherStatistics again;
    Check(ParseStatisticsText(BuildStatisticsText(statistics), again));
    // Averages go out with two decimals; whole numbers exactly.
    const StatisticsField* fields = StatisticsFields();
    for (int i = 0; i < kStatisticsLines; ++i) {
        if (fields[i].whole == nullptr) continue;
        Check(again.*fields[i].whole == statistics.*fields[i].whole);
        if (fields[i].narrow)
            Check(statistics.*fields[i].whole >= INT_MIN && statistics.*fields[i].whole <= INT_MAX);
    }
}

void Base64(std::string_view payload) {
    std::string bytes;
    if (!DecodeBase64(payload, bytes)) {
        Check(bytes.empty());
        return;
    }
    Check(bytes.size() <= payload.size() / 4 * 3);
    std::string again;
    Check(DecodeBase64(EncodeBase64(bytes), again) && again == bytes);
}

// The lenient readers are the C library's, clamped; a strict reading agrees with them.
void Numbers(std::string_view payload) {
    const std::string copy(payload);
    errno = 0;
    const long expected = std::strtol(copy.c_str(), nullptr, 10);
    Check(ParseLong(payload) == expected);
    Check(ParseLongLong(payload) == std::strtoll(copy.c_str(), nullptr, 10));
    const int narrow = ParseInt(payload);
    Check(narrow == (expected > INT_MAX ? INT_MAX : expected < INT_MIN ? INT_MIN : expected));
    long strict = 0;
    if (ParseStrictLong(payload, strict)) Check(strict == expected);
    int strictInt = 0;
    if (ParseStrictInt(payload, strictInt)) Check(strictInt == narrow);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view payload(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 15) {
        case 0:
            Job(payload);
            break;
        case 1:
            Node(payload);
            break;
        case 2:
            Chunk(payload);
            break;
        case 3:
            Pool(payload);
            break;
        case 4:
            Log(payload);
            break;
        case 5:
            PropertyGroups(payload);
            break;
        case 6:
            Status(payload);
            break;
        case 7:
            Template(payload);
            break;
        case 8:
            Login(payload);
            break;
        case 9:
            Submission(payload);
            break;
        case 10:
            Folder(payload);
            break;
        case 11:
            ChunksRequest(payload);
            break;
        case 12:
            Statistics(payload);
            break;
        case 13:
            Base64(payload);
            break;
        default:
            Numbers(payload);
            break;
    }
    return 0;
}
