// Fuzz target for the frame codec: any text (cut at its first NUL) with any code is encoded by
// the rules of the wire format, appended or allocated alike, and decodes back to exactly code and
// text, into a new message or into caller memory.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ZRSocket.h"

using namespace ZRFramework::ZRSocket;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

uint32_t U32At(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void CheckFrame(const char* frame, unsigned long lengthField, unsigned long frameSize,
                const char code[2], const std::string& text, bool mayCompress) {
    const size_t n = text.size();
    Check(frame != nullptr && frameSize == lengthField + 5);
    Check(U32At(frame + 1) == lengthField);
    Check(frame[5] == code[0]);
    const auto encoding = static_cast<unsigned char>(frame[0]);
    if (mayCompress && n > kCompressionThreshold) {
        // Compressed exactly when compress() saves more than the stated length costs.
        uLongf packed = compressBound(n);
        std::string scratch(packed, '\0');
        Check(compress(reinterpret_cast<Bytef*>(&scratch[0]), &packed,
                       reinterpret_cast<const Bytef*>(text.data()), n) == Z_OK);
        Check((encoding == kEncodingCompressed) == (packed < n + 4));
    }
    if (n == 0) {
        Check(encoding == kEncodingEmpty && lengthField == 1);
    } else if (encoding == kEncodingPlain) {
        Check(lengthField == n + 1 && std::memcmp(frame + 6, text.data(), n) == 0);
    } else {
        // Only texts above the threshold are compressed, and only when it saves enough.
        Check(mayCompress && encoding == kEncodingCompressed && n > kCompressionThreshold);
        Check(lengthField - 5 < n + 4 && U32At(frame + 6) == n);
        std::string out(n, '\0');
        uLongf outSize = n;
        Check(uncompress(reinterpret_cast<Bytef*>(&out[0]), &outSize,
                         reinterpret_cast<const Bytef*>(frame + 10), lengthField - 5) == Z_OK);
        Check(outSize == n && out == text);
    }

    // Every shorter prefix is incomplete; the whole frame decodes to code, text, NUL.
    uint64_t size = 0;
    Check(ScanFrame(frame, frameSize - 1, nullptr) == FrameStatus::kIncomplete);
    Check(ScanFrame(frame, frameSize, &size) == FrameStatus::kComplete && size == frameSize);
    uint64_t textLength = 0;
    char* message = DecodeFrame(frame, frameSize, n, &textLength);
    Check(message != nullptr && textLength == n && message[0] == code[0]);
    Check(std::memcmp(message + 1, text.data(), n) == 0 && message[n + 1] == '\0');
    destroyEncodedMessage(message);

    // Into caller memory: sized first, refused one byte short of the NUL, then decoded.
    std::string buffer(n, '#');
    unsigned char decodedCode = 0;
    Check(DecodeFrameText(frame, frameSize, n, nullptr, 0, nullptr, &textLength) ==
              DecodeStatus::kNoRoom &&
          textLength == n);
    Check(DecodeFrameText(frame, frameSize, n, buffer.data(), n, nullptr, nullptr) ==
          DecodeStatus::kNoRoom);
    buffer.resize(n + 1);
    Check(DecodeFrameText(frame, frameSize, n, buffer.data(), n + 1, &decodedCode, &textLength) ==
          DecodeStatus::kDecoded);
    Check(decodedCode == static_cast<unsigned char>(code[0]) && textLength == n);
    Check(buffer.compare(0, n, text) == 0 && buffer[n] == '\0');
}

// The appending encoder gives the same bytes as the allocating one, after what is already there.
void CheckAppended(const char* frame, unsigned long frameSize, const char code[2],
                   const std::string& text, bool compress) {
    std::string out = "held";
    Check(
        AppendFrame(out, static_cast<unsigned char>(code[0]), text.data(), text.size(), compress));
    Check(out.size() == frameSize + 4 && out.compare(4, frameSize, frame, frameSize) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char code[2] = {static_cast<char>(data[0]), '\0'};
    const char* rest = reinterpret_cast<const char*>(data) + 1;
    const std::string text(rest, strnlen(rest, size - 1));

    char* frame = nullptr;
    unsigned long lengthField = 0;
    unsigned long frameSize = 0;
    encodeMessage(code, text.c_str(), &frame, &lengthField, &frameSize);
    CheckFrame(frame, lengthField, frameSize, code, text, true);
    CheckAppended(frame, frameSize, code, text, true);
    destroyEncodedMessage(frame);

    EncodePlainMessage(code, text.c_str(), &frame, &lengthField, &frameSize);
    CheckFrame(frame, lengthField, frameSize, code, text, false);
    CheckAppended(frame, frameSize, code, text, false);
    destroyEncodedMessage(frame);
    return 0;
}
