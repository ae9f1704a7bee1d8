// UTF-8 decoding, how many terminal columns UTF-8 text takes, and whether a locale name speaks
// UTF-8; pure and independent of the process's locale.
#ifndef ZDTOOL_DISPLAYWIDTH_H
#define ZDTOOL_DISPLAYWIDTH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The code point of the well-formed sequence at `text[at]` and its length; 0 when the bytes there
// do not start one (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
size_t zdDecodeUtf8(std::string_view text, size_t at, uint32_t& c);

// Combining marks and zero-width characters count 0, East Asian wide and fullwidth characters 2,
// other characters 1, and each byte of a sequence that is not well-formed UTF-8 1.
size_t zdDisplayWidth(std::string_view text);

// A locale name such as "en_US.UTF-8" or "de_DE.utf8@euro" whose codeset is UTF-8.
bool zdLocaleIsUtf8(std::string_view name);

#endif
