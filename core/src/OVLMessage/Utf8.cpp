// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "Utf8.h"

#include <cstdint>
#include <cstring>

namespace OVL::detail {

std::size_t findBadCharReference(std::string_view text) noexcept {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin;
    while (p < end) {
        const void* amp = std::memchr(p, '&', static_cast<std::size_t>(end - p));
        if (amp == nullptr) {
            break;
        }
        const char* ref = static_cast<const char*>(amp);
        p = ref + 1;
        if (p >= end || *p != '#') {
            continue;
        }
        ++p;
        const bool hex = p < end && (*p == 'x');
        if (hex) {
            ++p;
        }
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
        if (digits == 0 || p >= end || *p != ';') {
            continue;
        }
        if (tooBig || value == 0 || (value >= 0xD800 && value <= 0xDFFF)) {
            return static_cast<std::size_t>(ref - begin);
        }
    }
    return std::string_view::npos;
}

bool isValidXmlName(const char* name) noexcept {
    if (name == nullptr || *name == '\0') {
        return false;
    }
    const std::size_t n = std::strlen(name);
    if (!isValidUtf8(std::string_view(name, n))) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool start =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
        const bool rest = (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!(start || (i > 0 && rest))) {
            return false;
        }
    }
    return true;
}

}  // namespace OVL::detail
