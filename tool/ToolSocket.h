// The few socket calls of zdtool's one connection, on BSD sockets or on Winsock.
#ifndef ZDTOOL_TOOLSOCKET_H
#define ZDTOOL_TOOLSOCKET_H

#include <cstddef>
#include <cstdint>
#include <string>

// A socket descriptor, or a Winsock SOCKET, which is wider than an int.
using zdSocketHandle = intptr_t;
constexpr zdSocketHandle kNoSocket = -1;

enum class zdSocketResult { kDone, kWouldBlock, kInterrupted, kFailed };

// A TCP socket over IPv4; kNoSocket when none can be made.
zdSocketHandle openDispatcherSocket();
// The first IPv4 address of `host`, in network byte order, and its dotted text.
bool resolveHost(const char* host, uint32_t& address, std::string& dotted);
// Makes the socket non-blocking and starts connecting: 1 connected, 0 under way (wait for it to
// become writable, then ask connectSucceeded), -1 failed.
int startConnect(zdSocketHandle socket, uint32_t address, uint16_t port);
bool connectSucceeded(zdSocketHandle socket);
// Waits until the socket can be read (or written); false when `millis` pass first (negative:
// no limit). An error counts as ready: it shows in the call that follows.
bool waitSocket(zdSocketHandle socket, bool writable, int millis);
// Bytes moved, 0 when the peer closed (receive only) or -1, with `result` saying why.
long sendSome(zdSocketHandle socket, const char* data, size_t size, zdSocketResult& result);
long receiveSome(zdSocketHandle socket, char* data, size_t size, zdSocketResult& result);
void closeSocket(zdSocketHandle socket);

#endif
