// Fuzzes the display width of UTF-8 text as Dispatcher texts reach it, and locale names.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "DisplayWidth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t width = zdDisplayWidth(text);
    // No character takes more columns than it has bytes.
    if (width > size) __builtin_trap();
    // Cut before an ASCII byte, the halves add up.
    for (size_t cut = 0; cut < size; cut += 1 + size / 8) {
        if (data[cut] < 0x80 &&
            zdDisplayWidth(text.substr(0, cut)) + zdDisplayWidth(text.substr(cut)) != width) {
            __builtin_trap();
        }
    }
    zdLocaleIsUtf8(text);
    return 0;
}
