// Record texts of the listings and the statistics text, built by appending to one string so that
// a listing of a million jobs costs little more than copying its bytes.
#include "Records.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "ZRBase64.h"

namespace zdsim {

namespace {

// Appends one line per call.
class Lines {
public:
    explicit Lines(std::string& out) : out_(out) {}

    void Number(long long value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        out_.append(digits, end);
        out_ += '\n';
    }
    void Flag(bool value) { out_ += value ? "1\n" : "0\n"; }
    void Text(const std::string& value) {
        const size_t start = out_.size();
        out_ += value;
        for (size_t i = start; i < out_.size(); ++i) {
            const char c = out_[i];
            if (c == '\n' || c == '\r' || c == '\0') out_[i] = ' ';
        }
        out_ += '\n';
    }
    void Frame(double value) {
        out_ += FrameText(value);
        out_ += '\n';
    }
    void Average(double value) {
        char text[64];
        const int n = std::snprintf(text, sizeof text, "%.2f", value);
        out_.append(text, n > 0 && n < int(sizeof text) ? size_t(n) : 0);
        out_ += '\n';
    }
    void Base64(const std::string& bytes) {
        const size_t at = out_.size();
        const size_t length = (bytes.size() + 2) / 3 * 4;
        out_.resize(at + length);
        // Exactly `length` characters: Encode adds no NUL when there is no room for one.
        ZRFramework::ZRBase64::Encode(bytes.data(), bytes.size(), &out_[at], length);
        out_ += '\n';
    }

private:
    std::string& out_;
};

void AppendAttribute(std::string& block, const std::string& name, const Attribute& attribute) {
    Lines lines(block);
    lines.Text(name);
    lines.Text(attribute.value);
    lines.Flag(attribute.specified);
    lines.Flag(attribute.pathSubstitution);
}

}  // namespace

std::string FrameText(double frame) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, frame);
    return std::string(text, result.ptr);
}

std::string AttributeBlock(const Job& job) {
    std::string block;
    for (const auto& [name, attribute] : job.attributes)
        AppendAttribute(block, name, attribute);
    return block;
}

void AppendJobRecord(std::string& out, const Job& job) {
    long chunksDone = 0;
    long chunksSent = 0;
    long chunkRequeues = 0;
    for (const Chunk& chunk : job.chunks) {
        chunksDone += chunk.status == ChunkStatus::kCompleted ||
                      chunk.status == ChunkStatus::kCompletedWithWarnings;
        chunksSent += chunk.status == ChunkStatus::kSent;
        chunkRequeues += chunk.requeued;
    }
    Lines lines(out);
    lines.Number(job.submitTime);
    lines.Number(job.packetType);
    lines.Number(job.engine);
    lines.Number(job.priority);
    lines.Number(job.maxNodes);
    lines.Number(job.workingNodes);
    lines.Flag(job.paused);
    lines.Number(job.endTime);
    lines.Number(job.startTime);
    lines.Number(job.status);
    lines.Number(job.progress);
    lines.Text(job.submitter);
    lines.Text(job.name);
    lines.Number(job.id);
    lines.Number(job.packetSize);
    lines.Text(job.pool);
    lines.Flag(job.skipErrors);
    lines.Number(job.parent);
    lines.Number(job.type);
    lines.Text(job.depend);
    lines.Number(job.requeued);
    // 22-31: what a Dispatcher also knows of a job; the tool does not read them.
    lines.Number(static_cast<long long>(job.chunks.size()));
    lines.Number(chunksDone);
    lines.Number(chunksSent);
    lines.Number(chunkRequeues);
    lines.Number(job.maxInstances);
    lines.Number(job.chunkTimeout);
    lines.Text(job.notes);
    lines.Text(job.mail);
    lines.Number(std::max({job.submitTime, job.startTime, job.endTime}));  // last change
    lines.Number(0);                                                       // reserved
    lines.Flag(job.locked);
    lines.Flag(job.archived);
    lines.Base64(AttributeBlock(job));
    lines.Text(job.group);
    lines.Text(job.department);
}

std::string JobRecord(const Job& job) {
    std::string out;
    AppendJobRecord(out, job);
    return out;
}

void AppendNodeRecord(std::string& out, const Node& node, const std::string& pools) {
    Lines lines(out);
    lines.Number(node.chunkId);
    lines.Number(node.id);
    lines.Number(node.os);
    lines.Text(node.name);
    lines.Number(node.processors);
    lines.Text(node.ip);
    lines.Text(node.renderStatus);
    lines.Text(node.cpuUsage);
    lines.Text(node.ramUsage);
    lines.Number(node.processPriority);
    lines.Number(node.jobId);
    lines.Number(node.status);
    lines.Number(node.scheduledPause);
    lines.Text(node.jobName);
    lines.Text(node.chunkFrames);
    lines.Text(node.chunkRange);
    lines.Text(node.logPath);
    lines.Text(node.supportMask);
    lines.Number(node.version);
    lines.Number(node.realtimeLog);
    lines.Number(node.priority);
    // 22-23, not read by the tool: the node's pools and whether it is connected.
    lines.Text(pools);
    lines.Flag(node.status != NodeStatus::kOffline);
    lines.Text(node.notes);
}

std::string NodeRecord(const Node& node, const std::string& pools) {
    std::string out;
    AppendNodeRecord(out, node, pools);
    return out;
}

void AppendChunkRecord(std::string& out, const Job& job, const Chunk& chunk) {
    Lines lines(out);
    lines.Number(job.id);  // 1: not read by the tool
    lines.Number(chunk.id);
    lines.Frame(chunk.startFrame);
    lines.Frame(chunk.endFrame);
    lines.Number(chunk.startTime);
    lines.Number(chunk.endTime);
    lines.Text(chunk.renderBy);
    lines.Text(chunk.result);
    lines.Number(chunk.status);
    // 10-11, not read by the tool: the job's packet type and packet size.
    lines.Number(job.packetType);
    lines.Number(job.packetSize);
    lines.Number(chunk.byFrame);
    lines.Number(chunk.requeued);
}

std::string ChunkRecord(const Job& job, const Chunk& chunk) {
    std::string out;
    AppendChunkRecord(out, job, chunk);
    return out;
}

std::string PoolRow(const Pool& pool) {
    std::string out;
    Lines lines(out);
    lines.Text(pool.name);
    lines.Text("");
    lines.Text("");
    lines.Number(static_cast<long long>(pool.members.size()));  // 4: not read by the tool
    return out;
}

std::string PoolMemberRow(const Pool& pool, const Node& member) {
    std::string out;
    Lines lines(out);
    lines.Text(pool.name);
    lines.Text(member.name);
    lines.Text(member.ip.empty() ? "0.0.0.0" : member.ip);
    lines.Number(member.id);  // 4: not read by the tool
    return out;
}

std::string LogRecord(const LogEntry& log) {
    std::string out;
    Lines lines(out);
    lines.Number(log.type);
    lines.Text(log.time);
    lines.Text(log.text);
    lines.Text(log.ip);
    lines.Text(log.host);
    lines.Text(log.user);
    return out;
}

std::string StatisticsText(const Statistics& statistics) {
    std::string out;
    Lines lines(out);
    for (const StatisticsField& field : StatisticsFields()) {
        if (field.whole != nullptr)
            lines.Number(statistics.*field.whole);
        else
            lines.Average(statistics.*field.average);
    }
    return out;
}

}  // namespace zdsim
