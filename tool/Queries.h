// Query mode: the records of the Dispatcher's listings, how each is parsed from its text lines,
// which are kept, the id tables that check -job, -cpu and -chunk, and the conversations.
#ifndef ZDTOOL_QUERIES_H
#define ZDTOOL_QUERIES_H

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include "MessageCodes.h"

// Bump storage for the texts of one listing: a listing of a million jobs costs a few hundred
// large blocks instead of millions of small strings. Views into it stay valid until Clear.
class zdTextArena {
public:
    // A copy of the bytes, followed by a NUL that the view does not include.
    std::string_view Store(const char* text, size_t length) {
        if (length < left_) {
            char* at = next_;
            if (length) std::memcpy(at, text, length);
            at[length] = '\0';
            next_ += length + 1;
            left_ -= length + 1;
            return std::string_view(at, length);
        }
        return StoreInNewBlock(text, length);
    }
    std::string_view Store(std::string_view text) { return Store(text.data(), text.size()); }
    // Uninitialised room for `count` views, suitably aligned.
    std::string_view* AllocateViews(size_t count);
    void Clear();
    // Forgets every text but keeps one block for reuse.
    void Rewind();

private:
    std::string_view StoreInNewBlock(const char* text, size_t length);
    char* Reserve(size_t bytes, size_t alignment);

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<std::unique_ptr<char[]>> large_;
    char* next_ = nullptr;
    size_t left_ = 0;
};

// One job or folder of the jobs listing.
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
    // The values of the listing's attribute columns (zdJobList::attributeKeys), in that order;
    // null when the listing shows no attribute. An absent attribute is a null view.
    const std::string_view* attributes = nullptr;
};

// One render node.
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

// One chunk of a job.
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

// One row of the pools listing: a pool itself when `ip` is empty, else one member node.
struct poolentry {
    std::string_view parent, name, ip, extra;
};

struct logentry {
    int type = 0;
    std::string_view time, entry, ip, host, user;
};

// The records of one listing and the storage of their texts.
template <typename Record>
struct zdRecordList {
    zdTextArena arena;
    std::vector<Record> records;
    void clear() {
        records.clear();
        records.shrink_to_fit();
        arena.Clear();
    }
};

// Jobs also carry the attribute names that the job columns show, fixed before reception so that
// only those values are kept.
struct zdJobList : zdRecordList<jobentry> {
    std::vector<std::string> attributeKeys;
};
using zdCpuList = zdRecordList<cpuentry>;
using zdChunkList = zdRecordList<chunkentry>;
using zdPoolList = zdRecordList<poolentry>;
using zdLogList = zdRecordList<logentry>;

// Record parsers: one pass over the payload's lines; missing lines read as 0 or empty. Texts are
// copied into `arena`.
void parseJobRecord(const char* payload, jobentry& job, zdTextArena& arena,
                    const std::vector<std::string>& attributeKeys);
void parseCpuRecord(const char* payload, cpuentry& cpu, zdTextArena& arena);
void parseChunkRecord(const char* payload, chunkentry& chunk, zdTextArena& arena);
void parsePoolRecord(const char* payload, poolentry& pool, zdTextArena& arena);
void parseLogRecord(const char* payload, logentry& log, zdTextArena& arena);

// Strict Base64 into `out` (reused between calls); false when the text is not Base64.
bool decodeBase64Into(std::string_view base64, std::string& out);

// The attribute block of a job: Base64 of groups of four lines (name, value and two flags).
// Calls visit(name, value) per group in order; false when the text is not Base64.
template <typename Visit>
bool forEachJobAttribute(std::string_view base64, std::string& scratch, Visit&& visit);
// The same as a list, for callers that want every attribute.
bool decodeJobAttributes(std::string_view base64,
                         std::vector<std::pair<std::string, std::string>>& attributes);

// Number readers with the C library's rules (leading blanks, sign, digits up to the first other
// character, 0 when there is none); out-of-range values are clamped.
long parseLong(std::string_view text);
int parseInt(std::string_view text);

// Reception rules.
bool retainJob(const jobentry& job);
// Display filters.
bool showJob(const jobentry& job);
bool showCpu(const cpuentry& cpu);
bool showChunk(const chunkentry& chunk);

// Per-run tables and counters.
extern std::vector<long> jobIdTable;
extern std::vector<long> cpuIdTable;
extern std::vector<long> chunkIdTable;
extern int jobsRetained;
extern int cpusReceived;
extern int chunksRetained;
extern int poolsCounted;
extern int logsReceived;
extern int jobsPrinted;
extern int cpusPrinted;
extern int chunksPrinted;
extern int queriedJobPacketType;  // of the job named by -job; 1 until that job arrives
void resetQueryState();

bool ValidateJobId(long id);
bool ValidateCpuId(long id);
bool ValidateChunkId(long id);

// The conversations. Each returns false when the connection failed (message printed).
bool QueryJobs();
bool QueryCpus();
bool QueryLogs();
bool QueryPools();
bool QueryChunk(long jobId);
void QueryEngine();

// Query mode in its fixed order: listings, identifier checks, chunks, statistics, templates.
// 0 when done, -1 when the run must fail (message printed).
int runQueryMode();

// ---- implementation of the template above ----

template <typename Visit>
bool forEachJobAttribute(std::string_view base64, std::string& scratch, Visit&& visit) {
    if (!decodeBase64Into(base64, scratch)) return false;
    // The decoded text ends at its first NUL, as a C string would.
    std::string_view text(scratch.data(), std::char_traits<char>::length(scratch.c_str()));
    auto nextLine = [&text](std::string_view& line) {
        if (text.empty()) return false;
        size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            line = text;
            text = std::string_view();
        } else {
            line = text.substr(0, end);
            text.remove_prefix(end + 1);
        }
        return true;
    };
    std::string_view name, value, flag;
    while (nextLine(name) && !name.empty()) {
        if (!nextLine(value)) value = std::string_view();
        nextLine(flag);
        nextLine(flag);
        visit(name, value);
    }
    return true;
}

#endif
