// zdtool's socket calls on BSD sockets.
#include "../../ToolSocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int fd(zdSocketHandle socket) {
    return static_cast<int>(socket);
}

zdSocketResult resultOf(int error) {
    if (error == EINTR) return zdSocketResult::kInterrupted;
    if (error == EAGAIN || error == EWOULDBLOCK) return zdSocketResult::kWouldBlock;
    return zdSocketResult::kFailed;
}

}  // namespace

zdSocketHandle openDispatcherSocket() {
    const int made = ::socket(AF_INET, SOCK_STREAM, 0);
    return made < 0 ? kNoSocket : made;
}

bool resolveHost(const char* host, uint32_t& address, std::string& dotted) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return false;
    const in_addr first = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    address = first.s_addr;
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &first, text, sizeof(text));
    dotted = text;
    return true;
}

int startConnect(zdSocketHandle socket, uint32_t address, uint16_t port) {
    const int flags = fcntl(fd(socket), F_GETFL);
    if (flags < 0 || fcntl(fd(socket), F_SETFL, flags | O_NONBLOCK) != 0) return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = htons(port);
    if (connect(fd(socket), reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == 0) return 1;
    return errno == EINPROGRESS ? 0 : -1;
}

bool connectSucceeded(zdSocketHandle socket) {
    int error = 0;
    socklen_t size = sizeof(error);
    return getsockopt(fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool waitSocket(zdSocketHandle socket, bool writable, int millis) {
    pollfd watched{fd(socket), static_cast<short>(writable ? POLLOUT : POLLIN), 0};
    int r;
    do {
        r = poll(&watched, 1, millis < 0 ? -1 : millis);
    } while (r < 0 && errno == EINTR);
    return r != 0;
}

long sendSome(zdSocketHandle socket, const char* data, size_t size, zdSocketResult& result) {
    const ssize_t r = send(fd(socket), data, size, MSG_NOSIGNAL);
    result = r >= 0 ? zdSocketResult::kDone : resultOf(errno);
    return static_cast<long>(r);
}

long receiveSome(zdSocketHandle socket, char* data, size_t size, zdSocketResult& result) {
    const ssize_t r = recv(fd(socket), data, size, 0);
    result = r >= 0 ? zdSocketResult::kDone : resultOf(errno);
    return static_cast<long>(r);
}

void closeSocket(zdSocketHandle socket) {
    if (socket >= 0) close(fd(socket));
}
