#include "Utf8.h"

#include <cstdint>
#include <cstring>

namespace OVL::detail {

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
            if (((a | b | zeros) & kHighs) != 0)
                break;
            i += 16;
        }
        if (i >= n)
            break;
        const unsigned char c = s[i];
        if (c == 0)
            return i;
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
            if (c == 0xE0)
                lo = 0xA0;  // overlong
            if (c == 0xED)
                hi = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0)
                lo = 0x90;  // overlong
            if (c == 0xF4)
                hi = 0x8F;  // above U+10FFFF
        } else {
            return i;
        }
        if (i + len > n)
            return i;
        if (s[i + 1] < lo || s[i + 1] > hi)
            return i;
        for (std::size_t k = 2; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return i;
        }
        i += len;
    }
    return n;
}

std::size_t findBadCharReference(std::string_view text) noexcept {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin;
    while (p < end) {
        const void* amp = std::memchr(p, '&', static_cast<std::size_t>(end - p));
        if (amp == nullptr)
            break;
        const char* ref = static_cast<const char*>(amp);
        p = ref + 1;
        if (p >= end || *p != '#')
            continue;
        ++p;
        const bool hex = p < end && (*p == 'x');
        if (hex)
            ++p;
        unsigned long value = 0;
        bool tooBig = false;
        int digits = 0;
        for (; p < end; ++p, ++digits) {
            const char c = *p;
            unsigned d;
            if (c >= '0' && c <= '9') {
                d = static_cast<unsigned>(c - '0');
            } else if (hex && c >= 'a' && c <= 'f') {
                d = static_cast<unsigned>(c - 'a' + 10);
            } else if (hex && c >= 'A' && c <= 'F') {
                d = static_cast<unsigned>(c - 'A' + 10);
            } else {
                break;
            }
            value = value * (hex ? 16 : 10) + d;
            if (value > 0x10FFFF) {
                tooBig = true;
                value = 0x110000;
            }
        }
        if (digits == 0 || p >= end || *p != ';')
            continue;
        if (tooBig || value == 0 || (value >= 0xD800 && value <= 0xDFFF)) {
            return static_cast<std::size_t>(ref - begin);
        }
    }
    return std::string_view::npos;
}

bool isValidXmlName(const char* name) noexcept {
    if (name == nullptr || *name == '\0')
        return false;
    const std::size_t n = std::strlen(name);
    if (!isValidUtf8(std::string_view(name, n)))
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool start =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
        const bool rest = (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!(start || (i > 0 && rest)))
            return false;
    }
    return true;
}

}  // namespace OVL::detail
