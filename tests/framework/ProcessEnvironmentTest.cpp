// Tests of environment blocks and their resolution, the impersonation purge, the wake-on-LAN
// packet (caught on loopback) and system events through an injected command runner.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <pwd.h>
#endif

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SocketTestSupport.h"
#include "TestFolders.h"
#include "ZRProcesses.h"
#include "ZRSocket.h"

using namespace ZRFramework::ZRProcesses;

namespace {

struct EnvironmentDeleter {
    void operator()(zrEnvironment* environment) const { DestroyEnvironment(environment); }
};
typedef std::unique_ptr<zrEnvironment, EnvironmentDeleter> Environment;

Environment Make(const std::vector<std::pair<std::string, std::string>>& variables) {
    Environment environment(CreateEnvironment(false));
    for (const auto& variable : variables)
        SetEnvironmentValue(environment.get(), variable.first, variable.second);
    return environment;
}

// ---- Environments ----

TEST(EnvironmentTest, ValuesAreSetReplacedAndRemovedByExactName) {
    Environment environment(CreateEnvironment(false));
    ASSERT_TRUE(environment);
    EXPECT_TRUE(environment->variables.empty());
    std::string value = "untouched";
    EXPECT_FALSE(GetEnvironmentValue(environment.get(), "PATH", value));
    EXPECT_EQ(value, "untouched");

    SetEnvironmentValue(environment.get(), "Path", "lower");
    SetEnvironmentValue(environment.get(), "PATH", "first");
    SetEnvironmentValue(environment.get(), "PATH", "second");
    ASSERT_TRUE(GetEnvironmentValue(environment.get(), "PATH", value));
    EXPECT_EQ(value, "second");
    ASSERT_TRUE(GetEnvironmentValue(environment.get(), "Path", value));
    EXPECT_EQ(value, "lower");

    UnsetEnvironmentValue(environment.get(), "PATH");
    EXPECT_FALSE(GetEnvironmentValue(environment.get(), "PATH", value));
    EXPECT_TRUE(GetEnvironmentValue(environment.get(), "Path", value));
    UnsetEnvironmentValue(environment.get(), "missing");
    EXPECT_EQ(environment->variables.size(), 1u);

    EXPECT_FALSE(GetEnvironmentValue(nullptr, "PATH", value));
    SetEnvironmentValue(nullptr, "A", "1");
    UnsetEnvironmentValue(nullptr, "A");
    DestroyEnvironment(nullptr);
}

TEST(EnvironmentTest, InheritedEnvironmentCopiesOurs) {
    ASSERT_TRUE(zdTest::SetEnv("ZR_ENV_TEST", "a=b=c"));
    Environment inherited(CreateEnvironment(true));
    zdTest::UnsetEnv("ZR_ENV_TEST");
    std::string value;
    ASSERT_TRUE(GetEnvironmentValue(inherited.get(), "ZR_ENV_TEST", value));
    EXPECT_EQ(value, "a=b=c");
    // A copy: later changes of either side do not reach the other.
    SetEnvironmentValue(inherited.get(), "ZR_ENV_ONLY_COPY", "1");
    EXPECT_EQ(getenv("ZR_ENV_ONLY_COPY"), nullptr);
    Environment fresh(CreateEnvironment(true));
    EXPECT_FALSE(GetEnvironmentValue(fresh.get(), "ZR_ENV_TEST", value));
}

struct ResolveCase {
    const char* text;
    const char* expected;
};

class ResolveTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveTest, ReplacesReferences) {
    Environment environment = Make({{"A", "1"},
                                    {"B", "2"},
                                    {"NEST", "<%B%>"},
                                    {"DEEP", "%NEST%%NEST%"},
                                    {"PCT", "5%"},
                                    {"HALF", "%B"},
                                    {"EMPTY", ""},
                                    {"with space", "s"}});
    EXPECT_EQ(ResolveEnvironmentString(environment.get(), GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResolveTest,
    ::testing::Values(ResolveCase{"", ""}, ResolveCase{"plain text", "plain text"},
                      ResolveCase{"%A%", "1"}, ResolveCase{"x%A%y%B%z", "x1y2z"},
                      ResolveCase{"%A%%B%", "12"}, ResolveCase{"%MISSING%", ""},
                      ResolveCase{"[%EMPTY%]", "[]"}, ResolveCase{"%a%", ""},
                      ResolveCase{"%with space%", "s"}, ResolveCase{"%NEST%", "<2>"},
                      ResolveCase{"%DEEP%", "<2><2>"},
                      // Empty and unterminated references are removed.
                      ResolveCase{"%%", ""}, ResolveCase{"a%%b", "ab"},
                      ResolveCase{"50% done", "50"}, ResolveCase{"%A", ""},
                      ResolveCase{"%A%%", "1"},
                      // A value's text is scanned together with what follows it.
                      ResolveCase{"%PCT%x%A%", "5A"}, ResolveCase{"%HALF%%", "2"}));

TEST(ResolveEnvironmentTest, SelfReferenceStopsAfterTheBound) {
    Environment environment = Make({{"SELF", "%SELF%"}, {"GROW", "x%GROW%"}});
    EXPECT_EQ(ResolveEnvironmentString(environment.get(), "a%SELF%b"), "a%SELF%b");
    EXPECT_EQ(ResolveEnvironmentString(environment.get(), "%GROW%!"),
              std::string(kMaxEnvironmentReferences, 'x') + "%GROW%!");
}

TEST(ResolveEnvironmentTest, ReferencesBeyondTheBoundAreLeftAsTheyStand) {
    Environment environment = Make({{"A", "1"}});
    std::string text;
    for (int i = 0; i < kMaxEnvironmentReferences + 3; ++i)
        text += "%A%";
    EXPECT_EQ(ResolveEnvironmentString(environment.get(), text),
              std::string(kMaxEnvironmentReferences, '1') + "%A%%A%%A%");
}

TEST(ResolveEnvironmentTest, NullEnvironmentResolvesToEmpty) {
    EXPECT_EQ(ResolveEnvironmentString(nullptr, "a%X%b"), "ab");
}

TEST(EnvironmentBlockTest, NameOrderNulSeparatedWithFinalNul) {
    Environment environment = Make({{"B", "2"}, {"A", "one"}, {"", "nameless"}, {"C", ""}});
    char* block = GetEnvironmentAnsiString(environment.get());
    ASSERT_NE(block, nullptr);
    const std::string expected("A=one\0B=2\0C=\0\0", 14);
    EXPECT_EQ(std::string(block, expected.size()), expected);
    FreeEnvironmentAnsiString(block);

    Environment empty(CreateEnvironment(false));
    block = GetEnvironmentAnsiString(empty.get());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], '\0');
    FreeEnvironmentAnsiString(block);
    EXPECT_EQ(GetEnvironmentAnsiString(nullptr), nullptr);
}

#ifndef _WIN32
// Windows accounts have no passwd entry to take the home and shell from.
TEST(EnvironmentPurgeTest, RemovesLoaderVariablesAndSetsTheUser) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
    const std::string home = nobody->pw_dir;
    const std::string shell = nobody->pw_shell;
    Environment environment = Make({{"IFS", " "},
                                    {"CDPATH", "/"},
                                    {"LOCALDOMAIN", "x"},
                                    {"RES_OPTIONS", "x"},
                                    {"HOSTALIASES", "x"},
                                    {"NLSPATH", "x"},
                                    {"PATH_LOCALE", "x"},
                                    {"LD_PRELOAD", "evil.so"},
                                    {"LD_LIBRARY_PATH", "/evil"},
                                    {"_RLD_ROOT", "x"},
                                    {"DYLD_INSERT_LIBRARIES", "x"},
                                    {"TERMINFO", "x"},
                                    {"TERMINFO_DIRS", "x"},
                                    {"TERMPATH", "x"},
                                    {"TERMCAP", "x"},
                                    {"ENV", "x"},
                                    {"BASH_ENV", "x"},
                                    {"HOME", "/root"},
                                    {"USER", "root"},
                                    {"PATH", "/usr/bin"},
                                    {"LDX", "kept"},
                                    {"MY_LD_", "kept"}});
    EXPECT_TRUE(ImpersonateUser_PurgeEnvironment(environment.get(), "nobody"));
    const std::map<std::string, std::string> expected = {
        {"HOME", home},       {"SHELL", shell}, {"LOGNAME", "nobody"}, {"USER", "nobody"},
        {"PATH", "/usr/bin"}, {"LDX", "kept"},  {"MY_LD_", "kept"}};
    EXPECT_EQ(environment->variables, expected);
}

#endif

TEST(EnvironmentPurgeTest, UnknownUserIsPurgedButNotNamed) {
    Environment environment = Make({{"LD_PRELOAD", "evil.so"}, {"HOME", "/root"}});
    EXPECT_FALSE(ImpersonateUser_PurgeEnvironment(environment.get(), "zr-no-such-user"));
    const std::map<std::string, std::string> expected = {{"HOME", "/root"}};
    EXPECT_EQ(environment->variables, expected);
    EXPECT_FALSE(ImpersonateUser_PurgeEnvironment(nullptr, "nobody"));
}

// ---- Wake-on-LAN ----

std::string ExpectedPacket(const std::string& address) {
    std::string packet(6, '\xFF');
    for (int i = 0; i < 16; ++i)
        packet += address;
    return packet;
}

TEST(WakeOnLanTest, AddressFormsGiveTheSamePacket) {
    const std::string expected = ExpectedPacket("\x01\x23\x45\x67\x89\xAB");
    for (const char* mac :
         {"01:23:45:67:89:ab", "01-23-45-67-89-AB", "0123456789aB", "01:23-45::67:89:ab"}) {
        SCOPED_TRACE(mac);
        std::string packet;
        ASSERT_TRUE(BuildWOLPacket(mac, packet));
        EXPECT_EQ(packet.size(), 102u);
        EXPECT_EQ(packet, expected);
    }
}

TEST(WakeOnLanTest, MalformedAddressesAreRefused) {
    for (const char* mac : {"", "0123456789a", "0123456789abc", "01:23:45:67:89", "0123456789ag",
                            "01 23 45 67 89 ab", "0x23456789ab"}) {
        SCOPED_TRACE(mac);
        std::string packet = "untouched";
        EXPECT_FALSE(BuildWOLPacket(mac, packet));
        EXPECT_EQ(packet, "untouched");
        EXPECT_FALSE(SendWOL(mac, 9));
    }
}

class UdpListener {
public:
    UdpListener() {
        fd_ = ZRFramework::ZRSocket::CreateSocket(1);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 &&
            bind(sockettest::Native(fd_), reinterpret_cast<sockaddr*>(&address), sizeof address) ==
                0 &&
            getsockname(sockettest::Native(fd_), reinterpret_cast<sockaddr*>(&address), &length) ==
                0)
            port_ = ntohs(address.sin_port);
    }
    ~UdpListener() {
        if (fd_ >= 0) sockettest::CloseDescriptor(fd_);
    }
    int port() const { return port_; }
    // One datagram, or empty after five seconds.
    std::string Receive() {
        if (!sockettest::WaitFor(fd_, POLLIN)) return "";
        char buffer[512];
        const long n = recv(sockettest::Native(fd_), buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(WakeOnLanTest, PacketIsSentOnceToTheAddressAndPort) {
    UdpListener listener;
    ASSERT_NE(listener.port(), 0);
    ASSERT_TRUE(SendWOLTo("a0-b1-c2-d3-e4-f5", "127.0.0.1", listener.port()));
    EXPECT_EQ(listener.Receive(), ExpectedPacket("\xA0\xB1\xC2\xD3\xE4\xF5"));
}

TEST(WakeOnLanTest, BadDestinationsAreRefused) {
    EXPECT_FALSE(SendWOLTo("0123456789ab", "not an address", 9));
    EXPECT_FALSE(SendWOLTo("0123456789ab", nullptr, 9));
    EXPECT_FALSE(SendWOLTo("0123456789ab", "127.0.0.1", 0));
    EXPECT_FALSE(SendWOLTo("0123456789ab", "127.0.0.1", 65536));
}

// ---- System events ----

std::vector<std::string>* recordedCommands = nullptr;

int RecordCommand(const char* command) {
    recordedCommands->push_back(command);
    return 0;
}

class SystemEventTest : public ::testing::Test {
protected:
    void SetUp() override {
        recordedCommands = &commands;
        SetSystemCommandRunner(&RecordCommand);
    }
    void TearDown() override {
        SetSystemCommandRunner(nullptr);
        recordedCommands = nullptr;
    }
    std::vector<std::string> commands;
};

TEST_F(SystemEventTest, EventsRunTheirShutdownCommands) {
    for (int event : {0, 1, 2, 3, 4, 5, -1, 100})
        EXPECT_TRUE(SendSystemEvent(event)) << event;
#ifdef _WIN32
    const std::vector<std::string> expected = {
        "shutdown /s /t 0", "rundll32.exe powrprof.dll,SetSuspendState 0,1,0",
        "rundll32.exe powrprof.dll,SetSuspendState 0,1,0", "shutdown /r /t 0", "shutdown /l"};
#else
    const std::vector<std::string> expected = {"shutdown -h now", "shutdown -s now",
                                               "shutdown -s now", "shutdown -r now",
                                               "shutdown -k now"};
#endif
    EXPECT_EQ(commands, expected);
}

TEST(SystemEventUnavailableTest, EventCodesAreNotSent) {
    EXPECT_NE(SendAppleEventToSystemProcess(0x72737472u), 0);
}

}  // namespace
