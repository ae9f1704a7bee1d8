// The process table from Toolhelp snapshots.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// tlhelp32.h needs the types of windows.h first.
#include <tlhelp32.h>

#include <algorithm>

#include "../ProcessTable.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

class Snapshot {
public:
    explicit Snapshot(DWORD what) : handle_(CreateToolhelp32Snapshot(what, 0)) {}
    ~Snapshot() {
        if (Valid()) CloseHandle(handle_);
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace

bool ReadProcessTable(std::vector<ProcessEntry>& processes) {
    processes.clear();
    Snapshot snapshot(TH32CS_SNAPPROCESS);
    if (!snapshot.Valid()) return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more;
         more = Process32Next(snapshot.Get(), &entry)) {
        processes.push_back(ProcessEntry{static_cast<int>(entry.th32ProcessID),
                                         static_cast<int>(entry.th32ParentProcessID),
                                         entry.szExeFile});
    }
    std::sort(processes.begin(), processes.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return true;
}

bool ReadProcessEntry(int pid, ProcessEntry& entry) {
    std::vector<ProcessEntry> processes;
    if (!ReadProcessTable(processes)) return false;
    for (const ProcessEntry& candidate : processes) {
        if (candidate.pid != pid) continue;
        entry = candidate;
        return true;
    }
    return false;
}

std::vector<int> ListThreads(int pid) {
    std::vector<int> threads;
    Snapshot snapshot(TH32CS_SNAPTHREAD);
    if (!snapshot.Valid()) return threads;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        if (static_cast<int>(entry.th32OwnerProcessID) == pid)
            threads.push_back(static_cast<int>(entry.th32ThreadID));
    }
    std::sort(threads.begin(), threads.end());
    return threads;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
