// Base64 (RFC 4648 alphabet, no line breaks) with strict decoding.
#ifndef ZRFRAMEWORK_BASE64_H
#define ZRFRAMEWORK_BASE64_H

#include "ZRFrameworkExport.h"

namespace ZRFramework {
namespace ZRBase64 {

ZRFRAMEWORK_API bool isbase64(char c);
// Stops after `outSize` characters; adds a NUL only when room is left.
ZRFRAMEWORK_API void Encode(const char* in, unsigned long inLength, char* out,
                            unsigned long outSize);
// Allocates with array new (release with DeleteBuffer); returns encoded length + 1, 0 on overflow.
ZRFRAMEWORK_API unsigned long EncodeAlloc(const char* in, unsigned long inLength, char** out);
// `outSize`: capacity on entry, bytes written on return. True when the whole input decoded.
ZRFRAMEWORK_API bool Decode(const char* in, unsigned long inLength, char* out,
                            unsigned long* outSize);
// NUL-terminates the decoded bytes; on failure `*out` is null.
ZRFRAMEWORK_API bool DecodeAlloc(const char* in, unsigned long inLength, char** out,
                                 unsigned long* decodedLength);
// Releases `*buffer` with array delete; `*buffer` is not reset.
ZRFRAMEWORK_API void DeleteBuffer(char** buffer);

}  // namespace ZRBase64
}  // namespace ZRFramework

#endif
