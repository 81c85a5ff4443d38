#include "OVLWire/Utf8.h"

#include <cstdint>

namespace OVL::Wire {

bool isValidUtf8(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // Skip ASCII eight bytes at a time.
        while (end - p >= 8) {
            uint64_t word;
            __builtin_memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ULL) != 0)
                break;
            p += 8;
        }
        if (p == end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length;
        uint32_t min;
        uint32_t cp;
        if ((c & 0xe0) == 0xc0) {
            length = 2, min = 0x80, cp = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            length = 3, min = 0x800, cp = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            length = 4, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3f);
        }
        if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        p += length;
    }
    return true;
}

}  // namespace OVL::Wire
