// The texts of the records that the listings carry (jobs, nodes, chunks, pool rows, logs) and the
// statistics text: one value per line, each line ending with a line feed.
#ifndef ZDSIM_RECORDS_H
#define ZDSIM_RECORDS_H

#include <string>

#include "FarmModel.h"

namespace zdsim {

// Lines in each record.
constexpr int kJobLines = 36;
constexpr int kNodeLines = 24;
constexpr int kChunkLines = 13;
constexpr int kPoolLines = 4;
constexpr int kLogLines = 6;
constexpr int kStatisticsLines = 32;

// Texts go out with their line feeds, carriage returns and NULs turned into spaces: a value
// must not move the lines after it, and the tool's payload text ends at its first NUL.

// The attribute block before Base64: four lines per attribute (name, value, specified flag,
// path substitution flag), in the job's order.
std::string AttributeBlock(const Job& job);
// The job record, appended to `out`; line 34 is the Base64 of AttributeBlock.
void AppendJobRecord(std::string& out, const Job& job);
std::string JobRecord(const Job& job);
// `pools`: the names of the pools holding the node, comma-separated (line 22).
void AppendNodeRecord(std::string& out, const Node& node, const std::string& pools);
std::string NodeRecord(const Node& node, const std::string& pools);
void AppendChunkRecord(std::string& out, const Job& job, const Chunk& chunk);
std::string ChunkRecord(const Job& job, const Chunk& chunk);
// The row that stands for the pool itself: its name and an empty address line.
std::string PoolRow(const Pool& pool);
// The row of one member; a node without an address is given 0.0.0.0, since a row with an empty
// address would be taken for a pool.
std::string PoolMemberRow(const Pool& pool, const Node& member);
std::string LogRecord(const LogEntry& log);
// The 32 lines of the statistics: whole numbers in decimal, averages with two decimals.
std::string StatisticsText(const Statistics& statistics);

// Frame values in their shortest exact decimal form ("1001", "12.5").
std::string FrameText(double frame);

}  // namespace zdsim

#endif
