// The listing conversations (jobs, nodes, logs, pools, the chunks of one job): a start frame,
// one frame per record, an end frame, and the client's acknowledgements, either awaited one by
// one (lockstep) or only counted (pipelined). Pure over the farm; the server moves the bytes.
#ifndef ZDSIM_LISTINGS_H
#define ZDSIM_LISTINGS_H

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "FarmModel.h"
#include "MessageCodes.h"

namespace zdsim {

enum class ListingKind { kJobs, kNodes, kLogs, kPools, kChunks };

using ListingCodes = zdCode::Listing;

const ListingCodes& CodesOf(ListingKind kind);
// The listing that `code` requests, if any.
std::optional<ListingKind> ListingRequested(unsigned char code);
// True when `code` acknowledges some listing.
bool IsListingAcknowledgement(unsigned char code);

// Appends one frame: encoding 0 (empty text) or 1, or with `compress` the framework's own
// encoding, which compresses when that makes the frame shorter. False when the text cannot be
// framed (longer than a 32-bit length allows, or out of memory).
bool AppendFrame(std::string& out, unsigned char code, const std::string& text, bool compress);

// Node texts of a farm, rendered on first use and kept, the last job text rendered, and the
// look-ups the listings need. Job texts are rendered again when asked for: kept, a million of
// them would take more memory than the farm. The farm must not change while the cache is in use
// (Clear after a change).
class RecordCache {
public:
    explicit RecordCache(const Farm& farm) : farm_(farm) {}
    RecordCache(const RecordCache&) = delete;
    RecordCache& operator=(const RecordCache&) = delete;

    // Valid until the next call.
    const std::string& JobText(size_t index);
    const std::string& NodeText(size_t index);
    const Job* JobById(long id);
    const Node* NodeByName(const std::string& name);
    void Clear();

private:
    void IndexNodes();

    const Farm& farm_;
    static constexpr size_t kNone = static_cast<size_t>(-1);
    std::string jobText_;
    size_t jobTextIndex_ = kNone;
    std::vector<std::string> nodeTexts_;
    std::unordered_map<long, size_t> jobIndex_;
    std::unordered_map<std::string, size_t> nodeIndex_;
    std::vector<std::string> nodePools_;  // by node index
    bool nodesIndexed_ = false;
};

// One listing from request to end. Frames are numbered 0 (start), 1..n (records), n + 1 (end).
// In lockstep frame k goes out only after k acknowledgements; pipelined, every frame may go at
// once, and acknowledgements are counted and checked as they come.
class ListingConversation {
public:
    // `payload` is the request's (the job id for chunks; an unknown id lists no chunks).
    ListingConversation(ListingKind kind, const std::string& payload, RecordCache& cache,
                        const Farm& farm, bool lockstep);

    ListingKind Kind() const { return kind_; }
    const ListingCodes& Codes() const { return CodesOf(kind_); }
    size_t RecordCount() const { return count_; }
    long JobId() const { return jobId_; }  // chunks only

    // Appends the frames that may go now, whole ones, until `out` has grown by `budget` bytes
    // or more (at least one frame when any may go). Returns the number appended; a frame that
    // cannot be framed is skipped and counted in Unframed.
    size_t Produce(std::string& out, size_t budget, bool compress);
    // The end frame has been produced.
    bool Sent() const { return next_ > count_ + 1; }
    // Lockstep and the next frame waits for an acknowledgement.
    bool WaitingForAck() const { return lockstep_ && !Sent() && next_ > acks_; }

    // Takes one acknowledgement; false when its payload is not the expected one, or when more
    // came than frames needing one. Either way it counts, so a lockstep listing moves on.
    bool Acknowledge(const std::string& payload);
    // What acknowledgement number `index` (0 for the start) should carry.
    std::string ExpectedAck(size_t index) const;
    size_t AcksReceived() const { return acks_; }
    size_t AcksExpected() const { return count_ + 1; }
    size_t AcksUnexpected() const { return unexpected_; }
    size_t Unframed() const { return unframed_; }

private:
    // The text of record `index` (0-based), valid until the next call.
    const std::string& RecordText(size_t index);

    ListingKind kind_;
    RecordCache& cache_;
    const Farm& farm_;
    bool lockstep_;
    long jobId_ = 0;
    // Chunks: a copy, so that commands changing the farm cannot pull the job from under us.
    std::optional<Job> job_;
    // Pools: one row per pool, then one per member: (pool index, member index or -1).
    std::vector<std::pair<size_t, long>> poolRows_;
    size_t count_ = 0;
    size_t next_ = 0;
    size_t acks_ = 0;
    size_t unexpected_ = 0;
    size_t unframed_ = 0;
    std::string scratch_;
};

}  // namespace zdsim

#endif
