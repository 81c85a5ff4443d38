// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLCommon/Utf8.h"

#include <cstdint>
#include <cstring>

namespace OVL {

std::size_t validUtf8Prefix(std::string_view text) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // Skip ASCII without zero bytes sixteen bytes at a time: it is nearly all of a typical
        // message.
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
        constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
        while (i + 16 <= n) {
            std::uint64_t a, b;
            std::memcpy(&a, s + i, 8);
            std::memcpy(&b, s + i + 8, 8);
            const std::uint64_t zeros = ((a - kOnes) & ~a) | ((b - kOnes) & ~b);
            if (((a | b | zeros) & kHighs) != 0) {
                break;
            }
            i += 16;
        }
        if (i >= n) {
            break;
        }
        const unsigned char c = s[i];
        if (c == 0) {
            return i;
        }
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) {
                lo = 0xA0;  // overlong
            }
            if (c == 0xED) {
                hi = 0x9F;  // surrogates
            }
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) {
                lo = 0x90;  // overlong
            }
            if (c == 0xF4) {
                hi = 0x8F;  // above U+10FFFF
            }
        } else {
            return i;
        }
        if (i + len > n) {
            return i;
        }
        if (s[i + 1] < lo || s[i + 1] > hi) {
            return i;
        }
        for (std::size_t k = 2; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                return i;
            }
        }
        i += len;
    }
    return n;
}

}  // namespace OVL
