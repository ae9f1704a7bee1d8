// Fuzzes zdtool's query records from arbitrary bytes: job records with their Base64 attribute
// block, node, chunk, pool and log records, every cell of every column as a table, as TSV and as
// JSON Lines, and the statistics text. The first byte picks the kind; the rest is the payload.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "ListingRecords.h"
#include "Queries.h"
#include "RecordOutput.h"
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

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// One record listed twice in `format`, with every column: each cell is formatted, and for a
// table measured, kept and read back.
template <typename Record, typename Parse>
std::string List(zdOutputFormat format, const std::string& text, zdColumns<Record> columns,
                 Parse parse) {
    zdQueryOptions options = queryOptionsFromSettings();
    options.format = format;
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
    return listing.Text();
}

template <typename Record, typename Parse>
void Draw(const std::string& text, const zdColumns<Record>& columns, Parse parse) {
    // Two header lines and two rows, whatever the record held.
    const std::string table = List(kOutputTable, text, columns, parse);
    size_t lines = 0;
    for (char c : table)
        lines += c == '\n';
    if (lines < 4) std::abort();

    // A header line and two rows, each with one cell per column: no cell splits a line.
    const std::vector<std::string> tsv = Lines(List(kOutputTsv, text, columns, parse));
    if (tsv.size() != 3) std::abort();
    for (const std::string& line : tsv)
        if (static_cast<size_t>(std::count(line.begin(), line.end(), '\t')) + 1 !=
            columns.columns.size())
            std::abort();

    // Two lines, each an object that names its kind.
    const std::vector<std::string> json = Lines(List(kOutputJson, text, columns, parse));
    if (json.size() != 2) std::abort();
    for (const std::string& line : json) {
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        if (!object.is_object() || !object.contains("kind")) std::abort();
    }
}

// Any bytes make one JSON string; valid UTF-8 comes back unchanged, and each other byte as one
// character of its value.
void Escape(const std::string& text) {
    std::string line;
    appendJsonText(line, text);
    const nlohmann::json value = nlohmann::json::parse(line, nullptr, false);
    if (!value.is_string()) std::abort();
    const std::string& back = value.get_ref<const std::string&>();
    if (back.size() < text.size() || back.size() > 2 * text.size()) std::abort();
    bool valid = true;
    try {
        (void)nlohmann::json(text).dump();
    } catch (const nlohmann::json::exception&) {
        valid = false;
    }
    if (valid && back != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool configured = Configure();
    (void)configured;
    if (size == 0) return 0;
    const int kind = data[0] % 7;
    // The tool reads a payload up to its first NUL.
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    Escape(text);
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
            statsRecord(listingCounts(), kOutputTsv, true);
            if (!nlohmann::json::parse(statsRecord(listingCounts(), kOutputJson, true), nullptr,
                                       false)
                     .is_object())
                std::abort();
            break;
    }
    return 0;
}
