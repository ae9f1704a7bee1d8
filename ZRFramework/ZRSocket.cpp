// ZRSocket: the wire frame codec, the buffered non-blocking zrSocketStream and the free IPv4
// socket functions.
#include "ZRSocket.h"

#include <zlib.h>

#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "ZREventQueue.h"
#include "ZRLogger.h"
#include "ZRRuntime.h"
#include "platform/Socket.h"

namespace ZRFramework {
namespace ZRSocket {

namespace {

constexpr unsigned long kInitialBufferSize = 2049;
constexpr unsigned long kReceiveStep = 4096;
// One receive and the NUL kept after it; also the least a receive buffer grows by.
constexpr unsigned long kGrowthStep = 4097;
constexpr unsigned long kDefaultLimit = 128000;
// Code byte plus the 4-byte stated text length of a compressed body.
constexpr uint64_t kCompressedPrefix = 5;

void PutU32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

uint32_t GetU32(const char* bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct FrameRelease {
    void operator()(char* frame) const { destroyEncodedMessage(frame); }
};
using OwnedFrame = std::unique_ptr<char[], FrameRelease>;

void Publish(char* frame, uint32_t lengthField, char** out, unsigned long* lengthOut,
             unsigned long* sizeOut) {
    *out = frame;
    const unsigned long length = frame != nullptr ? lengthField : 0;
    if (lengthOut != nullptr) *lengthOut = length;
    if (sizeOut != nullptr) *sizeOut = frame != nullptr ? length + kFrameHeaderSize : 0;
}

unsigned char CodeByte(const char* code) {
    return code != nullptr ? static_cast<unsigned char>(code[0]) : 0;
}

// The one frame encoder. It hands `emit` the frame in two pieces, the head (header, code and, when
// compressed, the stated length) and the body, so that each caller copies them once into memory
// of its own; the result is emit's, or false when the text does not fit a 32-bit length field.
template <typename Emit>
bool EncodeFrame(unsigned char code, const char* text, size_t n, bool mayCompress, Emit emit) {
    unsigned char head[kFrameHeaderSize + kCompressedPrefix];
    head[5] = code;
    if (mayCompress && n > kCompressionThreshold && n <= UINT32_MAX) {
        const auto scratchSize = static_cast<uLongf>(static_cast<double>(n) * 1.01) + 12;
        std::unique_ptr<Bytef[]> scratch(new (std::nothrow) Bytef[scratchSize]);
        uLongf packed = scratchSize;
        if (scratch != nullptr &&
            compress(scratch.get(), &packed, reinterpret_cast<const Bytef*>(text), n) == Z_OK &&
            packed < n + 4 && packed + kCompressedPrefix <= UINT32_MAX) {
            const auto length = static_cast<uint32_t>(packed + kCompressedPrefix);
            head[0] = kEncodingCompressed;
            PutU32(head + 1, length);
            PutU32(head + 6, static_cast<uint32_t>(n));
            return emit(head, sizeof head, scratch.get(), static_cast<size_t>(packed), length);
        }
    }
    if (n >= UINT32_MAX) return false;
    const auto length = static_cast<uint32_t>(n + 1);
    head[0] = n == 0 ? kEncodingEmpty : kEncodingPlain;
    PutU32(head + 1, length);
    return emit(head, kFrameHeaderSize + 1, text, n, length);
}

// A frame of its own allocation, released with destroyEncodedMessage.
void EncodeAllocated(const char* code, const char* text, bool mayCompress, char** frame,
                     unsigned long* lengthField, unsigned long* frameSize) {
    if (frame == nullptr) return;
    Publish(nullptr, 0, frame, lengthField, frameSize);
    const size_t n = text != nullptr ? std::strlen(text) : 0;
    EncodeFrame(
        CodeByte(code), text, n, mayCompress,
        [&](const void* head, size_t headSize, const void* body, size_t bodySize, uint32_t length) {
            char* f = new (std::nothrow) char[headSize + bodySize];
            if (f == nullptr) return false;
            std::memcpy(f, head, headSize);
            if (bodySize != 0) std::memcpy(f + headSize, body, bodySize);
            Publish(f, length, frame, lengthField, frameSize);
            return true;
        });
}

}  // namespace

void encodeMessage(const char* code, const char* text, char** frame, unsigned long* lengthField,
                   unsigned long* frameSize) {
    EncodeAllocated(code, text, true, frame, lengthField, frameSize);
}

void EncodePlainMessage(const char* code, const char* text, char** frame,
                        unsigned long* lengthField, unsigned long* frameSize) {
    EncodeAllocated(code, text, false, frame, lengthField, frameSize);
}

bool AppendFrame(std::string& out, unsigned char code, const char* text, size_t textLength,
                 bool mayCompress) {
    if (text == nullptr && textLength != 0) return false;
    const size_t before = out.size();
    try {
        return EncodeFrame(
            code, text, textLength, mayCompress,
            [&](const void* head, size_t headSize, const void* body, size_t bodySize, uint32_t) {
                out.append(static_cast<const char*>(head), headSize);
                if (bodySize != 0) out.append(static_cast<const char*>(body), bodySize);
                return true;
            });
    } catch (const std::exception&) {
        // The framework reports through results: a string that cannot grow is a failed append.
        out.resize(before);
        return false;
    }
}

void destroyEncodedMessage(char* buffer) {
    delete[] buffer;
}

char* zr_resize_buffer(char* buffer, unsigned long* capacity, unsigned long used,
                       unsigned long newSize) {
    char* grown = new (std::nothrow) char[newSize]();
    if (grown == nullptr) return nullptr;
    if (buffer != nullptr && used != 0) std::memcpy(grown, buffer, used < newSize ? used : newSize);
    delete[] buffer;
    if (capacity != nullptr) *capacity = newSize;
    return grown;
}

bool GetFrameLength(const char* data, uint64_t size, uint32_t* lengthField) {
    if (data == nullptr || size < kFrameHeaderSize) return false;
    if (lengthField != nullptr) *lengthField = GetU32(data + 1);
    return true;
}

FrameStatus ScanFrame(const char* data, uint64_t size, uint64_t* frameSize) {
    uint32_t lengthField = 0;
    if (size <= kFrameHeaderSize || !GetFrameLength(data, size, &lengthField))
        return FrameStatus::kIncomplete;
    const uint64_t length = lengthField;
    const uint64_t total = length + kFrameHeaderSize;  // 64-bit: cannot wrap
    if (frameSize != nullptr) *frameSize = total;
    if (size < total) return FrameStatus::kIncomplete;
    const auto encoding = static_cast<unsigned char>(data[0]);
    // Every frame has its code byte; a compressed one also its stated text length.
    if (length < 1 || (encoding == kEncodingCompressed && length < kCompressedPrefix))
        return FrameStatus::kMalformed;
    return FrameStatus::kComplete;
}

DecodeStatus DecodeFrameText(const char* frame, uint64_t size, uint64_t maxTextLength, char* text,
                             uint64_t capacity, unsigned char* code, uint64_t* textLength) {
    uint64_t total = 0;
    const FrameStatus scanned = ScanFrame(frame, size, &total);
    if (scanned == FrameStatus::kIncomplete) return DecodeStatus::kIncomplete;
    const uint64_t length = total - kFrameHeaderSize;
    const char* body = frame + kFrameHeaderSize;  // code byte first
    if (length >= 1 && code != nullptr) *code = static_cast<unsigned char>(body[0]);
    if (scanned == FrameStatus::kMalformed) return DecodeStatus::kMalformed;

    if (static_cast<unsigned char>(frame[0]) != kEncodingCompressed) {
        const uint64_t n = length - 1;
        if (textLength != nullptr) *textLength = n;
        if (capacity <= n) return DecodeStatus::kNoRoom;
        std::memcpy(text, body + 1, n);
        text[n] = '\0';
        return DecodeStatus::kDecoded;
    }

    const uint64_t stated = GetU32(body + 1);
    const uint64_t packed = length - kCompressedPrefix;
    if (textLength != nullptr) *textLength = stated;
    if (stated > maxTextLength || stated > packed * kMaxInflateRatio) return DecodeStatus::kTooLong;
    if (capacity <= stated) return DecodeStatus::kNoRoom;
    uLongf inflated = stated;
    if (uncompress(reinterpret_cast<Bytef*>(text), &inflated,
                   reinterpret_cast<const Bytef*>(body + kCompressedPrefix), packed) != Z_OK)
        return DecodeStatus::kNotInflated;
    // A stream that inflates to less than stated ends where it ends, not at the stated size.
    text[inflated] = '\0';
    if (textLength != nullptr) *textLength = inflated;
    return DecodeStatus::kDecoded;
}

char* DecodeFrame(const char* frame, uint64_t size, uint64_t maxTextLength, uint64_t* textLength) {
    uint64_t stated = 0;
    if (DecodeFrameText(frame, size, maxTextLength, nullptr, 0, nullptr, &stated) !=
        DecodeStatus::kNoRoom)
        return nullptr;
    std::unique_ptr<char[]> message(new (std::nothrow) char[stated + 2]);
    if (message == nullptr) return nullptr;
    unsigned char code = 0;
    uint64_t decoded = 0;
    if (DecodeFrameText(frame, size, maxTextLength, message.get() + 1, stated + 1, &code,
                        &decoded) != DecodeStatus::kDecoded)
        return nullptr;
    message[0] = static_cast<char>(code);
    if (textLength != nullptr) *textLength = decoded;
    return message.release();
}

// ---- Free socket functions (the rest are each platform's) ----

bool SetNagleStatus(int fd, bool enabled) {
    return ZRPlatform::SetSocketFlag(fd, ZRPlatform::SocketFlag::kNoDelay, !enabled);
}

bool BindBroadcastSocket(int fd, int port) {
    if (fd == -1) return false;
    if (!ZRPlatform::SetSocketFlag(fd, ZRPlatform::SocketFlag::kReuseAddress, true)) return false;
    if (!ZRPlatform::SetSocketFlag(fd, ZRPlatform::SocketFlag::kBroadcast, true)) return false;
    return ZRPlatform::BindToAnyAddress(fd, port);
}

bool SendbroadcastSocket(int fd, int port, char* data, int length) {
    if (ZRPlatform::SendToBroadcast(fd, port, data, length)) return true;
    ZRLogger::AddLogEntry(GetDefaultLogger(), 1, "ZRFramework",
                          "Unable to send broadcast packet. Socket error!");
    return false;
}

}  // namespace ZRSocket

// ---- zrSocketStream ----

namespace {

using namespace ZRSocket;

using ZRProcesses::zrMutexLock;

void AddToCounter(long long* counter, ZRProcesses::zrMutex* lock, long long n) {
    if (counter == nullptr) return;
    zrMutexLock hold(lock != nullptr ? *lock : nullptr);
    *counter += n;
}

// Read interest always; write interest, once, while output is queued.
void Register(int queue, int fd, bool outputQueued, int line) {
    if (ZREventQueue::WatchDescriptor(queue, fd, outputQueued) != 0) {
        ZRLogger::AddLogEntry(nullptr, 1, "ZRSocket", "kevent(%d:%d) error on EV_ADD [%s:%d:%d]\n",
                              queue, fd, "./ZRFramework/ZRSocket", line,
                              ZRPlatform::LastSocketError());
    }
}

// What the owner is told about from now on: reading and the end always, writability while
// output is queued, through the event queue and (on Windows) the routing window.
void AskForEvents(const zrSocketStream& stream, int line) {
    const bool outputQueued = stream.outLength > 0;
    if (stream.kqueueFd != -1) Register(stream.kqueueFd, stream.socketFd, outputQueued, line);
#ifdef _WIN32
    if (stream.routingWindow != nullptr)
        ZRPlatform::RouteSocketEvents(stream.socketFd, stream.routingWindow,
                                      ZRPlatform::kRouteRead | ZRPlatform::kRouteClose |
                                          (outputQueued ? ZRPlatform::kRouteWrite : 0));
#endif
}

// After an overflow or the end of the connection only the end is of interest.
void AskForTheEndOnly(const zrSocketStream& stream) {
#ifdef _WIN32
    if (stream.routingWindow != nullptr)
        ZRPlatform::RouteSocketEvents(stream.socketFd, stream.routingWindow,
                                      ZRPlatform::kRouteClose);
#else
    (void)stream;
#endif
}

// The largest buffer a 32-bit length can describe; the bound when limits are off.
constexpr uint64_t kHardBufferLimit = UINT32_MAX;

uint32_t ClampToU32(unsigned long v) {
    return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
}

// The size a buffer of `allocated` bytes grows to when it needs room: at least double, so that
// filling it costs linear time, but never past `limit`.
uint64_t GrownSize(uint64_t allocated, uint64_t growth, uint64_t limit) {
    const uint64_t doubled =
        allocated * 2 > allocated + growth ? allocated * 2 : allocated + growth;
    return doubled < limit ? doubled : limit;
}

}  // namespace

zrSocketStream::zrSocketStream()
    : outBuffer(nullptr),
      inBuffer(nullptr),
      inLength(0),
      outLength(0),
      inCapacity(0),
      outCapacity(0),
      streamLock(ZRProcesses::CreateMutex()),
      lastHeartBeat(time(nullptr)),
      maxIncoming(kDefaultLimit),
      maxOutgoing(kDefaultLimit),
      bufferCheck(true),
      sentCounter(nullptr),
      receivedCounter(nullptr),
      counterLock(nullptr),
      kqueueFd(-1),
#ifdef _WIN32
      routingWindow(nullptr),
#endif
      shutdownLocally(false),
      broken(false),
      socketFd(-1),
      inStorage(nullptr) {
    unsigned long capacity = 0;
    outBuffer = zr_resize_buffer(nullptr, &capacity, 0, kInitialBufferSize);
    outCapacity = outBuffer != nullptr ? static_cast<uint32_t>(capacity) : 0;
    capacity = 0;
    inBuffer = zr_resize_buffer(nullptr, &capacity, 0, kInitialBufferSize);
    inCapacity = inBuffer != nullptr ? static_cast<uint32_t>(capacity) : 0;
    inStorage = inBuffer;
}

zrSocketStream::~zrSocketStream() {
    if (streamLock != nullptr) ZRProcesses::DestroyMutex(streamLock);
    delete[] outBuffer;
    delete[] inStorage;
}

void zrSocketStream::RegisterKq(int kq) {
    kqueueFd = kq;
    if (ZREventQueue::WatchDescriptor(kq, socketFd, false) != 0)
        ZRLogger::AddLogEntry(nullptr, 1, "ZRSocket", "Cannot kevent() on client listening socket");
}

#ifdef _WIN32
bool zrSocketStream::RegisterRoutingWindow(void* window) {
    routingWindow = window;
    return ZRPlatform::RouteSocketEvents(socketFd, window,
                                         ZRPlatform::kRouteRead | ZRPlatform::kRouteClose);
}
#endif

void zrSocketStream::RegisterCounters(long long* sent, long long* received,
                                      ZRProcesses::zrMutex* lock) {
    sentCounter = sent;
    receivedCounter = received;
    counterLock = lock;
}

bool zrSocketStream::AddMessage(const char* code, const char* text) {
    if (broken || streamLock == nullptr) return false;
    char* encoded = nullptr;
    unsigned long lengthField = 0;
    unsigned long size = 0;
    encodeMessage(code, text, &encoded, &lengthField, &size);
    OwnedFrame frame(encoded);
    if (frame == nullptr) return false;

    zrMutexLock hold(streamLock);
    const uint64_t needed = uint64_t{outLength} + size;
    if (needed + 1 > outCapacity) {
        const uint64_t limit = bufferCheck ? uint64_t{maxOutgoing} : kHardBufferLimit;
        const bool over = needed > limit;
        // A queue built from many messages is copied a bounded number of times, not once per
        // message; the limit holds with or without the spare byte.
        uint64_t wanted = GrownSize(outCapacity, needed + 1 - outCapacity, limit);
        if (wanted < needed) wanted = needed;
        unsigned long capacity = outCapacity;
        char* grown = over ? nullptr : zr_resize_buffer(outBuffer, &capacity, outLength, wanted);
        if (grown == nullptr) {
            shutdownLocally = true;
            ZRPlatform::ShutdownBoth(socketFd);
            broken = true;
            return false;
        }
        outBuffer = grown;
        outCapacity = static_cast<uint32_t>(capacity);
    }
    std::memcpy(outBuffer + outLength, frame.get(), size);
    outLength += static_cast<uint32_t>(size);
    AskForEvents(*this, __LINE__);
    return true;
}

int zrSocketStream::Write() {
    if (broken || streamLock == nullptr) return 0;
    zrMutexLock hold(streamLock);
    const uint32_t queued = outLength;
    if (queued == 0) return -1;

    const size_t attempt = queued < INT_MAX ? queued : INT_MAX;
    const long n = ZRPlatform::SendSome(socketFd, outBuffer, attempt);
    int result;
    if (n > 0) {
        std::memmove(outBuffer, outBuffer + n, queued - n);
        outLength = queued - static_cast<uint32_t>(n);
        AddToCounter(sentCounter, counterLock, n);
        result = static_cast<int>(n);
    } else if (n < 0 && ZRPlatform::LastCallWouldBlock()) {
        result = -1;
    } else {
        broken = true;
        shutdownLocally = false;
        ZRPlatform::ShutdownBoth(socketFd);
        result = 0;
    }
    AskForEvents(*this, __LINE__);
    return result;
}

bool zrSocketStream::MakeRoomToReceive() {
    const uint64_t held = inLength;
    const uint64_t needed = held + kGrowthStep;
    const uint64_t taken = static_cast<uint64_t>(inBuffer - inStorage);
    const uint64_t allocated = taken + inCapacity;
    const uint64_t limit = bufferCheck ? uint64_t{maxIncoming} : kHardBufferLimit;

    // Moving the held bytes to the front costs no more than the bytes taken out before them.
    const bool compact = allocated >= needed && taken >= held;
    uint64_t grownSize = GrownSize(allocated, kGrowthStep, limit);
    // Under a limit, a frame whose length is in gets all its room (and that of its last
    // receive) at once, so that its bytes are copied once rather than at every doubling; the
    // limit bounds what a peer can ask for.
    uint64_t frameSize = 0;
    if (bufferCheck && ScanFrame(inBuffer, held, &frameSize) == FrameStatus::kIncomplete &&
        frameSize + kGrowthStep > grownSize)
        grownSize = frameSize + kGrowthStep < limit ? frameSize + kGrowthStep : limit;
    if (!compact && grownSize >= needed && grownSize > allocated) {
        char* grown = new (std::nothrow) char[grownSize];
        if (grown == nullptr) return false;
        if (held != 0) std::memcpy(grown, inBuffer, held);
        grown[held] = '\0';
        delete[] inStorage;
        inStorage = inBuffer = grown;
        inCapacity = static_cast<uint32_t>(grownSize);
        return true;
    }
    // At the limit the held bytes move whatever they cost: the room is there.
    if (allocated < needed) return false;
    if (held != 0) std::memmove(inStorage, inBuffer, held);
    inStorage[held] = '\0';
    inBuffer = inStorage;
    inCapacity = static_cast<uint32_t>(allocated);
    return true;
}

int zrSocketStream::Read() {
    if (broken || streamLock == nullptr) return 0;
    zrMutexLock hold(streamLock);
    if (uint64_t{inLength} + kGrowthStep > inCapacity && !MakeRoomToReceive()) {
        shutdownLocally = true;
        broken = true;
        AskForTheEndOnly(*this);
        ZRPlatform::ShutdownBoth(socketFd);
        return 0;
    }
    const uint32_t held = inLength;

    const long n = ZRPlatform::ReceiveSome(socketFd, inBuffer + held, kReceiveStep);
    if (n > 0) {
        inLength = held + static_cast<uint32_t>(n);
        inBuffer[held + n] = '\0';
        AddToCounter(receivedCounter, counterLock, n);
        return static_cast<int>(n);
    }
    if (n < 0 && ZRPlatform::LastCallWouldBlock()) {
        AskForEvents(*this, __LINE__);
        return -1;
    }
    // On BSD sockets complete messages already held stay available.
    AskForTheEndOnly(*this);
    ZRPlatform::ShutdownBoth(socketFd);
    shutdownLocally = false;
    if (ZRPlatform::ReceiveFailureBreaks()) broken = true;
    return 0;
}

char* zrSocketStream::GetNextMessage() {
    if (broken || streamLock == nullptr) return nullptr;
    zrMutexLock hold(streamLock);
    const uint32_t held = inLength;
    uint64_t total = 0;
    const FrameStatus status = ScanFrame(inBuffer, held, &total);
    if (status == FrameStatus::kIncomplete) return nullptr;

    const uint64_t limit = bufferCheck ? uint64_t{maxIncoming} : UINT64_MAX;
    // Malformed frames and frames that cannot be decoded are dropped like ones that do not
    // inflate, so the stream stays in step with the sender.
    char* message =
        status == FrameStatus::kComplete ? DecodeFrame(inBuffer, total, limit, nullptr) : nullptr;

    // The rest stays where it is: moving it for every message would make a long run of
    // messages cost the square of its size. Read reclaims the space when it needs it.
    const auto rest = static_cast<uint32_t>(held - total);
    if (rest == 0) {
        inCapacity += static_cast<uint32_t>(inBuffer - inStorage);
        inBuffer = inStorage;
        inBuffer[0] = '\0';
    } else {
        inBuffer += total;
        inCapacity -= static_cast<uint32_t>(total);
    }
    inLength = rest;
    return message;
}

char zrSocketStream::GetFirstByte() {
    if (streamLock == nullptr) return 0;
    zrMutexLock hold(streamLock);
    return inLength > kFrameHeaderSize ? inBuffer[kFrameHeaderSize] : 0;
}

bool zrSocketStream::HasToWrite() {
    return outLength > 0 && !broken;
}

void zrSocketStream::ClearBuffers() {
    if (streamLock == nullptr) return;
    zrMutexLock hold(streamLock);
    inLength = 0;
    outLength = 0;
    if (inBuffer == nullptr) return;
    inCapacity += static_cast<uint32_t>(inBuffer - inStorage);
    inBuffer = inStorage;
    inBuffer[0] = '\0';
}

void zrSocketStream::GetBuffersUsage(double& incoming, double& outgoing) {
    incoming = 100.0 * inLength / maxIncoming;
    outgoing = 100.0 * outLength / maxOutgoing;
}

void zrSocketStream::Shutdown() {
    shutdownLocally = true;
    if (!ZRPlatform::DescriptorMayBeOpen(socketFd)) return;
    ZRPlatform::ShutdownBoth(socketFd);
}

int zrSocketStream::Close() {
    shutdownLocally = true;
    if (kqueueFd != -1) ZREventQueue::UnwatchDescriptor(kqueueFd, socketFd);
#ifdef _WIN32
    routingWindow = nullptr;  // CloseSocket cancels the notifications
#endif
    return CloseSocket(socketFd);
}

void zrSocketStream::UpdateHeartBeat() {
    lastHeartBeat = time(nullptr);
}

bool zrSocketStream::CheckHeartBeat(int seconds) {
    return time(nullptr) - lastHeartBeat <= seconds;
}

void zrSocketStream::SetMaxIncomingBufferSize(unsigned long size) {
    maxIncoming = ClampToU32(size);
}

void zrSocketStream::SetMaxOutgoingBufferSize(unsigned long size) {
    maxOutgoing = ClampToU32(size);
}

void zrSocketStream::SetBufferCheck(bool check) {
    bufferCheck = check;
}

}  // namespace ZRFramework
