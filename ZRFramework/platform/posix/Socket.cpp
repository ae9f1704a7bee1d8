// BSD socket calls of the socket functions and the stream.
#include "../Socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <type_traits>

#include "ZRSocket.h"

static_assert(std::is_same<socklen_t, ZRFramework::ZRSocket::zrSocketLength>::value,
              "zrSocketLength must be the system's socklen_t");

namespace ZRFramework {
namespace ZRPlatform {

long SendSome(int fd, const char* data, size_t size) {
    return static_cast<long>(send(fd, data, size, MSG_NOSIGNAL));
}

long ReceiveSome(int fd, char* data, size_t size) {
    return static_cast<long>(recv(fd, data, size, 0));
}

bool LastCallWouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

int LastSocketError() {
    return errno;
}

void ShutdownBoth(int fd) {
    shutdown(fd, SHUT_RDWR);
}

bool DescriptorMayBeOpen(int fd) {
    return !(fcntl(fd, F_GETFL) == -1 && errno == EBADF);
}

bool ReceiveFailureBreaks() {
    return false;
}

bool SetSocketFlag(int fd, SocketFlag flag, bool on) {
    const int value = on ? 1 : 0;
    const int level = flag == SocketFlag::kNoDelay ? IPPROTO_TCP : SOL_SOCKET;
    const int name = flag == SocketFlag::kNoDelay        ? TCP_NODELAY
                     : flag == SocketFlag::kReuseAddress ? SO_REUSEADDR
                                                         : SO_BROADCAST;
    return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

bool BindToAnyAddress(int fd, int port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
}

bool SendToBroadcast(int fd, int port, const char* data, int length) {
    sockaddr_in everyone{};
    everyone.sin_family = AF_INET;
    everyone.sin_port = htons(static_cast<uint16_t>(port));
    everyone.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    return length >= 0 && sendto(fd, data, static_cast<size_t>(length), 0,
                                 reinterpret_cast<sockaddr*>(&everyone), sizeof everyone) != -1;
}

}  // namespace ZRPlatform

namespace ZRSocket {

int CreateSocket(int kind) {
    const int type = (kind == 1 || kind == 2) ? SOCK_DGRAM : SOCK_STREAM;
    return socket(AF_INET, type, 0);
}

int CloseSocket(int fd) {
    if (fcntl(fd, F_GETFL) == -1) return EBADF;
    shutdown(fd, SHUT_RDWR);
    return close(fd);
}

int SelectSocket(int nfds, void* readSet, void* writeSet, void* exceptSet,
                 struct timeval* timeout) {
    return select(nfds, static_cast<fd_set*>(readSet), static_cast<fd_set*>(writeSet),
                  static_cast<fd_set*>(exceptSet), timeout);
}

int AcceptSocket(int fd, struct sockaddr* address, zrSocketLength* addressLength) {
    return accept(fd, address, addressLength);
}

bool SetBlockStatus(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL);
    if (flags == -1) return false;
    if (blocking)
        flags &= ~O_NONBLOCK;
    else
        flags |= O_NONBLOCK;
    fcntl(fd, F_SETFL, flags);
    return true;
}

bool SockAtMark(int) {
    return false;
}

bool ListenSocket(int fd) {
    return listen(fd, 5) != 0;
}

int CreateLoopbackPipes(int fds[2]) {
    if (pipe(fds) != 0) return -1;
    SetBlockStatus(fds[0], false);
    SetBlockStatus(fds[1], false);
    return 0;
}

bool ConnectSocket(int fd, std::string address, int port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    peer.sin_addr.s_addr = inet_addr(address.c_str());
    return connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
}

}  // namespace ZRSocket
}  // namespace ZRFramework
