// Tests of the logger: entry format, level filter, rotation under a test clock, the system log
// through stand-in calls, and the detached writer under several producers.
#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <syslog.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "TestFolders.h"
#include "ZRLogger.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRLogger;
namespace fs = std::filesystem;

namespace {

std::atomic<time_t> gNow{0};
time_t FakeNow() {
    return gNow.load();
}

time_t At(int year, int month, int day, int hour, int minute, int second) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
#ifdef _WIN32
    return _mkgmtime(&t);
#else
    return timegm(&t);
#endif
}

// What the stand-in system-log calls and the rotation callback saw.
struct Recorded {
    std::mutex lock;
    std::vector<std::tuple<std::string, int, int>> opens;
    std::vector<std::pair<int, std::string>> writes;
    int closes = 0;
    std::vector<std::string> rotated;
} gSeen;

const zrSystemLogCalls kRecorder = {[](const char* identity, int options, int facility) {
                                        std::lock_guard<std::mutex> guard(gSeen.lock);
                                        gSeen.opens.emplace_back(identity, options, facility);
                                    },
                                    [](int priority, const char* line) {
                                        std::lock_guard<std::mutex> guard(gSeen.lock);
                                        gSeen.writes.emplace_back(priority, line);
                                    },
                                    [] {
                                        std::lock_guard<std::mutex> guard(gSeen.lock);
                                        ++gSeen.closes;
                                    }};

zrLogger* gCallbackLogger = nullptr;  // logged to from the rotation callback when set
void OnRotated(const char* path) {
    {
        std::lock_guard<std::mutex> guard(gSeen.lock);
        gSeen.rotated.push_back(path);
    }
    AddLogEntry(gCallbackLogger, 1, "rot", "moved");
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = getenv("TZ");
        savedTz_ = tz ? std::make_unique<std::string>(tz) : nullptr;
        zdTest::SetEnv("TZ", "UTC");
        tzset();
        dir_ = zdTest::MakeTempFolder("logtest.");
        ASSERT_FALSE(dir_.empty());
        gNow = At(2026, 12, 7, 9, 5, 3);
        SetLoggerClock(FakeNow);
        SetLoggerSystemLogCalls(&kRecorder);
        std::lock_guard<std::mutex> guard(gSeen.lock);
        gSeen.opens.clear();
        gSeen.writes.clear();
        gSeen.closes = 0;
        gSeen.rotated.clear();
        gCallbackLogger = nullptr;
    }
    void TearDown() override {
        SetLoggerClock(nullptr);
        SetLoggerSystemLogCalls(nullptr);
        fs::remove_all(dir_);
        if (savedTz_) {
            zdTest::SetEnv("TZ", savedTz_->c_str());
        } else {
            zdTest::UnsetEnv("TZ");
        }
        tzset();
    }
    void Make(zrLogger& logger, int level, int flags, int rotation = kRotateNever) {
        SetLoggerBasePath(&logger, dir_);
        SetLoggerFile(&logger, "app.log");
        SetLoggerRotation(&logger, rotation);
        CreateLogger(&logger, level, flags);
    }
    std::string Path(const std::string& name = "app.log") const { return dir_ + "/" + name; }

    std::string dir_;
    std::unique_ptr<std::string> savedTz_;
};

TEST_F(LoggerTest, FormatsDateSourceAndMessageAndFiltersByLevel) {
    zrLogger logger;
    Make(logger, 2, kLogToFile);
    AddLogEntry(&logger, 1, "src", "msg %d", 42);
    gNow = At(2027, 1, 2, 3, 4, 5);
    AddLogEntry(&logger, 2, "other", "%s", "two");
    AddLogEntry(&logger, 3, "src", "dropped");
    AddLogEntry(nullptr, 1, "src", "no logger");
    EXPECT_EQ(ReadLines(Path()), (std::vector<std::string>{"12/07/2026 09:05:03 - [src] msg 42",
                                                           "01/02/2027 03:04:05 - [other] two"}));
    DestroyLogger(&logger);
}

TEST_F(LoggerTest, CutsTheMessageAt4095Bytes) {
    zrLogger logger;
    Make(logger, 1, kLogToFile);
    const std::string prefix = "12/07/2026 09:05:03 - [s] ";
    AddLogEntry(&logger, 1, "s", "%s", std::string(4095, 'a').c_str());
    AddLogEntry(&logger, 1, "s", "%s", std::string(5000, 'b').c_str());
    DestroyLogger(&logger);
    EXPECT_EQ(ReadLines(Path()), (std::vector<std::string>{prefix + std::string(4095, 'a'),
                                                           prefix + std::string(4095, 'b')}));
}

TEST_F(LoggerTest, WritesLinesToStandardOutput) {
    zrLogger logger;
    Make(logger, 1, kLogToStdout);
    testing::internal::CaptureStdout();
    AddLogEntry(&logger, 1, "src", "out");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "12/07/2026 09:05:03 - [src] out\n");
    DestroyLogger(&logger);
}

struct RotationCase {
    int mode;
    time_t start, same, next;
    const char* rotatedName;  // null: no rotation expected
};

TEST_F(LoggerTest, RotatesWhenThePeriodEnds) {
    const RotationCase cases[] = {
        {kRotateHourly, At(2026, 12, 7, 9, 5, 3), At(2026, 12, 7, 9, 59, 59),
         At(2026, 12, 7, 10, 0, 0), "12.07.2026.09.app.log"},
        {kRotateHourly, At(2026, 12, 7, 9, 5, 3), At(2026, 12, 7, 9, 6, 0),
         At(2026, 12, 14, 9, 10, 0), "12.07.2026.09.app.log"},  // same weekday and hour
        {kRotateDaily, At(2026, 12, 7, 9, 5, 3), At(2026, 12, 7, 23, 59, 59),
         At(2026, 12, 8, 0, 0, 0), "12.07.2026.app.log"},
        {kRotateDaily, At(2026, 11, 7, 9, 0, 0), At(2026, 11, 7, 9, 0, 1), At(2026, 12, 7, 9, 0, 0),
         "11.07.2026.app.log"},
        {kRotateMonthly, At(2026, 12, 7, 9, 5, 3), At(2026, 12, 31, 23, 59, 59),
         At(2027, 1, 1, 0, 0, 0), "12.2026.app.log"},
        {kRotateNever, At(2026, 12, 7, 9, 5, 3), At(2026, 12, 8, 0, 0, 0), At(2027, 6, 1, 0, 0, 0),
         nullptr},
    };
    for (const RotationCase& c : cases) {
        SCOPED_TRACE(c.rotatedName ? c.rotatedName : "never");
        fs::remove_all(dir_);
        gSeen.rotated.clear();
        gNow = c.start;
        zrLogger logger;
        Make(logger, 1, kLogToFile, c.mode);
        SetLoggerRotationCallback(&logger, OnRotated);
        AddLogEntry(&logger, 1, "s", "first");
        gNow = c.same;
        AddLogEntry(&logger, 1, "s", "same");
        EXPECT_TRUE(gSeen.rotated.empty());
        gNow = c.next;
        AddLogEntry(&logger, 1, "s", "next");
        DestroyLogger(&logger);

        const size_t files = std::distance(fs::directory_iterator(dir_), {});
        if (!c.rotatedName) {
            EXPECT_EQ(files, 1u);
            EXPECT_EQ(ReadLines(Path()).size(), 3u);
            EXPECT_TRUE(gSeen.rotated.empty());
            continue;
        }
        EXPECT_EQ(files, 2u);
        EXPECT_EQ(gSeen.rotated, std::vector<std::string>{Path(c.rotatedName)});
        const auto old = ReadLines(Path(c.rotatedName));
        const auto current = ReadLines(Path());
        ASSERT_EQ(old.size(), 2u);
        EXPECT_NE(old[1].find("] same"), std::string::npos);
        ASSERT_EQ(current.size(), 1u);
        EXPECT_NE(current[0].find("] next"), std::string::npos);
    }
}

TEST_F(LoggerTest, ContinuesThePeriodOfAnExistingFile) {
    struct Case {
        const char* head;
        int mode;
        time_t now;
        const char* rotatedName;
    } cases[] = {
        {"11/30/2026 22:10:00 - [old] line\n", kRotateDaily, At(2026, 12, 1, 8, 0, 0),
         "11.30.2026.app.log"},
        {"12/07/2026 09:00:00 - [old] line\n", kRotateHourly, At(2026, 12, 7, 9, 30, 0), nullptr},
        {"short\n", kRotateDaily, At(2026, 12, 1, 8, 0, 0), nullptr},
        {"not a date, but long enough\n", kRotateDaily, At(2026, 12, 1, 8, 0, 0), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        gSeen.rotated.clear();
        std::ofstream(Path()) << c.head;
        gNow = c.now;
        zrLogger logger;
        Make(logger, 1, kLogToFile, c.mode);
        SetLoggerRotationCallback(&logger, OnRotated);
        AddLogEntry(&logger, 1, "new", "line");
        DestroyLogger(&logger);
        if (c.rotatedName) {
            EXPECT_EQ(gSeen.rotated, std::vector<std::string>{Path(c.rotatedName)});
            EXPECT_EQ(ReadLines(Path()).size(), 1u);
        } else {
            EXPECT_TRUE(gSeen.rotated.empty());
            EXPECT_EQ(ReadLines(Path()).size(), 2u);
        }
    }
}

#ifndef _WIN32
TEST_F(LoggerTest, SystemLogAloneTouchesNoDisk) {
    zrLogger logger;
    SetLoggerBasePath(&logger, dir_ + "/logs");
    CreateLogger(&logger, 5, kLogToSyslog);
    for (int level = 1; level <= 6; ++level)
        AddLogEntry(&logger, level, "s", "l%d", level);
    DestroyLogger(&logger);

    EXPECT_TRUE(fs::is_empty(dir_));
    EXPECT_EQ(gSeen.opens, (std::vector<std::tuple<std::string, int, int>>{
                               {"zrUtilsLog", LOG_CONS | LOG_PID, LOG_DAEMON}}));
    const std::vector<std::pair<int, std::string>> expected = {
        {LOG_NOTICE, "12/07/2026 09:05:03 - [s] l1"},
        {LOG_INFO, "12/07/2026 09:05:03 - [s] l2"},
        {LOG_NOTICE, "12/07/2026 09:05:03 - [s] l3"},
        {LOG_DEBUG, "12/07/2026 09:05:03 - [s] l4"},
        {LOG_INFO, "12/07/2026 09:05:03 - [s] l5"}};
    EXPECT_EQ(gSeen.writes, expected);
    EXPECT_EQ(gSeen.closes, 1);
}

TEST_F(LoggerTest, MapsFacilitiesToLocalFacilities) {
    const std::pair<int, int> cases[] = {
        {0, LOG_LOCAL0}, {1, LOG_LOCAL1}, {2, LOG_LOCAL2}, {3, LOG_LOCAL3}, {4, LOG_LOCAL4},
        {5, LOG_LOCAL5}, {6, LOG_LOCAL6}, {7, LOG_LOCAL7}, {8, LOG_DAEMON}, {-1, LOG_DAEMON}};
    for (const auto& [n, facility] : cases) {
        gSeen.opens.clear();
        zrLogger logger;
        SetLoggerFacility(&logger, n);
        Make(logger, 1, kLogToSyslog);
        EXPECT_EQ(logger.facility, n >= 0 && n <= 7 ? 128 + n : 24) << n;
        ASSERT_EQ(gSeen.opens.size(), 1u);
        EXPECT_EQ(std::get<2>(gSeen.opens[0]), facility) << n;
        DestroyLogger(&logger);
    }
}

#else
// Windows has no system log: the default calls do nothing, and replacement calls receive the
// logger's own numbers unchanged.
TEST_F(LoggerTest, SystemLogPassesTheLoggersNumbersOnWindows) {
    zrLogger logger;
    Make(logger, 5, kLogToSyslog | kLogToFile);
    AddLogEntry(&logger, 3, "s", "line");
    DestroyLogger(&logger);
    EXPECT_EQ(ReadLines(Path()).size(), 1u);
    EXPECT_EQ(gSeen.opens, (std::vector<std::tuple<std::string, int, int>>{{"zrUtilsLog", 0, 24}}));
    EXPECT_EQ(gSeen.writes,
              (std::vector<std::pair<int, std::string>>{{3, "12/07/2026 09:05:03 - [s] line"}}));
}
#endif

TEST_F(LoggerTest, UnopenableFileLeavesTheOtherOutputsWorking) {
    fs::create_directory(Path());  // the log path is a folder
    zrLogger logger;
    Make(logger, 1, kLogToFile | kLogToStdout);
    EXPECT_EQ(logger.file, nullptr);
    testing::internal::CaptureStdout();
    AddLogEntry(&logger, 1, "s", "still logged");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "12/07/2026 09:05:03 - [s] still logged\n");
    DestroyLogger(&logger);
}

TEST_F(LoggerTest, DetachedWriterUsesTheLoggersLevelAndFlushes) {
    zrLogger logger;
    Make(logger, 4, kLogToFile | kLogToSyslog);
    SetLoggerDetachedStatus(&logger, true);
    AddLogEntry(&logger, 1, "s", "a");
    AddLogEntry(&logger, 2, "s", "b");
    FlushDetachedThread(&logger);
    EXPECT_EQ(ReadLines(Path()).size(), 2u);
#ifndef _WIN32
    {
        std::lock_guard<std::mutex> guard(gSeen.lock);
        ASSERT_EQ(gSeen.writes.size(), 2u);
        EXPECT_EQ(gSeen.writes[0].first, LOG_DEBUG);
        EXPECT_EQ(gSeen.writes[1].first, LOG_DEBUG);
    }
#endif
    DestroyLogger(&logger);
}

TEST_F(LoggerTest, StoppingTheWriterWritesEveryQueuedLine) {
    zrLogger logger;
    Make(logger, 1, kLogToFile);
    SetLoggerDetachedStatus(&logger, true);
    for (int i = 0; i < 1000; ++i)
        AddLogEntry(&logger, 1, "s", "%d", i);
    SetLoggerDetachedStatus(&logger, false);
    EXPECT_EQ(ReadLines(Path()).size(), 1000u);
    AddLogEntry(&logger, 1, "s", "direct");
    EXPECT_EQ(ReadLines(Path()).size(), 1001u);
    DestroyLogger(&logger);
}

TEST_F(LoggerTest, EightProducersLoseNoLineAndKeepTheirOrder) {
    constexpr int kProducers = 8, kLines = 2000;
    zrLogger logger;
    Make(logger, 1, kLogToFile);
    SetLoggerDetachedStatus(&logger, true);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&logger, p] {
            for (int i = 0; i < kLines; ++i)
                AddLogEntry(&logger, 1, "p", "%d %d", p, i);
        });
    }
    for (auto& t : producers)
        t.join();
    DestroyLogger(&logger);

    const auto lines = ReadLines(Path());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kProducers * kLines));
    std::vector<int> next(kProducers, 0);
    const std::string prefix = "12/07/2026 09:05:03 - [p] ";
    for (const auto& line : lines) {
        ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
        int p = -1, i = -1;
        ASSERT_EQ(sscanf(line.c_str() + prefix.size(), "%d %d", &p, &i), 2) << line;
        ASSERT_TRUE(p >= 0 && p < kProducers) << line;
        ASSERT_EQ(i, next[p]++) << line;
    }
}

TEST_F(LoggerTest, IdleFlushAndStopReturnPromptly) {
    zrLogger logger;
    Make(logger, 1, kLogToFile);
    const auto start = std::chrono::steady_clock::now();
    // A writer that slept through its idle period would cost about 200 ms per stop.
    for (int round = 0; round < 30; ++round) {
        SetLoggerDetachedStatus(&logger, true);
        for (int i = 0; i < 10; ++i)
            FlushDetachedThread(&logger);
        AddLogEntry(&logger, 1, "s", "%d", round);
        FlushDetachedThread(&logger);
        SetLoggerDetachedStatus(&logger, false);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(ReadLines(Path()).size(), 30u);
    DestroyLogger(&logger);
}

TEST_F(LoggerTest, RotationCallbackMayLogToTheSameLogger) {
    for (bool detached : {false, true}) {
        SCOPED_TRACE(detached);
        fs::remove_all(dir_);
        gNow = At(2026, 12, 7, 23, 0, 0);
        zrLogger logger;
        Make(logger, 1, kLogToFile, kRotateDaily);
        SetLoggerRotationCallback(&logger, OnRotated);
        gCallbackLogger = &logger;
        SetLoggerDetachedStatus(&logger, detached);
        AddLogEntry(&logger, 1, "s", "before");
        FlushDetachedThread(&logger);  // the writer checks the period when it writes
        gNow = At(2026, 12, 8, 0, 0, 1);
        AddLogEntry(&logger, 1, "s", "after");
        DestroyLogger(&logger);
        gCallbackLogger = nullptr;
        EXPECT_EQ(ReadLines(Path()),
                  (std::vector<std::string>{"12/08/2026 00:00:01 - [s] after",
                                            "12/08/2026 00:00:01 - [rot] moved"}));
    }
}

TEST_F(LoggerTest, CreatesTheFolderAndUsesTheDefaultFileName) {
    zrLogger logger;
    SetLoggerBasePath(&logger, dir_ + "/a/b");
    CreateLogger(&logger, 1, kLogToFile);
    AddLogEntry(&logger, 1, "s", "x");
    DestroyLogger(&logger);
    EXPECT_EQ(ReadLines(dir_ + "/a/b/default.log").size(), 1u);
}

}  // namespace
