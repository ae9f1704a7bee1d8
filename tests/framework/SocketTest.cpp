// Tests of zrSocketStream over real connected sockets (a local socket pair and loopback TCP):
// frames split and batched across reads, buffer growth and limits, shared counters, the ends of
// a connection, undecodable frames; and the free socket functions.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <netinet/tcp.h>
#endif

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SocketTestSupport.h"
#include "TestFolders.h"
#include "ZRLogger.h"
#include "ZRRuntime.h"
#include "ZRSocket.h"
#include "ZRThreads.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRSocket;
using namespace sockettest;

namespace {

struct ProcessesMutex {
    ZRProcesses::zrMutex handle = ZRProcesses::CreateMutex();
    ProcessesMutex() = default;
    ProcessesMutex(const ProcessesMutex&) = delete;
    ProcessesMutex& operator=(const ProcessesMutex&) = delete;
    ~ProcessesMutex() { ZRProcesses::DestroyMutex(handle); }
};

class StreamTest : public testing::TestWithParam<Transport> {
protected:
    StreamTest() : connection(GetParam()) { stream.socketFd = connection.local; }

    // Waits until the socket is readable, then reads once.
    int ReadOnce() {
        if (!WaitFor(connection.local, POLLIN)) return -2;
        return stream.Read();
    }

    // Reads until `bytes` more bytes are held, or the stream ends.
    bool ReadBytes(size_t bytes) {
        const size_t target = stream.inLength + bytes;
        while (stream.inLength < target) {
            if (ReadOnce() == 0) return false;
        }
        return stream.inLength == target;
    }

    Connection connection;
    zrSocketStream stream;
};

INSTANTIATE_TEST_SUITE_P(Transports, StreamTest,
                         testing::Values(Transport::kSocketPair, Transport::kLoopbackTcp),
                         TransportName);

TEST_P(StreamTest, FrameSplitAcrossReadsIsTakenWhenItsLastByteArrives) {
    const std::string frame = Frame("Q", JobRecords(3000));
    ASSERT_EQ(frame[0], 2);
    // Byte by byte through the header, then in two halves.
    for (size_t i = 0; i < 6; ++i) {
        ASSERT_TRUE(SendAll(connection.peer, frame.substr(i, 1)));
        ASSERT_TRUE(ReadBytes(1));
        EXPECT_EQ(stream.GetFirstByte(), i < 5 ? 0 : 'Q');
        EXPECT_EQ(stream.GetNextMessage(), nullptr);
    }
    const size_t half = (frame.size() + 6) / 2;
    ASSERT_TRUE(SendAll(connection.peer, frame.substr(6, half - 6)));
    ASSERT_TRUE(ReadBytes(half - 6));
    EXPECT_EQ(stream.GetNextMessage(), nullptr);
    ASSERT_TRUE(SendAll(connection.peer, frame.substr(half, frame.size() - half - 1)));
    ASSERT_TRUE(ReadBytes(frame.size() - half - 1));
    EXPECT_EQ(stream.GetNextMessage(), nullptr);
    ASSERT_TRUE(SendAll(connection.peer, frame.substr(frame.size() - 1)));
    ASSERT_TRUE(ReadBytes(1));
    EXPECT_EQ(Take(stream.GetNextMessage()), "Q" + JobRecords(3000));
    EXPECT_EQ(stream.inLength, 0u);
    EXPECT_EQ(stream.GetFirstByte(), 0);
}

TEST_P(StreamTest, SeveralFramesInOneReadComeOutOneByOne) {
    const std::string texts[] = {"", "abc", JobRecords(900), Incompressible(300, 3)};
    std::string all;
    for (const auto& t : texts)
        all += Frame("M", t);
    all += Frame("N", "partial").substr(0, 7);
    ASSERT_LT(all.size(), 4096u);
    ASSERT_TRUE(SendAll(connection.peer, all));
    ASSERT_TRUE(ReadBytes(all.size()));
    for (const auto& t : texts)
        EXPECT_EQ(Take(stream.GetNextMessage()), "M" + t);
    EXPECT_EQ(stream.GetNextMessage(), nullptr);
    EXPECT_EQ(stream.GetFirstByte(), 'N');
    EXPECT_EQ(stream.inLength, 7u);
    EXPECT_EQ(stream.inBuffer[7], '\0');
}

TEST_P(StreamTest, FirstReadGrowsTheInitialBuffer) {
    EXPECT_EQ(stream.inCapacity, 2049u);
    EXPECT_EQ(stream.outCapacity, 2049u);
    ASSERT_TRUE(SendAll(connection.peer, "x"));
    ASSERT_EQ(ReadOnce(), 1);
    EXPECT_EQ(stream.inCapacity, 6146u);
    EXPECT_EQ(stream.Read(), -1);  // nothing more: would block
}

// Once a frame's length is in, the buffer grows in one step to hold all of it and a receive.
TEST_P(StreamTest, AnnouncedFrameGetsItsRoomAtOnce) {
    const std::string text = Incompressible(100000, 4);
    const std::string frame = PlainFrame("F", text);
    std::thread sender([&] { SendAll(connection.peer, frame); });
    ASSERT_GT(ReadOnce(), 0);
    EXPECT_EQ(stream.inCapacity, 6146u);  // nothing was held when it grew
    while (stream.inCapacity == 6146u)
        ASSERT_GT(ReadOnce(), 0);
    EXPECT_EQ(stream.inCapacity, frame.size() + 4097);
    while (stream.inLength < frame.size())
        ASSERT_GT(ReadOnce(), 0);
    sender.join();
    EXPECT_EQ(stream.inCapacity, frame.size() + 4097);
    EXPECT_EQ(Take(stream.GetNextMessage()), "F" + text);
}

TEST_P(StreamTest, ReceivesAtMost4096BytesPerRead) {
    ASSERT_TRUE(SendAll(connection.peer, std::string(10000, 'r')));
    ASSERT_TRUE(WaitFor(connection.local, POLLIN));
    int total = 0;
    for (int n; (n = ReadOnce()) > 0 && (total += n) < 10000;)
        EXPECT_LE(n, 4096);
    EXPECT_EQ(total, 10000);
    EXPECT_EQ(stream.inLength, 10000u);
}

struct IncomingLimitCase {
    const char* name;
    bool check;
    unsigned long limit;
    bool ends;
};

TEST_P(StreamTest, IncomingLimitEndsTheConnectionOnlyWhenChecked) {
    const IncomingLimitCase cases[] = {
        {"default limit", true, 128000, true},
        {"lowered limit", true, 20000, true},
        {"check off", false, 128000, false},
    };
    const std::string text = Incompressible(200000, 11);
    const std::string frame = PlainFrame("B", text);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connection conn(GetParam());
        zrSocketStream s;
        s.socketFd = conn.local;
        s.SetBufferCheck(c.check);
        s.SetMaxIncomingBufferSize(c.limit);
        std::thread sender([&] { SendAll(conn.peer, frame); });
        int n = 0;
        while (s.inLength < frame.size() && WaitFor(conn.local, POLLIN) && (n = s.Read()) != 0) {
        }
        if (c.ends) {
            EXPECT_EQ(n, 0);
            EXPECT_TRUE(s.broken);
            EXPECT_TRUE(s.shutdownLocally);
            // Doubling stops at the limit, and the connection ends only when one more
            // receive and its NUL no longer fit under it.
            EXPECT_EQ(s.inCapacity, c.limit);
            EXPECT_GE(s.inLength, c.limit - 4096);
            EXPECT_LT(s.inLength, c.limit);
            EXPECT_EQ(s.Read(), 0);
            EXPECT_EQ(s.GetNextMessage(), nullptr);
        } else {
            EXPECT_FALSE(s.broken);
            EXPECT_GT(s.inCapacity, 200000u);
            EXPECT_EQ(Take(s.GetNextMessage()), "B" + text);
        }
        // Closing makes the sender's remaining writes fail at once.
        CloseDescriptor(conn.local);
        conn.local = -1;
        sender.join();
    }
}

TEST_P(StreamTest, OutgoingLimitDropsTheMessageAndEndsTheConnection) {
    const std::string text = Incompressible(3000, 5);
    stream.SetMaxOutgoingBufferSize(1000);
    EXPECT_FALSE(stream.AddMessage("O", text.c_str()));
    EXPECT_TRUE(stream.broken);
    EXPECT_TRUE(stream.shutdownLocally);
    EXPECT_FALSE(stream.HasToWrite());
    EXPECT_EQ(stream.Write(), 0);
    EXPECT_EQ(stream.Read(), 0);
    EXPECT_FALSE(stream.AddMessage("O", "small"));
    EXPECT_TRUE(SeesEndOfStream(connection.peer));
}

TEST_P(StreamTest, OutgoingBufferGrowsGeometricallyUpToTheLimit) {
    const std::string text = Incompressible(3000, 5);
    const std::string frame = Frame("O", text);
    stream.SetMaxOutgoingBufferSize(1000);
    stream.SetBufferCheck(false);
    ASSERT_TRUE(stream.AddMessage("O", text.c_str()));
    EXPECT_EQ(stream.outCapacity, 2u * 2049);
    EXPECT_EQ(stream.outLength, frame.size());
    ASSERT_TRUE(stream.AddMessage("P", "abc"));  // fits: no copy
    EXPECT_EQ(stream.outCapacity, 2u * 2049);
    while (stream.HasToWrite()) {
        ASSERT_TRUE(WaitFor(connection.local, POLLOUT));
        stream.Write();
    }
    EXPECT_EQ(ReceiveUpTo(connection.peer, frame.size() + 9), frame + Frame("P", "abc"));

    // With the check on, growth stops at the limit, which a queue may fill exactly.
    Connection other(GetParam());
    zrSocketStream limited;
    limited.socketFd = other.local;
    limited.SetMaxOutgoingBufferSize(3 * frame.size());
    const uint32_t capacities[] = {2 * 2049, 4 * 2049, static_cast<uint32_t>(3 * frame.size())};
    for (uint32_t capacity : capacities) {
        ASSERT_TRUE(limited.AddMessage("O", text.c_str()));
        EXPECT_EQ(limited.outCapacity, capacity);
    }
    EXPECT_EQ(limited.outLength, 3 * frame.size());
    EXPECT_FALSE(limited.AddMessage("P", "abc"));
    EXPECT_TRUE(limited.broken);
}

TEST_P(StreamTest, WriteKeepsWhatTheSocketDoesNotTake) {
    EXPECT_EQ(stream.Write(), -1);  // nothing queued
    const int small = 4096;
    SetSendBuffer(connection.local, small);
    const std::string text = Incompressible(1 << 20, 8);
    const uint32_t size = (1 << 20) + 6;
    stream.SetMaxOutgoingBufferSize(2 << 20);
    ASSERT_TRUE(stream.AddMessage("W", text.c_str()));
    const int first = stream.Write();
    ASSERT_GT(first, 0);
    ASSERT_LT(static_cast<uint32_t>(first), size);
    EXPECT_EQ(stream.outLength, size - first);
    int n;
    while ((n = stream.Write()) > 0) {
    }
    EXPECT_EQ(n, -1);  // the peer reads nothing: would block
    EXPECT_TRUE(stream.HasToWrite());

    std::thread receiver([&] {
        zrSocketStream peer;
        peer.socketFd = connection.peer;
        peer.SetMaxIncomingBufferSize(2 << 20);
        while (peer.inLength < size && WaitFor(connection.peer, POLLIN) && peer.Read() != 0) {
        }
        EXPECT_EQ(Take(peer.GetNextMessage()), "W" + text);
    });
    while (stream.HasToWrite() && WaitFor(connection.local, POLLOUT))
        stream.Write();
    receiver.join();
    EXPECT_EQ(stream.outLength, 0u);
}

// Many small frames behind a large one, all held before any is taken, then more after them:
// each comes out whole and in order, and the buffer stays NUL-terminated and truthful.
TEST_P(StreamTest, LongBacklogIsTakenFrameByFrame) {
    const std::string large = Incompressible(300000, 21);
    std::string all = PlainFrame("L", large);
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i) {
        texts.push_back("m" + std::to_string(i));
        all += Frame("s", texts.back());
    }
    stream.SetMaxIncomingBufferSize(all.size() + 8192);
    std::thread sender([&] { SendAll(connection.peer, all); });
    ASSERT_TRUE(ReadBytes(all.size()));
    sender.join();

    EXPECT_EQ(Take(stream.GetNextMessage()), "L" + large);
    for (const std::string& t : texts) {
        ASSERT_EQ(Take(stream.GetNextMessage()), "s" + t);
        ASSERT_LT(stream.inLength, stream.inCapacity);
        ASSERT_EQ(stream.inBuffer[stream.inLength], '\0');
    }
    EXPECT_EQ(stream.GetNextMessage(), nullptr);
    EXPECT_EQ(stream.inLength, 0u);

    const std::string partial = Frame("t", "tail").substr(0, 8);
    ASSERT_TRUE(SendAll(connection.peer, Frame("n", "next") + partial));
    ASSERT_TRUE(ReadBytes(Frame("n", "next").size() + partial.size()));
    EXPECT_EQ(Take(stream.GetNextMessage()), "nnext");
    EXPECT_EQ(stream.GetFirstByte(), 't');
    EXPECT_EQ(stream.inLength, partial.size());
    EXPECT_EQ(std::string(stream.inBuffer, stream.inLength), partial);
}

// Taken messages give their room back: a stream that keeps up never reaches its limit, however
// much passes through it.
TEST_P(StreamTest, TakenMessagesFreeRoomUnderTheLimit) {
    stream.SetMaxIncomingBufferSize(20000);
    std::string all;
    for (int i = 0; i < 400; ++i)
        all += PlainFrame("r", Incompressible(900 + i % 7 * 300, i));
    std::thread sender([&] { SendAll(connection.peer, all); });
    size_t taken = 0;
    int n = 0;
    while (taken < all.size() && WaitFor(connection.local, POLLIN) && (n = stream.Read()) != 0) {
        for (char* m; (m = stream.GetNextMessage()) != nullptr;) {
            taken += std::strlen(m + 1) + 6;
            destroyEncodedMessage(m);
        }
        ASSERT_LE(stream.inCapacity, 20000u);
    }
    sender.join();
    EXPECT_FALSE(stream.broken);
    EXPECT_EQ(taken, all.size());
}

TEST_P(StreamTest, ClearBuffersEmptiesBothSides) {
    ASSERT_TRUE(SendAll(connection.peer, Frame("a", "one") + Frame("b", "two")));
    ASSERT_TRUE(ReadBytes(Frame("a", "one").size() * 2));
    EXPECT_EQ(Take(stream.GetNextMessage()), "aone");
    ASSERT_TRUE(stream.AddMessage("c", "three"));
    stream.ClearBuffers();
    EXPECT_EQ(stream.inLength, 0u);
    EXPECT_FALSE(stream.HasToWrite());
    EXPECT_EQ(stream.GetNextMessage(), nullptr);
    EXPECT_EQ(stream.GetFirstByte(), 0);
    EXPECT_EQ(stream.inCapacity, 6146u);  // all of the buffer again
    ASSERT_TRUE(SendAll(connection.peer, Frame("d", "four")));
    ASSERT_TRUE(ReadBytes(Frame("d", "four").size()));
    EXPECT_EQ(Take(stream.GetNextMessage()), "dfour");
}

TEST_P(StreamTest, PeerCloseKeepsCompleteMessages) {
    const std::string partial = Frame("Z", "never finished").substr(0, 9);
    ASSERT_TRUE(SendAll(connection.peer, Frame("A", "first") + Frame("B", "") + partial));
    connection.ClosePeer();
    int n;
    while ((n = ReadOnce()) > 0) {
    }
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(stream.shutdownLocally);
#ifdef _WIN32
    // A peer close breaks a Windows stream, which then gives nothing more.
    EXPECT_TRUE(stream.broken);
    EXPECT_EQ(stream.GetNextMessage(), nullptr);
    return;
#endif
    EXPECT_FALSE(stream.broken);
    EXPECT_EQ(Take(stream.GetNextMessage()), "Afirst");
    EXPECT_EQ(Take(stream.GetNextMessage()), std::string("B"));
    EXPECT_EQ(stream.GetNextMessage(), nullptr);
    EXPECT_EQ(stream.GetFirstByte(), 'Z');
    EXPECT_EQ(stream.Read(), 0);
}

TEST_P(StreamTest, LocalShutdownIsMarkedAndSeenByThePeer) {
    stream.Shutdown();
    EXPECT_TRUE(stream.shutdownLocally);
    EXPECT_FALSE(stream.broken);
    EXPECT_TRUE(SeesEndOfStream(connection.peer));
    EXPECT_EQ(stream.Close(), 0);
    connection.local = -1;
#ifdef _WIN32
    EXPECT_EQ(stream.Close(), SOCKET_ERROR);  // already closed
#else
    EXPECT_EQ(stream.Close(), 9);  // already closed: EBADF
#endif
    stream.Shutdown();  // on a closed descriptor: only marks
    EXPECT_TRUE(stream.shutdownLocally);
}

TEST_P(StreamTest, SendFailureBreaksTheStream) {
    connection.ClosePeer();
    ASSERT_TRUE(stream.AddMessage("S", "to nobody"));
    int n;
    // The first send may still be accepted by the kernel; a later one fails.
    while ((n = stream.Write()) > 0)
        ASSERT_TRUE(stream.AddMessage("S", "to nobody"));
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(stream.broken);
    EXPECT_FALSE(stream.shutdownLocally);
    EXPECT_FALSE(stream.HasToWrite());
}

TEST_P(StreamTest, UndecodableFramesAreDroppedAndTheNextOneFollows) {
    auto header = [](unsigned char e, uint32_t length) {
        std::string h(1, static_cast<char>(e));
        for (int i = 0; i < 4; ++i)
            h += static_cast<char>(length >> (8 * i));
        return h;
    };
    const std::string many(200000, 'a');
    std::string packedMany = Frame("L", many);
    ASSERT_EQ(packedMany[0], 2);
    std::string corrupt = Frame("C", JobRecords(500));
    corrupt[corrupt.size() / 2] ^= 0x5a;
    std::string overstated = packedMany;
    overstated[9] = '\x7f';  // states 2 GiB

    const std::string bad[] = {
        header(1, 0),                              // no code byte
        header(0, 0),                              // no code byte
        header(2, 3) + "Cab",                      // no stated length
        header(2, 4) + std::string("C\0\0\0", 4),  // no stated length
        corrupt,                                   // does not inflate
        packedMany,                                // inflates past the default limit
        overstated,                                // beyond any inflation
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(testing::PrintToString(b.substr(0, 6)));
        const std::string both = b + Frame("G", "good");
        ASSERT_TRUE(SendAll(connection.peer, both));
        ASSERT_TRUE(ReadBytes(both.size()));
        EXPECT_EQ(stream.GetNextMessage(), nullptr);
        EXPECT_EQ(Take(stream.GetNextMessage()), "Ggood");
        EXPECT_EQ(stream.inLength, 0u);
        EXPECT_FALSE(stream.broken);
    }

    // Without the check, the stated length only has to be believable.
    stream.SetBufferCheck(false);
    for (const auto& b : {packedMany, overstated}) {
        ASSERT_TRUE(SendAll(connection.peer, b));
        ASSERT_TRUE(ReadBytes(b.size()));
    }
    EXPECT_EQ(Take(stream.GetNextMessage()), "L" + many);
    EXPECT_EQ(stream.GetNextMessage(), nullptr);
    EXPECT_EQ(stream.inLength, 0u);
}

// One counter pair shared by two streams, each driven by its own thread.
TEST_P(StreamTest, CountersAreSharedUnderTheCounterMutex) {
    long long sent = 0;
    long long received = 0;
    ProcessesMutex lock;
    constexpr int kMessages = 300;
    size_t bytesPerSide = 0;
    for (int i = 0; i < kMessages; ++i)
        bytesPerSide += Frame("c", JobRecords(static_cast<size_t>(i * 13), i)).size();

    auto side = [&](Connection* conn) {
        zrSocketStream out;
        zrSocketStream in;
        out.socketFd = conn->local;
        in.socketFd = conn->peer;
        out.RegisterCounters(&sent, nullptr, &lock.handle);
        in.RegisterCounters(nullptr, &received, &lock.handle);
        out.SetBufferCheck(false);
        int taken = 0;
        for (int i = 0; i < kMessages; ++i)
            out.AddMessage("c", JobRecords(static_cast<size_t>(i * 13), i).c_str());
        while (taken < kMessages) {
            if (out.HasToWrite()) out.Write();
            if (!WaitFor(conn->peer, POLLIN)) break;
            if (in.Read() == 0) break;
            for (char* m; (m = in.GetNextMessage()) != nullptr; ++taken)
                destroyEncodedMessage(m);
        }
        EXPECT_EQ(taken, kMessages);
    };
    Connection second(GetParam());
    std::thread other(side, &second);
    side(&connection);
    other.join();
    EXPECT_EQ(sent, static_cast<long long>(2 * bytesPerSide));
    EXPECT_EQ(received, static_cast<long long>(2 * bytesPerSide));
}

// ---- Free socket functions ----

int IntOption(int fd, int level, int name) {
    int value = 0;  // Winsock may fill only the first byte of a BOOL option
    socklen_t size = sizeof value;
    getsockopt(Native(fd), level, name, reinterpret_cast<char*>(&value), &size);
    return value;
}

int SocketType(int fd) {
    return IntOption(fd, SOL_SOCKET, SO_TYPE);
}

#ifndef _WIN32
bool NonBlocking(int fd) {
    return (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0;
}
#else
// Winsock cannot report the mode; a connected socket with nothing to read shows it.
bool NonBlocking(int connectedFd) {
    char c;
    return recv(Native(connectedFd), &c, 1, MSG_PEEK) == SOCKET_ERROR && WouldBlock();
}
#endif

TEST(SocketFunctionsTest, CreateSocketKinds) {
    const std::pair<int, int> cases[] = {
        {0, SOCK_STREAM}, {1, SOCK_DGRAM}, {2, SOCK_DGRAM}, {3, SOCK_STREAM}, {-1, SOCK_STREAM}};
    for (const auto& [kind, type] : cases) {
        const int fd = CreateSocket(kind);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(SocketType(fd), type) << kind;
        EXPECT_EQ(CloseSocket(fd), 0);
    }
}

TEST(SocketFunctionsTest, CloseSocketReportsAClosedDescriptor) {
    const int fd = CreateSocket(0);
    EXPECT_EQ(CloseSocket(fd), 0);
#ifdef _WIN32
    EXPECT_EQ(CloseSocket(fd), SOCKET_ERROR);
    EXPECT_EQ(CloseSocket(-1), SOCKET_ERROR);
#else
    EXPECT_EQ(CloseSocket(fd), 9);
    EXPECT_EQ(CloseSocket(-1), 9);
#endif
}

TEST(SocketFunctionsTest, ListenSocketReportsFailure) {
    const int tcp = CreateSocket(0);
    const int udp = CreateSocket(1);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Winsock listens only on a bound socket.
    ASSERT_EQ(bind(Native(tcp), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    EXPECT_FALSE(ListenSocket(tcp));  // success
    EXPECT_TRUE(ListenSocket(udp));   // datagram sockets cannot listen
    EXPECT_TRUE(ListenSocket(-1));
    CloseSocket(tcp);
    CloseSocket(udp);
}

TEST(SocketFunctionsTest, BlockStatusAndNagle) {
#ifndef _WIN32
    const int fd = CreateSocket(0);
#else
    Connection connected(Transport::kLoopbackTcp);
    const int fd = connected.local;
#endif
    EXPECT_TRUE(SetBlockStatus(fd, false));
    EXPECT_TRUE(NonBlocking(fd));
    EXPECT_TRUE(SetBlockStatus(fd, true));
#ifndef _WIN32
    EXPECT_FALSE(NonBlocking(fd));
#endif
    for (bool enabled : {false, true}) {
        EXPECT_TRUE(SetNagleStatus(fd, enabled));
        EXPECT_EQ(IntOption(fd, IPPROTO_TCP, TCP_NODELAY) != 0, !enabled);
    }
    EXPECT_FALSE(SockAtMark(fd));
    CloseSocket(fd);
#ifndef _WIN32
    EXPECT_FALSE(SetBlockStatus(fd, false));
#else
    connected.local = -1;
    EXPECT_TRUE(SetBlockStatus(fd, false));  // Winsock's result is not looked at
#endif
    EXPECT_FALSE(SetNagleStatus(fd, false));
}

TEST(SocketFunctionsTest, LoopbackPipesAreNonBlockingAndConnected) {
    int fds[2] = {-1, -1};
    ASSERT_EQ(CreateLoopbackPipes(fds), 0);
    EXPECT_TRUE(NonBlocking(fds[0]));
    EXPECT_TRUE(NonBlocking(fds[1]));
    char c;
#ifdef _WIN32
    // A connected TCP pair on 127.0.0.1.
    EXPECT_EQ(recv(Native(fds[0]), &c, 1, 0), -1);
    EXPECT_TRUE(WouldBlock());
    ASSERT_TRUE(SendAll(fds[1], "w"));
    ASSERT_TRUE(WaitFor(fds[0], POLLIN));
    EXPECT_EQ(recv(Native(fds[0]), &c, 1, 0), 1);
#else
    EXPECT_EQ(read(fds[0], &c, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    ASSERT_EQ(write(fds[1], "w", 1), 1);
    EXPECT_EQ(read(fds[0], &c, 1), 1);
#endif
    EXPECT_EQ(c, 'w');
    EXPECT_EQ(CloseSocket(fds[0]), 0);
    EXPECT_EQ(CloseSocket(fds[1]), 0);
}

TEST(SocketFunctionsTest, ConnectFailsWithoutAListener) {
    Connection tcp(Transport::kLoopbackTcp);  // connects with ConnectSocket
    sockaddr_in at{};
    socklen_t size = sizeof at;
    getsockname(Native(tcp.peer), reinterpret_cast<sockaddr*>(&at), &size);
    // The port that the client end uses has no listener.
    const int fd = CreateSocket(0);
    EXPECT_FALSE(ConnectSocket(fd, "127.0.0.1", ntohs(at.sin_port)));
    CloseSocket(fd);
}

TEST(SocketFunctionsTest, BindBroadcastSocket) {
    EXPECT_FALSE(BindBroadcastSocket(-1, 0));
    const int udp = CreateSocket(1);
    EXPECT_TRUE(BindBroadcastSocket(udp, 0));
    EXPECT_EQ(IntOption(udp, SOL_SOCKET, SO_BROADCAST), 1);
    CloseSocket(udp);
    EXPECT_FALSE(BindBroadcastSocket(udp, 0));
}

TEST(SocketFunctionsTest, FailedBroadcastIsLoggedToTheDefaultLogger) {
    const std::string folder = zdTest::MakeTempFolder("zd_socket_");
    ASSERT_FALSE(folder.empty());
    zrLogger logger;
    ZRLogger::SetLoggerBasePath(&logger, folder);
    ZRLogger::SetLoggerFile(&logger, "socket.log");
    ZRLogger::CreateLogger(&logger, 1, kLogToFile);
    SetDefaultLogger(&logger);
    char data[] = "ping";
    EXPECT_FALSE(SendbroadcastSocket(-1, 9, data, 4));
    RemoveDefaultLogger();
    ZRLogger::DestroyLogger(&logger);

    const std::string path = folder + "/socket.log";
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    EXPECT_NE(
        content.str().find(" - [ZRFramework] Unable to send broadcast packet. Socket error!\n"),
        std::string::npos)
        << content.str();
    zdTest::RemoveFolder(folder);
}

}  // namespace
