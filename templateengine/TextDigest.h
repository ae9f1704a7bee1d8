// TextDigest: the MD5 text of a template, fed in whole 64-byte blocks while the parser reads the
// lines, so that each block is hashed while its bytes are still in the nearest cache.
#ifndef ZRTEMPLATEENGINE_TEXTDIGEST_H
#define ZRTEMPLATEENGINE_TEXTDIGEST_H

#include <algorithm>
#include <cstddef>

#include "ZRMd5.h"

namespace ZRFramework {
namespace ZRTemplateManager {

class TextDigest {
public:
    explicit TextDigest(const char* text) : next_(text) { ZRMd5::md5_init(&state_); }

    // Hashes every whole block that ends at or before p.
    void Advance(const char* p) {
        const auto ahead = static_cast<size_t>(p - next_);
        if (ahead >= 64) Append(ahead & ~size_t{63});
    }

    // Hashes the rest up to end and writes 32 hexadecimal digits and a NUL.
    void Finish(const char* end, char (&text)[33]) {
        Append(static_cast<size_t>(end - next_));
        unsigned char digest[16];
        ZRMd5::md5_finish(&state_, digest);
        ZRMd5::md5_string(digest, text);
    }

private:
    void Append(size_t size) {
        // md5_append counts in int; pieces stay whole blocks, so nothing is buffered between them.
        constexpr size_t kPiece = size_t{1} << 30;
        while (size > 0) {
            const size_t piece = std::min(size, kPiece);
            ZRMd5::md5_append(&state_, reinterpret_cast<const unsigned char*>(next_),
                              static_cast<int>(piece));
            next_ += piece;
            size -= piece;
        }
    }

    ZRMd5::md5_state_s state_;
    const char* next_;
};

}  // namespace ZRTemplateManager
}  // namespace ZRFramework

#endif
