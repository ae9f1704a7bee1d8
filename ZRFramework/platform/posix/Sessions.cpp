// Stands in for the console user and the logon-session list of other platforms: sorting utmp
// records into console and remote sessions, and reading the live utmp file; and the daemon fork.
#include "UtmpSessions.h"

#include <errno.h>
#include <fcntl.h>
#include <paths.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace ZRFramework {
namespace ZRPlatform {

namespace {

// utmp texts fill their fields without a terminating NUL when they are full.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

bool AllDigits(const std::string& text, size_t begin, size_t end) {
    if (begin >= end) return false;
    for (size_t i = begin; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

// ":0", ":1.0": an X display served by this machine.
bool IsLocalDisplay(const std::string& text) {
    if (text.size() < 2 || text[0] != ':') return false;
    const size_t dot = text.find('.');
    if (dot == std::string::npos) return AllDigits(text, 1, text.size());
    return AllDigits(text, 1, dot) && AllDigits(text, dot + 1, text.size());
}

bool IsVirtualConsole(std::string line) {
    // Some login programs record the device path rather than the line name.
    if (line.compare(0, 5, "/dev/") == 0) line.erase(0, 5);
    if (line == "console") return true;
    return line.compare(0, 3, "tty") == 0 && AllDigits(line, 3, line.size());
}

bool IsGraphical(const struct utmp& record) {
    return IsLocalDisplay(FieldText(record.ut_line)) || IsLocalDisplay(FieldText(record.ut_host));
}

// Login time first, then position: true when `b` is the later login.
bool LoggedInLater(const struct utmp& a, const struct utmp& b) {
    if (a.ut_tv.tv_sec != b.ut_tv.tv_sec) return b.ut_tv.tv_sec > a.ut_tv.tv_sec;
    return b.ut_tv.tv_usec >= a.ut_tv.tv_usec;
}

std::mutex& PathMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& PathOverride() {
    static std::string path;
    return path;
}

// Closes the descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

// Leaves 0, 1 and 2 on /dev/null so that descriptors opened later never land on them and stray
// writes to standard output cannot reach an unrelated file or socket.
void DetachStandardDescriptors() {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
        close(STDERR_FILENO);
        return;
    }
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        // dup2 clears close-on-exec on the copy, so programs the daemon starts keep them.
        if (fd != null) dup2(null, fd);
    }
    if (null > STDERR_FILENO) close(null);
}

}  // namespace

SessionKind ClassifySession(const struct utmp& record) {
    if (record.ut_type != USER_PROCESS || record.ut_user[0] == '\0') return SessionKind::None;
    const std::string host = FieldText(record.ut_host);
    if (!host.empty() && !IsLocalDisplay(host)) return SessionKind::Remote;
    const std::string line = FieldText(record.ut_line);
    if (IsVirtualConsole(line) || IsLocalDisplay(line)) return SessionKind::Console;
    return SessionKind::None;
}

SessionCounts CountSessions(const std::vector<struct utmp>& records) {
    SessionCounts counts = {0, 0};
    for (const struct utmp& record : records) {
        switch (ClassifySession(record)) {
            case SessionKind::Console:
                ++counts.console;
                break;
            case SessionKind::Remote:
                ++counts.remote;
                break;
            case SessionKind::None:
                break;
        }
    }
    return counts;
}

bool FindConsoleUser(const std::vector<struct utmp>& records, std::string& user) {
    const struct utmp* best = nullptr;
    bool bestGraphical = false;
    for (const struct utmp& record : records) {
        if (ClassifySession(record) != SessionKind::Console) continue;
        const bool graphical = IsGraphical(record);
        if (best == nullptr || (graphical && !bestGraphical) ||
            (graphical == bestGraphical && LoggedInLater(*best, record))) {
            best = &record;
            bestGraphical = graphical;
        }
    }
    if (best == nullptr) return false;
    user = FieldText(best->ut_user);
    return true;
}

std::vector<struct utmp> DecodeUtmpRecords(const void* data, size_t size) {
    const size_t count = size / sizeof(struct utmp);
    std::vector<struct utmp> records(count);
    // Copied byte-wise: the buffer need not be aligned for the record type.
    if (count > 0) std::memcpy(records.data(), data, count * sizeof(struct utmp));
    return records;
}

bool ReadUtmpFile(const std::string& path, std::vector<struct utmp>& records) {
    Descriptor file = {open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        if (errno != ENOENT) return false;
        records.clear();
        return true;
    }
    constexpr size_t kMaxBytes = kMaxUtmpRecords * sizeof(struct utmp);
    std::string bytes;
    char chunk[16384];
    for (;;) {
        const ssize_t got = read(file.fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) break;
        if (bytes.size() + static_cast<size_t>(got) > kMaxBytes) return false;
        bytes.append(chunk, static_cast<size_t>(got));
    }
    records = DecodeUtmpRecords(bytes.data(), bytes.size());
    return true;
}

void SetUtmpPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(PathMutex());
    PathOverride() = path;
}

std::string GetUtmpPath() {
    std::lock_guard<std::mutex> lock(PathMutex());
    return PathOverride().empty() ? std::string(_PATH_UTMP) : PathOverride();
}

bool ReadSessionCounts(SessionCounts& counts) {
    std::vector<struct utmp> records;
    if (!ReadUtmpFile(GetUtmpPath(), records)) return false;
    counts = CountSessions(records);
    return true;
}

bool ReadConsoleUser(std::string& user) {
    std::vector<struct utmp> records;
    return ReadUtmpFile(GetUtmpPath(), records) && FindConsoleUser(records, user);
}

bool BecomeDaemon(int exitCode) {
    // The parent leaves through _exit and the daemon's standard output goes to /dev/null, so
    // anything still buffered would otherwise be lost.
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid > 0) _exit(exitCode);

    setsid();
    if (chdir("/") != 0) {
        // Nothing to fall back to; the daemon keeps the folder it inherited.
    }
    umask(0);
    DetachStandardDescriptors();
    return true;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
