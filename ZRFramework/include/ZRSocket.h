// Wire frames (encoding byte, 4-byte little-endian length, code, body), the buffered non-blocking
// message stream zrSocketStream, and the free IPv4 socket functions.
#ifndef ZRFRAMEWORK_SOCKET_H
#define ZRFRAMEWORK_SOCKET_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "ZRFrameworkExport.h"
#include "ZRThreads.h"

// Both tags are the same on BSD sockets and Winsock, so no system header is needed here.
struct sockaddr;
struct timeval;

namespace ZRFramework {
namespace ZRSocket {

// What accept writes the address length to: socklen_t on BSD sockets, int on Winsock.
#ifdef _WIN32
typedef int zrSocketLength;
#else
typedef unsigned int zrSocketLength;
#endif

// Encoding byte of a frame.
constexpr unsigned char kEncodingEmpty = 0;
constexpr unsigned char kEncodingPlain = 1;
constexpr unsigned char kEncodingCompressed = 2;

// Encoding byte and length field; the length counts everything after them.
constexpr unsigned kFrameHeaderSize = 5;
// Texts longer than this are offered to compression.
constexpr unsigned kCompressionThreshold = 10;
// No deflate stream inflates more than this many times its own size, so a compressed frame
// whose stated text length is larger cannot be genuine and is refused before allocating.
constexpr uint64_t kMaxInflateRatio = 1032;

// Builds one frame; only code[0] is used (null or empty gives code 0), text may be null. The
// frame is released with destroyEncodedMessage. When the text is too long for a 32-bit length
// field or memory runs out, *frame is null and the sizes are 0.
ZRFRAMEWORK_API void encodeMessage(const char* code, const char* text, char** frame,
                                   unsigned long* lengthField, unsigned long* frameSize);
// The same frame without the compression attempt: encoding 0 or 1 only.
ZRFRAMEWORK_API void EncodePlainMessage(const char* code, const char* text, char** frame,
                                        unsigned long* lengthField, unsigned long* frameSize);
// Appends one frame to `out`: as encodeMessage builds it when `compress` is set (compressed only
// when that is shorter), as EncodePlainMessage does otherwise. The text is textLength bytes (text
// may be null when that is 0). False, with `out` as it was, when the text does not fit a 32-bit
// length field or memory runs out.
ZRFRAMEWORK_API bool AppendFrame(std::string& out, unsigned char code, const char* text,
                                 size_t textLength, bool compress);
// Releases a frame or a decoded message; null is ignored.
ZRFRAMEWORK_API void destroyEncodedMessage(char* buffer);
// A zero-filled buffer of newSize bytes holding the first `used` bytes of `buffer`, which is
// released. When memory runs out the result is null and `buffer` and *capacity are untouched.
ZRFRAMEWORK_API char* zr_resize_buffer(char* buffer, unsigned long* capacity, unsigned long used,
                                       unsigned long newSize);

enum class FrameStatus {
    kIncomplete,  // more bytes are needed (always so with 5 bytes or fewer)
    kComplete,    // a whole frame of *frameSize bytes is at the start of the data
    kMalformed,   // a whole frame of *frameSize bytes whose length field cannot be valid
};

// The length field of the frame at the start of `data`; false until its header is held.
ZRFRAMEWORK_API bool GetFrameLength(const char* data, uint64_t size, uint32_t* lengthField);
// Looks at the frame at the start of `data`. *frameSize (when not null) receives the frame's
// whole size (length + 5) as soon as the length field is held.
ZRFRAMEWORK_API FrameStatus ScanFrame(const char* data, uint64_t size, uint64_t* frameSize);
// Decodes the complete frame at the start of `frame` into a message: code byte, text, NUL,
// released with destroyEncodedMessage. Null when the frame is incomplete or malformed, does not
// inflate, or states a text longer than maxTextLength (or than kMaxInflateRatio times its
// compressed size). *textLength (when not null) receives the bytes between code and final NUL.
ZRFRAMEWORK_API char* DecodeFrame(const char* frame, uint64_t size, uint64_t maxTextLength,
                                  uint64_t* textLength);

enum class DecodeStatus {
    kDecoded,
    kIncomplete,   // not a whole frame
    kMalformed,    // ScanFrame's kMalformed
    kTooLong,      // a compressed frame states more than the limit or kMaxInflateRatio allow
    kNoRoom,       // the text and its NUL do not fit: grow to *textLength + 1 and call again
    kNotInflated,  // the compressed body does not inflate
};

// Decodes the text of the complete frame at the start of `frame` into `text`, which holds
// `capacity` bytes, and ends it with a NUL; with capacity 0 (text may be null) it only sizes.
// *code receives the code byte once the frame is whole and has one. *textLength receives the
// text's length when decoded, and the length the frame states when kTooLong or kNoRoom (a
// compressed text may inflate to less). The limit applies to compressed frames, whose stated
// length is their claim; a plain one is no longer than the bytes held. Both may be null.
ZRFRAMEWORK_API DecodeStatus DecodeFrameText(const char* frame, uint64_t size,
                                             uint64_t maxTextLength, char* text, uint64_t capacity,
                                             unsigned char* code, uint64_t* textLength);

// Free socket functions.
ZRFRAMEWORK_API int CreateSocket(int kind);
// BSD sockets: 9 (EBADF) without touching anything when fd is not open, otherwise close's
// result. Winsock: closesocket's result.
ZRFRAMEWORK_API int CloseSocket(int fd);
// The sets are fd_set pointers (or null); glibc's fd_set has no tag to declare it by.
ZRFRAMEWORK_API int SelectSocket(int nfds, void* readSet, void* writeSet, void* exceptSet,
                                 struct timeval* timeout);
// On Winsock the accepted socket is not inherited by child processes.
ZRFRAMEWORK_API int AcceptSocket(int fd, struct sockaddr* address, zrSocketLength* addressLength);
ZRFRAMEWORK_API bool SetBlockStatus(int fd, bool blocking);
ZRFRAMEWORK_API bool SetNagleStatus(int fd, bool enabled);
// True when out-of-band data is waiting (Winsock); always false on BSD sockets.
ZRFRAMEWORK_API bool SockAtMark(int fd);
// True when listen FAILED.
ZRFRAMEWORK_API bool ListenSocket(int fd);
// A non-blocking pipe: fds[0] reads what fds[1] writes. 0, or -1 with fds untouched. Winsock has
// no pipes that select can watch: there it is a connected TCP pair on 127.0.0.1, both ways, and
// a failure leaves both at -1.
ZRFRAMEWORK_API int CreateLoopbackPipes(int fds[2]);
// Dotted IPv4 address only, no name look-up.
ZRFRAMEWORK_API bool ConnectSocket(int fd, std::string address, int port);
ZRFRAMEWORK_API bool BindBroadcastSocket(int fd, int port);
ZRFRAMEWORK_API bool SendbroadcastSocket(int fd, int port, char* data, int length);

}  // namespace ZRSocket

// A buffered message stream over a connected non-blocking socket, driven by its owner's event
// loop: Read when readable, then GetNextMessage until null; AddMessage, then Write when writable.
// Read, Write, AddMessage, GetNextMessage, GetFirstByte and ClearBuffers are serialised by
// streamLock; shared counters are updated under *counterLock inside it. Fields that are also
// read without the lock are atomic.
class ZRFRAMEWORK_API zrSocketStream {
public:
    zrSocketStream();
    // Leaves the socket open.
    ~zrSocketStream();
    zrSocketStream(const zrSocketStream&) = delete;
    zrSocketStream& operator=(const zrSocketStream&) = delete;

    // Registers the socket with the event queue (ZREventQueue) for reading; from then on the
    // stream asks for one writable report whenever output is left queued.
    void RegisterKq(int kq);
#ifdef _WIN32
    // Routes the socket's events to `window` (an HWND) as WM_USER messages (WSAAsyncSelect):
    // reading and the end always, writability while output is queued. False when Winsock
    // refused the registration.
    bool RegisterRoutingWindow(void* window);
#endif
    // Any of the three may be null; none is owned.
    void RegisterCounters(long long* sent, long long* received, ZRProcesses::zrMutex* lock);
    bool AddMessage(const char* code, const char* text);
    // Bytes sent; -1 when nothing was queued or the socket would block; 0 on failure or broken.
    int Write();
    // Bytes received (at most 4096); 0 when the connection is over; -1 when nothing was there.
    int Read();
    // The first complete frame, decoded (release with destroyEncodedMessage), or null. A frame
    // that cannot be decoded is removed and gives null; the next call goes on after it.
    char* GetNextMessage();
    char GetFirstByte();
    bool HasToWrite();
    void ClearBuffers();
    void GetBuffersUsage(double& incoming, double& outgoing);
    void Shutdown();
    int Close();
    void UpdateHeartBeat();
    bool CheckHeartBeat(int seconds);
    // Values above 4294967295 are taken as 4294967295.
    void SetMaxIncomingBufferSize(unsigned long size);
    void SetMaxOutgoingBufferSize(unsigned long size);
    void SetBufferCheck(bool check);

    // Both buffers grow at least twofold when they must grow, up to their limits.
    char* outBuffer;  // starts its allocation; Write moves what is left to the front
    // NUL-terminated after each read. Taking a message moves inBuffer past it inside its
    // allocation instead of moving the rest; inCapacity counts the bytes from inBuffer on.
    char* inBuffer;
    std::atomic<uint32_t> inLength;
    std::atomic<uint32_t> outLength;
    uint32_t inCapacity;
    uint32_t outCapacity;
    ZRProcesses::zrMutex streamLock;
    std::atomic<time_t> lastHeartBeat;
    std::atomic<uint32_t> maxIncoming;
    std::atomic<uint32_t> maxOutgoing;
    std::atomic<bool> bufferCheck;
    long long* sentCounter;
    long long* receivedCounter;
    ZRProcesses::zrMutex* counterLock;
    int kqueueFd;
#ifdef _WIN32
    void* routingWindow;  // HWND that hears of the socket's events, or null
#endif
    std::atomic<bool> shutdownLocally;
    std::atomic<bool> broken;
    int socketFd;  // stored by the owner after construction

private:
    // Called with streamLock held when less than one receive and its NUL fit after the held
    // bytes; false when the room would pass the limit or memory runs out.
    bool MakeRoomToReceive();

    char* inStorage;  // the allocation inBuffer lies in
};

}  // namespace ZRFramework

#endif
