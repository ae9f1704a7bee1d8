// The Dispatcher connection: blocking frame I/O on a plain socket, login and status.
#include "Connection.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CommandLine.h"
#include "ConsoleOutput.h"
#include "PayloadText.h"
#include "Payloads.h"
#include "ToolSocket.h"
#include "ZRRuntime.h"
#include "ZRSocket.h"

using namespace ZRFramework;

zdSocketHandle s = kNoSocket;
char* rcvbuf = nullptr;
uint32_t rcvbuf_size = 0;
uint32_t rcvbuf_bytesin = 0;
char* rcvargs = nullptr;
uint32_t rcvargs_size = 0;
char message[2];
int protocol_version = 0;
std::string dispatcher_version;
int selectionLogic = 0;

namespace {

constexpr uint32_t kBufferSize = 4096;
constexpr uint32_t kHeaderSize = ZRSocket::kFrameHeaderSize;  // encoding byte and length field

char* resized(char* buffer, uint32_t oldSize, uint32_t newSize) {
    char* grown = static_cast<char*>(std::calloc(newSize, 1));
    if (!grown) {
        zdError("\nOut of memory.\n");
        std::exit(-1);
    }
    if (buffer) std::memcpy(grown, buffer, oldSize < newSize ? oldSize : newSize);
    std::free(buffer);
    return grown;
}

bool malformed() {
    zdError("\nMalformed frame from the Dispatcher.\n");
    return false;
}

// Frames the tool cannot honour end the run like a receive failure.
bool refuse(const char* what, uint64_t size) {
    zdError("\nRefusing %s of %llu bytes from the Dispatcher (limit %u).\n", what,
            static_cast<unsigned long long>(size), kMaxFrameBytes - 1);
    return false;
}

bool timedOut() {
    zdError("\nThe Dispatcher did not answer within %d second%s.\n", nTimeout,
            nTimeout == 1 ? "" : "s");
    return false;
}

// A send that timed out leaves half a frame on the wire: the connection is unusable, and the
// next receive (or the end of the run) reports it.
enum class SendState { kOk, kTimedOut, kReported };
SendState sendState = SendState::kOk;

bool reportSendTimeout() {
    if (sendState == SendState::kTimedOut) timedOut();
    sendState = SendState::kReported;
    return false;
}

// Waits until the socket is ready; false when nTimeout seconds pass first.
bool waitForSocket(bool writable) {
    int millis = nTimeout <= 0 ? -1 : nTimeout > INT_MAX / 1000 ? INT_MAX : nTimeout * 1000;
    return waitSocket(s, writable, millis);  // an error or hang-up shows in the call that follows
}

// Buffers grow at least twofold, so a large frame costs time linear in its size.
uint32_t grownSize(uint32_t current, uint64_t needed) {
    constexpr uint64_t kCeiling = uint64_t(kMaxFrameBytes) + kHeaderSize + kBufferSize + 1;
    uint64_t doubled = std::min<uint64_t>(uint64_t(current) * 2, kCeiling);
    return static_cast<uint32_t>(std::max(needed, doubled));
}

// Decodes the complete frame at the head of rcvbuf into `message` and `rcvargs`.
bool decodeFrame(uint32_t length) {
    const uint64_t frameSize = uint64_t(length) + kHeaderSize;
    constexpr uint64_t kMaxText = kMaxFrameBytes - 1;
    unsigned char code = 0;
    uint64_t textLength = 0;
    ZRSocket::DecodeStatus status = ZRSocket::DecodeFrameText(rcvbuf, frameSize, kMaxText, rcvargs,
                                                              rcvargs_size, &code, &textLength);
    if (status == ZRSocket::DecodeStatus::kNoRoom) {
        ResizeParamBuf(grownSize(rcvargs_size, textLength + 1));
        status = ZRSocket::DecodeFrameText(rcvbuf, frameSize, kMaxText, rcvargs, rcvargs_size,
                                           &code, &textLength);
    }
    message[0] = static_cast<char>(code);
    message[1] = '\0';
    switch (status) {
        case ZRSocket::DecodeStatus::kDecoded:
            return true;
        case ZRSocket::DecodeStatus::kTooLong:
            if (textLength > kMaxText) return refuse("a message inflating to a text", textLength);
            // Within the limit but more than its compressed body can hold: it cannot inflate.
            [[fallthrough]];
        case ZRSocket::DecodeStatus::kNotInflated:
            zdError("\nA compressed message from the Dispatcher could not be inflated.\n");
            return false;
        default:
            return malformed();
    }
}

}  // namespace

void allocateBuffers() {
    rcvbuf = resized(nullptr, 0, kBufferSize);
    rcvbuf_size = kBufferSize;
    rcvbuf_bytesin = 0;
    rcvargs = resized(nullptr, 0, kBufferSize);
    rcvargs_size = kBufferSize;
}

void releaseBuffers() {
    std::free(rcvbuf);
    std::free(rcvargs);
    rcvbuf = rcvargs = nullptr;
    rcvbuf_size = rcvargs_size = rcvbuf_bytesin = 0;
}

void ResizeRcvBuf(uint32_t newSize) {
    rcvbuf = resized(rcvbuf, rcvbuf_size, newSize);
    rcvbuf_size = newSize;
}

void ResizeParamBuf(uint32_t newSize) {
    rcvargs = resized(rcvargs, rcvargs_size, newSize);
    rcvargs_size = newSize;
}

namespace {

std::string outgoing;  // queued frames, back to back

void appendFrame(unsigned char code, const char* text, size_t n) {
    // Only memory running out, or a text of 4 GiB, leaves a frame unbuilt: the run cannot go on.
    if (!ZRSocket::AppendFrame(outgoing, code, text, n, false)) {
        zdError("\nOut of memory.\n");
        std::exit(-1);
    }
}

}  // namespace

void queueMsg(unsigned char code, const std::string& text) {
    appendFrame(code, text.data(), text.size());
}

void flushMsgs() {
    size_t sent = 0;
    while (sent < outgoing.size() && sendState == SendState::kOk) {
        zdSocketResult result;
        long r = sendSome(s, outgoing.data() + sent, outgoing.size() - sent, result);
        if (r > 0) {
            sent += static_cast<size_t>(r);
        } else if (result == zdSocketResult::kWouldBlock) {
            if (!waitForSocket(true)) sendState = SendState::kTimedOut;
        } else if (result != zdSocketResult::kInterrupted) {
            break;
        }
    }
    outgoing.clear();
}

void sendMsg(const char* code, const char* text) {
    appendFrame(code ? static_cast<unsigned char>(code[0]) : 0, text ? text : "",
                text ? std::strlen(text) : 0);
    flushMsgs();
}

void sendMsg(unsigned char code, const std::string& text) {
    queueMsg(code, text);
    flushMsgs();
}

bool getNextMsg() {
    uint32_t length = 0;
    for (;;) {
        if (ZRSocket::GetFrameLength(rcvbuf, rcvbuf_bytesin, &length)) {
            if (length == 0) return malformed();
            if (length >= kMaxFrameBytes) return refuse("a frame", length);
            if (rcvbuf_bytesin - kHeaderSize >= length) break;
        }
        flushMsgs();  // what the Dispatcher may be waiting for goes out before we wait
        if (sendState != SendState::kOk) return reportSendTimeout();
        // Read the rest of a large frame at once, but little beyond it: what follows the frame
        // is moved down when the frame is taken.
        uint64_t wanted = kBufferSize;
        if (rcvbuf_bytesin >= kHeaderSize) {
            wanted = std::max<uint64_t>(wanted, uint64_t(length) + kHeaderSize - rcvbuf_bytesin);
        }
        if (rcvbuf_bytesin + wanted >= rcvbuf_size) {
            ResizeRcvBuf(grownSize(rcvbuf_size, rcvbuf_bytesin + wanted + 1));
        }
        zdSocketResult result;
        long r = receiveSome(s, rcvbuf + rcvbuf_bytesin, static_cast<size_t>(wanted), result);
        if (result == zdSocketResult::kInterrupted) continue;
        if (result == zdSocketResult::kWouldBlock) {
            if (!waitForSocket(false)) return timedOut();
            continue;
        }
        if (r == 0 && rcvbuf_bytesin > 0) {
            zdError("\nThe Dispatcher closed the connection in the middle of a message.\n");
        }
        if (r <= 0) return false;
        rcvbuf_bytesin += static_cast<uint32_t>(r);
        rcvbuf[rcvbuf_bytesin] = '\0';
    }
    if (!decodeFrame(length)) return false;
    uint32_t frameSize = length + kHeaderSize;
    rcvbuf_bytesin -= frameSize;
    std::memmove(rcvbuf, rcvbuf + frameSize, rcvbuf_bytesin);
    rcvbuf[rcvbuf_bytesin] = '\0';
    return true;
}

bool receiveMsg() {
    if (getNextMsg()) return true;
    std::fflush(stdout);  // what was printed comes before the failure
    zdError("Socket error while communicating with the Dispatcher.\n");
    return false;
}

bool waitForMsg(unsigned char code) {
    do {
        if (!receiveMsg()) return false;
    } while (static_cast<unsigned char>(message[0]) != code);
    return true;
}

std::string getstringline(const char* text, int lineNumber) {
    if (!text || lineNumber <= 0) return std::string();
    const char* line = text;
    for (int i = 1; i < lineNumber; ++i) {
        line = std::strchr(line, '\n');
        if (!line) return std::string();
        ++line;
    }
    const char* end = std::strchr(line, '\n');
    return end ? std::string(line, end) : std::string(line);
}

namespace {

// Connects without blocking, so the attempt is bounded by nTimeout; the socket stays
// non-blocking and every later wait goes through waitForSocket.
bool connectWithin(uint32_t address) {
    const int started = startConnect(s, address, static_cast<uint16_t>(nPort));
    if (started != 0) return started == 1;
    if (!waitForSocket(true)) return timedOut();
    return connectSucceeded(s);
}

}  // namespace

bool connectToDispatcher() {
    s = openDispatcherSocket();
    _zdprintf(1, "\n");
    _zdprintf(3, "Connecting to %s", server);
    uint32_t address = 0;
    std::string dotted;
    if (s == kNoSocket || !resolveHost(server, address, dotted)) {
        _zdprintf(3, "\n");
        zdError("Cannot resolve host name %s.\n", server);
        closeConnection();
        return false;
    }
    _zdprintf(3, "(%s)\n", dotted.c_str());
    if (!connectWithin(address)) {
        zdError("Unable to connect to %s:%d.\n", server, nPort);
        closeConnection();
        return false;
    }
    _zdprintf(3, "OK\n");
    return true;
}

bool loginToDispatcher() {
    _zdprintf(3, "Authenticating...\n");
    std::string host;
    GetHostName(host);
    const std::string encoded = zdProtocol::EncodeBase64(password);
    sendMsg(zdCode::kLogin,
            zdProtocol::BuildLogin({host, username, encoded, zdProtocol::kClientKind}));
    if (!waitForMsg(zdCode::kLoginResult)) {
        closeConnection();
        return false;
    }
    switch (zdProtocol::ParseNumberReply(rcvargs)) {
        case zdProtocol::LoginResult::kUser:
            _zdprintf(3, "Login succesfully.\n");
            break;
        case zdProtocol::LoginResult::kGuest:
            _zdprintf(3, "Logged as guest.\n");
            break;
        case zdProtocol::LoginResult::kDenied:
            zdError("Login to Dispatcher denied.\n");
            closeConnection();
            return false;
        default:
            break;
    }
    return true;
}

bool requestStatus(bool apply) {
    if (apply) _zdprintf(3, "Requesting status...\n");
    sendMsg(zdCode::kStatusRequest, std::string());
    if (!waitForMsg(zdCode::kStatus)) {
        closeConnection();
        return false;
    }
    if (!apply) return true;
    const zdProtocol::StatusPayload status = zdProtocol::ParseStatus(rcvargs);
    protocol_version = static_cast<int>(status.protocolVersion);
    dispatcher_version = std::string(status.version) + " - Build " + std::string(status.build);
    selectionLogic = static_cast<int>(status.selectionLogic);
    if (protocol_version != kProtocolVersion) {
        _zdprintf(1, "\n### Protocol version Mismatch. Expecting %d, received %d!\n\n",
                  kProtocolVersion, protocol_version);
    }
    return true;
}

bool connectionFinishedCleanly() {
    if (sendState != SendState::kTimedOut) return true;
    reportSendTimeout();
    zdError("Socket error while communicating with the Dispatcher.\n");
    return false;
}

void closeConnection() {
    closeSocket(s);
    s = kNoSocket;
    sendState = SendState::kOk;
    outgoing.clear();
}
