// The socket calls the stream and the shared socket functions make, on BSD sockets or Winsock.
#ifndef ZRFRAMEWORK_PLATFORM_SOCKET_H
#define ZRFRAMEWORK_PLATFORM_SOCKET_H

#include <cstddef>

namespace ZRFramework {
namespace ZRPlatform {

// Bytes moved, 0 when the peer closed (receive), or -1; a peer that has gone ends the
// connection, never the process.
long SendSome(int fd, const char* data, size_t size);
long ReceiveSome(int fd, char* data, size_t size);
// Whether the failure of the last call only meant that nothing could be done now.
bool LastCallWouldBlock();
int LastSocketError();
void ShutdownBoth(int fd);
// False only when fd is known not to be an open descriptor.
bool DescriptorMayBeOpen(int fd);
// Whether a failed receive refuses the stream's further use, messages already held included.
bool ReceiveFailureBreaks();

#ifdef _WIN32
// Window-message notification of socket events (WM_USER to `window`); events 0 cancels it.
constexpr int kRouteRead = 1;
constexpr int kRouteWrite = 2;
constexpr int kRouteClose = 4;
bool RouteSocketEvents(int fd, void* window, int events);
#endif

enum class SocketFlag { kNoDelay, kReuseAddress, kBroadcast };
bool SetSocketFlag(int fd, SocketFlag flag, bool on);
bool BindToAnyAddress(int fd, int port);
bool SendToBroadcast(int fd, int port, const char* data, int length);

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
