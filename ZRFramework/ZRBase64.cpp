// ZRBase64: Base64 (RFC 4648 alphabet, no line breaks) with strict decoding.
// Whole groups go through lookup tables; the final group and every error take the strict path.
#include "ZRBase64.h"

#include <cstdint>
#include <cstring>

namespace ZRFramework {
namespace ZRBase64 {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kPad = '=';

// Two output characters for every 12-bit value, so a group of 3 bytes costs two lookups.
struct PairTable {
    char pair[4096][2];
};

constexpr PairTable MakePairTable() {
    PairTable t{};
    for (int v = 0; v < 4096; ++v) {
        t.pair[v][0] = kAlphabet[v >> 6];
        t.pair[v][1] = kAlphabet[v & 63];
    }
    return t;
}

// value: the 6-bit value of each byte, or -1 outside the alphabet.
// shifted[k]: that value already placed at position k of a 24-bit group; bytes outside the
// alphabet set bits above the group, so one test per group finds any of them.
constexpr uint32_t kInvalidBits = 0xff000000u;

struct DecodeTables {
    int8_t value[256];
    uint32_t shifted[4][256];
};

constexpr DecodeTables MakeDecodeTables() {
    DecodeTables t{};
    for (int c = 0; c < 256; ++c) {
        t.value[c] = -1;
        for (int k = 0; k < 4; ++k)
            t.shifted[k][c] = kInvalidBits;
    }
    for (int v = 0; v < 64; ++v) {
        const unsigned char c = static_cast<unsigned char>(kAlphabet[v]);
        t.value[c] = static_cast<int8_t>(v);
        for (int k = 0; k < 4; ++k)
            t.shifted[k][c] = static_cast<uint32_t>(v) << (18 - 6 * k);
    }
    return t;
}

constexpr PairTable kPairs = MakePairTable();
constexpr DecodeTables kDecode = MakeDecodeTables();

inline uint64_t LoadBE64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline void StoreBE64(char* p, uint64_t v) {
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    std::memcpy(p, &v, sizeof v);
}

inline void StoreBE32(char* p, uint32_t v) {
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    std::memcpy(p, &v, sizeof v);
}

inline void PutPair(char* out, uint32_t twelveBits) {
    std::memcpy(out, kPairs.pair[twelveBits], 2);
}

// The four characters of one group of 1 to 3 bytes, padded with '='.
void EncodeGroup(const unsigned char* in, unsigned long n, char group[4]) {
    const uint32_t b0 = in[0];
    const uint32_t b1 = n > 1 ? in[1] : 0;
    const uint32_t b2 = n > 2 ? in[2] : 0;
    const uint32_t v = (b0 << 16) | (b1 << 8) | b2;
    group[0] = kAlphabet[v >> 18];
    group[1] = kAlphabet[(v >> 12) & 63];
    group[2] = n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    group[3] = n > 2 ? kAlphabet[v & 63] : '=';
}

inline uint32_t CombineGroup(const unsigned char* s) {
    return kDecode.shifted[0][s[0]] | kDecode.shifted[1][s[1]] | kDecode.shifted[2][s[2]] |
           kDecode.shifted[3][s[3]];
}

// Bytes beyond the capacity are dropped while the input is still checked to its end.
class Output {
public:
    Output(char* out, unsigned long capacity, unsigned long written)
        : out_(out), capacity_(capacity), written_(written) {}
    void Put(uint32_t byte) {
        if (written_ < capacity_) out_[written_++] = static_cast<char>(byte);
    }
    unsigned long Written() const { return written_; }

private:
    char* out_;
    unsigned long capacity_;
    unsigned long written_;
};

// Decodes in[pos..length) by the exact rules, one character at a time.
bool DecodeStrict(const unsigned char* in, unsigned long length, unsigned long pos, Output& out) {
    const int8_t* value = kDecode.value;
    while (length - pos >= 2) {
        const unsigned long left = length - pos;
        const int v0 = value[in[pos]];
        const int v1 = value[in[pos + 1]];
        if (v0 < 0 || v1 < 0) return false;
        out.Put(static_cast<uint32_t>((v0 << 2) | (v1 >> 4)) & 0xffu);
        if (left < 3) return false;

        // Padding belongs only to a final group of exactly four characters.
        if (in[pos + 2] == kPad) return left == 4 && in[pos + 3] == kPad;
        const int v2 = value[in[pos + 2]];
        if (v2 < 0) return false;
        out.Put(static_cast<uint32_t>((v1 << 4) | (v2 >> 2)) & 0xffu);
        if (left < 4) return false;

        if (in[pos + 3] == kPad) return left == 4;
        const int v3 = value[in[pos + 3]];
        if (v3 < 0) return false;
        out.Put(static_cast<uint32_t>((v2 << 6) | v3) & 0xffu);
        pos += 4;
    }
    return pos == length;
}

}  // namespace

bool isbase64(char c) {
    return kDecode.value[static_cast<unsigned char>(c)] >= 0;
}

void Encode(const char* in, unsigned long inLength, char* out, unsigned long outSize) {
    const unsigned char* src = reinterpret_cast<const unsigned char*>(in);
    const unsigned long groups = inLength / 3;
    const unsigned long roomFor = outSize / 4;
    const unsigned long whole = groups < roomFor ? groups : roomFor;
    unsigned long g = 0;

    // Four groups per round from two 8-byte loads; the second load ends 14 bytes in.
    while (whole - g >= 4 && inLength - 3 * g >= 14) {
        const unsigned char* s = src + 3 * g;
        char* d = out + 4 * g;
        const uint64_t v = LoadBE64(s);
        const uint64_t w = LoadBE64(s + 6);
        PutPair(d, static_cast<uint32_t>(v >> 52));
        PutPair(d + 2, static_cast<uint32_t>(v >> 40) & 0xfffu);
        PutPair(d + 4, static_cast<uint32_t>(v >> 28) & 0xfffu);
        PutPair(d + 6, static_cast<uint32_t>(v >> 16) & 0xfffu);
        PutPair(d + 8, static_cast<uint32_t>(w >> 52));
        PutPair(d + 10, static_cast<uint32_t>(w >> 40) & 0xfffu);
        PutPair(d + 12, static_cast<uint32_t>(w >> 28) & 0xfffu);
        PutPair(d + 14, static_cast<uint32_t>(w >> 16) & 0xfffu);
        g += 4;
    }
    for (; g < whole; ++g) {
        const unsigned char* s = src + 3 * g;
        const uint32_t v = (uint32_t{s[0]} << 16) | (uint32_t{s[1]} << 8) | s[2];
        PutPair(out + 4 * g, v >> 12);
        PutPair(out + 4 * g + 2, v & 0xfffu);
    }

    // What is left is either the final short group or a group that only partly fits.
    unsigned long written = 4 * g;
    const unsigned long rest = inLength - 3 * g;
    if (rest > 0 && written < outSize) {
        char group[4];
        EncodeGroup(src + 3 * g, rest < 3 ? rest : 3, group);
        const unsigned long room = outSize - written;
        const unsigned long n = room < 4 ? room : 4;
        std::memcpy(out + written, group, n);
        written += n;
    }
    if (written < outSize) out[written] = '\0';
}

unsigned long EncodeAlloc(const char* in, unsigned long inLength, char** out) {
    const unsigned long encoded = 4 * ((inLength + 2) / 3);
    // Every wrap-around of the computation above lands below the input length.
    if (encoded + 2 < inLength) {
        *out = nullptr;
        return 0;
    }
    *out = new char[encoded + 2];
    Encode(in, inLength, *out, encoded + 2);
    return encoded + 1;
}

bool Decode(const char* in, unsigned long inLength, char* out, unsigned long* outSize) {
    const unsigned char* src = reinterpret_cast<const unsigned char*>(in);
    const unsigned long capacity = *outSize;
    unsigned long i = 0;
    unsigned long o = 0;

    // Sixteen characters give twelve bytes, written as one 8-byte and one 4-byte store.
    while (inLength - i >= 16 && capacity - o >= 12) {
        const uint32_t n0 = CombineGroup(src + i);
        const uint32_t n1 = CombineGroup(src + i + 4);
        const uint32_t n2 = CombineGroup(src + i + 8);
        const uint32_t n3 = CombineGroup(src + i + 12);
        if ((n0 | n1 | n2 | n3) & kInvalidBits) break;
        StoreBE64(out + o, (uint64_t{n0} << 40) | (uint64_t{n1} << 16) | (n2 >> 8));
        StoreBE32(out + o + 8, (n2 << 24) | n3);
        i += 16;
        o += 12;
    }
    while (inLength - i >= 4 && capacity - o >= 3) {
        const uint32_t n = CombineGroup(src + i);
        if (n & kInvalidBits) break;
        out[o] = static_cast<char>(n >> 16);
        out[o + 1] = static_cast<char>(n >> 8);
        out[o + 2] = static_cast<char>(n);
        i += 4;
        o += 3;
    }
    // Out of room: only validation remains.
    if (o == capacity) {
        while (inLength - i >= 4 && !(CombineGroup(src + i) & kInvalidBits))
            i += 4;
    }

    Output output(out, capacity, o);
    const bool ok = DecodeStrict(src, inLength, i, output);
    *outSize = output.Written();
    return ok;
}

bool DecodeAlloc(const char* in, unsigned long inLength, char** out, unsigned long* decodedLength) {
    unsigned long size = (inLength / 4) * 3 + 3;
    *out = new char[size];
    if (!Decode(in, inLength, *out, &size)) {
        delete[] * out;
        *out = nullptr;
        return false;
    }
    (*out)[size] = '\0';
    if (decodedLength != nullptr) *decodedLength = size;
    return true;
}

void DeleteBuffer(char** buffer) {
    if (buffer != nullptr && *buffer != nullptr) delete[] * buffer;
}

}  // namespace ZRBase64
}  // namespace ZRFramework
