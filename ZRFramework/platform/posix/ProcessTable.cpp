// Stands in for the kernel process table: reads /proc/<pid>/stat for every process directory.
#include "../ProcessTable.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace ZRFramework {
namespace ZRPlatform {

namespace {

// A stat line is a few hundred bytes; the name is at most 64 bytes on any kernel.
constexpr size_t kMaxStatLine = 4096;

// A non-empty run of decimal digits that fits an int.
bool ParseId(const std::string& text, size_t begin, size_t end, int& value) {
    if (begin >= end) return false;
    long long parsed = 0;
    for (size_t i = begin; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        parsed = parsed * 10 + (text[i] - '0');
        if (parsed > INT_MAX) return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool ReadSmallFile(const std::string& path, std::string& text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text.clear();
    char buffer[512];
    bool ok = true;
    while (text.size() < kMaxStatLine) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return ok;
}

}  // namespace

bool ParseProcStatLine(const std::string& line, ProcessEntry& entry) {
    const size_t open = line.find(" (");
    const size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open + 2) return false;
    ProcessEntry parsed;
    if (!ParseId(line, 0, open, parsed.pid)) return false;
    // ") S 1234 ...": one state letter between the name and the parent id.
    if (close + 4 >= line.size() || line[close + 1] != ' ' || line[close + 3] != ' ') return false;
    const size_t ppidBegin = close + 4;
    size_t ppidEnd = line.find(' ', ppidBegin);
    if (ppidEnd == std::string::npos) ppidEnd = line.size();
    if (ppidEnd > ppidBegin && line[ppidEnd - 1] == '\n') --ppidEnd;
    if (!ParseId(line, ppidBegin, ppidEnd, parsed.ppid)) return false;
    parsed.name = line.substr(open + 2, close - open - 2);
    entry = std::move(parsed);
    return true;
}

bool ReadProcessEntry(int pid, ProcessEntry& entry) {
    if (pid < 1) return false;
    std::string text;
    if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", text)) return false;
    ProcessEntry parsed;
    if (!ParseProcStatLine(text, parsed) || parsed.pid != pid) return false;
    entry = std::move(parsed);
    return true;
}

bool ReadProcessTable(std::vector<ProcessEntry>& processes) {
    std::unique_ptr<DIR, DirCloser> dir(opendir("/proc"));
    if (!dir) return false;
    processes.clear();
    while (const dirent* item = readdir(dir.get())) {
        const std::string name = item->d_name;
        int pid = 0;
        if (!ParseId(name, 0, name.size(), pid) || pid < 1) continue;
        ProcessEntry entry;
        if (ReadProcessEntry(pid, entry)) processes.push_back(std::move(entry));
    }
    std::sort(processes.begin(), processes.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return true;
}

std::vector<int> ListThreads(int pid) {
    std::vector<int> threads;
    if (pid < 1) return threads;
    std::unique_ptr<DIR, DirCloser> dir(
        opendir(("/proc/" + std::to_string(pid) + "/task").c_str()));
    if (!dir) return threads;
    while (const dirent* item = readdir(dir.get())) {
        const std::string name = item->d_name;
        int tid = 0;
        if (ParseId(name, 0, name.size(), tid) && tid > 0) threads.push_back(tid);
    }
    std::sort(threads.begin(), threads.end());
    return threads;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
