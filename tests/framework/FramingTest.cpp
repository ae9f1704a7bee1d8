// Tests of the wire frame codec: exact bytes of encodeMessage, the compression rules, frames
// checked against plain zlib, and the scan and decode of complete, partial and malformed frames.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ZRSocket.h"

using namespace ZRFramework::ZRSocket;

namespace {

using Bytes = std::vector<unsigned char>;

struct Frame {
    Bytes bytes;
    unsigned long lengthField = 0;
    unsigned long frameSize = 0;
};

Frame Encode(const char* code, const char* text) {
    char* raw = nullptr;
    Frame f;
    encodeMessage(code, text, &raw, &f.lengthField, &f.frameSize);
    EXPECT_NE(raw, nullptr);
    if (raw != nullptr) f.bytes.assign(raw, raw + f.frameSize);
    destroyEncodedMessage(raw);
    return f;
}

uint32_t U32At(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void PutU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

Bytes Header(unsigned char encoding, uint32_t length) {
    Bytes b{encoding};
    PutU32(b, length);
    return b;
}

Bytes ZlibCompress(const std::string& text, int level) {
    uLongf size = compressBound(text.size());
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(),
                        level),
              Z_OK);
    out.resize(size);
    return out;
}

// An encoding-2 frame built by hand: stated text length, then the given zlib bytes.
Bytes CompressedFrame(char code, uint32_t stated, const Bytes& packed) {
    Bytes f = Header(2, static_cast<uint32_t>(packed.size() + 5));
    f.push_back(static_cast<unsigned char>(code));
    PutU32(f, stated);
    f.insert(f.end(), packed.begin(), packed.end());
    return f;
}

// The decoded message as a string (code, text), or "<null>".
std::string Decode(const Bytes& frame, uint64_t limit = UINT64_MAX) {
    uint64_t textLength = 0;
    char* m =
        DecodeFrame(reinterpret_cast<const char*>(frame.data()), frame.size(), limit, &textLength);
    if (m == nullptr) return "<null>";
    EXPECT_EQ(m[textLength + 1], '\0');
    std::string s(m, textLength + 1);
    destroyEncodedMessage(m);
    return s;
}

std::string JobRecords(size_t size) {
    std::string s;
    for (int i = 0; s.size() < size; ++i) {
        s += "job" + std::to_string(1000 + i) + "\tshot_" + std::to_string(i % 37) +
             "_comp\tRendering\t" + std::to_string(i * 7 % 100) + "%\tnode-" +
             std::to_string(i % 12) + "\n";
    }
    s.resize(size);
    return s;
}

// Random bytes other than NUL: deflate cannot shrink them.
std::string Incompressible(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, 'x');
    for (auto& c : s)
        c = static_cast<char>(1 + gen() % 255);
    return s;
}

// ---- Exact bytes ----

struct ExactCase {
    const char* name;
    const char* code;
    const char* text;
    Bytes expected;
};

TEST(FramingTest, EncodesExactBytes) {
    const ExactCase cases[] = {
        {"null text", "K", nullptr, {0, 1, 0, 0, 0, 'K'}},
        {"empty text", "K", "", {0, 1, 0, 0, 0, 'K'}},
        {"abc", "Q", "abc", {1, 4, 0, 0, 0, 0x51, 0x61, 0x62, 0x63}},
        {"only the first code character", "QZ", "abc", {1, 4, 0, 0, 0, 'Q', 'a', 'b', 'c'}},
        {"empty code gives 0", "", "x", {1, 2, 0, 0, 0, 0, 'x'}},
        {"ten characters stay plain",
         "a",
         "aaaaaaaaaa",
         {1, 11, 0, 0, 0, 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a', 'a'}},
        {"high code byte", "\xff", "z", {1, 2, 0, 0, 0, 0xff, 'z'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Frame f = Encode(c.code, c.text);
        EXPECT_EQ(f.bytes, c.expected);
        EXPECT_EQ(f.frameSize, c.expected.size());
        EXPECT_EQ(f.lengthField, c.expected.size() - 5);
    }
}

TEST(FramingTest, LengthFieldIsLittleEndian) {
    const std::string text = Incompressible(0x1234, 7);
    const Frame f = Encode("T", text.c_str());
    ASSERT_EQ(f.bytes[0], 1);
    EXPECT_EQ(f.bytes[1], 0x35);
    EXPECT_EQ(f.bytes[2], 0x12);
    EXPECT_EQ(f.bytes[3], 0);
    EXPECT_EQ(f.bytes[4], 0);
}

TEST(FramingTest, ElevenCharactersAreOfferedToCompression) {
    // Eleven equal characters deflate to fewer than 15 bytes; eleven distinct ones do not.
    const Frame packed = Encode("C", "aaaaaaaaaaa");
    ASSERT_EQ(packed.bytes[0], 2);
    EXPECT_LT(packed.lengthField - 5, 11u + 4);
    EXPECT_EQ(U32At(packed.bytes, 6), 11u);
    EXPECT_EQ(Decode(packed.bytes), "Caaaaaaaaaaa");

    const Frame plain = Encode("C", "abcdefghijk");
    EXPECT_EQ(plain.bytes[0], 1);
    EXPECT_EQ(plain.lengthField, 12u);
}

TEST(FramingTest, IncompressibleTextGoesPlain) {
    for (size_t n : {11u, 100u, 4096u, 70000u}) {
        SCOPED_TRACE(n);
        const std::string text = Incompressible(n, static_cast<unsigned>(n));
        const Frame f = Encode("P", text.c_str());
        ASSERT_EQ(f.bytes[0], 1);
        EXPECT_EQ(f.lengthField, n + 1);
        EXPECT_EQ(std::string(f.bytes.begin() + 6, f.bytes.end()), text);
    }
}

TEST(FramingTest, CompressedFramesDecodeWithPlainZlib) {
    for (size_t n : {11u, 64u, 4000u, 65536u, 300000u}) {
        SCOPED_TRACE(n);
        const std::string text = n == 11 ? std::string(11, 'r') : JobRecords(n);
        const Frame f = Encode("J", text.c_str());
        ASSERT_EQ(f.bytes[0], 2);
        ASSERT_EQ(f.frameSize, f.lengthField + 5);
        ASSERT_EQ(f.bytes[5], 'J');
        ASSERT_EQ(U32At(f.bytes, 6), n);
        // The zlib stream is what compress() gives at its default level.
        EXPECT_EQ(Bytes(f.bytes.begin() + 10, f.bytes.end()),
                  ZlibCompress(text, Z_DEFAULT_COMPRESSION));
        std::string out(n, '\0');
        uLongf outSize = n;
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(&out[0]), &outSize, f.bytes.data() + 10,
                             f.bytes.size() - 10),
                  Z_OK);
        EXPECT_EQ(outSize, n);
        EXPECT_EQ(out, text);
    }
}

TEST(FramingTest, HandBuiltCompressedFramesDecode) {
    const std::string text = JobRecords(5000);
    for (int level : {0, 1, 6, 9}) {
        SCOPED_TRACE(level);
        EXPECT_EQ(Decode(CompressedFrame('h', 5000, ZlibCompress(text, level))), "h" + text);
    }
}

TEST(FramingTest, EncodePlainMessageNeverCompresses) {
    const std::string text = JobRecords(1000);
    char* raw = nullptr;
    unsigned long length = 0;
    unsigned long size = 0;
    EncodePlainMessage("p", text.c_str(), &raw, &length, &size);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw[0], 1);
    EXPECT_EQ(length, 1001u);
    EXPECT_EQ(size, 1006u);
    EXPECT_EQ(Decode(Bytes(raw, raw + size)), "p" + text);
    destroyEncodedMessage(raw);
}

// ---- Scanning ----

struct ScanCase {
    const char* name;
    Bytes data;
    FrameStatus status;
    uint64_t frameSize;  // checked when the length field is held
};

TEST(FramingTest, ScanFrameClassifiesTheHead) {
    auto with = [](Bytes b, std::initializer_list<unsigned char> tail) {
        b.insert(b.end(), tail);
        return b;
    };
    const ScanCase cases[] = {
        {"nothing", {}, FrameStatus::kIncomplete, 0},
        {"five bytes", Header(0, 1), FrameStatus::kIncomplete, 0},
        {"empty frame", with(Header(0, 1), {'c'}), FrameStatus::kComplete, 6},
        {"one byte short", with(Header(1, 3), {'c', 'x'}), FrameStatus::kIncomplete, 8},
        {"next frame follows", with(Header(1, 2), {'c', 'x', 0, 1}), FrameStatus::kComplete, 7},
        {"length zero", with(Header(1, 0), {'c'}), FrameStatus::kMalformed, 5},
        {"compressed length four", with(Header(2, 4), {'c', 0, 0, 0}), FrameStatus::kMalformed, 9},
        {"compressed length five", with(Header(2, 5), {'c', 0, 0, 0, 0}), FrameStatus::kComplete,
         10},
        {"unknown encoding", with(Header(9, 1), {'c'}), FrameStatus::kComplete, 6},
        {"largest length does not wrap", with(Header(1, 0xffffffffu), {'c'}),
         FrameStatus::kIncomplete, 0x100000004ull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t size = 0;
        EXPECT_EQ(ScanFrame(reinterpret_cast<const char*>(c.data.data()), c.data.size(), &size),
                  c.status);
        if (c.data.size() > 5) {
            EXPECT_EQ(size, c.frameSize);
        }
    }
}

// ---- Decoding ----

struct DecodeCase {
    const char* name;
    Bytes frame;
    uint64_t limit;
    std::string expected;
};

TEST(FramingTest, DecodeFrameHandlesEveryEncodingAndRefusesBadFrames) {
    const std::string text = JobRecords(2000);
    const Bytes packed = ZlibCompress(text, 6);
    Bytes corrupt = packed;
    corrupt[packed.size() / 2] ^= 0x55;
    auto frame = [](unsigned char e, std::string body) {
        Bytes b = Header(e, static_cast<uint32_t>(body.size()));
        b.insert(b.end(), body.begin(), body.end());
        return b;
    };
    Bytes truncated = frame(1, "Pabc");
    truncated.pop_back();
    const DecodeCase cases[] = {
        {"empty", frame(0, "E"), UINT64_MAX, "E"},
        {"plain", frame(1, "Pabc"), UINT64_MAX, "Pabc"},
        {"encoding 0 with a body is returned as it is", frame(0, "Exy"), UINT64_MAX, "Exy"},
        {"unknown encoding is returned as it is", frame(7, "Uxy"), UINT64_MAX, "Uxy"},
        {"plain frames ignore the limit", frame(1, "P" + text), 10, "P" + text},
        {"compressed", CompressedFrame('z', 2000, packed), UINT64_MAX, "z" + text},
        {"compressed at the limit", CompressedFrame('z', 2000, packed), 2000, "z" + text},
        {"stated length above the limit", CompressedFrame('z', 2000, packed), 1999, "<null>"},
        {"inflates past the stated length", CompressedFrame('z', 1999, packed), UINT64_MAX,
         "<null>"},
        {"inflates short of the stated length", CompressedFrame('z', 2500, packed), UINT64_MAX,
         "z" + text},
        {"corrupt stream", CompressedFrame('z', 2000, corrupt), UINT64_MAX, "<null>"},
        {"empty stream", CompressedFrame('z', 0, {}), UINT64_MAX, "<null>"},
        {"length zero", Header(1, 0), UINT64_MAX, "<null>"},
        {"compressed length three", frame(2, "zab"), UINT64_MAX, "<null>"},
        {"truncated", truncated, UINT64_MAX, "<null>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Decode(c.frame, c.limit), c.expected);
    }
}

TEST(FramingTest, StatedLengthBeyondAnyInflationIsRefusedWithoutLimit) {
    // 4 GiB claimed by a 20-byte stream: refused before allocating, whatever the limit.
    const Bytes packed = ZlibCompress("tiny", 9);
    EXPECT_EQ(Decode(CompressedFrame('x', 0xffffffffu, packed)), "<null>");
    const uint64_t bound = packed.size() * kMaxInflateRatio;
    EXPECT_EQ(Decode(CompressedFrame('x', static_cast<uint32_t>(bound + 1), packed)), "<null>");
    EXPECT_EQ(Decode(CompressedFrame('x', static_cast<uint32_t>(bound), packed)), "xtiny");

    // Highly repetitive text does reach ratios near the bound, and still decodes.
    const std::string zeros(1 << 20, 'a');
    EXPECT_EQ(Decode(CompressedFrame('x', 1 << 20, ZlibCompress(zeros, 9))), "x" + zeros);
}

// ---- Appending and decoding into caller memory ----

TEST(FramingTest, AppendFrameBuildsTheSameFramesAfterWhatIsHeld) {
    const std::string text = JobRecords(3000);
    std::string out = "head";
    Bytes expected(out.begin(), out.end());
    for (bool compress : {true, false}) {
        ASSERT_TRUE(AppendFrame(out, 'A', text.data(), text.size(), compress));
        char* raw = nullptr;
        unsigned long length = 0;
        unsigned long size = 0;
        (compress ? encodeMessage : EncodePlainMessage)("A", text.c_str(), &raw, &length, &size);
        expected.insert(expected.end(), raw, raw + size);
        destroyEncodedMessage(raw);
    }
    EXPECT_EQ(Bytes(out.begin(), out.end()), expected);
    EXPECT_FALSE(AppendFrame(out, 'E', nullptr, 3, false));
    EXPECT_EQ(out.size(), expected.size());
}

TEST(FramingTest, DecodeFrameTextSizesFirstThenDecodesIntoCallerMemory) {
    const std::string text = JobRecords(2000);
    std::string compressed;
    ASSERT_TRUE(AppendFrame(compressed, 'z', text.data(), text.size(), true));
    ASSERT_EQ(compressed[0], 2);
    for (const std::string& frame : {compressed, std::string("\x01\x05\0\0\0pabcd", 10)}) {
        const std::string want = frame[0] == 2 ? text : "abcd";
        unsigned char code = 0;
        uint64_t length = 0;
        EXPECT_EQ(
            DecodeFrameText(frame.data(), frame.size(), UINT64_MAX, nullptr, 0, &code, &length),
            DecodeStatus::kNoRoom);
        EXPECT_EQ(length, want.size());
        std::string buffer(want.size(), '#');  // one byte short of the NUL
        EXPECT_EQ(DecodeFrameText(frame.data(), frame.size(), UINT64_MAX, &buffer[0], buffer.size(),
                                  &code, &length),
                  DecodeStatus::kNoRoom);
        buffer.resize(want.size() + 1);
        ASSERT_EQ(DecodeFrameText(frame.data(), frame.size(), UINT64_MAX, &buffer[0], buffer.size(),
                                  &code, &length),
                  DecodeStatus::kDecoded);
        EXPECT_EQ(code, static_cast<unsigned char>(frame[5]));
        EXPECT_EQ(length, want.size());
        EXPECT_EQ(buffer, want + '\0');
    }
}

TEST(FramingTest, DecodeFrameTextRefusesWhatDecodeFrameRefuses) {
    const std::string text = JobRecords(2000);
    const Bytes packed = ZlibCompress(text, 6);
    Bytes corrupt = packed;
    corrupt[packed.size() / 2] ^= 0x55;
    Bytes lengthZero = Header(1, 0);
    lengthZero.push_back('n');  // the next frame's first byte
    struct Case {
        const char* name;
        Bytes frame;
        uint64_t limit;
        DecodeStatus status;
        uint64_t length;  // checked when the frame states one
    };
    const Case cases[] = {
        {"stated length above the limit", CompressedFrame('z', 2000, packed), 1999,
         DecodeStatus::kTooLong, 2000},
        {"beyond any inflation", CompressedFrame('z', 0xffffffffu, packed), UINT64_MAX,
         DecodeStatus::kTooLong, 0xffffffffu},
        {"corrupt stream", CompressedFrame('z', 2000, corrupt), UINT64_MAX,
         DecodeStatus::kNotInflated, 0},
        {"length zero", lengthZero, UINT64_MAX, DecodeStatus::kMalformed, 0},
        {"truncated", {1, 4, 0, 0, 0, 'p', 'a'}, UINT64_MAX, DecodeStatus::kIncomplete, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string buffer(4096, '\0');
        uint64_t length = 0;
        EXPECT_EQ(DecodeFrameText(reinterpret_cast<const char*>(c.frame.data()), c.frame.size(),
                                  c.limit, &buffer[0], buffer.size(), nullptr, &length),
                  c.status);
        if (c.status == DecodeStatus::kTooLong) {
            EXPECT_EQ(length, c.length);
        }
    }
}

TEST(FramingTest, FrameLengthIsReadOnceTheHeaderIsHeld) {
    const Bytes header = Header(1, 0x01020304);
    uint32_t length = 0;
    EXPECT_FALSE(GetFrameLength(reinterpret_cast<const char*>(header.data()), 4, &length));
    EXPECT_TRUE(GetFrameLength(reinterpret_cast<const char*>(header.data()), 5, &length));
    EXPECT_EQ(length, 0x01020304u);
}

TEST(FramingTest, ResizeBufferZeroFillsAndKeepsUsedBytes) {
    unsigned long capacity = 0;
    char* b = zr_resize_buffer(nullptr, &capacity, 0, 8);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(capacity, 8u);
    EXPECT_EQ(std::string(b, 8), std::string(8, '\0'));
    std::memcpy(b, "abcdefgh", 8);
    b = zr_resize_buffer(b, &capacity, 3, 12);
    EXPECT_EQ(capacity, 12u);
    EXPECT_EQ(std::string(b, 12), std::string("abc") + std::string(9, '\0'));
    destroyEncodedMessage(b);
    destroyEncodedMessage(nullptr);
}

}  // namespace
