// Tests of the performance monitor: the /proc parsers and usage arithmetic on fixed texts, the
// text forms, and the live monitor's start, first second, stop and restart.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../ZRFramework/platform/HostStats.h"
#include "ZRPerformanceMonitor.h"
#include "ZRRuntime.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRPerformanceMonitor;
using ZRPlatform::CpuTicks;
using ZRPlatform::MemoryFigures;

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

#if !defined(_WIN32)
// The /proc texts are the POSIX build's statistics source; Windows has no such files.

// ---- /proc/stat ----

struct StatCase {
    const char* label;
    const char* text;
    bool ok;
    std::vector<CpuTicks> expected;
};

TEST(ProcStatParser, FixedTexts) {
    const StatCase cases[] = {
        {"current kernel",
         "cpu  700 20 300 9000 40 5 6 7 0 0\n"
         "cpu0 100 10 200 5000 30 1 2 3 50 0\n"
         "cpu1 600 10 100 4000 10 4 4 4 0 0\n"
         "intr 12345 0 0\nctxt 999\nbtime 1700000000\nprocs_running 2\n",
         true,
         {{110, 206, 5030}, {610, 112, 4010}}},
        {"old kernel, four fields", "cpu 1 2 3 4\ncpu0 1 2 3 4\n", true, {{3, 3, 4}}},
        {"tabs and carriage returns",
         "cpu0\t5 0 5 90\r\ncpu1 1 1 1 1",
         true,
         {{5, 5, 90}, {2, 1, 1}}},
        {"listed order kept when numbers skip",
         "cpu0 1 0 0 1\ncpu2 2 0 0 2\n",
         true,
         {{1, 0, 1}, {2, 0, 2}}},
        {"huge counters saturate",
         "cpu0 18446744073709551615 5 99999999999999999999999 1\n",
         true,
         {{kMax, kMax, 1}}},
        {"lookalike lines ignored",
         "cpux 1 2 3 4\ncpu 1 2 3 4\nxcpu0 1 2 3 4\ncpu7 1 1 1 1\n",
         true,
         {{2, 1, 1}}},
        {"too few fields", "cpu0 1 2 3\n", false, {}},
        {"word in the fields", "cpu0 1 two 3 4\n", false, {}},
        {"negative field", "cpu0 1 -2 3 4\n", false, {}},
        {"no processor line", "cpu 1 2 3 4\nintr 5\n", false, {}},
        {"empty", "", false, {}},
    };
    for (const StatCase& test : cases) {
        SCOPED_TRACE(test.label);
        std::vector<CpuTicks> parsed = {{9, 9, 9}};
        ASSERT_EQ(ZRPlatform::ParseProcStat(test.text, parsed), test.ok);
        if (!test.ok) {
            ASSERT_EQ(parsed.size(), 1u);  // untouched on failure
            continue;
        }
        ASSERT_EQ(parsed.size(), test.expected.size());
        for (size_t i = 0; i < parsed.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(parsed[i].user, test.expected[i].user);
            EXPECT_EQ(parsed[i].system, test.expected[i].system);
            EXPECT_EQ(parsed[i].idle, test.expected[i].idle);
        }
    }
}

// ---- /proc/meminfo ----

struct MeminfoCase {
    const char* label;
    const char* text;
    bool ok;
    uint64_t total;
    uint64_t available;
};

// The amount is free + active + inactive memory, and the free part is what is available.
TEST(ProcMeminfoParser, FixedTexts) {
    const MeminfoCase cases[] = {
        {"current kernel",
         "MemTotal:       16318508 kB\nMemFree:         1034516 kB\n"
         "MemAvailable:    9876543 kB\nBuffers:          500000 kB\nCached:          6000000 kB\n"
         "SwapCached:            0 kB\nActive:          7000000 kB\nInactive:        5000000 kB\n"
         "Active(anon):    3000000 kB\nInactive(anon):   100000 kB\nSwapTotal:       2097148 kB\n",
         true, (1034516ull + 7000000 + 5000000) * 1024, 1034516ull * 1024},
        {"anon and file parts are not the totals",
         "Active(anon): 9 kB\nActive(file): 9 kB\nMemFree: 1 kB\nInactive(file): 9 kB\n"
         "Inactive: 3 kB\nActive: 2 kB\n",
         true, 6ull * 1024, 1024},
        {"no unit means bytes", "MemFree: 1024\nActive: 2048\nInactive: 4096\n", true, 7168, 1024},
        {"first of a repeated key wins",
         "MemFree: 2 kB\nMemFree: 3 kB\nActive: 1 kB\nInactive: 0 kB\n", true, 3072, 2048},
        {"huge values saturate",
         "MemFree: 99999999999999999999 kB\nActive: 18014398509481984 kB\nInactive: 1 kB\n", true,
         kMax, kMax},
        {"sum saturates",
         "MemFree: 9007199254740992 kB\nActive: 9007199254740992 kB\nInactive: 1 kB\n", true, kMax,
         9007199254740992ull * 1024},
        {"no active", "MemTotal: 100 kB\nMemFree: 1 kB\nInactive: 1 kB\n", false, 0, 0},
        {"no inactive", "MemFree: 1 kB\nActive: 1 kB\nInactive(file): 1 kB\n", false, 0, 0},
        {"no free", "MemTotal: 100 kB\nMemAvailable: 50 kB\nActive: 1 kB\nInactive: 1 kB\n", false,
         0, 0},
        {"bad value", "MemFree: lots\nActive: 1 kB\nInactive: 1 kB\n", false, 0, 0},
        {"unknown unit", "MemFree: 100 MB\nActive: 1 kB\nInactive: 1 kB\n", false, 0, 0},
        {"trailing word", "MemFree: 100 kB extra\nActive: 1 kB\nInactive: 1 kB\n", false, 0, 0},
        {"empty value", "MemFree:\nActive: 1 kB\nInactive: 1 kB\n", false, 0, 0},
        {"prefix is not the key", "MemFreeX: 5 kB\nActive: 1 kB\nInactive: 1 kB\n", false, 0, 0},
        {"empty", "", false, 0, 0},
    };
    for (const MeminfoCase& test : cases) {
        SCOPED_TRACE(test.label);
        MemoryFigures figures = {7, 7};
        ASSERT_EQ(ZRPlatform::ParseProcMeminfo(test.text, figures), test.ok);
        if (!test.ok) {
            EXPECT_EQ(figures.total, 7u);
            continue;
        }
        EXPECT_EQ(figures.total, test.total);
        EXPECT_EQ(figures.available, test.available);
    }
}

TEST(ProcParsers, LiveFilesParse) {
    std::vector<CpuTicks> ticks;
    std::ifstream stat("/proc/stat");
    std::stringstream statText;
    statText << stat.rdbuf();
    ASSERT_TRUE(ZRPlatform::ParseProcStat(statText.str(), ticks));
    EXPECT_EQ(ticks.size(), static_cast<size_t>(GetProcessorsCount()));

    std::ifstream meminfo("/proc/meminfo");
    std::stringstream memText;
    memText << meminfo.rdbuf();
    MemoryFigures figures = {};
    ASSERT_TRUE(ZRPlatform::ParseProcMeminfo(memText.str(), figures));
    EXPECT_GT(figures.total, 0u);
    EXPECT_LE(figures.available, figures.total);
}

#endif

// ---- Usage arithmetic ----

struct UsageCase {
    const char* label;
    CpuTicks previous;
    CpuTicks current;
    double expected;
};

TEST(ProcessorUsage, GrowthToPercentClamped) {
    const UsageCase cases[] = {
        {"user and system", {100, 50, 1000}, {130, 60, 1060}, 40.0},
        {"all idle", {5, 5, 5}, {5, 5, 105}, 0.0},
        {"all busy", {0, 0, 0}, {70, 30, 0}, 100.0},
        {"no tick elapsed", {10, 10, 10}, {10, 10, 10}, 0.0},
        {"below zero clamps to 0", {20, 0, 0}, {10, 0, 20}, 0.0},    // -10 / 10
        {"above 100 clamps to 100", {0, 0, 10}, {10, 0, 5}, 100.0},  // 10 / 5
        {"ticks cancel out", {0, 10, 0}, {10, 0, 0}, 0.0},
        {"saturated counters", {0, 0, 0}, {kMax, kMax, kMax}, 200.0 / 3.0},
    };
    for (const UsageCase& test : cases) {
        SCOPED_TRACE(test.label);
        const double usage = ZRPlatform::ProcessorUsage(test.previous, test.current);
        EXPECT_FALSE(std::isnan(usage));
        EXPECT_NEAR(usage, test.expected, 1e-9);
    }
}

// Windows times: 100-nanosecond units, the idle time counted inside the kernel time.
TEST(ProcessorTimes, KernelLessIdleInHundredthsOfASecond) {
    struct TimesCase {
        const char* label;
        uint64_t idle, kernel, user;
        CpuTicks expected;
    };
    const TimesCase cases[] = {
        {"one second each", 10000000, 30000000, 10000000, {100, 200, 100}},
        {"partial ticks drop", 199999, 299999, 99999, {0, 1, 1}},
        {"kernel all idle", 5000000, 5000000, 0, {0, 0, 50}},
        {"kernel below idle", 7000000, 3000000, 100000, {1, 0, 70}},
        {"largest counters", kMax, kMax, kMax, {kMax / 100000, 0, kMax / 100000}},
    };
    for (const TimesCase& test : cases) {
        SCOPED_TRACE(test.label);
        const CpuTicks ticks =
            ZRPlatform::TicksFromProcessorTimes(test.idle, test.kernel, test.user);
        EXPECT_EQ(ticks.user, test.expected.user);
        EXPECT_EQ(ticks.system, test.expected.system);
        EXPECT_EQ(ticks.idle, test.expected.idle);
    }
    // Busy is user and kernel-less-idle growth over all growth.
    const CpuTicks before = ZRPlatform::TicksFromProcessorTimes(5000000, 8000000, 1000000);
    const CpuTicks after = ZRPlatform::TicksFromProcessorTimes(10000000, 14000000, 3000000);
    EXPECT_DOUBLE_EQ(ZRPlatform::ProcessorUsage(before, after), 37.5);  // (20 + 10) / 80
}

TEST(ProcessorUsage, EveryProcessorCountedBeyondSixtyFour) {
    std::vector<CpuTicks> previous(100, CpuTicks{0, 0, 0});
    std::vector<CpuTicks> current(100, CpuTicks{25, 25, 50});
    const std::vector<double> usages = ZRPlatform::ProcessorUsages(previous, current, 100);
    ASSERT_EQ(usages.size(), 100u);
    for (double usage : usages)
        EXPECT_DOUBLE_EQ(usage, 50.0);
}

TEST(ProcessorUsage, MissingSamplesReadZero) {
    const std::vector<CpuTicks> previous = {{0, 0, 0}, {0, 0, 0}};
    const std::vector<CpuTicks> current = {{50, 0, 50}};
    EXPECT_EQ(ZRPlatform::ProcessorUsages(previous, current, 3), (std::vector<double>{50, 0, 0}));
    EXPECT_EQ(ZRPlatform::ProcessorUsages({}, current, 1), std::vector<double>{0});
    EXPECT_TRUE(ZRPlatform::ProcessorUsages(previous, current, 0).empty());
    EXPECT_TRUE(ZRPlatform::ProcessorUsages(previous, current, -1).empty());
}

// ---- Text forms ----

TEST(FormattedFigures, ProcessorUsagesWithThreeDigits) {
    const double usages[] = {0.0, 12.3456, 100.0, 5.5, 0.0012345, 99.96};
    EXPECT_EQ(FormatProcessorUsages(usages, 6), "0 12.3 100 5.5 0.00123 100");
    EXPECT_EQ(FormatProcessorUsages(usages, 1), "0");
    EXPECT_EQ(FormatProcessorUsages(usages, 0), "");
    EXPECT_EQ(FormatProcessorUsages(nullptr, 3), "");
}

TEST(FormattedFigures, RamLayout) {
    EXPECT_EQ(FormatRamUsage(17179869184ull, 1024, 17179869184ull, 0),
              "17179869184|1024|17179869184|0");
}

// ---- The live monitor ----

// Spins (keeping one processor busy, so usage shows) until `condition` holds or time runs out.
bool SpinUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= end) return false;
    }
    return true;
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override { StopPerformanceMonitor(); }
    void TearDown() override { StopPerformanceMonitor(); }
};

TEST_F(MonitorTest, FirstSecondReadsZeroAndOutOfRangeReadsZero) {
    const auto start = Clock::now();
    const int count = GetProcessorsCount();
    std::vector<double> usages;
    for (int i = 0; i < count; ++i)
        usages.push_back(GetCpuUsage(i));
    const std::string formatted = GetFormattedProcUsage();
    const bool withinFirstSecond = Clock::now() - start < std::chrono::milliseconds(900);

    EXPECT_EQ(GetCpuUsage(count), 0.0);
    EXPECT_EQ(GetCpuUsage(-1), 0.0);
    EXPECT_EQ(GetCpuUsage(std::numeric_limits<int>::max()), 0.0);
    if (!withinFirstSecond) GTEST_SKIP() << "the machine was too slow to stay in the first second";
    for (double usage : usages)
        EXPECT_EQ(usage, 0.0);
    std::string zeros;
    for (int i = 0; i < count; ++i)
        zeros += i ? " 0" : "0";
    EXPECT_EQ(formatted, zeros);
    EXPECT_EQ(GetSamplingPasses(), 0u);
}

TEST_F(MonitorTest, MemoryFiguresAreFilledAtStart) {
    const uint64_t amount = GetRamAmount();
    EXPECT_GT(amount, 100u);  // 100 is the stand-in for unreadable statistics
    EXPECT_LE(GetRamUsage(), amount);
    EXPECT_LE(GetSwapUsage(), GetSwapAmount());
    _perf_mon_data data = {};
    EXPECT_TRUE(FillPerformanceData(&data));
    EXPECT_GT(data.memoryAmount, 100u);
    EXPECT_EQ(data.swapAmount, data.memoryAmount);
    EXPECT_EQ(GetSwapAmount(), amount);

    const std::string text = GetFormattedRamUsage();
    std::istringstream parts(text);
    std::string part;
    std::vector<std::string> fields;
    while (std::getline(parts, part, '|'))
        fields.push_back(part);
    ASSERT_EQ(fields.size(), 4u) << text;
    EXPECT_EQ(fields[0], std::to_string(amount));
    EXPECT_EQ(fields[2], fields[0]);
    EXPECT_EQ(fields[3], fields[1]);

    char* paths = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(GetMountPaths(&paths), 0);
    EXPECT_EQ(paths, nullptr);
    char* usage = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(GetMountPathsUsage(&usage), 0);
    EXPECT_EQ(usage, nullptr);
    EXPECT_EQ(GetMountPaths(nullptr), 0);
    EXPECT_FALSE(FillPerformanceData(nullptr));
}

TEST(CpuStates, TicksOfOneProcessor) {
    long first[3] = {-1, -1, -1};
    ASSERT_TRUE(get_cpu_states(first, 0));
    EXPECT_GT(first[0] + first[1] + first[2], 0);
    long second[3] = {};
    ASSERT_TRUE(get_cpu_states(second, 0));
    for (int i = 0; i < 3; ++i)
        EXPECT_GE(second[i], first[i]);

    long untouched[3] = {7, 7, 7};
    EXPECT_FALSE(get_cpu_states(untouched, GetProcessorsCount()));
    EXPECT_FALSE(get_cpu_states(untouched, -1));
    EXPECT_EQ(untouched[0], 7);
    EXPECT_FALSE(get_cpu_states(nullptr, 0));
}

TEST_F(MonitorTest, StopIsPromptAndRestartSamplesAgain) {
    StartPerformanceMonitor();
    const auto stopStart = Clock::now();
    StopPerformanceMonitor();
    EXPECT_LT(Clock::now() - stopStart, std::chrono::milliseconds(800));

    StartPerformanceMonitor();
    ASSERT_TRUE(SpinUntil([] { return GetSamplingPasses() >= 1; }, std::chrono::seconds(3)));
    const int count = GetProcessorsCount();
    double busiest = 0.0;
    for (int i = 0; i < count; ++i) {
        const double usage = GetCpuUsage(i);
        EXPECT_GE(usage, 0.0);
        EXPECT_LE(usage, 100.0);
        busiest = std::max(busiest, usage);
    }
    EXPECT_GT(busiest, 0.0);  // this thread kept a processor busy the whole second
}

TEST_F(MonitorTest, GettersStartAndStopFromManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                switch ((t + i) % 4) {
                    case 0:
                        StopPerformanceMonitor();
                        break;
                    case 1:
                        EXPECT_GE(GetCpuUsage(i % 3), 0.0);
                        break;
                    case 2:
                        EXPECT_LE(GetRamUsage(), GetRamAmount());
                        break;
                    default:
                        GetFormattedProcUsage();
                        GetFormattedRamUsage();
                        break;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
}

}  // namespace
