// Tests for ZRMd5: the RFC 1321 suite, padding boundaries and input split across appends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ZRMd5.h"

using namespace ZRFramework::ZRMd5;

namespace {

std::string Hex(md5_state_s& state) {
    unsigned char digest[16];
    md5_finish(&state, digest);
    char text[33];
    std::memset(text, 'x', sizeof text);
    md5_string(digest, text);
    return std::string(text, 32) + (text[32] == '\0' ? "" : "<no NUL>");
}

std::string DigestOf(const unsigned char* data, size_t length) {
    md5_state_s state;
    md5_init(&state);
    md5_append(&state, data, static_cast<int>(length));
    return Hex(state);
}

// Bytes of every value, so no digest depends on text characters alone.
std::vector<unsigned char> Pattern(size_t length) {
    std::vector<unsigned char> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<unsigned char>(i * 31 + 7);
    return bytes;
}

}  // namespace

TEST(Md5, Rfc1321Suite) {
    const struct {
        const char* input;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DigestOf(reinterpret_cast<const unsigned char*>(c.input), std::strlen(c.input)),
                  c.digest)
            << '"' << c.input << '"';
    }
}

// Lengths around 56 and 64 decide whether the padding needs a second block.
TEST(Md5, PaddingBoundaries) {
    const struct {
        size_t length;
        const char* digest;
    } cases[] = {
        {55, "c9e512626618c9980ef21a96597af94c"},  {56, "ecde7caa08e9f5657c863df107cac60a"},
        {57, "b17b1a018dd6a4d1edda8aca15f17846"},  {63, "2f0301069e1c40af7f6c8f843b1b13f2"},
        {64, "b6bf87c24b1bc334e2541387a92b981b"},  {65, "f168246f08b6134d66bd2a10343fa9f1"},
        {119, "d5dc3d8264de3aa24dee105910ee27fe"}, {120, "bcc139b3848923904860d1eefd6e5923"},
        {128, "3e85b70ffc8df5c735ecf2a8f14f1bee"}, {1000, "2b1e78d5765de9e10495a01412a1cf22"},
    };
    const std::vector<unsigned char> bytes = Pattern(1000);
    for (const auto& c : cases) {
        EXPECT_EQ(DigestOf(bytes.data(), c.length), c.digest) << c.length << " bytes";
    }
}

TEST(Md5, OneMillionA) {
    const std::vector<unsigned char> bytes(1000000, 'a');
    EXPECT_EQ(DigestOf(bytes.data(), bytes.size()), "7707d6ae4e027c70eea2a935c2296f21");
}

// The buffered part and the in-place block path must join seamlessly wherever a piece ends.
TEST(Md5, AppendInPiecesMatchesOneCall) {
    const std::vector<unsigned char> bytes = Pattern(1000);
    const std::vector<std::vector<int>> splits = {
        {1}, {3}, {7, 57}, {63}, {64}, {65}, {1, 127, 64}, {200, 1, 1, 300}, {13, 64, 51, 129},
    };
    for (const auto& split : splits) {
        md5_state_s state;
        md5_init(&state);
        size_t at = 0;
        for (size_t k = 0; at < bytes.size(); ++k) {
            size_t piece = static_cast<size_t>(split[k % split.size()]);
            if (piece > bytes.size() - at) piece = bytes.size() - at;
            md5_append(&state, bytes.data() + at, static_cast<int>(piece));
            at += piece;
        }
        EXPECT_EQ(Hex(state), "2b1e78d5765de9e10495a01412a1cf22") << "first piece " << split[0];
    }
}

TEST(Md5, CountBelowOneDoesNothing) {
    const unsigned char data[] = "abc";
    md5_state_s state;
    md5_init(&state);
    md5_append(&state, data, 2);
    md5_state_s before;
    std::memcpy(&before, &state, sizeof state);

    md5_append(&state, data, 0);
    md5_append(&state, data, -1);
    md5_append(&state, nullptr, -100);
    EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);

    md5_append(&state, data + 2, 1);
    EXPECT_EQ(Hex(state), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, StringIsLowerCaseHexInDigestOrder) {
    unsigned char digest[16] = {0x00, 0x01, 0x0a, 0x10, 0x7f, 0x80, 0x9f, 0xab,
                                0xc0, 0xcd, 0xde, 0xef, 0xf0, 0xfa, 0xfe, 0xff};
    char text[33];
    md5_string(digest, text);
    EXPECT_STREQ(text, "00010a107f809fabc0cddeeff0fafeff");
}
