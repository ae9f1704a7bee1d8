// Winsock calls of the socket functions and the stream. Winsock is started by the first call
// that makes a socket and cleaned up when the library is unloaded.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstdint>

#include "../Socket.h"
#include "ZRSocket.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

struct Winsock {
    bool started;
    Winsock() {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~Winsock() {
        if (started) WSACleanup();
    }
};

bool StartWinsock() {
    static Winsock winsock;
    return winsock.started;
}

SOCKET Handle(int fd) {
    return static_cast<SOCKET>(static_cast<intptr_t>(fd));
}

int Descriptor(SOCKET s) {
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

int Chunk(size_t size) {
    return size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

long SendSome(int fd, const char* data, size_t size) {
    return send(Handle(fd), data, Chunk(size), 0);
}

long ReceiveSome(int fd, char* data, size_t size) {
    return recv(Handle(fd), data, Chunk(size), 0);
}

bool LastCallWouldBlock() {
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

int LastSocketError() {
    return WSAGetLastError();
}

void ShutdownBoth(int fd) {
    shutdown(Handle(fd), SD_BOTH);
}

bool RouteSocketEvents(int fd, void* window, int events) {
    long wanted = 0;
    if (events & kRouteRead) wanted |= FD_READ;
    if (events & kRouteWrite) wanted |= FD_WRITE;
    if (events & kRouteClose) wanted |= FD_CLOSE;
    return WSAAsyncSelect(Handle(fd), static_cast<HWND>(window), wanted != 0 ? WM_USER : 0,
                          wanted) == 0;
}

bool DescriptorMayBeOpen(int) {
    return true;
}

bool ReceiveFailureBreaks() {
    return true;
}

bool SetSocketFlag(int fd, SocketFlag flag, bool on) {
    const int value = on ? 1 : 0;
    const int level = flag == SocketFlag::kNoDelay ? IPPROTO_TCP : SOL_SOCKET;
    const int name = flag == SocketFlag::kNoDelay        ? TCP_NODELAY
                     : flag == SocketFlag::kReuseAddress ? SO_REUSEADDR
                                                         : SO_BROADCAST;
    return setsockopt(Handle(fd), level, name, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

bool BindToAnyAddress(int fd, int port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(Handle(fd), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

bool SendToBroadcast(int fd, int port, const char* data, int length) {
    sockaddr_in everyone{};
    everyone.sin_family = AF_INET;
    everyone.sin_port = htons(static_cast<u_short>(port));
    everyone.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    return length >= 0 &&
           sendto(Handle(fd), data, length, 0, reinterpret_cast<sockaddr*>(&everyone),
                  sizeof everyone) != SOCKET_ERROR;
}

}  // namespace ZRPlatform

namespace ZRSocket {

using ZRPlatform::Descriptor;
using ZRPlatform::Handle;

int CreateSocket(int kind) {
    if (!ZRPlatform::StartWinsock()) return -1;
    const int type = (kind == 1 || kind == 2) ? SOCK_DGRAM : SOCK_STREAM;
    return Descriptor(socket(AF_INET, type, 0));
}

int CloseSocket(int fd) {
    // No window may hear of a socket that is gone.
    WSAAsyncSelect(Handle(fd), nullptr, 0, 0);
    shutdown(Handle(fd), SD_BOTH);
    return closesocket(Handle(fd));
}

int SelectSocket(int, void* readSet, void* writeSet, void* exceptSet, struct timeval* timeout) {
    // Winsock ignores the count; the sets say what to watch.
    return select(4096, static_cast<fd_set*>(readSet), static_cast<fd_set*>(writeSet),
                  static_cast<fd_set*>(exceptSet), timeout);
}

int AcceptSocket(int fd, struct sockaddr* address, zrSocketLength* addressLength) {
    const SOCKET accepted = accept(Handle(fd), address, addressLength);
    if (accepted != INVALID_SOCKET)
        SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    return Descriptor(accepted);
}

bool SetBlockStatus(int fd, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    ioctlsocket(Handle(fd), FIONBIO, &nonBlocking);
    return true;
}

bool SockAtMark(int fd) {
    // SIOCATMARK answers whether all out-of-band data has been read.
    u_long allRead = 1;
    return ioctlsocket(Handle(fd), SIOCATMARK, &allRead) == 0 && allRead == 0;
}

bool ListenSocket(int fd) {
    return listen(Handle(fd), SOMAXCONN) != 0;
}

int CreateLoopbackPipes(int fds[2]) {
    fds[0] = fds[1] = -1;
    const int listener = CreateSocket(0);
    if (listener == -1) return -1;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int atLength = sizeof at;
    bool made = bind(Handle(listener), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                listen(Handle(listener), 1) == 0 &&
                getsockname(Handle(listener), reinterpret_cast<sockaddr*>(&at), &atLength) == 0;
    const int connecting = made ? CreateSocket(0) : -1;
    made = connecting != -1 &&
           connect(Handle(connecting), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    const int accepted = made ? AcceptSocket(listener, nullptr, nullptr) : -1;
    closesocket(Handle(listener));
    if (accepted == -1) {
        if (connecting != -1) closesocket(Handle(connecting));
        return -1;
    }
    SetBlockStatus(accepted, false);
    SetBlockStatus(connecting, false);
    fds[0] = accepted;
    fds[1] = connecting;
    return 0;
}

bool ConnectSocket(int fd, std::string address, int port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<u_short>(port));
    peer.sin_addr.s_addr = inet_addr(address.c_str());
    return connect(Handle(fd), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
}

}  // namespace ZRSocket
}  // namespace ZRFramework
