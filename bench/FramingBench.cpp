// Frame encoding plus decoding (encodeMessage, then the DecodeFrame that GetNextMessage uses)
// next to raw zlib compress/uncompress of the same texts, and the cost of plain frames; then
// large frames and long queues pushed through a pair of zrSocketStreams.
// The codec benchmarks' argument is the text size in bytes; rates are text bytes per second.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <errno.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ZRSocket.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRSocket;

namespace {

// Lines like the records of a job listing: compressible, as real traffic is.
std::string JobRecords(size_t size) {
    std::mt19937 gen(7);
    const char* status[] = {"Rendering", "Queued", "Finished", "Suspended", "Failed"};
    std::string s;
    for (int i = 0; s.size() < size; ++i) {
        s += "job" + std::to_string(100000 + gen() % 900000) + "\tshot_" +
             std::to_string(gen() % 400) + "_lighting_v" + std::to_string(gen() % 30) + "\t" +
             status[gen() % 5] + "\t" + std::to_string(gen() % 101) + "%\tnode-" +
             std::to_string(gen() % 64) + "\tuser" + std::to_string(gen() % 20) + "\t" +
             std::to_string(1700000000 + gen() % 10000000) + "\n";
    }
    s.resize(size);
    return s;
}

// Random printable characters: deflate's Huffman stage still shrinks them to about 82 %.
std::string RandomPrintable(size_t size) {
    std::mt19937 gen(11);
    std::string s(size, ' ');
    for (auto& c : s)
        c = static_cast<char>(32 + gen() % 95);
    return s;
}

// Random bytes without NUL: nothing shrinks them, so frames stay plain after the attempt.
std::string RandomBytes(size_t size) {
    std::mt19937 gen(13);
    std::string s(size, 'x');
    for (auto& c : s)
        c = static_cast<char>(1 + gen() % 255);
    return s;
}

using TextMaker = std::string (*)(size_t);

void SetRate(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void RoundTrip(benchmark::State& state, TextMaker make, bool compressionOffered) {
    const std::string text = make(static_cast<size_t>(state.range(0)));
    char* frame = nullptr;
    unsigned long length = 0;
    unsigned long size = 0;
    for (auto _ : state) {
        if (compressionOffered)
            encodeMessage("J", text.c_str(), &frame, &length, &size);
        else
            EncodePlainMessage("J", text.c_str(), &frame, &length, &size);
        char* message = DecodeFrame(frame, size, UINT64_MAX, nullptr);
        if (message == nullptr) state.SkipWithError("frame did not decode");
        benchmark::DoNotOptimize(message);
        destroyEncodedMessage(message);
        destroyEncodedMessage(frame);
    }
    // One more frame, to report which encoding the text got and how large its frame is.
    if (compressionOffered)
        encodeMessage("J", text.c_str(), &frame, &length, &size);
    else
        EncodePlainMessage("J", text.c_str(), &frame, &length, &size);
    state.counters["encoding"] = frame[0];
    state.counters["frame%"] = 100.0 * static_cast<double>(size) / static_cast<double>(text.size());
    destroyEncodedMessage(frame);
    SetRate(state);
}

// The least zlib itself needs for the same work: compress into, and uncompress out of,
// buffers allocated once.
void RawZlib(benchmark::State& state, TextMaker make) {
    const std::string text = make(static_cast<size_t>(state.range(0)));
    std::vector<Bytef> packed(compressBound(text.size()));
    std::vector<Bytef> out(text.size());
    for (auto _ : state) {
        uLongf packedSize = packed.size();
        if (compress(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(text.data()),
                     text.size()) != Z_OK)
            state.SkipWithError("compress failed");
        uLongf outSize = out.size();
        if (uncompress(out.data(), &outSize, packed.data(), packedSize) != Z_OK)
            state.SkipWithError("uncompress failed");
        benchmark::DoNotOptimize(out.data());
    }
    SetRate(state);
}

// What an incompressible text costs before it goes plain: the compress attempt alone.
void RawCompressAttempt(benchmark::State& state, TextMaker make) {
    const std::string text = make(static_cast<size_t>(state.range(0)));
    std::vector<Bytef> scratch(text.size() + text.size() / 100 + 12);
    for (auto _ : state) {
        uLongf size = scratch.size();
        benchmark::DoNotOptimize(compress(
            scratch.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size()));
    }
    SetRate(state);
}

void BM_Frames_JobRecords(benchmark::State& state) {
    RoundTrip(state, JobRecords, true);
}
void BM_RawZlib_JobRecords(benchmark::State& state) {
    RawZlib(state, JobRecords);
}
void BM_Frames_Printable(benchmark::State& state) {
    RoundTrip(state, RandomPrintable, true);
}
void BM_RawZlib_Printable(benchmark::State& state) {
    RawZlib(state, RandomPrintable);
}
void BM_Frames_Incompressible(benchmark::State& state) {
    RoundTrip(state, RandomBytes, true);
}
void BM_RawCompressAttempt_Incompressible(benchmark::State& state) {
    RawCompressAttempt(state, RandomBytes);
}
void BM_PlainFrames_Printable(benchmark::State& state) {
    RoundTrip(state, RandomPrintable, false);
}

#define SIZES Arg(100)->Arg(4096)->Arg(65536)
#define STATS Repetitions(5)->ReportAggregatesOnly(true)

BENCHMARK(BM_Frames_JobRecords)->SIZES->STATS;
BENCHMARK(BM_RawZlib_JobRecords)->SIZES->STATS;
BENCHMARK(BM_Frames_Printable)->Arg(65536)->STATS;
BENCHMARK(BM_RawZlib_Printable)->Arg(65536)->STATS;
BENCHMARK(BM_Frames_Incompressible)->Arg(65536)->STATS;
BENCHMARK(BM_RawCompressAttempt_Incompressible)->Arg(65536)->STATS;
BENCHMARK(BM_PlainFrames_Printable)->SIZES->STATS;

// ---- Stream pairs ----

enum Transport : int64_t { kLocalPair = 0, kLoopbackTcp = 1 };

// Two connected non-blocking sockets: a local socket pair or a loopback TCP connection.
struct Link {
    int sender = -1;
    int receiver = -1;

    explicit Link(int64_t transport) {
        int fds[2] = {-1, -1};
        if (transport == kLocalPair) {
            socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        } else {
            const int listener = CreateSocket(0);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t size = sizeof at;
            if (bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                !ListenSocket(listener) &&
                getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size) == 0) {
                fds[0] = CreateSocket(0);
                if (ConnectSocket(fds[0], "127.0.0.1", ntohs(at.sin_port)))
                    fds[1] = AcceptSocket(listener, nullptr, nullptr);
            }
            close(listener);
        }
        sender = fds[0];
        receiver = fds[1];
        SetBlockStatus(sender, false);
        SetBlockStatus(receiver, false);
    }
    ~Link() {
        if (sender != -1) close(sender);
        if (receiver != -1) close(receiver);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    bool Ok() const { return sender != -1 && receiver != -1; }
};

// One event loop driving both ends: `write` sends what it can (false on failure) and `pending`
// tells whether it has more; the receiver reads once, takes every complete message, and again
// until the socket is empty. Ends when `expected` messages came; the sum of their text lengths
// goes to *textBytes.
template <typename Write, typename Pending>
bool Pump(Write write, Pending pending, int senderFd, zrSocketStream& in, size_t expected,
          uint64_t* textBytes) {
    size_t got = 0;
    *textBytes = 0;
    while (got < expected) {
        if (pending() && !write()) return false;
        int n;
        while ((n = in.Read()) > 0) {
            for (char* m; (m = in.GetNextMessage()) != nullptr; ++got) {
                *textBytes += std::strlen(m + 1);
                destroyEncodedMessage(m);
            }
        }
        if (n == 0) return false;
        if (got == expected) break;
        pollfd ends[2] = {{in.socketFd, POLLIN, 0}, {senderFd, POLLOUT, 0}};
        if (poll(ends, pending() ? 2 : 1, 5000) <= 0) return false;
    }
    return true;
}

bool PumpStreams(zrSocketStream& out, zrSocketStream& in, size_t expected, uint64_t* textBytes) {
    return Pump([&out] { return out.Write() != 0; }, [&out] { return out.HasToWrite(); },
                out.socketFd, in, expected, textBytes);
}

// Fresh streams for every run, so that growing their buffers is part of what is measured.
struct Ends {
    zrSocketStream out;
    zrSocketStream in;
    Ends(const Link& link, uint64_t limit) {
        out.socketFd = link.sender;
        in.socketFd = link.receiver;
        out.SetMaxOutgoingBufferSize(limit);
        in.SetMaxIncomingBufferSize(limit);
    }
};

// One large incompressible message (plain on the wire after the compression attempt) through
// AddMessage, Write, Read and GetNextMessage. Arguments: text bytes, transport.
void BM_StreamPair_LargeFrame(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    const std::string text = RandomBytes(size);
    Link link(state.range(1));
    if (!link.Ok()) state.SkipWithError("no connection");
    for (auto _ : state) {
        Ends ends(link, 2 * size);
        uint64_t received = 0;
        if (!ends.out.AddMessage("J", text.c_str()) ||
            !PumpStreams(ends.out, ends.in, 1, &received) || received != size) {
            state.SkipWithError("the message did not come through");
            break;
        }
    }
    SetRate(state);
}

// The receiving side alone: a plain frame sent raw, taken by Read and GetNextMessage.
void BM_StreamReceive_LargeFrame(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    const std::string text = RandomBytes(size);
    char* frame = nullptr;
    unsigned long length = 0;
    unsigned long frameSize = 0;
    EncodePlainMessage("J", text.c_str(), &frame, &length, &frameSize);
    Link link(state.range(1));
    if (!link.Ok() || frame == nullptr) state.SkipWithError("no connection or frame");
    for (auto _ : state) {
        zrSocketStream in;
        in.socketFd = link.receiver;
        in.SetMaxIncomingBufferSize(2 * size);
        size_t sent = 0;
        auto write = [&] {
            const ssize_t n = send(link.sender, frame + sent, frameSize - sent, MSG_NOSIGNAL);
            if (n > 0) sent += static_cast<size_t>(n);
            return n > 0 || errno == EAGAIN;
        };
        uint64_t received = 0;
        if (!Pump(
                write, [&] { return sent < frameSize; }, link.sender, in, 1, &received) ||
            received != size) {
            state.SkipWithError("the message did not come through");
            break;
        }
    }
    destroyEncodedMessage(frame);
    SetRate(state);
}

// A 1 MiB message followed by many short ones, all queued before the first is sent.
// Argument: the number of short messages.
void BM_StreamPair_Backlog(benchmark::State& state) {
    const std::string large = RandomBytes(1 << 20);
    const auto count = static_cast<size_t>(state.range(0));
    std::vector<std::string> shorts;
    uint64_t total = large.size();
    for (size_t i = 0; i < count; ++i) {
        shorts.push_back("m" + std::to_string(i));
        total += shorts.back().size();
    }
    Link link(kLoopbackTcp);
    if (!link.Ok()) state.SkipWithError("no connection");
    for (auto _ : state) {
        Ends ends(link, 2 * (large.size() + 16 * count));
        bool queued = ends.out.AddMessage("L", large.c_str());
        for (const std::string& s : shorts)
            queued = queued && ends.out.AddMessage("s", s.c_str());
        uint64_t received = 0;
        if (!queued || !PumpStreams(ends.out, ends.in, count + 1, &received) || received != total) {
            state.SkipWithError("the messages did not come through");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(count + 1));
}

#define LARGE_FRAMES                     \
    ArgNames({"bytes", "tcp"})           \
        ->Args({4 << 20, kLoopbackTcp})  \
        ->Args({40 << 20, kLoopbackTcp}) \
        ->Args({4 << 20, kLocalPair})    \
        ->Args({40 << 20, kLocalPair})   \
        ->Unit(benchmark::kMillisecond)  \
        ->UseRealTime()                  \
        ->Repetitions(3)                 \
        ->ReportAggregatesOnly(true)

BENCHMARK(BM_StreamPair_LargeFrame)->LARGE_FRAMES;
BENCHMARK(BM_StreamReceive_LargeFrame)->LARGE_FRAMES;
BENCHMARK(BM_StreamPair_Backlog)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    // glibc moves its mmap threshold as large blocks come and go, which would hand one frame size
    // recycled memory and another fresh pages; fixed, every large buffer starts on fresh pages.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
