// MD5 digests (RFC 1321) and their 32-digit lower-case hexadecimal text.
#ifndef ZRFRAMEWORK_MD5_H
#define ZRFRAMEWORK_MD5_H

#include <cstdint>

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRMd5 {

struct md5_state_s {
    uint32_t count[2];  // message length in bits, low word first
    uint32_t abcd[4];   // chaining values A, B, C, D
    unsigned char buf[64];
};

ZRFRAMEWORK_API void md5_init(md5_state_s* state);
// A count below 1 does nothing.
ZRFRAMEWORK_API void md5_append(md5_state_s* state, const unsigned char* data, int nbytes);
ZRFRAMEWORK_API void md5_finish(md5_state_s* state, unsigned char digest[16]);
ZRFRAMEWORK_API void md5_process(md5_state_s* state, const unsigned char* block);
// Writes 32 hexadecimal digits and a NUL into `out` (at least 33 bytes).
ZRFRAMEWORK_API void md5_string(unsigned char* digest, char* out);

}  // namespace ZRMd5
}  // namespace ZRFramework

#endif
