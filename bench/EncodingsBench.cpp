// MD5 and Base64 throughput of ZRFramework next to OpenSSL's, at small, medium and large sizes.
// Each benchmark's argument is its input size in bytes; rates are input bytes per second.
#define OPENSSL_SUPPRESS_DEPRECATED  // MD5() is the plain one-shot baseline
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/md5.h>

#include <cstdint>
#include <random>
#include <vector>

#include "ZRBase64.h"
#include "ZRMd5.h"

namespace {

std::vector<unsigned char> RandomBytes(size_t n) {
    std::mt19937 gen(42);
    std::vector<unsigned char> v(n);
    for (auto& b : v)
        b = static_cast<unsigned char>(gen());
    return v;
}

// Base64 text of exactly n characters (n is a multiple of 4), without padding.
std::vector<char> RandomBase64(size_t n) {
    const std::vector<unsigned char> raw = RandomBytes(n / 4 * 3);
    std::vector<char> text(n + 1);
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), raw.data(),
                    static_cast<int>(raw.size()));
    text.resize(n);
    return text;
}

void SetRate(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Md5_Ours(benchmark::State& state) {
    const auto in = RandomBytes(static_cast<size_t>(state.range(0)));
    unsigned char digest[16];
    for (auto _ : state) {
        ZRFramework::ZRMd5::md5_state_s ctx;
        ZRFramework::ZRMd5::md5_init(&ctx);
        ZRFramework::ZRMd5::md5_append(&ctx, in.data(), static_cast<int>(in.size()));
        ZRFramework::ZRMd5::md5_finish(&ctx, digest);
        benchmark::DoNotOptimize(digest);
    }
    SetRate(state);
}

void BM_Md5_OpenSSL(benchmark::State& state) {
    const auto in = RandomBytes(static_cast<size_t>(state.range(0)));
    unsigned char digest[16];
    for (auto _ : state) {
        MD5(in.data(), in.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    SetRate(state);
}

void BM_Md5_OpenSSL_EVP(benchmark::State& state) {
    const auto in = RandomBytes(static_cast<size_t>(state.range(0)));
    unsigned char digest[16];
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, in.data(), in.size());
        EVP_DigestFinal_ex(ctx, digest, nullptr);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_free(md);
    EVP_MD_CTX_free(ctx);
    SetRate(state);
}

void BM_Base64Encode_Ours(benchmark::State& state) {
    const auto in = RandomBytes(static_cast<size_t>(state.range(0)));
    std::vector<char> out((in.size() + 2) / 3 * 4 + 1);
    for (auto _ : state) {
        ZRFramework::ZRBase64::Encode(reinterpret_cast<const char*>(in.data()), in.size(),
                                      out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

void BM_Base64Encode_OpenSSL(benchmark::State& state) {
    const auto in = RandomBytes(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out((in.size() + 2) / 3 * 4 + 1);
    for (auto _ : state) {
        EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(in.size()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

void BM_Base64Decode_Ours(benchmark::State& state) {
    const auto in = RandomBase64(static_cast<size_t>(state.range(0)));
    std::vector<char> out(in.size() / 4 * 3 + 3);
    for (auto _ : state) {
        unsigned long size = out.size();
        const bool ok = ZRFramework::ZRBase64::Decode(in.data(), in.size(), out.data(), &size);
        if (!ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

void BM_Base64Decode_OpenSSL(benchmark::State& state) {
    const auto in = RandomBase64(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(in.size() / 4 * 3 + 3);
    for (auto _ : state) {
        const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(in.data()),
                                      static_cast<int>(in.size()));
        if (n < 0) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    SetRate(state);
}

#define SIZES Arg(64)->Arg(4096)->Arg(1048576)
BENCHMARK(BM_Md5_Ours)->SIZES;
BENCHMARK(BM_Md5_OpenSSL)->SIZES;
BENCHMARK(BM_Md5_OpenSSL_EVP)->SIZES;
BENCHMARK(BM_Base64Encode_Ours)->SIZES;
BENCHMARK(BM_Base64Encode_OpenSSL)->SIZES;
BENCHMARK(BM_Base64Decode_Ours)->SIZES;
BENCHMARK(BM_Base64Decode_OpenSSL)->SIZES;

}  // namespace

BENCHMARK_MAIN();
