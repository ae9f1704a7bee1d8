// Tests for ZRBase64: RFC 4648 vectors, strict decoding, output limits and round trips.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "ZRBase64.h"

using namespace ZRFramework::ZRBase64;

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kCanary = static_cast<char>(0xa5);

// Bit by bit, independent of the table-driven implementation.
std::string ReferenceEncode(const std::string& in) {
    std::string out;
    unsigned bits = 0;
    int held = 0;
    for (unsigned char c : in) {
        bits = (bits << 8) | c;
        held += 8;
        while (held >= 6) {
            held -= 6;
            out += kAlphabet[(bits >> held) & 63];
        }
    }
    if (held > 0) out += kAlphabet[(bits << (6 - held)) & 63];
    while (out.size() % 4 != 0)
        out += '=';
    return out;
}

struct Decoded {
    bool ok;
    std::string bytes;
};

Decoded DecodeWithCapacity(const std::string& in, unsigned long capacity) {
    std::vector<char> out(capacity + 16, kCanary);
    unsigned long size = capacity;
    const bool ok = Decode(in.data(), in.size(), out.data(), &size);
    EXPECT_LE(size, capacity);
    for (size_t i = capacity; i < out.size(); ++i) {
        EXPECT_EQ(out[i], kCanary) << "write beyond capacity at " << i << " for \"" << in << '"';
    }
    return {ok, std::string(out.data(), size)};
}

Decoded DecodeAll(const std::string& in) {
    return DecodeWithCapacity(in, in.size());
}

std::string EncodeAllocText(const std::string& in) {
    char* out = nullptr;
    const unsigned long n = EncodeAlloc(in.data(), in.size(), &out);
    EXPECT_NE(out, nullptr);
    std::string text(out, n - 1);
    EXPECT_EQ(out[n - 1], '\0');
    DeleteBuffer(&out);
    return text;
}

// Every byte value, in an order that changes with the length.
std::string Bytes(size_t length, unsigned seed) {
    std::string s(length, '\0');
    for (size_t i = 0; i < length; ++i)
        s[i] = static_cast<char>(seed + i * 37);
    return s;
}

}  // namespace

TEST(Base64, Rfc4648Vectors) {
    const struct {
        const char* plain;
        const char* encoded;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeAllocText(c.plain), c.encoded);
        const Decoded d = DecodeAll(c.encoded);
        EXPECT_TRUE(d.ok) << c.encoded;
        EXPECT_EQ(d.bytes, c.plain);
    }
}

TEST(Base64, IsBase64AcceptsExactlyTheAlphabet) {
    for (int c = 0; c < 256; ++c) {
        const bool inAlphabet = c != 0 && std::strchr(kAlphabet, c) != nullptr;
        EXPECT_EQ(isbase64(static_cast<char>(c)), inAlphabet) << "byte " << c;
    }
}

TEST(Base64, StrictDecoding) {
    using namespace std::string_literals;
    const struct {
        std::string in;
        bool ok;
        std::string bytes;  // checked on success only
    } cases[] = {
        {"YWJj", true, "abc"},      {"YWI=", true, "ab"},   {"YQ==", true, "a"},
        {"YWJjYQ==", true, "abca"}, {"YWJj\n", false, ""},  {"YWJj\r\nYWJj", false, ""},
        {"YW Jj", false, ""},       {" YWJj", false, ""},   {"YQ", false, ""},
        {"YWI", false, ""},         {"YQ=", false, ""},     {"Y", false, ""},
        {"YWJjY", false, ""},       {"YWJj=", false, ""},   {"YQ==YWJj", false, ""},
        {"YWI=YWJj", false, ""},    {"YQ=x", false, ""},    {"Y===", false, ""},
        {"====", false, ""},        {"=QWJ", false, ""},    {"YQ===", false, ""},
        {"YW\0j"s, false, ""},      {"YW\xffj", false, ""}, {"YW\x80j", false, ""},
        {"YW-_", false, ""},
    };
    for (const auto& c : cases) {
        const Decoded d = DecodeAll(c.in);
        EXPECT_EQ(d.ok, c.ok) << '"' << c.in << '"';
        if (c.ok) {
            EXPECT_EQ(d.bytes, c.bytes) << '"' << c.in << '"';
        }
    }
}

TEST(Base64, DecodeErrorReportsBytesOfEarlierGroups) {
    const Decoded d = DecodeAll("Zm9vYmFyZm9v!m9v");
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.bytes, "foobarfoo");
}

// Long inputs take the table paths; a bad byte anywhere must still be caught.
TEST(Base64, BadByteAtAnyPositionFails) {
    const std::string plain = Bytes(75, 3);
    const std::string encoded = ReferenceEncode(plain);
    const char bad[] = {
        '\n', ' ', '\0', '.', '-', static_cast<char>(0x80), static_cast<char>(0xff)};
    for (size_t pos = 0; pos < encoded.size(); ++pos) {
        for (char b : bad) {
            std::string in = encoded;
            in[pos] = b;
            const Decoded d = DecodeAll(in);
            EXPECT_FALSE(d.ok) << "byte " << int(b) << " at " << pos;
            EXPECT_GE(d.bytes.size(), pos / 4 * 3) << pos;
            EXPECT_EQ(d.bytes, plain.substr(0, d.bytes.size())) << pos;
        }
        if (pos + 4 < encoded.size()) {
            std::string in = encoded;
            in[pos] = '=';
            EXPECT_FALSE(DecodeAll(in).ok) << "padding at " << pos;
        }
    }
}

TEST(Base64, DecodeStopsStoringAtCapacity) {
    const std::string plain = Bytes(40, 11);
    const std::string encoded = ReferenceEncode(plain);
    for (unsigned long cap = 0; cap <= plain.size() + 2; ++cap) {
        const Decoded d = DecodeWithCapacity(encoded, cap);
        EXPECT_TRUE(d.ok) << cap;
        EXPECT_EQ(d.bytes, plain.substr(0, cap)) << cap;
    }
    // Running out of room does not hide a later error.
    EXPECT_FALSE(DecodeWithCapacity(encoded + "!AAA", 4).ok);
    EXPECT_FALSE(DecodeWithCapacity(encoded + "A", 0).ok);
}

TEST(Base64, EncodeStopsAtOutputSize) {
    const std::string plain = Bytes(23, 5);
    const std::string encoded = ReferenceEncode(plain);
    for (unsigned long size = 0; size <= encoded.size() + 2; ++size) {
        std::vector<char> out(size + 8, kCanary);
        Encode(plain.data(), plain.size(), out.data(), size);
        const size_t text = size < encoded.size() ? size : encoded.size();
        EXPECT_EQ(std::string(out.data(), text), encoded.substr(0, text)) << size;
        if (size > encoded.size()) {
            EXPECT_EQ(out[encoded.size()], '\0') << size;
        }
        for (size_t i = text + (size > encoded.size() ? 1 : 0); i < out.size(); ++i) {
            EXPECT_EQ(out[i], kCanary) << "size " << size << " byte " << i;
        }
    }
}

TEST(Base64, EncodeIntoExactSizeWritesNoNul) {
    char out[5] = {'x', 'x', 'x', 'x', kCanary};
    Encode("abc", 3, out, 4);
    EXPECT_EQ(std::string(out, 4), "YWJj");
    EXPECT_EQ(out[4], kCanary);
}

TEST(Base64, RoundTripsAllByteValues) {
    for (size_t length = 0; length <= 100; ++length) {
        for (unsigned seed : {0u, 128u, 255u}) {
            const std::string plain = Bytes(length, seed + static_cast<unsigned>(length));
            const std::string encoded = EncodeAllocText(plain);
            ASSERT_EQ(encoded, ReferenceEncode(plain)) << length;

            char* out = nullptr;
            unsigned long decodedLength = 0;
            ASSERT_TRUE(DecodeAlloc(encoded.data(), encoded.size(), &out, &decodedLength));
            EXPECT_EQ(std::string(out, decodedLength), plain) << length;
            EXPECT_EQ(out[decodedLength], '\0');
            DeleteBuffer(&out);
        }
    }
}

TEST(Base64, EncodeAllocResults) {
    char* out = nullptr;
    EXPECT_EQ(EncodeAlloc("abc", 3, &out), 5u);
    EXPECT_STREQ(out, "YWJj");
    DeleteBuffer(&out);

    EXPECT_EQ(EncodeAlloc("ab", 2, &out), 5u);
    EXPECT_STREQ(out, "YWI=");
    DeleteBuffer(&out);

    EXPECT_EQ(EncodeAlloc(nullptr, 0, &out), 1u);
    EXPECT_STREQ(out, "");
    DeleteBuffer(&out);

    // Sizes whose encoded length does not fit; the input is never read.
    for (unsigned long length : {ULONG_MAX, ULONG_MAX - 1, ULONG_MAX / 4 * 3 + 1}) {
        out = reinterpret_cast<char*>(&out);
        EXPECT_EQ(EncodeAlloc("", length, &out), 0u) << length;
        EXPECT_EQ(out, nullptr);
    }
}

TEST(Base64, DecodeAllocResults) {
    char* out = nullptr;
    unsigned long length = 99;
    ASSERT_TRUE(DecodeAlloc("YWJj", 4, &out, &length));
    EXPECT_EQ(length, 3u);
    EXPECT_STREQ(out, "abc");
    DeleteBuffer(&out);

    ASSERT_TRUE(DecodeAlloc("YWI=", 4, &out, nullptr));
    EXPECT_STREQ(out, "ab");
    DeleteBuffer(&out);

    ASSERT_TRUE(DecodeAlloc("", 0, &out, &length));
    EXPECT_EQ(length, 0u);
    EXPECT_STREQ(out, "");
    DeleteBuffer(&out);

    for (const char* bad : {"YWJj\n", "YQ", "Y"}) {
        out = reinterpret_cast<char*>(&out);
        EXPECT_FALSE(DecodeAlloc(bad, std::strlen(bad), &out, &length)) << bad;
        EXPECT_EQ(out, nullptr) << bad;
    }
}

TEST(Base64, DeleteBufferIgnoresNull) {
    char* none = nullptr;
    DeleteBuffer(&none);
    DeleteBuffer(nullptr);
}
