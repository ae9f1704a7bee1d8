// Tests of services and sessions: utmp records sorted into console and remote sessions, the utmp
// reader on files the tests build, and the daemon fork watched from a reaping parent.
#include <gtest/gtest.h>
#include <paths.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../../ZRFramework/platform/posix/UtmpSessions.h"
#include "ZRServices.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRPlatform;

namespace {

struct utmp Record(short type, const std::string& user, const std::string& line,
                   const std::string& host = "", int seconds = 0) {
    struct utmp r;
    std::memset(&r, 0, sizeof r);
    r.ut_type = type;
    // Full-length texts are stored without a NUL, as in real files.
    std::memcpy(r.ut_user, user.data(), std::min(user.size(), sizeof r.ut_user));
    std::memcpy(r.ut_line, line.data(), std::min(line.size(), sizeof r.ut_line));
    std::memcpy(r.ut_host, host.data(), std::min(host.size(), sizeof r.ut_host));
    r.ut_tv.tv_sec = seconds;
    return r;
}

struct utmp Live(const std::string& user, const std::string& line, const std::string& host = "",
                 int seconds = 0) {
    return Record(USER_PROCESS, user, line, host, seconds);
}

TEST(SessionsTest, ReadsFullFieldsOnlyWithinTheirBounds) {
    // 32 characters fill ut_line; a reader running on into ut_id would meet a non-digit.
    struct utmp record = Live(std::string(32, 'u'), "tty" + std::string(29, '1'));
    std::memcpy(record.ut_id, "xx", 2);
    std::string user;
    ASSERT_TRUE(FindConsoleUser({record}, user));
    EXPECT_EQ(user, std::string(32, 'u'));
}

TEST(SessionsTest, CountsSessionsAndFindsTheConsoleUser) {
    const struct {
        const char* what;
        int console, remote;
        const char* user;  // null: nobody at the console
        std::vector<struct utmp> records;
    } cases[] = {
        // clang-format off
        {"none", 0, 0, nullptr, {}},
        {"no sessions", 0, 0, nullptr,
         {Live("a", "pts/4"), Live("a", "ttyS0"), Live("a", "tty"), Live("a", ":0."),
          Live("", "tty1"), Record(LOGIN_PROCESS, "LOGIN", "tty2"), Record(BOOT_TIME, "b", "~")}},
        {"console only", 5, 0, "gui",
         {Live("a", "tty1"), Live("a", "/dev/tty12"), Live("a", "console"),
          Live("gui", ":1.0", "", 10), Live("a", "tty7", ":0"), Live("a", "pts/2", ":0")}},
        {"remote only", 0, 2, nullptr,
         {Live("b", "pts/0", "192.168.1.5"), Live("b", ":0", "workstation:0")}},
        {"both", 1, 1, "ann", {Live("bob", "pts/0", "10.0.0.2"), Live("ann", ":0", ":0")}},
        {"dead skipped", 1, 0, "cy",
         {Record(DEAD_PROCESS, "old", "tty1", "", 900), Record(DEAD_PROCESS, "x", "pts/0", "h"),
          Live("cy", "tty3", "", 100)}},
        {"graphical first", 2, 0, "gui", {Live("vt", "tty2", "", 900), Live("gui", ":0", "", 1)}},
        {"latest first", 2, 0, "late", {Live("late", "tty2", "", 900), Live("early", "tty1")}},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SessionCounts counts = CountSessions(c.records);
        EXPECT_EQ(counts.console, c.console);
        EXPECT_EQ(counts.remote, c.remote);
        std::string user = "unchanged";
        EXPECT_EQ(FindConsoleUser(c.records, user), c.user != nullptr);
        EXPECT_EQ(user, c.user != nullptr ? c.user : "unchanged");
    }
}

class UtmpFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "svc-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        SetUtmpPath("");
        std::filesystem::remove_all(folder_);
    }
    std::string Write(const std::string& name, const std::vector<struct utmp>& records,
                      const std::string& tail = "") {
        const std::string path = folder_ + "/" + name;
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(records.data()),
                   static_cast<std::streamsize>(records.size() * sizeof(struct utmp)));
        file << tail;
        return path;
    }
    std::string folder_;
};

TEST_F(UtmpFileTest, ReadsEmptyMissingAndGarbageFiles) {
    std::vector<struct utmp> records = {Live("stale", "tty1")};
    ASSERT_TRUE(ReadUtmpFile(Write("empty", {}), records));
    EXPECT_TRUE(records.empty());
    records = {Live("stale", "tty1")};
    ASSERT_TRUE(ReadUtmpFile(folder_ + "/missing", records));
    EXPECT_TRUE(records.empty());

    std::string garbage(3 * sizeof(struct utmp) + 77, '\0');  // ends in a partial record
    unsigned state = 12345;
    for (char& c : garbage)
        c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
    ASSERT_TRUE(ReadUtmpFile(Write("garbage", {Live("ann", "tty1")}, garbage), records));
    ASSERT_EQ(records.size(), 4u);
    EXPECT_GE(CountSessions(records).console, 1);
}

TEST_F(UtmpFileTest, RefusesUnreadableAndOversizedFiles) {
    std::vector<struct utmp> records = {Live("kept", "tty1")};
    EXPECT_FALSE(ReadUtmpFile(folder_, records));  // a folder opens but cannot be read
    const std::string huge = Write("huge", {});
    ASSERT_EQ(truncate(huge.c_str(), (kMaxUtmpRecords + 1) * sizeof(struct utmp)), 0);
    EXPECT_FALSE(ReadUtmpFile(huge, records));
    EXPECT_EQ(records.size(), 1u);
}

TEST_F(UtmpFileTest, PublicFunctionsReadTheInjectedFile) {
    EXPECT_EQ(GetUtmpPath(), _PATH_UTMP);
    SetUtmpPath(Write("utmp", {Live("bob", "pts/0", "10.1.1.1"), Live("ann", ":0", ":0"),
                               Record(DEAD_PROCESS, "old", "tty1"), Live("cy", "pts/1", "h")}));
    int console = -5, remote = -5;
    ASSERT_TRUE(ZRServices::IsSomeoneLogged(&console, &remote));
    EXPECT_EQ(console, 1);
    EXPECT_EQ(remote, 2);
    EXPECT_TRUE(ZRServices::IsSomeoneLogged(nullptr, nullptr));
    char* name = ZRServices::CopyCurrentConsoleUsername();
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "ann");
    ZRServices::ReleaseConsoleUsername(name);

    SetUtmpPath(folder_ + "/missing");
    ASSERT_TRUE(ZRServices::IsSomeoneLogged(&console, &remote));
    EXPECT_EQ(console + remote, 0);
    EXPECT_EQ(ZRServices::CopyCurrentConsoleUsername(), nullptr);

    SetUtmpPath(folder_);
    console = remote = 42;
    EXPECT_FALSE(ZRServices::IsSomeoneLogged(&console, &remote));
    EXPECT_EQ(console + remote, 84);
}

// What the daemon found about itself, or what its reaper saw of the caller and the daemon.
struct Report {
    int returned, mask, inRoot, stdioOnNull;
    pid_t pid, session;
    pid_t caller, reaped;
    int callerStatus, reapedStatus;
};

void SendDaemonReport(int fd, bool returned) {
    Report r = {};
    r.returned = returned;
    r.pid = getpid();
    r.session = getsid(0);
    r.mask = static_cast<int>(umask(022));
    struct stat here, root, null, io;
    r.inRoot = stat(".", &here) == 0 && stat("/", &root) == 0 && here.st_ino == root.st_ino &&
               here.st_dev == root.st_dev;
    r.stdioOnNull = stat("/dev/null", &null) == 0;
    for (int i = 0; i < 3; ++i)
        r.stdioOnNull = r.stdioOnNull && fstat(i, &io) == 0 && io.st_rdev == null.st_rdev;
    _exit(write(fd, &r, sizeof r) == static_cast<ssize_t>(sizeof r) ? 0 : 1);
}

// Runs a caller of ForkAndDaemon(exitCode) under a subreaper that collects the caller and then
// the daemon, so no daemon outlives the test. `seen` gets the daemon's and the reaper's reports,
// `output` what the caller's buffered stream delivered.
bool RunDaemon(int exitCode, Report (&seen)[2], std::string& output) {
    int reports[2], out[2];
    if (pipe(reports) != 0 || pipe(out) != 0) return false;
    const pid_t reaper = fork();
    if (reaper == 0) {
        alarm(20);  // a wedged run ends here instead of hanging the suite
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        const pid_t caller = fork();
        if (caller == 0) {
            FILE* stream = fdopen(out[1], "w");
            std::fputs("written before\n", stream);  // a pipe: fully buffered, still pending
            SendDaemonReport(reports[1], ZRServices::ForkAndDaemon(exitCode));
        }
        close(out[1]);
        Report r = {};
        r.caller = caller;
        waitpid(caller, &r.callerStatus, 0);
        r.reaped = wait(&r.reapedStatus);
        _exit(write(reports[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(reports[1]);
    close(out[1]);
    std::memset(seen, 0, sizeof seen);
    size_t got = 0;
    struct pollfd p = {reports[0], POLLIN, 0};
    ssize_t n;
    while (got < sizeof seen && poll(&p, 1, 10000) == 1 &&
           (n = read(reports[0], reinterpret_cast<char*>(seen) + got, sizeof seen - got)) > 0)
        got += static_cast<size_t>(n);
    char chunk[64];
    p.fd = out[0];
    while (poll(&p, 1, 10000) == 1 && (n = read(out[0], chunk, sizeof chunk)) > 0)
        output.append(chunk, static_cast<size_t>(n));
    if (got < sizeof seen) {
        kill(reaper, SIGKILL);
        if (seen[0].pid > 0) kill(seen[0].pid, SIGKILL);
    }
    int status = 0;
    waitpid(reaper, &status, 0);
    close(reports[0]);
    close(out[0]);
    return got == sizeof seen && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ForkAndDaemonTest, CallerEndsAndTheDaemonDetaches) {
    for (int exitCode : {0, 7}) {
        SCOPED_TRACE(exitCode);
        Report seen[2];
        std::string output;
        ASSERT_TRUE(RunDaemon(exitCode, seen, output));
        const Report& r = seen[0];
        const Report& reaper = seen[1];
        EXPECT_TRUE(WIFEXITED(reaper.callerStatus) && WEXITSTATUS(reaper.callerStatus) == exitCode);
        EXPECT_TRUE(r.returned);
        EXPECT_NE(r.pid, reaper.caller);
        EXPECT_EQ(reaper.reaped, r.pid);  // the daemon has ended too
        EXPECT_EQ(reaper.reapedStatus, 0);
        EXPECT_EQ(r.session, r.pid);
        EXPECT_TRUE(r.inRoot);
        EXPECT_EQ(r.mask, 0);
        EXPECT_TRUE(r.stdioOnNull);
        // Flushed once before the fork: neither lost with the daemon's copy nor doubled.
        EXPECT_EQ(output, "written before\n");
    }
}

}  // namespace
