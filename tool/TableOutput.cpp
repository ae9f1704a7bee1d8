// Field keyword tables, default column lists, field-list parsers, the words of coded values, and
// the drawing of the query tables: widths, headers and rows.
#include "TableOutput.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "CommandLine.h"
#include "ConsoleOutput.h"
#include "ZRStringHelper.h"
#include "ZRTemplateManager.h"

const zdJobField jobFields[] = {
    {"id", "ID", "Job ID", nullptr},
    {"parent", "PARENT", "Job parent ID", nullptr},
    {"depend", "DEPEND", "Job depend IDs", nullptr},
    {"type", "TYPE", "Job type", nullptr},
    {"priority", "PRIORITY", "Job priority", nullptr},
    {"status", "STATUS", "Job status", nullptr},
    {"locked", "LOCKED", "Job locked status", nullptr},
    {"progress", "PROGRESS", "Job progress", nullptr},
    {"pktype", "PKTYPE", "Packet type", nullptr},
    {"pksize", "PKSIZE", "Packet size", nullptr},
    {"engine", "ENGINE", "Job template", nullptr},
    {"maxcpu", "MAXCPU", "Max allowed nodes", nullptr},
    {"workingcpu", "WORKINGCPU", "Nodes working on job", nullptr},
    {"requeued", "REQUEUED", "Number of requeues", nullptr},
    {"skiperror", "SKIPERRORS", "Skip errors flag", nullptr},
    {"name", "NAME", "Job name", nullptr},
    {"pool", "POOL", "Job pool", nullptr},
    {"submitter", "SUBMITTER", "Job owner", nullptr},
    {"group", "PROJECT", "Job project", nullptr},
    {"department", "DEPARTMENT", "Job department", nullptr},
    {"subtm", "SUBTIME", "Job submission time", nullptr},
    {"start", "STARTING", "Job starting time", nullptr},
    {"end", "ENDING", "Job ending time", nullptr},
    {"totalt", "TOTAL TIME", "Job total processing time", nullptr},
    {"paused", "PAUSED", "Job paused flag", nullptr},
    {"sf", "START FRAME", "Job starting frame", "start_frame"},
    {"ef", "END FRAME", "Job ending frame", "end_frame"},
    {"bf", "BY FRAME", "Job by frame", "by_frame"},
    {"step", "STEP", "Job step by", "step_by"},
    {"nb", "NUMBER BY", "Job number by", "number_by"},
    {"digits", "DIGITS", "Job frame digits", "digits"},
    {"xres", "X_RES", "Job X resolution (SF)", "x_res"},
    {"yres", "Y_RES", "Job Y resolution (SF)", "y_res"},
    {"overlap", "OVERLAP", "Job AS overlap (SF)", "as_overlap"},
    {"ratio", "RATIO", "Job image ratio (SF)", "ratio"},
    {"file", "FILE", "Job file", "job_file"},
    {"project", "PROJECT PATH", "Job content path", "job_project"},
    {"output_folder", "OUTPUT", "Job output path", "output_folder"},
    {"remove_slices", "remove_slices", nullptr, "remove_slices"},
};
const int jobFieldsCount = sizeof(jobFields) / sizeof(jobFields[0]);

namespace {

const zdNumberedField kCpuFields[] = {
    {1, "chunkid", "CHUNKID", 7, "Current chunk ID"},
    {2, "id", "CPUID", 5, "Node ID"},
    {3, "os", "OS", 2, "Node system"},
    {4, "name", "NAME", 4, "Node name"},
    {5, "num", "CPUNUM", 6, "Node number of cpus"},
    {6, "ip", "IP", 2, "Node IP address"},
    {7, "sst", "RENDERSTATUS", 12, "Node render status"},
    {8, "ppriority", "PRIORITY", 8, "Node spawned process priority"},
    {9, "jobid", "JOBID", 5, "Current job ID"},
    {10, "status", "STATUS", 6, "Node status"},
    {11, "tpause", "TPAUSE", 7, "Scheduled pause flag"},
    {12, "jobname", "JOBNAME", 7, "Node active job name"},
    {13, "chunknamef", "CHUNKNAME", 9, "Node active chunk frame range"},
    {14, "chunkname", "CHUNKNAME", 9, "Node active chunk frame range[integer numbers]"},
    {15, "logpath", "LOGPATH", 7, "Node exported log path"},
    {16, "supmask", "ENGINEMASK", 10, "Engine support bit mask"},
    {17, "version", "VERSION", 7, "Node version"},
    {18, "priority", "PRIORITY", 8, "Node priority"},
    {19, "rtlog", "RTLOG", 5, "Node real time log flag"},
    {20, "ramusage", "RAM USAGE", 9, "Node ram usage"},
    {21, "cpuusage", "PROC USAGE", 10, "Node cpus usage"},
    {22, "notes", "NOTES", 5, "Node notes"},
};

const zdNumberedField kChunkFields[] = {
    {1, "id", "ID", 2, "Chunk ID"},
    {2, "status", "STATUS", 6, "Chunk status"},
    {3, "requeued", "REQUEUED", 8, "Chunk requeue counter"},
    {4, "sf", "STARTFRAME", 10, "Chunk start frame"},
    {5, "ef", "ENDFRAME", 8, "Chunk end frame"},
    {6, "bf", "BYFRAME", 7, "Chunk by frame"},
    {7, "st", "START", 5, "Chunk starting time"},
    {8, "et", "END", 3, "Chunk ending time"},
    {9, "elapsed", "ELAPSED", 7, "Chunk elapsed time"},
    {10, "renderby", "RENDERED BY", 11, "Chunk assigned host"},
    {11, "result", "RESULT", 6, "Chunk results"},
};

const zdNumberedField kLogFields[] = {
    {1, "type", "TYPE", 4, "Log type"},    {2, "time", "TIME", 4, "Log time"},
    {3, "ip", "IP", 2, "Log source IP"},   {4, "host", "HOST", 4, "Log source host"},
    {5, "entry", "ENTRY", 5, "Log entry"}, {6, "user", "USER", 4, "Log source user"},
};

const zdNumberedField kPoolFields[] = {
    {1, "parent", "PARENT", 6, "Pool name"},
    {2, "name", "NAME", 4, "Node name"},
    {3, "ip", "IP", 2, "Node IP"},
};

template <size_t N>
constexpr zdFieldTable tableOf(const zdNumberedField (&fields)[N]) {
    return {fields, static_cast<int>(N)};
}

const int kDefaultCpuColumns[] = {2, 4, 7, 10, 3, 0};  // id, name, sst, status, os
const int kDefaultChunkColumns[] = {1, 4, 5, 2, 0};    // id, sf, ef, status
const int kDefaultPoolColumns[] = {1, 2, 3, 0};        // parent, name, ip
const int kDefaultLogColumns[] = {1, 2, 5, 0};         // type, time, entry

template <size_t N>
void setColumns(int (&columns)[kMaxColumns], const int (&defaults)[N]) {
    std::memset(columns, 0, sizeof(columns));
    std::memcpy(columns, defaults, sizeof(defaults));
}

// Parses a field list of a numbered kind into `columns`; `kind` names it in the error message.
bool buildNumberedFormat(const char* list, const zdFieldTable& table, const char* kind,
                         int (&columns)[kMaxColumns]) {
    char* tokens[kMaxColumns];
    int count = tokenizer(list, tokens);
    int parsed[kMaxColumns] = {0};
    bool ok = count > 0;
    for (int i = 0; ok && i < count; ++i) {
        const zdNumberedField* field = findField(table, tokens[i]);
        if (!field) {
            zdError("\nInvalid %s format: %s\n", kind, tokens[i]);
            ok = false;
        } else {
            parsed[i] = field->number;
        }
    }
    deallocatetokens(count, tokens);
    if (ok) std::memcpy(columns, parsed, sizeof(parsed));
    return ok;
}

}  // namespace

const zdFieldTable cpuFields = tableOf(kCpuFields);
const zdFieldTable chunkFields = tableOf(kChunkFields);
const zdFieldTable logFields = tableOf(kLogFields);
const zdFieldTable poolFields = tableOf(kPoolFields);

const int cpuColumnsHAlign[] = {0, 7, 5, 2, 4,  6, 2, 12, 8,  5,  6, 7,
                                7, 9, 9, 7, 10, 7, 8, 5,  10, 10, 5};
const int chunkColumnsHAlign[] = {0, 2, 6, 8, 10, 8, 7, 5, 3, 7, 11, 6};
const int poolColumnsHAlign[] = {0, 6, 4, 2};
const int logColumnsHAlign[] = {0, 4, 4, 2, 4, 5, 4};

std::vector<std::string> jobColumns;
std::vector<int> jobColumnsAlign;
int cpuColumns[kMaxColumns];
int cpuColumnsAlign[kMaxColumns];
int chunkColumns[kMaxColumns];
int chunkColumnsAlign[kMaxColumns];
int poolColumns[kMaxColumns];
int poolColumnsAlign[kMaxColumns];
int logColumns[kMaxColumns];
int logColumnsAlign[kMaxColumns];

const zdJobField* findJobField(const std::string& keyword) {
    for (const zdJobField& field : jobFields) {
        if (keyword == field.keyword) return &field;
    }
    return nullptr;
}

const zdNumberedField* findField(const zdFieldTable& table, int number) {
    for (int i = 0; i < table.count; ++i) {
        if (table.fields[i].number == number) return &table.fields[i];
    }
    return nullptr;
}

const zdNumberedField* findField(const zdFieldTable& table, const char* keyword) {
    for (int i = 0; i < table.count; ++i) {
        if (std::strcmp(table.fields[i].keyword, keyword) == 0) return &table.fields[i];
    }
    return nullptr;
}

void setDefaultJobColumns() {
    jobColumns = {"id",     "name",     "type",     "pktype",  "engine",
                  "status", "progress", "priority", "requeued"};
    jobColumnsAlign.assign(jobColumns.size(), 0);
}

void resetColumnLists() {
    setDefaultJobColumns();
    setColumns(cpuColumns, kDefaultCpuColumns);
    setColumns(chunkColumns, kDefaultChunkColumns);
    setColumns(poolColumns, kDefaultPoolColumns);
    setColumns(logColumns, kDefaultLogColumns);
}

// The numbered lists start out at their defaults; the job list waits for main.
[[maybe_unused]] static const bool columnsInitialised = [] {
    setColumns(cpuColumns, kDefaultCpuColumns);
    setColumns(chunkColumns, kDefaultChunkColumns);
    setColumns(poolColumns, kDefaultPoolColumns);
    setColumns(logColumns, kDefaultLogColumns);
    return true;
}();

bool buildJobFormat(const char* list) {
    char* tokens[kMaxColumns];
    int count = tokenizer(list, tokens);
    if (count == 0) return false;
    jobColumns.assign(tokens, tokens + count);
    jobColumnsAlign.assign(jobColumns.size(), 0);
    deallocatetokens(count, tokens);
    return true;
}

bool buildCpuFormat(const char* list) {
    return buildNumberedFormat(list, cpuFields, "cpu", cpuColumns);
}
bool buildChunkFormat(const char* list) {
    return buildNumberedFormat(list, chunkFields, "chunk", chunkColumns);
}
bool buildLogFormat(const char* list) {
    return buildNumberedFormat(list, logFields, "log", logColumns);
}
bool buildPoolFormat(const char* list) {
    return buildNumberedFormat(list, poolFields, "pool", poolColumns);
}

// ---- Cells ----

namespace {

using ZRFramework::ZRStringHelper::FormatTime;
using ZRFramework::ZRStringHelper::FormatTimespan;

// Positions in jobFields.
enum JobFieldIndex {
    kJobId,
    kJobParent,
    kJobDepend,
    kJobType,
    kJobPriority,
    kJobStatus,
    kJobLocked,
    kJobProgress,
    kJobPktype,
    kJobPksize,
    kJobEngine,
    kJobMaxcpu,
    kJobWorkingcpu,
    kJobRequeued,
    kJobSkiperror,
    kJobName,
    kJobPool,
    kJobSubmitter,
    kJobGroup,
    kJobDepartment,
    kJobSubtm,
    kJobStart,
    kJobEnd,
    kJobTotalt,
    kJobPaused,
    kJobRemoveSlices = 38,
};
static_assert(sizeof(jobFields) / sizeof(jobFields[0]) == kJobRemoveSlices + 1,
              "remove_slices closes the job field table");

// The cell of a column that takes no record value.
constexpr int kCustomAttribute = -1;

constexpr int kDateAndTime = 2;  // FormatTime mode of every time cell

std::string_view number(long value, zdCellScratch& scratch) {
    std::to_chars_result r =
        std::to_chars(scratch.number, scratch.number + sizeof scratch.number, value);
    return std::string_view(scratch.number, static_cast<size_t>(r.ptr - scratch.number));
}

std::string_view frameNumber(float value, zdCellScratch& scratch) {
    int n =
        std::snprintf(scratch.number, sizeof scratch.number, "%.3f", static_cast<double>(value));
    if (n < 0) n = 0;
    if (n >= static_cast<int>(sizeof scratch.number)) n = sizeof scratch.number - 1;
    return std::string_view(scratch.number, static_cast<size_t>(n));
}

std::string_view timeText(long seconds, zdCellScratch& scratch) {
    scratch.text = FormatTime(seconds, kDateAndTime);
    return scratch.text;
}

std::string_view jobTypeWord(int value) {
    switch (value) {
        case 0:
            return "Job";
        case 1:
            return "Folder";
        default:
            return "Invalid";
    }
}

std::string_view packetTypeWord(int value) {
    switch (value) {
        case 1:
            return "Multiframe";
        case 2:
            return "Single host";
        case 4:
            return "Broadcast";
        case 8:
            return "Image slicing";
        default:
            return "";
    }
}

std::string_view jobStatusWord(int value) {
    switch (value) {
        case 1:
            return "On Queue";
        case 2:
            return "Started";
        case 4:
            return "Started(W)";
        case 8:
            return "Pre-job Action";
        case 16:
            return "Post-job Action";
        case 32:
            return "Pre-job Action pending";
        case 64:
            return "Post-job Action pending";
        case 128:
            return "Completed";
        case 256:
            return "Completed(W)";
        default:
            return "Invalid";
    }
}

std::string_view osWord(int value) {
    switch (value) {
        case 1:
            return "Windows";
        case 2:
            return "Linux";
        case 4:
            return "OS X";
        default:
            return "Invalid";
    }
}

std::string_view nodeStatusWord(int value) {
    switch (value) {
        case 1:
            return "Idle";
        case 2:
            return "Paused";
        case 4:
            return "Completed";
        case 8:
            return "In progress";
        case 16:
            return "Starting";
        case 32:
            return "Pre chunk";
        case 4096:
            return "Post chunk";
        case 8192:
            return "Streaming templates";
        case 16384:
            return "Killed";
        case 65536:
            return "Unavailable by timetable";
        case 131072:
            return "Logged";
        case 262144:
            return "Offline";
        default:
            return "Invalid";
    }
}

std::string_view chunkStatusWord(int value) {
    switch (value) {
        case 1:
            return "On Hold";
        case 2:
            return "Sent";
        case 4:
            return "Completed";
        case 8:
            return "Completed(W)";
        default:
            return "UNDEFINED";
    }
}

std::string_view logTypeWord(int value) {
    switch (value) {
        case 1:
            return "System";
        case 2:
            return "User";
        case 4:
            return "Client";
        case 8:
            return "Error";
        default:
            return "Invalid";
    }
}

// A coded value: its word, or its number when constants are off.
std::string_view coded(int value, std::string_view word, zdCellScratch& scratch) {
    return nCostants ? word : number(value, scratch);
}

std::unordered_map<int, std::string> templateNames;

// An attribute the job does not carry is a null view.
std::string_view attributeValue(const jobentry& job, int index) {
    return job.attributes && index >= 0 ? job.attributes[index] : std::string_view();
}

}  // namespace

std::vector<zdJobColumn> jobColumnSpecs;

void prepareJobColumns(zdJobList& list) {
    jobColumnSpecs.clear();
    list.attributeKeys.clear();
    for (const std::string& keyword : jobColumns) {
        zdJobColumn column{findJobField(keyword), getJobHeader(keyword), kCustomAttribute};
        const char* attribute = column.field ? column.field->attribute : keyword.c_str();
        if (attribute) {
            size_t slot = 0;
            while (slot < list.attributeKeys.size() && list.attributeKeys[slot] != attribute)
                ++slot;
            if (slot == list.attributeKeys.size()) list.attributeKeys.emplace_back(attribute);
            column.attribute = static_cast<int>(slot);
        }
        jobColumnSpecs.push_back(std::move(column));
    }
}

std::string_view templateName(int uid) {
    auto found = templateNames.find(uid);
    if (found != templateNames.end()) return found->second;
    using ZRFramework::ZRTemplateManager::zrTemplateManager;
    ZRFramework::ZRTemplateManager::zrTemplateEntry* entry =
        zrTemplateManager::GetUniqueClass()->GetTemplate(uid);
    return templateNames.emplace(uid, entry ? entry->GetName() : std::string()).first->second;
}

void forgetTemplateNames() {
    templateNames.clear();
}

std::string ResolveJobCostant(const char* keyword, int value) {
    zdCellScratch scratch;
    std::string_view word;
    if (std::strcmp(keyword, "type") == 0) {
        word = coded(value, jobTypeWord(value), scratch);
    } else if (std::strcmp(keyword, "pktype") == 0) {
        word = coded(value, packetTypeWord(value), scratch);
    } else if (std::strcmp(keyword, "status") == 0) {
        word = coded(value, jobStatusWord(value), scratch);
    } else if (std::strcmp(keyword, "engine") == 0) {
        word = nCostants ? templateName(value) : number(value, scratch);
    } else {
        word = number(value, scratch);
    }
    return std::string(word);
}

std::string ResolveCpuCostant(int field, int value) {
    zdCellScratch scratch;
    if (field == 3) return std::string(coded(value, osWord(value), scratch));
    if (field == 10) return std::string(coded(value, nodeStatusWord(value), scratch));
    return std::string(number(value, scratch));
}

std::string ResolveChunkCostant(int field, int value) {
    zdCellScratch scratch;
    if (field == 2) return std::string(coded(value, chunkStatusWord(value), scratch));
    return std::string(number(value, scratch));
}

std::string ResolveLogCostant(int field, int value) {
    zdCellScratch scratch;
    if (field == 1) return std::string(coded(value, logTypeWord(value), scratch));
    return std::string(number(value, scratch));
}

std::string getJobHeader(const std::string& keyword) {
    const zdJobField* field = findJobField(keyword);
    return field ? field->header : keyword;
}

std::string_view jobCell(const jobentry& job, const zdJobColumn& column, zdCellScratch& scratch) {
    const int index = column.field ? static_cast<int>(column.field - jobFields) : kCustomAttribute;
    switch (index) {
        case kJobId:
            return number(job.id, scratch);
        case kJobParent:
            return number(job.parent, scratch);
        case kJobDepend:
            return job.depend;
        case kJobType:
            return coded(job.type, jobTypeWord(job.type), scratch);
        case kJobPriority:
            return number(job.priority, scratch);
        case kJobStatus:
            return coded(job.status, jobStatusWord(job.status), scratch);
        case kJobLocked:
            return number(job.locked, scratch);
        case kJobProgress:
            return number(job.progress, scratch);
        case kJobPktype:
            return coded(job.pktype, packetTypeWord(job.pktype), scratch);
        case kJobPksize:
            return number(job.pksize, scratch);
        case kJobEngine:
            return nCostants ? templateName(job.engine) : number(job.engine, scratch);
        case kJobMaxcpu:
            return number(job.maxcpu, scratch);
        case kJobWorkingcpu:
            return number(job.workingcpu, scratch);
        case kJobRequeued:
            return number(job.requeued, scratch);
        case kJobSkiperror:
            return number(job.skiperror, scratch);
        case kJobName:
            return job.name;
        case kJobPool:
            return job.pool;
        case kJobSubmitter:
            return job.submitter;
        case kJobGroup:
            return job.group;
        case kJobDepartment:
            return job.department;
        case kJobSubtm:
            return timeText(job.subtm, scratch);
        case kJobStart:
            if (job.status == 1 || job.starttm == 0) return std::string_view();
            return timeText(job.starttm, scratch);
        case kJobEnd:
            if (job.status == 1 || job.endtm == 0) return std::string_view();
            return timeText(job.endtm, scratch);
        case kJobTotalt:
            if (job.starttm < 1 || job.endtm < 1) return std::string_view();
            scratch.text = FormatTimespan(job.endtm - job.starttm);
            return scratch.text;
        case kJobPaused:
            return number(job.paused, scratch);
        case kJobRemoveSlices: {
            std::string_view value = attributeValue(job, column.attribute);
            return value.data() ? number(parseInt(value), scratch) : std::string_view();
        }
        default:
            return attributeValue(job, column.attribute);
    }
}

std::string_view cpuCell(const cpuentry& cpu, int field, zdCellScratch& scratch) {
    switch (field) {
        case 1:
            return number(cpu.chunkid, scratch);
        case 2:
            return number(cpu.id, scratch);
        case 3:
            return coded(cpu.os, osWord(cpu.os), scratch);
        case 4:
            return cpu.name;
        case 5:
            return cpu.num;
        case 6:
            return cpu.ip;
        case 7:
            return cpu.sst;
        case 8:
            return number(cpu.ppriority, scratch);
        case 9:
            return number(cpu.jobid, scratch);
        case 10:
            return coded(cpu.status, nodeStatusWord(cpu.status), scratch);
        case 11:
            return number(cpu.tpause, scratch);
        case 12:
            return cpu.jobname;
        case 13:
            return cpu.chunknamef;
        case 14:
            return cpu.chunkname;
        case 15:
            return cpu.logpath;
        case 16:
            return cpu.supmask;
        case 17:
            return number(cpu.version, scratch);
        case 18:
            return number(cpu.priority, scratch);
        case 19:
            return number(cpu.rtlog, scratch);
        case 20:
            return cpu.ramusage;
        case 21:
            return cpu.cpuusage;
        case 22:
            return cpu.notes;
        default:
            return std::string_view();
    }
}

std::string_view chunkCell(const chunkentry& chunk, int field, zdCellScratch& scratch) {
    const bool waiting = chunk.status == 1;
    const bool unfinished = waiting || chunk.status == 2;
    switch (field) {
        case 1:
            return number(chunk.id, scratch);
        case 2:
            return coded(chunk.status, chunkStatusWord(chunk.status), scratch);
        case 3:
            return number(chunk.requeued, scratch);
        case 4:
            return frameNumber(chunk.sf, scratch);
        case 5:
            return frameNumber(chunk.ef, scratch);
        case 6:
            return frameNumber(chunk.bf, scratch);
        case 7:
            return waiting ? std::string_view() : timeText(chunk.st, scratch);
        case 8:
            return unfinished ? std::string_view() : timeText(chunk.et, scratch);
        case 9:
            if (unfinished) return std::string_view();
            scratch.text = FormatTimespan(chunk.elapsed());
            return scratch.text;
        case 10:
            return chunk.renderby;
        case 11:
            return chunk.result;
        default:
            return std::string_view();
    }
}

std::string_view poolCell(const poolentry& pool, int field) {
    switch (field) {
        case 1:
            return pool.parent;
        case 2:
            return pool.name;
        case 3:
            return pool.ip;
        default:
            return std::string_view();
    }
}

std::string_view logCell(const logentry& log, int field, zdCellScratch& scratch) {
    switch (field) {
        case 1:
            return coded(log.type, logTypeWord(log.type), scratch);
        case 2:
            return log.time;
        case 3:
            return log.ip;
        case 4:
            return log.host;
        case 5:
            return log.entry;
        case 6:
            return log.user;
        default:
            return std::string_view();
    }
}

int getJobLength(const jobentry& job, const zdJobColumn& column) {
    zdCellScratch scratch;
    return static_cast<int>(jobCell(job, column, scratch).size());
}
int getCpuLength(const cpuentry& cpu, int field) {
    zdCellScratch scratch;
    return static_cast<int>(cpuCell(cpu, field, scratch).size());
}
int getChunkLength(const chunkentry& chunk, int field) {
    zdCellScratch scratch;
    return static_cast<int>(chunkCell(chunk, field, scratch).size());
}
int getPoolLength(const poolentry& pool, int field) {
    return static_cast<int>(poolCell(pool, field).size());
}
int getLogLength(const logentry& log, int field) {
    zdCellScratch scratch;
    return static_cast<int>(logCell(log, field, scratch).size());
}

// ---- Tables ----

std::string tableText;

void flushTableText() {
    if (nVerbose >= 1 && !tableText.empty()) {
        zdWrite(stdout, tableText.data(), tableText.size());
    }
    tableText.clear();
}

namespace {

// Rows are written out in blocks of about this size.
constexpr size_t kFlushBytes = 64 * 1024;

void pad(std::string_view text, int width) {
    tableText.append(text);
    if (static_cast<int>(text.size()) < width)
        tableText.append(static_cast<size_t>(width) - text.size(), ' ');
}

void cell(std::string_view text, int width) {
    pad(text, width);
    tableText.append(nSeparators ? " | " : "   ");
}

// Widths of size_t-sized cells can pass what an int holds only in theory; clamp anyway.
int widthOf(size_t length) {
    return length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
}

int columnCount(const int* columns) {
    int n = 0;
    while (n < kMaxColumns - 1 && columns[n] != 0)
        ++n;
    return n;
}

// Starts every width at the minimum (headers on) or 0.
void startWidths(const int* columns, int* widths, const int* minimum) {
    const int n = columnCount(columns);
    for (int i = 0; i < kMaxColumns; ++i)
        widths[i] = 0;
    if (!nHeaders) return;
    for (int i = 0; i < n; ++i)
        widths[i] = minimum[columns[i]];
}

template <typename Record, typename CellOf>
void widenColumns(const std::vector<Record>& records, const int* columns, int* widths,
                  CellOf cellOf) {
    const int n = columnCount(columns);
    zdCellScratch scratch;
    for (const Record& record : records) {
        for (int i = 0; i < n; ++i) {
            const int width = widthOf(cellOf(record, columns[i], scratch).size());
            if (width > widths[i]) widths[i] = width;
        }
    }
}

void numberedHeaders(const zdFieldTable& table, const int* columns, const int* widths) {
    if (!nHeaders) return;
    const int n = columnCount(columns);
    for (int i = 0; i < n; ++i) {
        const zdNumberedField* field = findField(table, columns[i]);
        pad(field ? field->header : "", widths[i]);
        tableText.append("   ");
    }
    tableText.push_back('\n');
    for (int i = 0; i < n; ++i) {
        const zdNumberedField* field = findField(table, columns[i]);
        pad(std::string(field ? field->underline : 0, '-'), widths[i]);
        tableText.append("   ");
    }
    tableText.push_back('\n');
}

template <typename Record, typename CellOf>
void numberedRow(const Record& record, const int* columns, const int* widths, CellOf cellOf) {
    zdCellScratch scratch;
    const int n = columnCount(columns);
    for (int i = 0; i < n; ++i)
        cell(cellOf(record, columns[i], scratch), widths[i]);
    tableText.push_back('\n');
}

std::string_view poolCellOf(const poolentry& pool, int field, zdCellScratch&) {
    return poolCell(pool, field);
}

// Draws a whole table; with nothing to print only the shown rows are counted.
template <typename Record, typename Show, typename Dump>
int printRows(const std::vector<Record>& records, Show show, Dump dump) {
    int printed = 0;
    if (nVerbose < 1) {
        for (const Record& record : records)
            printed += show(record) ? 1 : 0;
        tableText.clear();
        return printed;
    }
    for (const Record& record : records) {
        if (dump(record)) ++printed;
        if (tableText.size() >= kFlushBytes) flushTableText();
    }
    flushTableText();
    return printed;
}

}  // namespace

void calculateJobColumns(const zdJobList& list) {
    forgetTemplateNames();
    const size_t n = jobColumnSpecs.size();
    jobColumnsAlign.assign(n, 0);
    if (nHeaders) {
        for (size_t i = 0; i < n; ++i)
            jobColumnsAlign[i] = widthOf(jobColumnSpecs[i].header.size());
    }
    zdCellScratch scratch;
    for (const jobentry& job : list.records) {
        for (size_t i = 0; i < n; ++i) {
            const int width = widthOf(jobCell(job, jobColumnSpecs[i], scratch).size());
            if (width > jobColumnsAlign[i]) jobColumnsAlign[i] = width;
        }
    }
}

void calculateCpuColumns(const zdCpuList& list) {
    startWidths(cpuColumns, cpuColumnsAlign, cpuColumnsHAlign);
    widenColumns(list.records, cpuColumns, cpuColumnsAlign, cpuCell);
}

void calculateChunkColumns(const zdChunkList& list) {
    startWidths(chunkColumns, chunkColumnsAlign, chunkColumnsHAlign);
    widenColumns(list.records, chunkColumns, chunkColumnsAlign, chunkCell);
}

void calculatePoolColumns(const zdPoolList& list) {
    startWidths(poolColumns, poolColumnsAlign, poolColumnsHAlign);
    widenColumns(list.records, poolColumns, poolColumnsAlign, poolCellOf);
}

void calculateLogColumns(const zdLogList& list) {
    startWidths(logColumns, logColumnsAlign, logColumnsHAlign);
    widenColumns(list.records, logColumns, logColumnsAlign, logCell);
}

void dumpJobHeaders() {
    if (!nHeaders) return;
    const size_t n = jobColumnSpecs.size();
    for (size_t i = 0; i < n; ++i) {
        pad(jobColumnSpecs[i].header, jobColumnsAlign[i]);
        tableText.append("   ");
    }
    tableText.push_back('\n');
    for (size_t i = 0; i < n; ++i) {
        pad(std::string(jobColumnSpecs[i].header.size(), '-'), jobColumnsAlign[i]);
        tableText.append("   ");
    }
    tableText.push_back('\n');
}

void dumpCpuHeaders() {
    numberedHeaders(cpuFields, cpuColumns, cpuColumnsAlign);
}
void dumpChunkHeaders() {
    numberedHeaders(chunkFields, chunkColumns, chunkColumnsAlign);
}
void dumpPoolHeaders() {
    numberedHeaders(poolFields, poolColumns, poolColumnsAlign);
}
void dumpLogHeaders() {
    numberedHeaders(logFields, logColumns, logColumnsAlign);
}

void dumpJobData(const jobentry& job, const zdJobColumn& column, int width) {
    zdCellScratch scratch;
    cell(jobCell(job, column, scratch), width);
}
void dumpCpuData(const cpuentry& cpu, int field, int width) {
    zdCellScratch scratch;
    cell(cpuCell(cpu, field, scratch), width);
}
void dumpChunkData(const chunkentry& chunk, int field, int width) {
    zdCellScratch scratch;
    cell(chunkCell(chunk, field, scratch), width);
}
void dumpPoolData(const poolentry& pool, int field, int width) {
    cell(poolCell(pool, field), width);
}
void dumpLogData(const logentry& log, int field, int width) {
    zdCellScratch scratch;
    cell(logCell(log, field, scratch), width);
}

bool dumpJob(const jobentry& job) {
    if (!showJob(job)) return false;
    zdCellScratch scratch;
    const size_t n = jobColumnSpecs.size();
    for (size_t i = 0; i < n; ++i) {
        const int width = i < jobColumnsAlign.size() ? jobColumnsAlign[i] : 0;
        cell(jobCell(job, jobColumnSpecs[i], scratch), width);
    }
    tableText.push_back('\n');
    return true;
}

bool dumpCpu(const cpuentry& cpu) {
    if (!showCpu(cpu)) return false;
    numberedRow(cpu, cpuColumns, cpuColumnsAlign, cpuCell);
    return true;
}

bool dumpChunk(const chunkentry& chunk) {
    if (!showChunk(chunk)) return false;
    numberedRow(chunk, chunkColumns, chunkColumnsAlign, chunkCell);
    return true;
}

bool dumpPool(const poolentry& pool) {
    numberedRow(pool, poolColumns, poolColumnsAlign, poolCellOf);
    return true;
}

bool dumpLog(const logentry& log) {
    numberedRow(log, logColumns, logColumnsAlign, logCell);
    return true;
}

int printJobTable(const zdJobList& list) {
    calculateJobColumns(list);
    dumpJobHeaders();
    return printRows(list.records, showJob, dumpJob);
}

int printCpuTable(const zdCpuList& list) {
    calculateCpuColumns(list);
    dumpCpuHeaders();
    return printRows(list.records, showCpu, dumpCpu);
}

int printChunkTable(const zdChunkList& list) {
    calculateChunkColumns(list);
    dumpChunkHeaders();
    return printRows(list.records, showChunk, dumpChunk);
}

int printPoolTable(const zdPoolList& list) {
    calculatePoolColumns(list);
    dumpPoolHeaders();
    return printRows(
        list.records, [](const poolentry&) { return true; }, dumpPool);
}

int printLogTable(const zdLogList& list) {
    calculateLogColumns(list);
    dumpLogHeaders();
    return printRows(
        list.records, [](const logentry&) { return true; }, dumpLog);
}
