// Stands in for the host's processor tick and memory statistics: /proc/stat and /proc/meminfo
// parsing and reading the live files.
#include "../HostStats.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <limits>

namespace ZRFramework {
namespace ZRPlatform {

namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
// /proc texts are a few kilobytes even on large hosts; anything beyond this is not them.
constexpr size_t kMaxProcFile = 4u << 20;

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
    return a > kMax - b ? kMax : a + b;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A non-empty run of decimal digits, saturating at the largest value.
bool ParseNumber(const std::string& text, size_t begin, size_t end, uint64_t& value) {
    if (begin >= end) return false;
    uint64_t parsed = 0;
    for (size_t i = begin; i < end; ++i) {
        if (!IsDigit(text[i])) return false;
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        parsed = parsed > (kMax - digit) / 10 ? kMax : parsed * 10 + digit;
    }
    value = parsed;
    return true;
}

// Calls `visit(begin, end)` for each whitespace-separated word of [begin, end) until it
// returns false.
template <typename Visit>
void ForEachWord(const std::string& text, size_t begin, size_t end, Visit visit) {
    size_t i = begin;
    while (i < end) {
        while (i < end && IsSpace(text[i]))
            ++i;
        if (i >= end) break;
        size_t wordEnd = i;
        while (wordEnd < end && !IsSpace(text[wordEnd]))
            ++wordEnd;
        if (!visit(i, wordEnd)) return;
        i = wordEnd;
    }
}

template <typename Visit>
void ForEachLine(const std::string& text, Visit visit) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        if (!visit(begin, end)) return;
        begin = end + 1;
    }
}

// "cpu" followed by at least one digit and nothing else.
bool IsProcessorWord(const std::string& text, size_t begin, size_t end) {
    if (end - begin < 4 || text.compare(begin, 3, "cpu") != 0) return false;
    for (size_t i = begin + 3; i < end; ++i) {
        if (!IsDigit(text[i])) return false;
    }
    return true;
}

bool ReadWholeFile(const char* path, std::string& text) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text.clear();
    char chunk[4096];
    bool ok = true;
    while (true) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || text.size() + static_cast<size_t>(got) > kMaxProcFile) {
            ok = false;
            break;
        }
        if (got == 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return ok;
}

}  // namespace

bool ParseProcStat(const std::string& text, std::vector<CpuTicks>& processors) {
    // user nice system idle iowait irq softirq steal; guest time is already inside user.
    constexpr size_t kFields = 8;
    std::vector<CpuTicks> parsed;
    bool ok = true;
    ForEachLine(text, [&](size_t begin, size_t end) {
        uint64_t fields[kFields] = {};
        size_t count = 0;
        bool processor = false;
        bool first = true;
        ForEachWord(text, begin, end, [&](size_t wordBegin, size_t wordEnd) {
            if (first) {
                first = false;
                processor = IsProcessorWord(text, wordBegin, wordEnd);
                return processor;
            }
            if (!ParseNumber(text, wordBegin, wordEnd, fields[count])) return false;
            return ++count < kFields;
        });
        if (!processor) return true;
        if (count < 4) {
            ok = false;
            return false;
        }
        CpuTicks ticks;
        ticks.user = SaturatingAdd(fields[0], fields[1]);
        ticks.system =
            SaturatingAdd(SaturatingAdd(fields[2], fields[5]), SaturatingAdd(fields[6], fields[7]));
        ticks.idle = SaturatingAdd(fields[3], fields[4]);
        parsed.push_back(ticks);
        return true;
    });
    if (!ok || parsed.empty()) return false;
    processors.swap(parsed);
    return true;
}

bool ParseProcMeminfo(const std::string& text, MemoryFigures& figures) {
    enum Key { kFree, kActive, kInactive, kKeys };
    static const char* const kNames[kKeys] = {"MemFree", "Active", "Inactive"};
    uint64_t values[kKeys] = {};
    bool found[kKeys] = {};
    ForEachLine(text, [&](size_t begin, size_t end) {
        const size_t colon = text.find(':', begin);
        if (colon == std::string::npos || colon >= end) return true;
        int key = kKeys;
        for (int k = 0; k < kKeys; ++k) {
            if (text.compare(begin, colon - begin, kNames[k]) == 0) key = k;
        }
        if (key == kKeys || found[key]) return true;
        // "<number>" in bytes or "<number> kB"; anything else leaves the figure missing.
        uint64_t number = 0;
        int words = 0;
        bool valid = true;
        ForEachWord(text, colon + 1, end, [&](size_t wordBegin, size_t wordEnd) {
            ++words;
            if (words == 1) {
                valid = ParseNumber(text, wordBegin, wordEnd, number);
            } else if (words == 2 && text.compare(wordBegin, wordEnd - wordBegin, "kB") == 0) {
                number = number > kMax / 1024 ? kMax : number * 1024;
            } else {
                valid = false;
            }
            return valid;
        });
        if (valid && words > 0) {
            values[key] = number;
            found[key] = true;
        }
        return true;
    });
    for (bool present : found) {
        if (!present) return false;
    }
    figures.total = SaturatingAdd(SaturatingAdd(values[kFree], values[kActive]), values[kInactive]);
    figures.available = values[kFree];
    return true;
}

bool ReadProcessorTicks(std::vector<CpuTicks>& processors) {
    std::string text;
    return ReadWholeFile("/proc/stat", text) && ParseProcStat(text, processors);
}

bool ReadMemoryFigures(MemoryFigures& figures) {
    std::string text;
    return ReadWholeFile("/proc/meminfo", text) && ParseProcMeminfo(text, figures);
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
