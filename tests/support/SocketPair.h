// A connected pair of stream sockets for tests: socketpair on POSIX, a TCP pair over 127.0.0.1
// on Windows, where Winsock has no socketpair.
#ifndef ZD_TESTS_SUPPORT_SOCKETPAIR_H
#define ZD_TESTS_SUPPORT_SOCKETPAIR_H

#include <stdint.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace zdTest {

// The two ends as intptr_t (a SOCKET on Windows); the second is non-blocking, with a send buffer
// of `sendBuffer` bytes when not 0. False when no pair could be made.
inline bool MakeSocketPair(intptr_t ends[2], int sendBuffer) {
    ends[0] = ends[1] = -1;
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    SOCKET first = INVALID_SOCKET;
    SOCKET second = INVALID_SOCKET;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        first = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (first != INVALID_SOCKET &&
            connect(first, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            second = accept(listener, nullptr, nullptr);
    }
    closesocket(listener);
    if (second == INVALID_SOCKET) {
        if (first != INVALID_SOCKET) closesocket(first);
        return false;
    }
    BOOL noDelay = TRUE;
    setsockopt(first, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    setsockopt(second, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    u_long nonBlocking = 1;
    ioctlsocket(second, FIONBIO, &nonBlocking);
    if (sendBuffer > 0)
        setsockopt(second, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
                   sizeof sendBuffer);
    ends[0] = static_cast<intptr_t>(first);
    ends[1] = static_cast<intptr_t>(second);
#else
    int pair[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return false;
    fcntl(pair[1], F_SETFL, fcntl(pair[1], F_GETFL) | O_NONBLOCK);
    if (sendBuffer > 0) setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    ends[0] = pair[0];
    ends[1] = pair[1];
#endif
    return true;
}

}  // namespace zdTest

#endif
