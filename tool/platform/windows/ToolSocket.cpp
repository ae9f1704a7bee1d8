// zdtool's socket calls on Winsock, which is started with the first socket and cleaned up when
// the last one closes.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

#include "../../ToolSocket.h"

namespace {

int sockets = 0;  // open sockets; zdtool is single-threaded

SOCKET handle(zdSocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

zdSocketResult resultOf(int error) {
    if (error == WSAEINTR) return zdSocketResult::kInterrupted;
    if (error == WSAEWOULDBLOCK) return zdSocketResult::kWouldBlock;
    return zdSocketResult::kFailed;
}

int chunk(size_t size) {
    return size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

zdSocketHandle openDispatcherSocket() {
    WSADATA data;
    if (sockets == 0 && WSAStartup(MAKEWORD(2, 2), &data) != 0) return kNoSocket;
    const SOCKET made = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (made == INVALID_SOCKET) {
        if (sockets == 0) WSACleanup();
        return kNoSocket;
    }
    ++sockets;
    return static_cast<zdSocketHandle>(made);
}

bool resolveHost(const char* host, uint32_t& address, std::string& dotted) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return false;
    in_addr first = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    address = first.s_addr;
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &first, text, sizeof(text));
    dotted = text;
    return true;
}

int startConnect(zdSocketHandle socket, uint32_t address, uint16_t port) {
    u_long nonBlocking = 1;
    if (ioctlsocket(handle(socket), FIONBIO, &nonBlocking) != 0) return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = htons(port);
    if (connect(handle(socket), reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == 0) return 1;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

bool connectSucceeded(zdSocketHandle socket) {
    int error = 0;
    int size = sizeof(error);
    return getsockopt(handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                      &size) == 0 &&
           error == 0;
}

bool waitSocket(zdSocketHandle socket, bool writable, int millis) {
    WSAPOLLFD watched{handle(socket), static_cast<SHORT>(writable ? POLLWRNORM : POLLRDNORM), 0};
    return WSAPoll(&watched, 1, millis < 0 ? -1 : millis) != 0;
}

long sendSome(zdSocketHandle socket, const char* data, size_t size, zdSocketResult& result) {
    const int r = send(handle(socket), data, chunk(size), 0);
    result = r != SOCKET_ERROR ? zdSocketResult::kDone : resultOf(WSAGetLastError());
    return r;
}

long receiveSome(zdSocketHandle socket, char* data, size_t size, zdSocketResult& result) {
    const int r = recv(handle(socket), data, chunk(size), 0);
    result = r != SOCKET_ERROR ? zdSocketResult::kDone : resultOf(WSAGetLastError());
    return r;
}

void closeSocket(zdSocketHandle socket) {
    if (socket == kNoSocket) return;
    closesocket(handle(socket));
    if (sockets > 0 && --sockets == 0) WSACleanup();
}
