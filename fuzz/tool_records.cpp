// Fuzzes zdtool's query records from arbitrary bytes: job records with their Base64 attribute
// block, node, chunk, pool and log records, every cell of every column, and the statistics text.
// The first byte picks the kind; the rest is the payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "Queries.h"
#include "Statistics.h"
#include "TableOutput.h"

namespace {

bool Configure() {
    setenv("TZ", "UTC", 1);
    tzset();
    resetRunSettings();
    resetColumnLists();
    nVerbose = 0;
    std::string jobs;
    for (int i = 0; i < jobFieldsCount; ++i)
        jobs += std::string(jobFields[i].keyword) + ",";
    buildJobFormat((jobs + "quality,start_frame").c_str());
    buildCpuFormat(
        "chunkid,id,os,name,num,ip,sst,ppriority,jobid,status,tpause,jobname,chunknamef,"
        "chunkname,logpath,supmask,version,priority,rtlog,ramusage,cpuusage,notes");
    buildChunkFormat("id,status,requeued,sf,ef,bf,st,et,elapsed,renderby,result");
    buildLogFormat("type,time,ip,host,entry,user");
    buildPoolFormat("parent,name,ip");
    return true;
}

// Widths and one row of the table, so every cell is formatted twice as in a listing.
template <typename List, typename Calculate, typename Dump>
void Draw(const List& list, Calculate calculate, Dump dump) {
    calculate(list);
    for (const auto& record : list.records)
        dump(record);
    tableText.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool configured = Configure();
    (void)configured;
    if (size == 0) return 0;
    const int kind = data[0] % 7;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (kind) {
        case 0: {
            zdJobList list;
            prepareJobColumns(list);
            jobentry job;
            parseJobRecord(text.c_str(), job, list.arena, list.attributeKeys);
            list.records.push_back(job);
            Draw(list, calculateJobColumns, dumpJob);
            break;
        }
        case 1: {
            zdCpuList list;
            cpuentry cpu;
            parseCpuRecord(text.c_str(), cpu, list.arena);
            list.records.push_back(cpu);
            Draw(list, calculateCpuColumns, dumpCpu);
            break;
        }
        case 2: {
            zdChunkList list;
            chunkentry chunk;
            parseChunkRecord(text.c_str(), chunk, list.arena);
            list.records.push_back(chunk);
            Draw(list, calculateChunkColumns, dumpChunk);
            break;
        }
        case 3: {
            zdPoolList list;
            poolentry pool;
            parsePoolRecord(text.c_str(), pool, list.arena);
            list.records.push_back(pool);
            Draw(list, calculatePoolColumns, dumpPool);
            break;
        }
        case 4: {
            zdLogList list;
            logentry log;
            parseLogRecord(text.c_str(), log, list.arena);
            list.records.push_back(log);
            Draw(list, calculateLogColumns, dumpLog);
            break;
        }
        case 5: {
            std::vector<std::pair<std::string, std::string>> attributes;
            decodeJobAttributes(text, attributes);
            break;
        }
        default:
            update_stats(text);
            statsReport();
            break;
    }
    return 0;
}
