// Tests of the library runtime: seeds, byte swaps, unique locks, hardware-address text, unique
// identifiers, host name, base path and sleeping.
#include <gtest/gtest.h>
#include <sys/stat.h>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // gtest may have defined it
#define NOMINMAX
#endif
#include <process.h>
#include <windows.h>
// Needs the types of <windows.h> first.
#include <iphlpapi.h>
#else
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../ZRFramework/platform/LinkAddresses.h"
#include "ZRRuntime.h"

using namespace ZRFramework;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// ---- Library start-up and the seed counter ----

class LibraryTest : public ::testing::Test {
protected:
    void TearDown() override { ShutdownLibrary(); }
};

TEST_F(LibraryTest, SeedStartsAtFirstRandValueAndCounts) {
    srand(4242);
    const int first = rand();
    srand(4242);
    InitializeLibrary(nullptr);
    EXPECT_EQ(GetProgressiveSeed(), first);
    EXPECT_EQ(GetProgressiveSeed(), first + 1);
    EXPECT_EQ(GetProgressiveSeed(), first + 2);
}

TEST_F(LibraryTest, SeedsFromManyThreadsAreDistinctAndContiguous) {
    InitializeLibrary(nullptr);
    const int start = GetProgressiveSeed();
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&seen, t] {
            for (int i = 0; i < kEach; ++i)
                seen[t].push_back(GetProgressiveSeed());
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::set<int> all;
    for (const auto& values : seen)
        all.insert(values.begin(), values.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(*all.begin(), start + 1);
    EXPECT_EQ(*all.rbegin(), start + kThreads * kEach);
}

TEST_F(LibraryTest, BasePathIsTheFolderOfTheRunningProgram) {
    InitializeLibrary("ignored");
    const std::string base = GetModuleBasePath();
    ASSERT_FALSE(base.empty());
    EXPECT_EQ(base, GetBundlePath());
#if defined(_WIN32)
    // A drive path such as C:\folder, without the program's name or a trailing backslash.
    ASSERT_GE(base.size(), 3u);
    EXPECT_EQ(base[1], ':');
    EXPECT_NE(base.back(), '\\');
    EXPECT_TRUE(FileExists(base + "\\framework_tests.exe")) << base;
#else
    EXPECT_EQ(base[0], '/');
    EXPECT_NE(base.back(), '/');
    EXPECT_TRUE(FileExists(base + "/" + program_invocation_short_name)) << base;
#endif
}

TEST(RuntimeTest, PlatformCodeIsTheBuildsSystem) {
#if defined(_WIN32)
    EXPECT_EQ(GetRunningPlatformOS(), 1);
#else
    EXPECT_EQ(GetRunningPlatformOS(), kPlatformLinux);
#endif
}

#if !defined(_WIN32)
// The kernel's own name is read through utsname, which Windows lacks.
TEST(RuntimeTest, HostNameMatchesTheKernels) {
    utsname system;
    ASSERT_EQ(uname(&system), 0);
    std::string name = "unchanged";
    ASSERT_TRUE(GetHostName(name));
    EXPECT_EQ(name, system.nodename);
}
#else
TEST(RuntimeTest, HostNameIsReadWithoutStartingWinsockFirst) {
    std::string name;
    ASSERT_TRUE(GetHostName(name));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find('\0'), std::string::npos);
}
#endif

// ---- Byte swaps ----

TEST(RuntimeTest, SwapsReverseTheBytesInPlace) {
    unsigned char four[] = {0x01, 0x02, 0x03, 0x04, 0xEE};
    Swap4Bytes(four);
    const unsigned char fourSwapped[] = {0x04, 0x03, 0x02, 0x01, 0xEE};
    EXPECT_EQ(std::memcmp(four, fourSwapped, sizeof four), 0);

    unsigned char eight[] = {1, 2, 3, 4, 5, 6, 7, 8, 0xEE};
    Swap8Bytes(eight);
    const unsigned char eightSwapped[] = {8, 7, 6, 5, 4, 3, 2, 1, 0xEE};
    EXPECT_EQ(std::memcmp(eight, eightSwapped, sizeof eight), 0);

    unsigned char two[] = {0xAB, 0xCD, 0xEE};
    Swap2Bytes(two);
    EXPECT_EQ(two[0], 0xCD);
    EXPECT_EQ(two[1], 0xAB);
    Swap2Bytes(two);
    EXPECT_EQ(two[0], 0xAB);
    EXPECT_EQ(two[1], 0xCD);
    EXPECT_EQ(two[2], 0xEE);

    Swap2Bytes(nullptr);
    Swap4Bytes(nullptr);
    Swap8Bytes(nullptr);
}

// ---- Unique locks ----

#if defined(_WIN32)
// The lock is the named mutex "Global\\" + name: visible under that name while it is held.
TEST(UniqueLockTest, WindowsNamedMutexHeldOnceUntilDeleted) {
    const std::string name = "zr-rt-test-" + std::to_string(_getpid());
    const std::string global = "Global\\" + name;
    auto exists = [&] {
        HANDLE other = OpenMutexA(SYNCHRONIZE, FALSE, global.c_str());
        if (other) CloseHandle(other);
        return other != nullptr;
    };
    void* first = CreateUniqueLock(name.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(exists());
    EXPECT_EQ(CreateUniqueLock(name.c_str()), nullptr);

    EXPECT_TRUE(DeleteUniqueLock(first));
    EXPECT_FALSE(exists());
    void* again = CreateUniqueLock(name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(DeleteUniqueLock(again));

    EXPECT_EQ(CreateUniqueLock(""), nullptr);
    EXPECT_EQ(CreateUniqueLock(nullptr), nullptr);
    EXPECT_FALSE(DeleteUniqueLock(nullptr));
}
#else
// POSIX locks are files under /tmp; the Windows lock above has no file.

class UniqueLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = "zr-rt-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".lock";
        path_ = "/tmp/" + name_;
    }
    void TearDown() override { unlink(path_.c_str()); }

    std::string name_;
    std::string path_;
};

TEST_F(UniqueLockTest, HeldOnceUntilDeleted) {
    const int first = CreateUniqueLock(name_.c_str());
    ASSERT_GE(first, 0);
    EXPECT_TRUE(FileExists(path_));
    // A second open in this process is a second holder and must be refused.
    EXPECT_EQ(CreateUniqueLock(name_.c_str()), -1);
    EXPECT_EQ(CreateUniqueLock(name_.c_str()), -1);

    EXPECT_TRUE(DeleteUniqueLock(first, name_.c_str()));
    EXPECT_FALSE(FileExists(path_));

    const int again = CreateUniqueLock(name_.c_str());
    ASSERT_GE(again, 0);
    EXPECT_EQ(CreateUniqueLock(name_.c_str()), -1);
    EXPECT_TRUE(DeleteUniqueLock(again, name_.c_str()));
}

TEST_F(UniqueLockTest, LockFileIsNotWorldWritable) {
    const int fd = CreateUniqueLock(name_.c_str());
    ASSERT_GE(fd, 0);
    struct stat info;
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0022, 0u);
    EXPECT_EQ(info.st_mode & 0600, 0600u);
    EXPECT_TRUE(DeleteUniqueLock(fd, name_.c_str()));
}

TEST_F(UniqueLockTest, FailedHolderCannotRemoveTheLiveLock) {
    const int holder = CreateUniqueLock(name_.c_str());
    ASSERT_GE(holder, 0);
    const int loser = CreateUniqueLock(name_.c_str());
    ASSERT_EQ(loser, -1);
    EXPECT_FALSE(DeleteUniqueLock(loser, name_.c_str()));
    EXPECT_TRUE(FileExists(path_));
    EXPECT_EQ(CreateUniqueLock(name_.c_str()), -1);
    EXPECT_TRUE(DeleteUniqueLock(holder, name_.c_str()));
}

TEST(UniqueLockNames, NamesThatLeaveTmpAreRefused) {
    for (const char* name : {"", ".", "..", "a/b", "/etc/passwd", "../x", "x/../y", "a/"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CreateUniqueLock(name), -1);
    }
    EXPECT_EQ(CreateUniqueLock(nullptr), -1);
    // Refused for delete as well: nothing outside /tmp is removed.
    EXPECT_FALSE(DeleteUniqueLock(0x7fff, "../zr-rt-nothing"));
    EXPECT_FALSE(DeleteUniqueLock(0x7fff, ".."));
}

// Dots inside a plain file name stay in /tmp and are fine.
TEST(UniqueLockNames, DotsInsideANameAreAccepted) {
    const std::string pid = std::to_string(getpid());
    for (const std::string& name :
         {"zr-rt-" + pid + "-job..lock", "..zr-rt-" + pid, "zr-rt-" + pid + "..."}) {
        SCOPED_TRACE(name);
        const int fd = CreateUniqueLock(name.c_str());
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(FileExists("/tmp/" + name));
        EXPECT_EQ(CreateUniqueLock(name.c_str()), -1);
        EXPECT_TRUE(DeleteUniqueLock(fd, name.c_str()));
        EXPECT_FALSE(FileExists("/tmp/" + name));
    }
}

#endif

// ---- Hardware addresses ----

struct MacCase {
    const char* label;
    std::vector<zrLinkAddress> interfaces;
    const char* expected;
};

TEST(MacAddressText, FromInterfaceRecords) {
    const std::array<unsigned char, 6> a = {0x00, 0x1b, 0x21, 0xAB, 0xcd, 0xEF};
    const std::array<unsigned char, 6> b = {0xF0, 0x0D, 0x00, 0x00, 0x01, 0x02};
    const std::array<unsigned char, 6> c = {0x02, 0x42, 0xac, 0x11, 0x00, 0x02};
    const MacCase cases[] = {
        {"none", {}, ""},
        {"one", {{"en0", a}}, "001b21abcdef"},
        {"two en", {{"en0", a}, {"en1", b}}, "001b21abcdef|f00d00000102"},
        {"only loopback", {{"lo", {}}}, ""},
        {"linux names",
         {{"lo", {}}, {"enp3s0", a}, {"eth0", b}, {"wlp2s0", c}},
         "001b21abcdef|f00d00000102|0242ac110002"},
        {"virtual links skipped",
         {{"docker0", a}, {"veth12ab", b}, {"br-1", c}, {"virbr0", a}, {"e", b}},
         ""},
        {"order kept", {{"wlan0", c}, {"eno1", a}}, "0242ac110002|001b21abcdef"},
    };
    for (const MacCase& test : cases) {
        SCOPED_TRACE(test.label);
        EXPECT_EQ(FormatMacAddresses(test.interfaces), test.expected);
    }
}

// Windows: NetBIOS statuses win over the adapter list, whose groups keep their line feed, and
// every adapter counts whatever its name.
TEST(MacAddressText, WindowsNetbiosFirstThenAdapterList) {
    const ZRPlatform::zrHardwareAddress a = {0x00, 0x1b, 0x21, 0xAB, 0xcd, 0xEF};
    const ZRPlatform::zrHardwareAddress b = {0xF0, 0x0D, 0x00, 0x00, 0x01, 0x02};
    const std::vector<zrLinkAddress> adapters = {
        {"{4D36E972-E325-11CE-BFC1-08002BE10318}", b}, {"lo", a}, {"", {}}};
    struct Case {
        const char* label;
        std::vector<ZRPlatform::zrHardwareAddress> netbios;
        std::vector<zrLinkAddress> adapters;
        const char* expected;
    };
    const Case cases[] = {
        {"nothing", {}, {}, ""},
        {"netbios only", {a, b}, {}, "001b21abcdef|f00d00000102"},
        {"netbios wins", {b}, adapters, "f00d00000102"},
        {"adapter list", {}, adapters, "f00d00000102\n|001b21abcdef\n|000000000000\n"},
        {"one adapter", {}, {{"{x}", a}}, "001b21abcdef\n"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.label);
        EXPECT_EQ(ZRPlatform::FormatWindowsMacAddresses(test.netbios, test.adapters),
                  test.expected);
    }
}

#if defined(_WIN32)
// The adapters GetAdaptersInfo lists, as 12 hexadecimal digits each.
std::set<std::string> ListedAdapterAddresses() {
    typedef ULONG(WINAPI * ListAdapters)(PIP_ADAPTER_INFO, PULONG);
    std::set<std::string> addresses;
    const HMODULE library = LoadLibraryW(L"iphlpapi.dll");
    if (!library) return addresses;
    const auto list = reinterpret_cast<ListAdapters>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(library, "GetAdaptersInfo")));
    std::vector<uint64_t> buffer(1);
    ULONG size = sizeof(uint64_t);
    ULONG result = list ? list(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size) : 1;
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(size / sizeof(uint64_t) + 1);
        size = static_cast<ULONG>(buffer.size() * sizeof(uint64_t));
        result = list(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
    }
    for (auto* adapter = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data());
         result == ERROR_SUCCESS && adapter; adapter = adapter->Next) {
        const BYTE* a = adapter->Address;
        char group[16];
        std::snprintf(group, sizeof group, "%2.2x%2.2x%2.2x%2.2x%2.2x%2.2x", a[0], a[1], a[2], a[3],
                      a[4], a[5]);
        addresses.insert(group);
    }
    FreeLibrary(library);
    return addresses;
}

// Whether NetBIOS or the adapter list gave them, the groups are addresses of listed adapters.
TEST(MacAddressText, HostGroupsAreListedAdapters) {
    const std::set<std::string> listed = ListedAdapterAddresses();
    if (listed.empty()) GTEST_SKIP() << "GetAdaptersInfo lists no adapter on this host";
    const std::string text = GetHostMacAddresses(false);
    ASSERT_FALSE(text.empty());
    std::istringstream groups(text);
    std::string group;
    while (std::getline(groups, group, '|')) {
        if (!group.empty() && group.back() == '\n') group.pop_back();
        EXPECT_EQ(listed.count(group), 1u) << group;
    }
}
#endif

TEST(MacAddressText, HostTextHasTheShape) {
    const std::string text = GetHostMacAddresses(false);
#if defined(_WIN32)
    const std::regex shape("([0-9a-f]{12}(\\|[0-9a-f]{12})*)?|[0-9a-f]{12}\n(\\|[0-9a-f]{12}\n)*");
#else
    const std::regex shape("([0-9a-f]{12}(\\|[0-9a-f]{12})*)?");
#endif
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
}

// ---- Unique identifiers ----

TEST(UniqueGuid, FourRandValuesLastDrawnFirstThenTheTime) {
    srand(99);
    unsigned int drawn[4];
    for (unsigned int& value : drawn)
        value = static_cast<unsigned int>(rand()) & 0xFFFFu;
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%4.4X%4.4X%4.4X%4.4X", drawn[3], drawn[2], drawn[1],
                  drawn[0]);

    srand(99);
    const unsigned long before = static_cast<unsigned long>(time(nullptr));
    const std::string guid = GenerateUniqueGUID();
    const unsigned long after = static_cast<unsigned long>(time(nullptr));

    ASSERT_TRUE(std::regex_match(guid, std::regex("[0-9A-F]{24}"))) << guid;
    EXPECT_EQ(guid.substr(0, 16), prefix);
    const unsigned long stamp = std::stoul(guid.substr(16), nullptr, 16);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
}

TEST(UniqueGuid, AlwaysTwentyFourDigits) {
    srand(1);
    std::set<std::string> seen;
    for (int i = 0; i < 500; ++i) {
        const std::string guid = GenerateUniqueGUID();
        ASSERT_TRUE(std::regex_match(guid, std::regex("[0-9A-F]{24}"))) << guid;
        seen.insert(guid);
    }
    EXPECT_GT(seen.size(), 490u);
}

// ---- Sleeping ----

long long ElapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

TEST(MicroSleepTest, SleepsAtLeastTheTimeAsked) {
    for (int ms : {1, 30, 120}) {
        SCOPED_TRACE(ms);
        const auto start = Clock::now();
        MicroSleep(ms);
        const long long elapsed = ElapsedMs(start);
        EXPECT_GE(elapsed, ms);
        EXPECT_LT(elapsed, ms + 2000);
    }
    const auto start = Clock::now();
    MicroSleep(0);
    MicroSleep(-5);
    EXPECT_LT(ElapsedMs(start), 1000);
}

#if !defined(_WIN32)
// POSIX signals: Windows has none that interrupt a sleep.
std::atomic<int> signalsCaught{0};
void CountSignal(int) {
    signalsCaught.fetch_add(1);
}

TEST(MicroSleepTest, SignalsDoNotCutTheSleepShort) {
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the sleep sees EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    signalsCaught = 0;
    std::atomic<bool> done{false};
    const pthread_t sleeper = pthread_self();
    std::thread interrupter([&] {
        while (!done) {
            pthread_kill(sleeper, SIGUSR1);
            std::this_thread::sleep_for(milliseconds(5));
        }
    });
    const auto start = Clock::now();
    MicroSleep(150);
    const long long elapsed = ElapsedMs(start);
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_GT(signalsCaught.load(), 0);
    EXPECT_GE(elapsed, 150);
}
#endif

}  // namespace
