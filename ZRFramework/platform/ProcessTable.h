// The system's process table: on POSIX the processes listed under /proc, with a pure parser of
// /proc/<pid>/stat lines so that it is tested and fuzzed on fixed texts; on Windows a Toolhelp
// snapshot.
#ifndef ZRFRAMEWORK_PLATFORM_PROCESSTABLE_H
#define ZRFRAMEWORK_PLATFORM_PROCESSTABLE_H

#include <string>
#include <vector>

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRPlatform {

struct ProcessEntry {
    int pid;
    int ppid;
    std::string name;
};

// "pid (name) state ppid ...": the name may hold spaces and parentheses, so it runs to the
// last ")". False when the line does not have that shape or an id is out of range. POSIX only.
ZRFRAMEWORK_API bool ParseProcStatLine(const std::string& line, ProcessEntry& entry);

// Every process in ascending id order; processes that end while the table is read are left
// out. False when the table cannot be read.
bool ReadProcessTable(std::vector<ProcessEntry>& processes);

// One process; false when it does not exist (any more).
bool ReadProcessEntry(int pid, ProcessEntry& entry);

// The ids of the process's threads, ascending; empty when it does not exist.
std::vector<int> ListThreads(int pid);

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
