// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "OVLWire/Utf8.h"

#include "OVLCommon/Utf8.h"

namespace OVL::Wire {

bool isValidUtf8(std::string_view text) noexcept {
    // The shared validator stops at zero bytes, which are valid UTF-8 here.
    for (;;) {
        const std::size_t valid = validUtf8Prefix(text);
        if (valid == text.size()) {
            return true;
        }
        if (text[valid] != '\0') {
            return false;
        }
        text.remove_prefix(valid + 1);
    }
}

namespace {

std::size_t sequenceLength(unsigned char lead) noexcept {
    return lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
}

// Length of the character at the start of `valid` (valid UTF-8, not empty) when XML can carry it,
// else 0.
std::size_t xmlCharLength(std::string_view valid) noexcept {
    const auto lead = static_cast<unsigned char>(valid[0]);
    if (lead < 0x80) {
        return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
    }
    // U+FFFE and U+FFFF: EF BF BE, EF BF BF.
    if (lead == 0xEF && static_cast<unsigned char>(valid[1]) == 0xBF &&
        static_cast<unsigned char>(valid[2]) >= 0xBE) {
        return 0;
    }
    return sequenceLength(lead);
}

}  // namespace

bool isXmlText(std::string_view text) noexcept {
    if (validUtf8Prefix(text) != text.size()) {
        return false;
    }
    // In valid UTF-8 every byte below 0x80 is a character and 0xEF always starts a sequence.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 || byte == 0xEF) && xmlCharLength(text.substr(i)) == 0) {
            return false;
        }
    }
    return true;
}

std::string toXmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t valid = validUtf8Prefix(text);
        for (std::size_t i = 0; i < valid;) {
            const std::size_t length = xmlCharLength(text.substr(i));
            if (length != 0) {
                out.append(text.substr(i, length));
            }
            i += sequenceLength(static_cast<unsigned char>(text[i]));
        }
        // Drops the byte that is not UTF-8 (or a zero byte) and goes on after it.
        text.remove_prefix(valid < text.size() ? valid + 1 : valid);
    }
    return out;
}

}  // namespace OVL::Wire
