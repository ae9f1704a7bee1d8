// Fuzzes zdtool's query records from arbitrary bytes: job records with their Base64 attribute
// block, node, chunk, pool and log records, every cell of every column, and the statistics text.
// The first byte picks the kind; the rest is the payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "ListingRecords.h"
#include "Queries.h"
#include "Statistics.h"
#include "TableOutput.h"

namespace {

bool Configure() {
    setenv("TZ", "UTC", 1);
    tzset();
    resetRunSettings();
    resetColumnLists();
    nVerbose = 1;
    std::string jobs;
    for (const zdField<jobentry>& field : jobCatalogue)
        jobs += std::string(field.keyword) + ",";
    buildJobFormat((jobs + "quality,start_frame").c_str());
    buildCpuFormat(
        "chunkid,id,os,name,num,ip,sst,ppriority,jobid,status,tpause,jobname,chunknamef,"
        "chunkname,logpath,supmask,version,priority,rtlog,ramusage,cpuusage,notes");
    buildChunkFormat("id,status,requeued,sf,ef,bf,st,et,elapsed,renderby,result");
    buildLogFormat("type,time,ip,host,entry,user");
    buildPoolFormat("parent,name,ip");
    return true;
}

// One record through a listing's table with every column, as the tool draws it: each cell is
// formatted, measured, kept and read back.
template <typename Record, typename Parse>
void Draw(const std::string& text, zdColumns<Record> columns, Parse parse) {
    const zdQueryOptions options = queryOptionsFromSettings();
    const std::vector<std::string> keys = columns.attributeKeys;
    zdListing<Record> listing(std::move(columns), options);
    Record record;
    parse(text, record);
    zdCellContext context;
    context.engineName = [](int) { return std::string_view(); };
    std::string decoded;
    std::vector<std::string_view> values;
    if constexpr (std::is_same_v<Record, jobentry>) {
        jobAttributeValues(record, keys, decoded, values);
        context.attributes = values.data();
    }
    listing.Add(record, true, context);
    listing.Add(record, true, context);
    const std::string table = listing.Text();
    // Two header lines and two rows, whatever the record held.
    size_t lines = 0;
    for (char c : table)
        lines += c == '\n';
    if (lines < 4) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool configured = Configure();
    (void)configured;
    if (size == 0) return 0;
    const int kind = data[0] % 7;
    // The tool reads a payload up to its first NUL.
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text.resize(std::char_traits<char>::length(text.c_str()));
    switch (kind) {
        case 0:
            Draw(text, jobColumnsOf(jobColumns), zdProtocol::ParseJobRecord);
            break;
        case 1:
            Draw(text, cpuColumnsOf(cpuColumns), zdProtocol::ParseNodeRecord);
            break;
        case 2:
            Draw(text, chunkColumnsOf(chunkColumns), zdProtocol::ParseChunkRecord);
            break;
        case 3:
            Draw(text, poolColumnsOf(poolColumns), zdProtocol::ParsePoolRecord);
            break;
        case 4:
            Draw(text, logColumnsOf(logColumns), zdProtocol::ParseLogRecord);
            break;
        case 5: {
            jobentry job;
            job.attributeBlock = text;
            std::string decoded;
            std::vector<std::string_view> values;
            jobAttributeValues(job, {"start_frame", "quality", ""}, decoded, values);
            break;
        }
        default:
            update_stats(text);
            statsReport(listingCounts());
            break;
    }
    return 0;
}
