// Frame encoding plus decoding (encodeMessage, then the DecodeFrame that GetNextMessage uses)
// next to raw zlib compress/uncompress of the same texts, and the cost of plain frames.
// Each benchmark's argument is the text size in bytes; rates are text bytes per second.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ZRSocket.h"

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

}  // namespace

BENCHMARK_MAIN();
