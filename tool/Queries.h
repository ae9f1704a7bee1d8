// Query mode: what it is asked for (read once from the run settings), which records are kept and
// which are printed, the id tables that check -job, -cpu and -chunk, and the conversations of the
// listings.
#ifndef ZDTOOL_QUERIES_H
#define ZDTOOL_QUERIES_H

#include <memory>
#include <string>
#include <vector>

#include "ListingRecords.h"
#include "MessageCodes.h"
#include "RecordOutput.h"
#include "Statistics.h"
#include "TableOutput.h"
#include "TableRenderer.h"

// What query mode is asked for.
struct zdQueryOptions {
    // The listings that are printed; the others may still be fetched to be counted.
    bool printJobs = false, printNodes = false, printLogs = false, printPools = false;
    long job = -1, node = -1, chunk = -1;  // -job, -cpu, -chunk
    int archiveMode = 0;                   // -qarc
    long jobParent = -2;
    int jobStatus = -1, jobEngine = -1, nodeStatus = -1, nodeOs = -1;
    bool drawRows = true;  // verbosity 1 or more
    bool constants = true;
    zdTableStyle style;
    zdOutputFormat format = kOutputTable;
    std::vector<std::string> jobColumns;
    std::vector<int> cpuColumns, chunkColumns, poolColumns, logColumns;  // each ends with 0
};
// The options the run settings give.
zdQueryOptions queryOptionsFromSettings();

// Reception rules.
bool retainJob(const jobentry& job, const zdQueryOptions& options);
// Display filters.
bool showJob(const jobentry& job, const zdQueryOptions& options);
bool showCpu(const cpuentry& cpu, const zdQueryOptions& options);
bool showChunk(const chunkentry& chunk, const zdQueryOptions& options);

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
// The counters the statistics report shows.
zdListingCounts listingCounts();

bool ValidateJobId(long id);
bool ValidateCpuId(long id);
bool ValidateChunkId(long id);

// One listing's table: as records arrive, every retained record widens the columns and the
// shown ones keep their cells; nothing else of a record is kept. In tsv and json the shown
// records go out as they arrive instead, and none is kept.
template <typename Record>
class zdListing {
public:
    zdListing(zdColumns<Record> columns, const zdQueryOptions& options);

    // `context` carries the record's attribute values, if any.
    void Add(const Record& record, bool shown, zdCellContext& context);
    size_t Shown() const { return shown_; }
    // The headers and rows at level 1, in large writes.
    void Print();
    // The whole table as text, for callers that print it themselves; in tsv and json, what has
    // not gone out yet.
    std::string Text();
    const zdColumns<Record>& Columns() const { return columns_; }

private:
    // The header line goes first, once.
    void StartStream();

    zdColumns<Record> columns_;
    zdTable table_;
    zdCellScratch scratch_;
    bool keepRows_;
    size_t shown_ = 0;
    std::unique_ptr<zdRecordStream> stream_;  // tsv and json
    std::string pending_;                     // streamed text not yet written
    bool started_ = false;                    // the header line is out
};

// The conversations. Each returns false when the connection failed (message printed).
bool QueryJobs(const zdQueryOptions& options);
bool QueryCpus(const zdQueryOptions& options);
bool QueryLogs(const zdQueryOptions& options);
bool QueryPools(const zdQueryOptions& options);
bool QueryChunk(long jobId, const zdQueryOptions& options);
void QueryEngine();

// Query mode in its fixed order: listings, identifier checks, chunks, statistics, templates.
// 0 when done, -1 when the run must fail (message printed).
int runQueryMode();

#endif
