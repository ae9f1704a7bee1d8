// ZRMd5: MD5 message digests (RFC 1321) and their hexadecimal text form.
// The compression function is unrolled by hand; MD5 is latency bound, so each step keeps the
// message word and constant off the chain that runs through the chaining value.
#include "ZRMd5.h"

#include <cstddef>
#include <cstring>

namespace ZRFramework {
namespace ZRMd5 {

namespace {

inline uint32_t LoadLE32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

inline void StoreLE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

template <int S>
inline uint32_t Rotl(uint32_t v) {
    return (v << S) | (v >> (32 - S));
}

// Round 1: F(b,c,d) = (b & c) | (~b & d), written with one operation fewer.
template <int S>
inline void StepF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += ((c ^ d) & b) ^ d;
    a = Rotl<S>(a) + b;
}

// Round 2: G(b,c,d) = (b & d) | (c & ~d); the two terms share no bits, so they can be added
// separately and the part that does not depend on b leaves the critical path.
template <int S>
inline void StepG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += c & ~d;
    a += b & d;
    a = Rotl<S>(a) + b;
}

template <int S>
inline void StepH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += b ^ c ^ d;
    a = Rotl<S>(a) + b;
}

template <int S>
inline void StepI(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
    a += x + t;
    a += c ^ (b | ~d);
    a = Rotl<S>(a) + b;
}

// Runs the compression function over `blocks` consecutive 64-byte blocks read in place.
void ProcessBlocks(uint32_t abcd[4], const unsigned char* p, size_t blocks) {
    uint32_t a = abcd[0];
    uint32_t b = abcd[1];
    uint32_t c = abcd[2];
    uint32_t d = abcd[3];

    for (; blocks > 0; --blocks, p += 64) {
        const uint32_t x0 = LoadLE32(p + 0);
        const uint32_t x1 = LoadLE32(p + 4);
        const uint32_t x2 = LoadLE32(p + 8);
        const uint32_t x3 = LoadLE32(p + 12);
        const uint32_t x4 = LoadLE32(p + 16);
        const uint32_t x5 = LoadLE32(p + 20);
        const uint32_t x6 = LoadLE32(p + 24);
        const uint32_t x7 = LoadLE32(p + 28);
        const uint32_t x8 = LoadLE32(p + 32);
        const uint32_t x9 = LoadLE32(p + 36);
        const uint32_t x10 = LoadLE32(p + 40);
        const uint32_t x11 = LoadLE32(p + 44);
        const uint32_t x12 = LoadLE32(p + 48);
        const uint32_t x13 = LoadLE32(p + 52);
        const uint32_t x14 = LoadLE32(p + 56);
        const uint32_t x15 = LoadLE32(p + 60);

        const uint32_t aa = a;
        const uint32_t bb = b;
        const uint32_t cc = c;
        const uint32_t dd = d;

        StepF<7>(a, b, c, d, x0, 0xd76aa478u);
        StepF<12>(d, a, b, c, x1, 0xe8c7b756u);
        StepF<17>(c, d, a, b, x2, 0x242070dbu);
        StepF<22>(b, c, d, a, x3, 0xc1bdceeeu);
        StepF<7>(a, b, c, d, x4, 0xf57c0fafu);
        StepF<12>(d, a, b, c, x5, 0x4787c62au);
        StepF<17>(c, d, a, b, x6, 0xa8304613u);
        StepF<22>(b, c, d, a, x7, 0xfd469501u);
        StepF<7>(a, b, c, d, x8, 0x698098d8u);
        StepF<12>(d, a, b, c, x9, 0x8b44f7afu);
        StepF<17>(c, d, a, b, x10, 0xffff5bb1u);
        StepF<22>(b, c, d, a, x11, 0x895cd7beu);
        StepF<7>(a, b, c, d, x12, 0x6b901122u);
        StepF<12>(d, a, b, c, x13, 0xfd987193u);
        StepF<17>(c, d, a, b, x14, 0xa679438eu);
        StepF<22>(b, c, d, a, x15, 0x49b40821u);

        StepG<5>(a, b, c, d, x1, 0xf61e2562u);
        StepG<9>(d, a, b, c, x6, 0xc040b340u);
        StepG<14>(c, d, a, b, x11, 0x265e5a51u);
        StepG<20>(b, c, d, a, x0, 0xe9b6c7aau);
        StepG<5>(a, b, c, d, x5, 0xd62f105du);
        StepG<9>(d, a, b, c, x10, 0x02441453u);
        StepG<14>(c, d, a, b, x15, 0xd8a1e681u);
        StepG<20>(b, c, d, a, x4, 0xe7d3fbc8u);
        StepG<5>(a, b, c, d, x9, 0x21e1cde6u);
        StepG<9>(d, a, b, c, x14, 0xc33707d6u);
        StepG<14>(c, d, a, b, x3, 0xf4d50d87u);
        StepG<20>(b, c, d, a, x8, 0x455a14edu);
        StepG<5>(a, b, c, d, x13, 0xa9e3e905u);
        StepG<9>(d, a, b, c, x2, 0xfcefa3f8u);
        StepG<14>(c, d, a, b, x7, 0x676f02d9u);
        StepG<20>(b, c, d, a, x12, 0x8d2a4c8au);

        StepH<4>(a, b, c, d, x5, 0xfffa3942u);
        StepH<11>(d, a, b, c, x8, 0x8771f681u);
        StepH<16>(c, d, a, b, x11, 0x6d9d6122u);
        StepH<23>(b, c, d, a, x14, 0xfde5380cu);
        StepH<4>(a, b, c, d, x1, 0xa4beea44u);
        StepH<11>(d, a, b, c, x4, 0x4bdecfa9u);
        StepH<16>(c, d, a, b, x7, 0xf6bb4b60u);
        StepH<23>(b, c, d, a, x10, 0xbebfbc70u);
        StepH<4>(a, b, c, d, x13, 0x289b7ec6u);
        StepH<11>(d, a, b, c, x0, 0xeaa127fau);
        StepH<16>(c, d, a, b, x3, 0xd4ef3085u);
        StepH<23>(b, c, d, a, x6, 0x04881d05u);
        StepH<4>(a, b, c, d, x9, 0xd9d4d039u);
        StepH<11>(d, a, b, c, x12, 0xe6db99e5u);
        StepH<16>(c, d, a, b, x15, 0x1fa27cf8u);
        StepH<23>(b, c, d, a, x2, 0xc4ac5665u);

        StepI<6>(a, b, c, d, x0, 0xf4292244u);
        StepI<10>(d, a, b, c, x7, 0x432aff97u);
        StepI<15>(c, d, a, b, x14, 0xab9423a7u);
        StepI<21>(b, c, d, a, x5, 0xfc93a039u);
        StepI<6>(a, b, c, d, x12, 0x655b59c3u);
        StepI<10>(d, a, b, c, x3, 0x8f0ccc92u);
        StepI<15>(c, d, a, b, x10, 0xffeff47du);
        StepI<21>(b, c, d, a, x1, 0x85845dd1u);
        StepI<6>(a, b, c, d, x8, 0x6fa87e4fu);
        StepI<10>(d, a, b, c, x15, 0xfe2ce6e0u);
        StepI<15>(c, d, a, b, x6, 0xa3014314u);
        StepI<21>(b, c, d, a, x13, 0x4e0811a1u);
        StepI<6>(a, b, c, d, x4, 0xf7537e82u);
        StepI<10>(d, a, b, c, x11, 0xbd3af235u);
        StepI<15>(c, d, a, b, x2, 0x2ad7d2bbu);
        StepI<21>(b, c, d, a, x9, 0xeb86d391u);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }

    abcd[0] = a;
    abcd[1] = b;
    abcd[2] = c;
    abcd[3] = d;
}

inline size_t BufferedBytes(const md5_state_s* state) {
    return (state->count[0] >> 3) & 63u;
}

}  // namespace

void md5_init(md5_state_s* state) {
    state->count[0] = 0;
    state->count[1] = 0;
    state->abcd[0] = 0x67452301u;
    state->abcd[1] = 0xefcdab89u;
    state->abcd[2] = 0x98badcfeu;
    state->abcd[3] = 0x10325476u;
}

void md5_append(md5_state_s* state, const unsigned char* data, int nbytes) {
    if (nbytes < 1) return;
    size_t left = static_cast<size_t>(nbytes);
    size_t used = BufferedBytes(state);

    // The bit count is taken modulo 2^64, as the padding records it.
    uint64_t bits = (static_cast<uint64_t>(state->count[1]) << 32) | state->count[0];
    bits += static_cast<uint64_t>(left) << 3;
    state->count[0] = static_cast<uint32_t>(bits);
    state->count[1] = static_cast<uint32_t>(bits >> 32);

    if (used != 0) {
        const size_t take = left < 64 - used ? left : 64 - used;
        std::memcpy(state->buf + used, data, take);
        data += take;
        left -= take;
        if (used + take < 64) return;
        ProcessBlocks(state->abcd, state->buf, 1);
    }

    const size_t blocks = left / 64;
    if (blocks != 0) {
        ProcessBlocks(state->abcd, data, blocks);
        data += blocks * 64;
        left -= blocks * 64;
    }
    if (left != 0) std::memcpy(state->buf, data, left);
}

void md5_finish(md5_state_s* state, unsigned char digest[16]) {
    unsigned char length[8];
    StoreLE32(length, state->count[0]);
    StoreLE32(length + 4, state->count[1]);

    size_t used = BufferedBytes(state);
    state->buf[used++] = 0x80;
    if (used > 56) {
        std::memset(state->buf + used, 0, 64 - used);
        ProcessBlocks(state->abcd, state->buf, 1);
        used = 0;
    }
    std::memset(state->buf + used, 0, 56 - used);
    std::memcpy(state->buf + 56, length, 8);
    ProcessBlocks(state->abcd, state->buf, 1);

    for (int i = 0; i < 4; ++i)
        StoreLE32(digest + 4 * i, state->abcd[i]);
}

void md5_process(md5_state_s* state, const unsigned char* block) {
    ProcessBlocks(state->abcd, block, 1);
}

void md5_string(unsigned char* digest, char* out) {
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 0x0f];
    }
    out[32] = '\0';
}

}  // namespace ZRMd5
}  // namespace ZRFramework
