// Fuzz target for zrSocketStream's incoming side: arbitrary bytes arrive through a socket pair in
// arbitrary chunks, under arbitrary limits; every message taken must match a plain reference
// reading of the same bytes, and the buffers must keep their invariants.
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ZRSocket.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRSocket;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

uint32_t U32At(const std::string& s, size_t at) {
    const auto* b = reinterpret_cast<const unsigned char*>(s.data() + at);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

const unsigned long kLimits[8] = {128000, 100, 6146, 6147, 10243, 30000, 4097 * 3, 0x7fffffff};

// The bytes the stream holds, read frame by frame without the stream's code.
struct Reference {
    std::string pending;
    uint64_t limit;

    // False when no whole frame is held. Otherwise the frame is consumed and *expected holds
    // its message, or *decodable is false when the stream must drop it.
    bool Step(std::string* expected, bool* decodable) {
        if (pending.size() <= 5) return false;
        const uint64_t length = U32At(pending, 1);
        if (pending.size() < length + 5) return false;
        const auto encoding = static_cast<unsigned char>(pending[0]);
        *decodable = false;
        if (length >= 1 && !(encoding == 2 && length < 5)) {
            if (encoding != 2) {
                *expected = pending.substr(5, length);
                *decodable = true;
            } else {
                const uint64_t stated = U32At(pending, 6);
                const uint64_t packed = length - 5;
                if (stated <= limit && stated <= packed * kMaxInflateRatio) {
                    std::string out(stated + 1, '\0');
                    uLongf outSize = stated;
                    if (uncompress(reinterpret_cast<Bytef*>(&out[0]), &outSize,
                                   reinterpret_cast<const Bytef*>(pending.data() + 10),
                                   packed) == Z_OK) {
                        *expected = pending.substr(5, 1) + out.substr(0, outSize);
                        *decodable = true;
                    }
                }
            }
        }
        pending.erase(0, length + 5);
        return true;
    }
};

void CheckBuffers(zrSocketStream& stream, const Reference& ref, unsigned long limit, bool check) {
    Check(stream.inLength < stream.inCapacity);
    Check(stream.inBuffer[stream.inLength] == '\0');
    Check(std::memcmp(stream.inBuffer, ref.pending.data(), stream.inLength) == 0);
    Check(stream.inLength == ref.pending.size());
    if (check) Check(stream.inCapacity <= 2049 || stream.inCapacity <= limit);
    const char head = ref.pending.size() > 5 ? ref.pending[5] : 0;
    Check(stream.GetFirstByte() == head);
}

// Takes messages the way an owner does, going on after dropped frames.
void Drain(zrSocketStream& stream, Reference& ref) {
    for (;;) {
        char* message = stream.GetNextMessage();
        std::string expected;
        bool decodable = false;
        if (!ref.Step(&expected, &decodable)) {
            Check(message == nullptr);
            return;
        }
        if (!decodable) {
            Check(message == nullptr);
            continue;
        }
        Check(message != nullptr);
        Check(std::memcmp(message, expected.data(), expected.size()) == 0);
        Check(message[expected.size()] == '\0');
        destroyEncodedMessage(message);
    }
}

struct Pair {
    int fds[2] = {-1, -1};
    Pair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds); }
    ~Pair() {
        for (int fd : fds)
            if (fd != -1) close(fd);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool check = (data[0] & 1) == 0;
    const unsigned long limit = kLimits[(data[0] >> 1) & 7];
    uint32_t chunkState = data[1] * 2654435761u + 1;
    const char* bytes = reinterpret_cast<const char*>(data) + 2;
    const size_t count = size - 2;

    Pair pair;
    if (pair.fds[0] == -1) return 0;
    zrSocketStream stream;
    stream.socketFd = pair.fds[0];
    stream.SetBufferCheck(check);
    stream.SetMaxIncomingBufferSize(limit);
    Reference ref{std::string(), check ? limit : UINT64_MAX};

    size_t offset = 0;
    while (offset < count) {
        chunkState ^= chunkState << 13;
        chunkState ^= chunkState >> 17;
        chunkState ^= chunkState << 5;
        const size_t chunk = 1 + chunkState % ((chunkState & 0x100) != 0 ? 16 : 4096);
        const size_t take = chunk < count - offset ? chunk : count - offset;
        const ssize_t sent = send(pair.fds[1], bytes + offset, take, MSG_NOSIGNAL);
        Check(sent > 0);
        ref.pending.append(bytes + offset, static_cast<size_t>(sent));
        offset += static_cast<size_t>(sent);

        int got;
        while ((got = stream.Read()) > 0) {
        }
        if (got == 0) {
            // Only the incoming limit ends the connection while the peer is open.
            Check(check && stream.broken && stream.shutdownLocally);
            Check(stream.GetNextMessage() == nullptr && stream.Read() == 0);
            return 0;
        }
        CheckBuffers(stream, ref, limit, check);
        Drain(stream, ref);
        CheckBuffers(stream, ref, limit, check);
    }

    // The peer leaves: complete messages stay available.
    close(pair.fds[1]);
    pair.fds[1] = -1;
    Check(stream.Read() == 0);
    if (stream.broken) {  // the last read still had to grow the buffer past the limit
        Check(check && stream.shutdownLocally);
        return 0;
    }
    Check(!stream.shutdownLocally);
    Drain(stream, ref);
    CheckBuffers(stream, ref, limit, check);
    return 0;
}
