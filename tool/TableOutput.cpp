// Field keyword tables, default column lists and the field-list parsers of the query tables.
#include "TableOutput.h"

#include <cstdio>
#include <cstring>

#include "CommandLine.h"

const zdJobField jobFields[] = {
    {"id", "ID", "Job ID"},
    {"parent", "PARENT", "Job parent ID"},
    {"depend", "DEPEND", "Job depend IDs"},
    {"type", "TYPE", "Job type"},
    {"priority", "PRIORITY", "Job priority"},
    {"status", "STATUS", "Job status"},
    {"locked", "LOCKED", "Job locked status"},
    {"progress", "PROGRESS", "Job progress"},
    {"pktype", "PKTYPE", "Packet type"},
    {"pksize", "PKSIZE", "Packet size"},
    {"engine", "ENGINE", "Job template"},
    {"maxcpu", "MAXCPU", "Max allowed nodes"},
    {"workingcpu", "WORKINGCPU", "Nodes working on job"},
    {"requeued", "REQUEUED", "Number of requeues"},
    {"skiperror", "SKIPERRORS", "Skip errors flag"},
    {"name", "NAME", "Job name"},
    {"pool", "POOL", "Job pool"},
    {"submitter", "SUBMITTER", "Job owner"},
    {"group", "PROJECT", "Job project"},
    {"department", "DEPARTMENT", "Job department"},
    {"subtm", "SUBTIME", "Job submission time"},
    {"start", "STARTING", "Job starting time"},
    {"end", "ENDING", "Job ending time"},
    {"totalt", "TOTAL TIME", "Job total processing time"},
    {"paused", "PAUSED", "Job paused flag"},
    {"sf", "START FRAME", "Job starting frame"},
    {"ef", "END FRAME", "Job ending frame"},
    {"bf", "BY FRAME", "Job by frame"},
    {"step", "STEP", "Job step by"},
    {"nb", "NUMBER BY", "Job number by"},
    {"digits", "DIGITS", "Job frame digits"},
    {"xres", "X_RES", "Job X resolution (SF)"},
    {"yres", "Y_RES", "Job Y resolution (SF)"},
    {"overlap", "OVERLAP", "Job AS overlap (SF)"},
    {"ratio", "RATIO", "Job image ratio (SF)"},
    {"file", "FILE", "Job file"},
    {"project", "PROJECT PATH", "Job content path"},
    {"output_folder", "OUTPUT", "Job output path"},
    {"remove_slices", "remove_slices", nullptr},
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
            std::fprintf(stderr, "\nInvalid %s format: %s\n", kind, tokens[i]);
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
