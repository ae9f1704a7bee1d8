// Query tables: field keywords of every record kind, the column lists chosen with -jf, -cf, -hf,
// -lf and -pf and their parsers, the words of coded values, column widths, headers and rows.
#ifndef ZDTOOL_TABLEOUTPUT_H
#define ZDTOOL_TABLEOUTPUT_H

#include <string>
#include <string_view>
#include <vector>

#include "Queries.h"

constexpr int kMaxColumns = 256;  // column arrays end at the first 0, so 255 columns at most

// A job field: any other keyword names a custom job attribute.
struct zdJobField {
    const char* keyword;
    const char* header;
    const char* meaning;    // null when the usage text does not list it
    const char* attribute;  // the job attribute the cell shows, null for record fields
};

// A numbered field of the node, chunk, log and pool records.
struct zdNumberedField {
    int number;
    const char* keyword;
    const char* header;
    int underline;  // dashes under the header; the minimum widths are the *HAlign tables
    const char* meaning;
};

struct zdFieldTable {
    const zdNumberedField* fields;
    int count;
};

extern const zdJobField jobFields[];
extern const int jobFieldsCount;
extern const zdFieldTable cpuFields;
extern const zdFieldTable chunkFields;
extern const zdFieldTable logFields;
extern const zdFieldTable poolFields;

// Field lookup; null when the number or keyword is unknown.
const zdJobField* findJobField(const std::string& keyword);
const zdNumberedField* findField(const zdFieldTable& table, int number);
const zdNumberedField* findField(const zdFieldTable& table, const char* keyword);

extern std::vector<std::string> jobColumns;
extern std::vector<int> jobColumnsAlign;
extern int cpuColumns[kMaxColumns];
extern int cpuColumnsAlign[kMaxColumns];
extern int chunkColumns[kMaxColumns];
extern int chunkColumnsAlign[kMaxColumns];
extern int poolColumns[kMaxColumns];
extern int poolColumnsAlign[kMaxColumns];
extern int logColumns[kMaxColumns];
extern int logColumnsAlign[kMaxColumns];

// Minimum widths indexed by field number (index 0 unused).
extern const int cpuColumnsHAlign[];
extern const int chunkColumnsHAlign[];
extern const int poolColumnsHAlign[];
extern const int logColumnsHAlign[];

// The default job columns; main sets them before the command line is read.
void setDefaultJobColumns();
// Every column list back to its default.
void resetColumnLists();

// Replace one kind's column list from a comma-separated field list; false makes the command
// line invalid (the unknown keyword has been reported on standard error).
bool buildJobFormat(const char* list);
bool buildCpuFormat(const char* list);
bool buildChunkFormat(const char* list);
bool buildLogFormat(const char* list);
bool buildPoolFormat(const char* list);

// ---- Cells ----

// Where a cell's text is built when it is not a view of the record or a constant word.
struct zdCellScratch {
    char number[64];
    std::string text;
};

// A job column made ready for one listing.
struct zdJobColumn {
    const zdJobField* field;  // null for a custom attribute
    std::string header;
    int attribute;  // index into the listing's attribute keys; -1 when the cell is no attribute
};
// The job columns of the current listing, made by prepareJobColumns.
extern std::vector<zdJobColumn> jobColumnSpecs;
// Makes jobColumnSpecs from jobColumns and tells the list which attributes to keep.
void prepareJobColumns(zdJobList& list);

// Codes as words when nCostants is on, as decimal numbers when it is off.
std::string ResolveJobCostant(const char* keyword, int value);
std::string ResolveCpuCostant(int field, int value);
std::string ResolveChunkCostant(int field, int value);
std::string ResolveLogCostant(int field, int value);
// The name of the template `uid` in the process-wide template manager; empty when unknown.
std::string_view templateName(int uid);
// Template names are remembered for a listing; the cache is emptied before each one.
void forgetTemplateNames();

std::string getJobHeader(const std::string& keyword);

// The text of one cell, exactly as it prints. The view lives until the record's list or the
// scratch changes.
std::string_view jobCell(const jobentry& job, const zdJobColumn& column, zdCellScratch& scratch);
std::string_view cpuCell(const cpuentry& cpu, int field, zdCellScratch& scratch);
std::string_view chunkCell(const chunkentry& chunk, int field, zdCellScratch& scratch);
std::string_view poolCell(const poolentry& pool, int field);
std::string_view logCell(const logentry& log, int field, zdCellScratch& scratch);

int getJobLength(const jobentry& job, const zdJobColumn& column);
int getCpuLength(const cpuentry& cpu, int field);
int getChunkLength(const chunkentry& chunk, int field);
int getPoolLength(const poolentry& pool, int field);
int getLogLength(const logentry& log, int field);

// ---- Tables ----

// Table text waits here and goes to standard output in large writes.
extern std::string tableText;
// Writes tableText to standard output when nVerbose >= 1 and empties it.
void flushTableText();

// Column widths over every record received, including those the display filter hides.
void calculateJobColumns(const zdJobList& list);
void calculateCpuColumns(const zdCpuList& list);
void calculateChunkColumns(const zdChunkList& list);
void calculatePoolColumns(const zdPoolList& list);
void calculateLogColumns(const zdLogList& list);

// The header and underline lines, when nHeaders is on.
void dumpJobHeaders();
void dumpCpuHeaders();
void dumpChunkHeaders();
void dumpPoolHeaders();
void dumpLogHeaders();

// One cell: its text, padding to `width`, then the separator.
void dumpJobData(const jobentry& job, const zdJobColumn& column, int width);
void dumpCpuData(const cpuentry& cpu, int field, int width);
void dumpChunkData(const chunkentry& chunk, int field, int width);
void dumpPoolData(const poolentry& pool, int field, int width);
void dumpLogData(const logentry& log, int field, int width);

// One row when the record passes the display filter; true when it was printed.
bool dumpJob(const jobentry& job);
bool dumpCpu(const cpuentry& cpu);
bool dumpChunk(const chunkentry& chunk);
bool dumpPool(const poolentry& pool);
bool dumpLog(const logentry& log);

// Widths, headers and the rows that pass the filter, into tableText; the number of rows.
int printJobTable(const zdJobList& list);
int printCpuTable(const zdCpuList& list);
int printChunkTable(const zdChunkList& list);
int printPoolTable(const zdPoolList& list);
int printLogTable(const zdLogList& list);

#endif
