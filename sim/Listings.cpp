// Listing conversations: which frames may go next, the records they carry and the checking of
// the client's acknowledgements.
#include "Listings.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "Payloads.h"
#include "Records.h"
#include "ZRSocket.h"

namespace zdsim {

namespace {

const ListingCodes kCodes[] = {zdCode::kJobsListing, zdCode::kNodesListing, zdCode::kLogsListing,
                               zdCode::kPoolsListing, zdCode::kChunksListing};

}  // namespace

const ListingCodes& CodesOf(ListingKind kind) {
    return kCodes[static_cast<int>(kind)];
}

std::optional<ListingKind> ListingRequested(unsigned char code) {
    for (int k = 0; k < 5; ++k)
        if (kCodes[k].request == code) return static_cast<ListingKind>(k);
    return std::nullopt;
}

bool IsListingAcknowledgement(unsigned char code) {
    for (const ListingCodes& codes : kCodes)
        if (codes.ack == code) return true;
    return false;
}

bool AppendFrame(std::string& out, unsigned char code, const std::string& text, bool compress) {
    // With compression the text is read as a C string, up to a NUL; record texts carry none.
    const size_t end = compress ? text.find('\0') : std::string::npos;
    return ZRFramework::ZRSocket::AppendFrame(
        out, code, text.data(), end != std::string::npos ? end : text.size(), compress);
}

const std::string& RecordCache::JobText(size_t index) {
    if (jobTextIndex_ != index) {
        jobText_.clear();
        AppendJobRecord(jobText_, farm_.jobs[index]);
        jobTextIndex_ = index;
    }
    return jobText_;
}

void RecordCache::IndexNodes() {
    if (nodesIndexed_) return;
    nodeIndex_.reserve(farm_.nodes.size());
    for (size_t i = 0; i < farm_.nodes.size(); ++i)
        nodeIndex_.emplace(farm_.nodes[i].name, i);
    nodePools_.assign(farm_.nodes.size(), std::string());
    for (const Pool& pool : farm_.pools) {
        for (const std::string& member : pool.members) {
            auto it = nodeIndex_.find(member);
            if (it == nodeIndex_.end()) continue;
            std::string& pools = nodePools_[it->second];
            if (!pools.empty()) pools += ',';
            pools += pool.name;
        }
    }
    nodesIndexed_ = true;
}

const std::string& RecordCache::NodeText(size_t index) {
    IndexNodes();
    if (nodeTexts_.size() != farm_.nodes.size())
        nodeTexts_.assign(farm_.nodes.size(), std::string());
    std::string& text = nodeTexts_[index];
    if (text.empty()) AppendNodeRecord(text, farm_.nodes[index], nodePools_[index]);
    return text;
}

const Job* RecordCache::JobById(long id) {
    if (jobIndex_.size() != farm_.jobs.size()) {
        jobIndex_.clear();
        jobIndex_.reserve(farm_.jobs.size());
        for (size_t i = 0; i < farm_.jobs.size(); ++i)
            jobIndex_.emplace(farm_.jobs[i].id, i);
    }
    auto it = jobIndex_.find(id);
    return it == jobIndex_.end() ? nullptr : &farm_.jobs[it->second];
}

const Node* RecordCache::NodeByName(const std::string& name) {
    IndexNodes();
    auto it = nodeIndex_.find(name);
    return it == nodeIndex_.end() ? nullptr : &farm_.nodes[it->second];
}

void RecordCache::Clear() {
    jobText_.clear();
    jobTextIndex_ = kNone;
    nodeTexts_.clear();
    jobIndex_.clear();
    nodeIndex_.clear();
    nodePools_.clear();
    nodesIndexed_ = false;
}

ListingConversation::ListingConversation(ListingKind kind, const std::string& payload,
                                         RecordCache& cache, const Farm& farm, bool lockstep)
    : kind_(kind), cache_(cache), farm_(farm), lockstep_(lockstep) {
    switch (kind) {
        case ListingKind::kJobs:
            count_ = farm.jobs.size();
            break;
        case ListingKind::kNodes:
            count_ = farm.nodes.size();
            break;
        case ListingKind::kLogs:
            count_ = farm.logs.size();
            break;
        case ListingKind::kPools:
            for (size_t p = 0; p < farm.pools.size(); ++p) {
                poolRows_.emplace_back(p, -1);
                for (size_t m = 0; m < farm.pools[p].members.size(); ++m)
                    poolRows_.emplace_back(p, static_cast<long>(m));
            }
            count_ = poolRows_.size();
            break;
        case ListingKind::kChunks:
            jobId_ = zdProtocol::ParseChunksRequest(payload);
            if (const Job* job = cache.JobById(jobId_)) job_ = *job;
            count_ = job_ ? job_->chunks.size() : 0;
            break;
    }
}

const std::string& ListingConversation::RecordText(size_t index) {
    // Jobs and nodes come from the cache as they are; the others are built in scratch_.
    if (kind_ == ListingKind::kJobs) return cache_.JobText(index);
    if (kind_ == ListingKind::kNodes) return cache_.NodeText(index);
    scratch_.clear();
    std::string& out = scratch_;
    switch (kind_) {
        case ListingKind::kJobs:
        case ListingKind::kNodes:
            break;
        case ListingKind::kLogs:
            out = LogRecord(farm_.logs[index]);
            break;
        case ListingKind::kPools: {
            const auto [p, m] = poolRows_[index];
            const Pool& pool = farm_.pools[p];
            if (m < 0) {
                out += PoolRow(pool);
                break;
            }
            const std::string& name = pool.members[static_cast<size_t>(m)];
            const Node* node = cache_.NodeByName(name);
            Node unknown;
            unknown.name = name;
            out += PoolMemberRow(pool, node != nullptr ? *node : unknown);
            break;
        }
        case ListingKind::kChunks:
            AppendChunkRecord(out, *job_, job_->chunks[index]);
            break;
    }
    return scratch_;
}

size_t ListingConversation::Produce(std::string& out, size_t budget, bool compress) {
    const ListingCodes& codes = Codes();
    const size_t start = out.size();
    size_t produced = 0;
    while (!Sent() && !WaitingForAck() && (produced == 0 || out.size() - start < budget)) {
        const size_t frame = next_++;
        bool framed;
        if (frame == 0) {
            framed = AppendFrame(out, codes.start, std::string(), compress);
        } else if (frame <= count_) {
            framed = AppendFrame(out, codes.record, RecordText(frame - 1), compress);
        } else {
            framed = AppendFrame(out, codes.end, std::string(), compress);
        }
        if (framed)
            ++produced;
        else
            ++unframed_;
    }
    return produced;
}

std::string ListingConversation::ExpectedAck(size_t index) const {
    if (kind_ != ListingKind::kChunks) return std::string();
    long chunk = 0;
    if (index > 0 && index <= count_) chunk = job_->chunks[index - 1].id;
    return zdProtocol::BuildChunkAck(jobId_, chunk);
}

bool ListingConversation::Acknowledge(const std::string& payload) {
    const size_t index = acks_++;
    // Acknowledgements answer frames; more than were sent, or a wrong payload, is unexpected.
    const bool expected = index < next_ && index <= count_ && payload == ExpectedAck(index);
    if (!expected) ++unexpected_;
    return expected;
}

}  // namespace zdsim
