// Helpers shared by the socket stream and event queue tests: connected non-blocking socket
// pairs (local or loopback TCP), bounded waits, and frames built from text.
#ifndef ZD_TESTS_SOCKET_TEST_SUPPORT_H
#define ZD_TESTS_SOCKET_TEST_SUPPORT_H

#include <errno.h>
#include <gtest/gtest.h>
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

#include "ZRSocket.h"

namespace sockettest {

constexpr int kWaitMs = 5000;

#ifdef _WIN32
// The descriptors the framework hands out are Winsock handles.
inline SOCKET Native(int fd) {
    return static_cast<SOCKET>(static_cast<intptr_t>(fd));
}
inline int Poll(pollfd* p, unsigned long count, int ms) {
    return WSAPoll(p, count, ms);
}
inline bool WouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
constexpr int kNoSignal = 0;
typedef int socklen_t;
#else
inline int Native(int fd) {
    return fd;
}
inline int Poll(pollfd* p, nfds_t count, int ms) {
    return poll(p, count, ms);
}
inline bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

inline void SetSendBuffer(int fd, int bytes) {
    setsockopt(Native(fd), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
               sizeof bytes);
}

inline void CloseDescriptor(int fd) {
    ZRFramework::ZRSocket::CloseSocket(fd);
}

enum class Transport { kSocketPair, kLoopbackTcp };

inline std::string TransportName(const testing::TestParamInfo<Transport>& info) {
    return info.param == Transport::kSocketPair ? "SocketPair" : "LoopbackTcp";
}

// Both ends connected and non-blocking; closed on destruction unless released.
struct Connection {
    int local = -1;
    int peer = -1;

    explicit Connection(Transport transport) {
        using namespace ZRFramework::ZRSocket;
        int fds[2] = {-1, -1};
        if (transport == Transport::kSocketPair) {
#ifdef _WIN32
            // Winsock has no local pairs; the framework's loopback pair stands in.
            EXPECT_EQ(CreateLoopbackPipes(fds), 0);
#else
            EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
#endif
        } else {
            const int listener = CreateSocket(0);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t atLength = sizeof at;
            EXPECT_EQ(bind(Native(listener), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
            EXPECT_FALSE(ListenSocket(listener));
            EXPECT_EQ(getsockname(Native(listener), reinterpret_cast<sockaddr*>(&at), &atLength),
                      0);
            fds[1] = CreateSocket(0);
            EXPECT_TRUE(ConnectSocket(fds[1], "127.0.0.1", ntohs(at.sin_port)));
            fds[0] = AcceptSocket(listener, nullptr, nullptr);
            EXPECT_GE(fds[0], 0);
            CloseDescriptor(listener);
            SetNagleStatus(fds[0], false);
            SetNagleStatus(fds[1], false);
        }
        local = fds[0];
        peer = fds[1];
        ZRFramework::ZRSocket::SetBlockStatus(local, false);
        ZRFramework::ZRSocket::SetBlockStatus(peer, false);
    }
    ~Connection() {
        if (local != -1) CloseDescriptor(local);
        if (peer != -1) CloseDescriptor(peer);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void ClosePeer() {
        CloseDescriptor(peer);
        peer = -1;
    }
};

inline bool WaitFor(int fd, short events, int ms = kWaitMs) {
    pollfd p{Native(fd), events, 0};
    return Poll(&p, 1, ms) == 1;
}

// Writes every byte, waiting (bounded) whenever the socket is full.
inline bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const long n =
            send(Native(fd), bytes.data() + sent,
                 static_cast<int>(std::min<size_t>(bytes.size() - sent, 1 << 30)), kNoSignal);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && WouldBlock()) {
            if (!WaitFor(fd, POLLOUT)) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Everything the peer sends until it closes or `size` bytes have come.
inline std::string ReceiveUpTo(int fd, size_t size) {
    std::string got;
    char chunk[4096];
    while (got.size() < size && WaitFor(fd, POLLIN)) {
        const long n = recv(Native(fd), chunk, sizeof chunk, 0);
        if (n <= 0) break;
        got.append(chunk, static_cast<size_t>(n));
    }
    return got;
}

// True when the peer sees the end of the connection within the bounded wait.
inline bool SeesEndOfStream(int fd) {
    char byte;
    return WaitFor(fd, POLLIN) && recv(Native(fd), &byte, 1, 0) == 0;
}

inline std::string Frame(const char* code, const std::string& text) {
    char* raw = nullptr;
    unsigned long length = 0;
    unsigned long size = 0;
    ZRFramework::ZRSocket::encodeMessage(code, text.c_str(), &raw, &length, &size);
    std::string frame(raw, size);
    ZRFramework::ZRSocket::destroyEncodedMessage(raw);
    return frame;
}

inline std::string PlainFrame(const char* code, const std::string& text) {
    char* raw = nullptr;
    unsigned long length = 0;
    unsigned long size = 0;
    ZRFramework::ZRSocket::EncodePlainMessage(code, text.c_str(), &raw, &length, &size);
    std::string frame(raw, size);
    ZRFramework::ZRSocket::destroyEncodedMessage(raw);
    return frame;
}

inline std::string JobRecords(size_t size, int seed = 0) {
    std::string s;
    for (int i = seed; s.size() < size; ++i) {
        s += "job" + std::to_string(1000 + i) + "\tshot_" + std::to_string(i % 37) +
             "\tRendering\t" + std::to_string(i * 7 % 100) + "%\tnode-" + std::to_string(i % 12) +
             "\n";
    }
    s.resize(size);
    return s;
}

inline std::string Incompressible(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, 'x');
    for (auto& c : s)
        c = static_cast<char>(1 + gen() % 255);
    return s;
}

// The message as (code, text), or "<null>"; releases it.
inline std::string Take(char* message) {
    if (message == nullptr) return "<null>";
    std::string s(1, message[0]);
    s += message + 1;
    ZRFramework::ZRSocket::destroyEncodedMessage(message);
    return s;
}

}  // namespace sockettest

#endif
