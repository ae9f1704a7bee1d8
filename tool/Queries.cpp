// Query mode: record parsing, reception rules, display filters, id tables and the conversations
// of the jobs, nodes, logs, pools and chunks listings.
#include "Queries.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

#include "CommandLine.h"
#include "Connection.h"
#include "ConsoleOutput.h"
#include "Statistics.h"
#include "TableOutput.h"
#include "TemplateListing.h"
#include "ZRBase64.h"

// ---- Text arena ----

namespace {

constexpr size_t kArenaBlock = 256 * 1024;

}  // namespace

char* zdTextArena::Reserve(size_t bytes, size_t alignment) {
    // A text larger than a quarter block gets a block of its own, so the current one is not
    // abandoned half empty.
    if (bytes > kArenaBlock / 4) {
        large_.emplace_back(new char[bytes + alignment]);
        char* own = large_.back().get();
        return own + (alignment - reinterpret_cast<uintptr_t>(own) % alignment) % alignment;
    }
    size_t skip =
        next_ ? (alignment - reinterpret_cast<uintptr_t>(next_) % alignment) % alignment : 0;
    if (!next_ || left_ < skip + bytes) {
        blocks_.emplace_back(new char[kArenaBlock]);
        next_ = blocks_.back().get();
        left_ = kArenaBlock;
        skip = (alignment - reinterpret_cast<uintptr_t>(next_) % alignment) % alignment;
    }
    char* at = next_ + skip;
    next_ = at + bytes;
    left_ -= skip + bytes;
    return at;
}

std::string_view zdTextArena::StoreInNewBlock(const char* text, size_t length) {
    char* copy = Reserve(length + 1, 1);
    if (length) std::memcpy(copy, text, length);
    copy[length] = '\0';
    return std::string_view(copy, length);
}

std::string_view* zdTextArena::AllocateViews(size_t count) {
    return reinterpret_cast<std::string_view*>(
        Reserve(count * sizeof(std::string_view), alignof(std::string_view)));
}

void zdTextArena::Clear() {
    blocks_.clear();
    large_.clear();
    next_ = nullptr;
    left_ = 0;
}

void zdTextArena::Rewind() {
    large_.clear();
    if (blocks_.size() > 1) blocks_.resize(1);
    next_ = blocks_.empty() ? nullptr : blocks_.front().get();
    left_ = blocks_.empty() ? 0 : kArenaBlock;
}

// ---- Parsing ----

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Walks a payload's lines once, from the first; the text ends at its first NUL.
class LineReader {
public:
    explicit LineReader(const char* text) : next_(text ? text : "") {}

    // The next line without its line feed; empty once the text is used up.
    std::string_view Next() {
        const char* start = next_;
        const char* stop = strchrnul(start, '\n');
        next_ = *stop == '\n' ? stop + 1 : stop;
        return std::string_view(start, static_cast<size_t>(stop - start));
    }
    void Skip(int lines) {
        while (lines-- > 0)
            Next();
    }
    long Long() { return parseLong(Next()); }
    int Int() { return parseInt(Next()); }
    // A missing or empty line reads as false, like every other missing value.
    bool Flag() {
        std::string_view line = Next();
        return !line.empty() && line != "0";
    }
    std::string_view Text(zdTextArena& arena) {
        std::string_view line = Next();
        return line.empty() ? std::string_view() : arena.Store(line);
    }
    float Float() {
        std::string line(Next());
        return std::strtof(line.c_str(), nullptr);
    }

private:
    const char* next_;
};

}  // namespace

long parseLong(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const unsigned long limit =
        negative ? static_cast<unsigned long>(LONG_MAX) + 1 : static_cast<unsigned long>(LONG_MAX);
    unsigned long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned long digit = static_cast<unsigned long>(text[i] - '0');
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    if (!negative) return static_cast<long>(value);
    return value == limit ? LONG_MIN : -static_cast<long>(value);
}

int parseInt(std::string_view text) {
    const long value = parseLong(text);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

bool decodeBase64Into(std::string_view base64, std::string& out) {
    unsigned long size = base64.size() / 4 * 3 + 3;
    out.resize(size);
    if (!ZRFramework::ZRBase64::Decode(base64.data(), base64.size(), &out[0], &size)) {
        out.clear();
        return false;
    }
    out.resize(size);
    return true;
}

bool decodeJobAttributes(std::string_view base64,
                         std::vector<std::pair<std::string, std::string>>& attributes) {
    attributes.clear();
    std::string scratch;
    std::unordered_map<std::string, size_t> positions;
    return forEachJobAttribute(base64, scratch, [&](std::string_view name, std::string_view value) {
        // The property map keeps one value per name: a later group replaces the earlier one.
        auto [at, added] = positions.emplace(std::string(name), attributes.size());
        if (added) {
            attributes.emplace_back(std::string(name), std::string(value));
        } else {
            attributes[at->second].second = std::string(value);
        }
    });
}

void parseJobRecord(const char* payload, jobentry& job, zdTextArena& arena,
                    const std::vector<std::string>& attributeKeys) {
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
    job.submitter = lines.Text(arena);
    job.name = lines.Text(arena);
    job.id = lines.Long();
    job.pksize = lines.Int();
    job.pool = lines.Text(arena);
    job.skiperror = lines.Flag();
    job.parent = lines.Long();
    job.type = lines.Int();
    job.depend = lines.Text(arena);
    job.requeued = lines.Int();
    lines.Skip(10);  // 22-31
    job.locked = lines.Flag();
    job.archived = lines.Flag();
    std::string_view block = lines.Next();
    job.group = lines.Text(arena);
    job.department = lines.Text(arena);

    job.attributes = nullptr;
    if (attributeKeys.empty()) return;
    std::string_view* values = arena.AllocateViews(attributeKeys.size());
    for (size_t k = 0; k < attributeKeys.size(); ++k)
        new (&values[k]) std::string_view();
    static std::string scratch;  // the tool is single-threaded; reused for every job
    forEachJobAttribute(block, scratch, [&](std::string_view name, std::string_view value) {
        for (size_t k = 0; k < attributeKeys.size(); ++k) {
            if (attributeKeys[k] == name) values[k] = arena.Store(value);
        }
    });
    job.attributes = values;
}

void parseCpuRecord(const char* payload, cpuentry& cpu, zdTextArena& arena) {
    LineReader lines(payload);
    cpu.chunkid = lines.Long();
    cpu.id = lines.Long();
    cpu.os = lines.Int();
    cpu.name = lines.Text(arena);
    cpu.num = lines.Text(arena);
    cpu.ip = lines.Text(arena);
    cpu.sst = lines.Text(arena);
    cpu.cpuusage = lines.Text(arena);
    cpu.ramusage = lines.Text(arena);
    cpu.ppriority = lines.Int();
    cpu.jobid = lines.Long();
    cpu.status = lines.Int();
    cpu.tpause = lines.Int();
    cpu.jobname = lines.Text(arena);
    cpu.chunknamef = lines.Text(arena);
    cpu.chunkname = lines.Text(arena);
    cpu.logpath = lines.Text(arena);
    cpu.supmask = lines.Text(arena);
    cpu.version = lines.Int();
    cpu.rtlog = lines.Int();
    cpu.priority = lines.Int();
    lines.Skip(2);  // 22-23
    cpu.notes = lines.Text(arena);
}

void parseChunkRecord(const char* payload, chunkentry& chunk, zdTextArena& arena) {
    LineReader lines(payload);
    lines.Skip(1);
    chunk.id = lines.Long();
    chunk.sf = lines.Float();
    chunk.ef = lines.Float();
    chunk.st = lines.Long();
    chunk.et = lines.Long();
    chunk.renderby = lines.Text(arena);
    chunk.result = lines.Text(arena);
    chunk.status = lines.Int();
    lines.Skip(2);  // 10-11
    chunk.bf = static_cast<float>(lines.Int());
    chunk.requeued = lines.Int();
}

void parsePoolRecord(const char* payload, poolentry& pool, zdTextArena& arena) {
    LineReader lines(payload);
    pool.parent = lines.Text(arena);
    pool.name = lines.Text(arena);
    pool.ip = lines.Text(arena);
    pool.extra = lines.Text(arena);
}

void parseLogRecord(const char* payload, logentry& log, zdTextArena& arena) {
    LineReader lines(payload);
    log.type = lines.Int();
    log.time = lines.Text(arena);
    log.entry = lines.Text(arena);
    log.ip = lines.Text(arena);
    log.host = lines.Text(arena);
    log.user = lines.Text(arena);
}

// ---- Reception rules and display filters ----

bool retainJob(const jobentry& job) {
    if (job.type == 1) return true;
    if (job.id == jobid) return true;
    switch (queryArchiveMode) {
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
bool showJob(const jobentry& job) {
    return (jobid == -1 || jobid == 0 || (jobid > 0 && job.id == jobid)) &&
           (queryJobStatus == -1 || job.status == queryJobStatus) &&
           (queryJobEngine == -1 || job.engine == queryJobEngine) &&
           (queryJobParent == -2 || job.parent == queryJobParent);
}

bool showCpu(const cpuentry& cpu) {
    return (cpuid == -1 || cpu.id == cpuid) &&
           (queryCpuStatus == -1 || cpu.status == queryCpuStatus) &&
           (queryCpuOs == -1 || cpu.os == queryCpuOs);
}

bool showChunk(const chunkentry& chunk) {
    return chunkid == -1 || chunk.id == chunkid;
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

bool ValidateJobId(long id) {
    return contains(jobIdTable, id);
}
bool ValidateCpuId(long id) {
    return contains(cpuIdTable, id);
}
bool ValidateChunkId(long id) {
    return contains(chunkIdTable, id);
}

// ---- Conversations ----

namespace {

unsigned char code() {
    return static_cast<unsigned char>(message[0]);
}

// Sends the request, then answers the start and every record until the end code; other codes
// are dropped.
template <typename OnStart, typename OnRecord>
bool converse(unsigned char request, const std::string& text, unsigned char start,
              unsigned char record, unsigned char end, OnStart onStart, OnRecord onRecord) {
    sendMsg(request, text);
    for (;;) {
        if (!receiveMsg()) return false;
        const unsigned char got = code();
        if (got == start) {
            onStart();
        } else if (got == record) {
            onRecord(rcvargs);
        } else if (got == end) {
            break;
        }
    }
    flushMsgs();
    return true;
}

void printTotal(const char* format, int count) {
    _zdprintf(2, "\n");
    _zdprintf(3, format, count);
}

}  // namespace

bool QueryJobs() {
    const bool print = queryJobs || queryAll;
    zdJobList list;
    if (print) prepareJobColumns(list);
    const std::string ack;
    bool ok = converse(
        zdCode::kJobsRequest, std::string(), zdCode::kJobsStart, zdCode::kJobsRecord,
        zdCode::kJobsEnd,
        [&] {
            _zdprintf(3, "\nReceiving Jobs list...\n\n");
            queueMsg(zdCode::kJobsAck, ack);
        },
        [&](const char* payload) {
            jobentry job;
            // Listings only counted for the statistics keep no texts.
            if (!print) list.arena.Rewind();
            parseJobRecord(payload, job, list.arena, list.attributeKeys);
            if (retainJob(job)) {
                jobIdTable.push_back(job.id);
                ++jobsRetained;
                if (job.id == jobid) queriedJobPacketType = job.pktype;
                if (print) list.records.push_back(job);
            }
            queueMsg(zdCode::kJobsAck, ack);
        });
    if (ok && print) {
        jobsPrinted = printJobTable(list);
        printTotal("\nTotal jobs found: %d\n", jobsPrinted);
    }
    list.clear();
    return ok;
}

bool QueryCpus() {
    const bool print = queryCpus || queryAll;
    zdCpuList list;
    const std::string ack;
    bool ok = converse(
        zdCode::kNodesRequest, std::string(), zdCode::kNodesStart, zdCode::kNodesRecord,
        zdCode::kNodesEnd,
        [&] {
            if (print) _zdprintf(3, "\nReceiving Nodes list...\n\n");
            queueMsg(zdCode::kNodesAck, ack);
        },
        [&](const char* payload) {
            cpuentry cpu;
            if (!print) list.arena.Rewind();
            parseCpuRecord(payload, cpu, list.arena);
            cpuIdTable.push_back(cpu.id);
            ++cpusReceived;
            if (print) list.records.push_back(cpu);
            queueMsg(zdCode::kNodesAck, ack);
        });
    if (ok && print) {
        cpusPrinted = printCpuTable(list);
        printTotal("\nTotal nodes found: %d\n", cpusPrinted);
    }
    list.clear();
    return ok;
}

bool QueryLogs() {
    const bool print = queryLogs || queryAll;
    zdLogList list;
    const std::string ack;
    bool ok = converse(
        zdCode::kLogsRequest, std::string(), zdCode::kLogsStart, zdCode::kLogsRecord,
        zdCode::kLogsEnd,
        [&] {
            if (print) _zdprintf(3, "\nReceiving Logs list...\n\n");
            queueMsg(zdCode::kLogsAck, ack);
        },
        [&](const char* payload) {
            ++logsReceived;
            if (print) {
                logentry log;
                parseLogRecord(payload, log, list.arena);
                list.records.push_back(log);
            }
            queueMsg(zdCode::kLogsAck, ack);
        });
    if (ok && print) {
        printLogTable(list);
        printTotal("\nTotal logs found: %d\n", logsReceived);
    }
    list.clear();
    return ok;
}

bool QueryPools() {
    const bool print = queryPools || queryAll;
    zdPoolList list;
    const std::string ack;
    bool ok = converse(
        zdCode::kPoolsRequest, std::string(), zdCode::kPoolsStart, zdCode::kPoolsRecord,
        zdCode::kPoolsEnd,
        [&] {
            if (print) _zdprintf(3, "\nReceiving Pools list...\n\n");
            queueMsg(zdCode::kPoolsAck, ack);
        },
        [&](const char* payload) {
            poolentry pool;
            if (!print) list.arena.Rewind();
            parsePoolRecord(payload, pool, list.arena);
            if (pool.ip.empty()) {
                ++poolsCounted;
            } else if (print) {
                list.records.push_back(pool);
            }
            queueMsg(zdCode::kPoolsAck, ack);
        });
    if (ok && print) {
        printPoolTable(list);
        printTotal("\nTotal pools found: %d\n", poolsCounted);
    }
    list.clear();
    return ok;
}

bool QueryChunk(long jobId) {
    if (queriedJobPacketType == 2) {
        _zdprintf(1, "No chunks for single host job\n");
        return true;
    }
    if (queriedJobPacketType == 4) {
        _zdprintf(1, "No chunks for broadcast jobs\n");
        return true;
    }
    const std::string job = std::to_string(jobId) + "\n";
    zdChunkList list;
    bool ok = converse(
        zdCode::kChunksRequest, job, zdCode::kChunksStart, zdCode::kChunksRecord,
        zdCode::kChunksEnd,
        [&] {
            _zdprintf(3, "\nReceiving Job %ld Chunks list...\n\n", jobId);
            queueMsg(zdCode::kChunksAck, job + "0\n");
        },
        [&](const char* payload) {
            chunkentry chunk;
            parseChunkRecord(payload, chunk, list.arena);
            list.records.push_back(chunk);
            chunkIdTable.push_back(chunk.id);
            ++chunksRetained;
            queueMsg(zdCode::kChunksAck, job + std::to_string(chunk.id) + "\n");
        });
    if (ok) {
        chunksPrinted = printChunkTable(list);
        _zdprintf(2, "\n");
        _zdprintf(3, "\nTotal Job %ld Chunks found: %d\n", jobId, chunksPrinted);
    }
    list.clear();
    return ok;
}

void QueryEngine() {
    _zdprintf(1, "\nSelection logic: %s\n", selectionLogic ? "Active" : "Disabled");
}

namespace {

int fail(const char* format, long id) {
    std::fflush(stdout);
    zdError(format, id);
    return -1;
}

}  // namespace

int runQueryMode() {
    if ((queryJobs || queryAll || queryStats || queryChunks) && !QueryJobs()) return -1;
    if ((queryCpus || queryAll || queryStats) && !QueryCpus()) return -1;
    if ((queryLogs || queryAll || queryStats) && !QueryLogs()) return -1;
    if ((queryPools || queryAll || queryStats) && !QueryPools()) return -1;
    if (queryEngine || queryAll) QueryEngine();

    if (jobid > 0 && !ValidateJobId(jobid)) return fail("\nInvalid job id %ld.\n", jobid);
    if (cpuid > 0 && !ValidateCpuId(cpuid)) return fail("\nInvalid node id %ld.\n", cpuid);
    if (queryChunks) {
        if (jobid <= 0) {
            std::fflush(stdout);
            zdError("\nCan't query chunks.Invalid job.\n");
            return -1;
        }
        if (!QueryChunk(jobid)) return -1;
    }
    if (chunkid >= 0 && !ValidateChunkId(chunkid))
        return fail("\nInvalid chunk id %ld.\n", chunkid);

    if (queryStats && !QueryStats()) return -1;
    if (queryTemplates) dumpTemplates();
    if (queryTemplateFields) dumpTemplateFields(queryTemplateFields);
    return 0;
}
