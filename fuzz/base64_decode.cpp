// Fuzz target for ZRBase64: strict decoding of arbitrary text with any output capacity, checked
// against a plain reference decoder and by re-encoding; arbitrary bytes must round-trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ZRBase64.h"

using namespace ZRFramework::ZRBase64;

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Value(unsigned char c) {
    const char* p = c != 0 ? std::strchr(kAlphabet, c) : nullptr;
    return p != nullptr ? static_cast<int>(p - kAlphabet) : -1;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

// Character by character, storing each byte as soon as it is known.
bool ReferenceDecode(const std::string& in, size_t capacity, std::string& out) {
    auto put = [&](int byte) {
        if (out.size() < capacity) out += static_cast<char>(byte & 0xff);
    };
    size_t i = 0;
    const size_t n = in.size();
    while (n - i >= 2) {
        const int v0 = Value(in[i]);
        const int v1 = Value(in[i + 1]);
        if (v0 < 0 || v1 < 0) return false;
        put((v0 << 2) | (v1 >> 4));
        if (n - i < 3) return false;
        if (in[i + 2] == '=') return n - i == 4 && in[i + 3] == '=';
        const int v2 = Value(in[i + 2]);
        if (v2 < 0) return false;
        put((v1 << 4) | (v2 >> 2));
        if (n - i < 4) return false;
        if (in[i + 3] == '=') return n - i == 4;
        const int v3 = Value(in[i + 3]);
        if (v3 < 0) return false;
        put((v2 << 6) | v3);
        i += 4;
    }
    return i == n;
}

// Decoding ignores the unused low bits of the last character before padding, so the
// re-encoded text may differ from the input there and only there.
void CheckReencodes(const std::string& text, const std::string& bytes) {
    char* encoded = nullptr;
    const unsigned long n = EncodeAlloc(bytes.data(), bytes.size(), &encoded);
    Check(encoded != nullptr && n == text.size() + 1 && encoded[text.size()] == '\0');
    size_t pads = 0;
    while (pads < 2 && pads < text.size() && text[text.size() - 1 - pads] == '=')
        ++pads;
    const size_t last = text.size() - pads - 1;
    for (size_t i = 0; i < text.size(); ++i) {
        if (pads != 0 && i == last) {
            const int spare = pads == 1 ? 0x3 : 0xf;
            Check(Value(encoded[i]) == (Value(text[i]) & ~spare));
        } else {
            Check(encoded[i] == text[i]);
        }
    }
    DeleteBuffer(&encoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

    // The first two bytes choose the capacity, from nothing to more than any output needs.
    const size_t full = text.size() / 4 * 3 + 3;
    const size_t capacity = ((size_t{data[0]} << 8) | data[1]) % (full + 8);

    std::vector<char> out(capacity + 8, '\x5a');
    unsigned long written = capacity;
    const bool ok = Decode(text.data(), text.size(), out.data(), &written);
    std::string expected;
    Check(ok == ReferenceDecode(text, capacity, expected));
    Check(written == expected.size() && std::memcmp(out.data(), expected.data(), written) == 0);
    for (size_t i = capacity; i < out.size(); ++i)
        Check(out[i] == '\x5a');

    char* decoded = nullptr;
    unsigned long decodedLength = 0;
    const bool allocOk = DecodeAlloc(text.data(), text.size(), &decoded, &decodedLength);
    std::string all;
    Check(allocOk == ReferenceDecode(text, full, all));
    if (allocOk) {
        Check(decodedLength == all.size() && decoded[decodedLength] == '\0');
        Check(std::memcmp(decoded, all.data(), all.size()) == 0);
        CheckReencodes(text, all);
        DeleteBuffer(&decoded);
    } else {
        Check(decoded == nullptr);
    }

    // Any bytes at all survive encoding and decoding.
    char* encoded = nullptr;
    const unsigned long encodedSize = EncodeAlloc(text.data(), text.size(), &encoded);
    Check(encoded != nullptr && encodedSize == (text.size() + 2) / 3 * 4 + 1);
    Check(DecodeAlloc(encoded, encodedSize - 1, &decoded, &decodedLength));
    Check(decodedLength == text.size() && std::memcmp(decoded, text.data(), text.size()) == 0);
    DeleteBuffer(&decoded);
    DeleteBuffer(&encoded);
    return 0;
}
