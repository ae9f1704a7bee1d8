// Query mode: reception rules, display filters, id tables, the listings' tables and the
// conversations of the jobs, nodes, logs, pools and chunks listings.
#include "Queries.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "CodeWords.h"
#include "CommandLine.h"
#include "Connection.h"
#include "ConsoleOutput.h"
#include "Payloads.h"
#include "Progress.h"
#include "Statistics.h"
#include "TemplateListing.h"
#include "Terminal.h"

namespace {

std::vector<int> columnList(const int* columns) {
    std::vector<int> list;
    for (int i = 0; i < kMaxColumns - 1 && columns[i] != 0; ++i)
        list.push_back(columns[i]);
    list.push_back(0);
    return list;
}

}  // namespace

zdQueryOptions queryOptionsFromSettings() {
    zdQueryOptions o;
    o.printJobs = queryJobs || queryAll;
    o.printNodes = queryCpus || queryAll;
    o.printLogs = queryLogs || queryAll;
    o.printPools = queryPools || queryAll;
    o.job = jobid;
    o.node = cpuid;
    o.chunk = chunkid;
    o.archiveMode = queryArchiveMode;
    o.jobParent = queryJobParent;
    o.jobStatus = queryJobStatus;
    o.jobEngine = queryJobEngine;
    o.nodeStatus = queryCpuStatus;
    o.nodeOs = queryCpuOs;
    o.drawRows = nVerbose >= 1;
    o.constants = nCostants != 0;
    o.style.headers = nHeaders != 0;
    o.style.separators = nSeparators != 0;
    o.style.displayWidth = isTerminalStream(stdout) && outputIsUtf8();
    o.format = outputFormat;
    o.jobColumns = jobColumns;
    o.cpuColumns = columnList(cpuColumns);
    o.chunkColumns = columnList(chunkColumns);
    o.poolColumns = columnList(poolColumns);
    o.logColumns = columnList(logColumns);
    return o;
}

// ---- Reception rules and display filters ----

bool retainJob(const jobentry& job, const zdQueryOptions& o) {
    if (job.type == JobType::kFolder) return true;
    if (job.id == o.job) return true;
    switch (o.archiveMode) {
        case 0:
            return !job.archived;
        case 1:
            return job.archived;
        default:
            return true;
    }
}

// -1 switches the job filter off, and so does 0: a deleted job leaves "no particular job".
// Other negative values name no job, so nothing passes.
bool showJob(const jobentry& job, const zdQueryOptions& o) {
    return (o.job == -1 || o.job == 0 || (o.job > 0 && job.id == o.job)) &&
           (o.jobStatus == -1 || job.status == o.jobStatus) &&
           (o.jobEngine == -1 || job.engine == o.jobEngine) &&
           (o.jobParent == -2 || job.parent == o.jobParent);
}

bool showCpu(const cpuentry& cpu, const zdQueryOptions& o) {
    return (o.node == -1 || cpu.id == o.node) &&
           (o.nodeStatus == -1 || cpu.status == o.nodeStatus) &&
           (o.nodeOs == -1 || cpu.os == o.nodeOs);
}

bool showChunk(const chunkentry& chunk, const zdQueryOptions& o) {
    return o.chunk == -1 || chunk.id == o.chunk;
}

// ---- Tables and counters ----

std::vector<long> jobIdTable;
std::vector<long> cpuIdTable;
std::vector<long> chunkIdTable;
int jobsRetained = 0;
int cpusReceived = 0;
int chunksRetained = 0;
int poolsCounted = 0;
int logsReceived = 0;
int jobsPrinted = 0;
int cpusPrinted = 0;
int chunksPrinted = 0;
int queriedJobPacketType = 1;

namespace {

bool contains(const std::vector<long>& table, long id) {
    return std::find(table.begin(), table.end(), id) != table.end();
}

}  // namespace

void resetQueryState() {
    jobIdTable.clear();
    cpuIdTable.clear();
    chunkIdTable.clear();
    jobsRetained = cpusReceived = chunksRetained = poolsCounted = logsReceived = 0;
    jobsPrinted = cpusPrinted = chunksPrinted = 0;
    queriedJobPacketType = 1;
    forgetTemplateNames();
}

zdListingCounts listingCounts() {
    return {jobsRetained, cpusReceived, logsReceived, poolsCounted};
}

bool ValidateJobId(long id) {
    return contains(jobIdTable, id);
}
bool ValidateCpuId(long id) {
    return contains(cpuIdTable, id);
}
bool ValidateChunkId(long id) {
    return contains(chunkIdTable, id);
}

// ---- Listing tables ----

namespace {

// Table text goes to standard output in writes of about this size.
constexpr size_t kFlushBytes = 64 * 1024;

void writeOut(std::string& text) {
    if (!text.empty()) zdWrite(stdout, text.data(), text.size());
    text.clear();
}

// The "kind" of each record in json.
const char* recordKind(const jobentry*) {
    return "job";
}
const char* recordKind(const cpuentry*) {
    return "node";
}
const char* recordKind(const chunkentry*) {
    return "chunk";
}
const char* recordKind(const poolentry*) {
    return "pool";
}
const char* recordKind(const logentry*) {
    return "log";
}

}  // namespace

template <typename Record>
zdListing<Record>::zdListing(zdColumns<Record> columns, const zdQueryOptions& options)
    : columns_(std::move(columns)),
      table_(streamsRecords(options.format) ? std::vector<zdColumnHead>() : columns_.heads,
             options.style),
      keepRows_(options.drawRows) {
    if (!streamsRecords(options.format)) return;
    std::vector<zdRecordMember> members;
    for (size_t i = 0; i < columns_.columns.size(); ++i)
        members.push_back({std::string(columns_.Key(i)), columns_.Numeric(i, options.constants)});
    stream_ = std::make_unique<zdRecordStream>(options.format,
                                               recordKind(static_cast<const Record*>(nullptr)),
                                               std::move(members), options.style.headers);
}

template <typename Record>
void zdListing<Record>::StartStream() {
    if (!started_) stream_->Headers(pending_);
    started_ = true;
}

template <typename Record>
void zdListing<Record>::Add(const Record& record, bool shown, zdCellContext& context) {
    const size_t n = columns_.columns.size();
    if (shown) ++shown_;
    const bool keep = shown && keepRows_;
    // Without rows to draw, the widths serve nothing.
    if (!keepRows_) return;
    if (stream_) {
        if (!keep) return;
        StartStream();
        stream_->Begin(pending_);
        for (size_t i = 0; i < n; ++i)
            stream_->Cell(pending_, i, columns_.Cell(i, record, context, scratch_));
        stream_->End(pending_);
        if (pending_.size() >= kFlushBytes) writeOut(pending_);
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        const std::string_view cell = columns_.Cell(i, record, context, scratch_);
        table_.Measure(i, cell);
        if (keep) table_.Keep(cell, columns_.Repeats(i));
    }
    if (keep) table_.EndRow();
}

template <typename Record>
void zdListing<Record>::Print() {
    if (!keepRows_) return;
    if (stream_) {
        StartStream();
        writeOut(pending_);
        return;
    }
    std::string out;
    table_.RenderHeaders(out);
    table_.RenderRows(out, kFlushBytes, writeOut);
    writeOut(out);
    table_.ForgetRows();
}

template <typename Record>
std::string zdListing<Record>::Text() {
    if (stream_) {
        StartStream();
        std::string text;
        text.swap(pending_);
        return text;
    }
    std::string out;
    table_.RenderHeaders(out);
    table_.RenderRows(out, static_cast<size_t>(-1), [](std::string&) {});
    return out;
}

template class zdListing<jobentry>;
template class zdListing<cpuentry>;
template class zdListing<chunkentry>;
template class zdListing<poolentry>;
template class zdListing<logentry>;

// ---- Conversations ----

namespace {

unsigned char code() {
    return static_cast<unsigned char>(message[0]);
}

// The payload of the last message; the text ends at its first NUL.
std::string_view payload() {
    return std::string_view(rcvargs);
}

// Sends the request, then answers the start and every record until the end code; other codes
// are dropped.
template <typename OnStart, typename OnRecord>
bool converse(const zdCode::Listing& codes, const std::string& request, OnStart onStart,
              OnRecord onRecord) {
    zdProgressCount progress(progressWanted());
    sendMsg(codes.request, request);
    for (;;) {
        if (!receiveMsg()) return false;
        const unsigned char got = code();
        if (got == codes.start) {
            onStart();
        } else if (got == codes.record) {
            onRecord(payload());
            progress.Record();
        } else if (got == codes.end) {
            break;
        }
    }
    progress.Finish();
    flushMsgs();
    return true;
}

void printTotal(const char* format, int count) {
    _zdprintf(2, "\n");
    _zdprintf(3, format, count);
}

zdCellContext cellContext(const zdQueryOptions& options) {
    zdCellContext context;
    context.constants = options.constants;
    context.engineName = templateName;
    return context;
}

}  // namespace

bool QueryJobs(const zdQueryOptions& options) {
    const bool print = options.printJobs;
    forgetTemplateNames();
    zdListing<jobentry> listing(print ? jobColumnsOf(options.jobColumns) : zdColumns<jobentry>(),
                                options);
    const std::vector<std::string>& keys = listing.Columns().attributeKeys;
    zdCellContext context = cellContext(options);
    std::string decoded;
    std::vector<std::string_view> values;
    const std::string ack;
    bool ok = converse(
        zdCode::kJobsListing, std::string(),
        [&] {
            _zdprintf(3, "\nReceiving Jobs list...\n\n");
            queueMsg(zdCode::kJobsAck, ack);
        },
        [&](std::string_view text) {
            jobentry job;
            zdProtocol::ParseJobRecord(text, job);
            if (retainJob(job, options)) {
                jobIdTable.push_back(job.id);
                ++jobsRetained;
                if (job.id == options.job) queriedJobPacketType = job.pktype;
                if (print) {
                    if (!keys.empty()) {
                        jobAttributeValues(job, keys, decoded, values);
                        context.attributes = values.data();
                    }
                    listing.Add(job, showJob(job, options), context);
                }
            }
            queueMsg(zdCode::kJobsAck, ack);
        });
    if (ok && print) {
        listing.Print();
        jobsPrinted = static_cast<int>(listing.Shown());
        printTotal("\nTotal jobs found: %d\n", jobsPrinted);
    }
    return ok;
}

bool QueryCpus(const zdQueryOptions& options) {
    const bool print = options.printNodes;
    zdListing<cpuentry> listing(
        print ? cpuColumnsOf(options.cpuColumns.data()) : zdColumns<cpuentry>(), options);
    zdCellContext context = cellContext(options);
    const std::string ack;
    bool ok = converse(
        zdCode::kNodesListing, std::string(),
        [&] {
            if (print) _zdprintf(3, "\nReceiving Nodes list...\n\n");
            queueMsg(zdCode::kNodesAck, ack);
        },
        [&](std::string_view text) {
            cpuentry cpu;
            zdProtocol::ParseNodeRecord(text, cpu);
            cpuIdTable.push_back(cpu.id);
            ++cpusReceived;
            if (print) listing.Add(cpu, showCpu(cpu, options), context);
            queueMsg(zdCode::kNodesAck, ack);
        });
    if (ok && print) {
        listing.Print();
        cpusPrinted = static_cast<int>(listing.Shown());
        printTotal("\nTotal nodes found: %d\n", cpusPrinted);
    }
    return ok;
}

bool QueryLogs(const zdQueryOptions& options) {
    const bool print = options.printLogs;
    zdListing<logentry> listing(
        print ? logColumnsOf(options.logColumns.data()) : zdColumns<logentry>(), options);
    zdCellContext context = cellContext(options);
    const std::string ack;
    bool ok = converse(
        zdCode::kLogsListing, std::string(),
        [&] {
            if (print) _zdprintf(3, "\nReceiving Logs list...\n\n");
            queueMsg(zdCode::kLogsAck, ack);
        },
        [&](std::string_view text) {
            ++logsReceived;
            if (print) {
                logentry log;
                zdProtocol::ParseLogRecord(text, log);
                listing.Add(log, true, context);
            }
            queueMsg(zdCode::kLogsAck, ack);
        });
    if (ok && print) {
        listing.Print();
        printTotal("\nTotal logs found: %d\n", logsReceived);
    }
    return ok;
}

bool QueryPools(const zdQueryOptions& options) {
    const bool print = options.printPools;
    zdListing<poolentry> listing(
        print ? poolColumnsOf(options.poolColumns.data()) : zdColumns<poolentry>(), options);
    zdCellContext context = cellContext(options);
    const std::string ack;
    bool ok = converse(
        zdCode::kPoolsListing, std::string(),
        [&] {
            if (print) _zdprintf(3, "\nReceiving Pools list...\n\n");
            queueMsg(zdCode::kPoolsAck, ack);
        },
        [&](std::string_view text) {
            poolentry pool;
            zdProtocol::ParsePoolRecord(text, pool);
            if (pool.ip.empty()) {
                ++poolsCounted;
            } else if (print) {
                listing.Add(pool, true, context);
            }
            queueMsg(zdCode::kPoolsAck, ack);
        });
    if (ok && print) {
        listing.Print();
        printTotal("\nTotal pools found: %d\n", poolsCounted);
    }
    return ok;
}

bool QueryChunk(long jobId, const zdQueryOptions& options) {
    if (queriedJobPacketType == PacketType::kSingleHost) {
        _zdprintf(1, "No chunks for single host job\n");
        return true;
    }
    if (queriedJobPacketType == PacketType::kBroadcast) {
        _zdprintf(1, "No chunks for broadcast jobs\n");
        return true;
    }
    zdListing<chunkentry> listing(chunkColumnsOf(options.chunkColumns.data()), options);
    zdCellContext context = cellContext(options);
    bool ok = converse(
        zdCode::kChunksListing, zdProtocol::BuildChunksRequest(jobId),
        [&] {
            _zdprintf(3, "\nReceiving Job %ld Chunks list...\n\n", jobId);
            queueMsg(zdCode::kChunksAck, zdProtocol::BuildChunkAck(jobId, 0));
        },
        [&](std::string_view text) {
            chunkentry chunk;
            zdProtocol::ParseChunkRecord(text, chunk);
            listing.Add(chunk, showChunk(chunk, options), context);
            chunkIdTable.push_back(chunk.id);
            ++chunksRetained;
            queueMsg(zdCode::kChunksAck, zdProtocol::BuildChunkAck(jobId, chunk.id));
        });
    if (ok) {
        listing.Print();
        chunksPrinted = static_cast<int>(listing.Shown());
        _zdprintf(2, "\n");
        _zdprintf(3, "\nTotal Job %ld Chunks found: %d\n", jobId, chunksPrinted);
    }
    return ok;
}

void QueryEngine() {
    const char* state = selectionLogic ? "Active" : "Disabled";
    if (!streamsRecords(outputFormat)) {
        _zdprintf(1, "\nSelection logic: %s\n", state);
        return;
    }
    const zdRecordStream stream(outputFormat, "engine", {{"selection_logic", false}},
                                nHeaders != 0);
    std::string text;
    stream.Headers(text);
    stream.Record(text, {state});
    writeRecordText(text);
}

namespace {

int fail(const char* format, long id) {
    std::fflush(stdout);
    zdError(format, id);
    return -1;
}

}  // namespace

int runQueryMode() {
    const zdQueryOptions options = queryOptionsFromSettings();
    if ((queryJobs || queryAll || queryStats || queryChunks) && !QueryJobs(options)) return -1;
    if ((queryCpus || queryAll || queryStats) && !QueryCpus(options)) return -1;
    if ((queryLogs || queryAll || queryStats) && !QueryLogs(options)) return -1;
    if ((queryPools || queryAll || queryStats) && !QueryPools(options)) return -1;
    if (queryEngine || queryAll) QueryEngine();

    if (options.job > 0 && !ValidateJobId(options.job))
        return fail("\nInvalid job id %ld.\n", options.job);
    if (options.node > 0 && !ValidateCpuId(options.node))
        return fail("\nInvalid node id %ld.\n", options.node);
    if (queryChunks) {
        if (options.job <= 0) {
            std::fflush(stdout);
            zdError("\nCan't query chunks.Invalid job.\n");
            return -1;
        }
        if (!QueryChunk(options.job, options)) return -1;
    }
    if (options.chunk >= 0 && !ValidateChunkId(options.chunk))
        return fail("\nInvalid chunk id %ld.\n", options.chunk);

    if (queryStats && !QueryStats(listingCounts())) return -1;
    if (queryTemplates) dumpTemplates();
    if (queryTemplateFields) dumpTemplateFields(queryTemplateFields);
    return 0;
}
