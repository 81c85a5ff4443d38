// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Checks of UTF-8 text and XML names used by the message and its iterator.

#include <cstddef>
#include <string_view>

#include "OVLCommon/Utf8.h"

namespace OVL::detail {

using OVL::validUtf8Prefix;

inline bool isValidUtf8(std::string_view text) noexcept {
    return validUtf8Prefix(text) == text.size();
}

// Offset of the first numeric character reference ("&#65;", "&#x41;") whose code point cannot be
// text: U+0000, a surrogate, or above U+10FFFF; npos when there is none. pugixml would decode
// those into a zero byte or into bytes that are not UTF-8. The scan does not know about CDATA
// sections and comments, so such a reference is reported there too.
std::size_t findBadCharReference(std::string_view text) noexcept;

// True for a valid XML element or attribute name (ASCII rules; any valid UTF-8 sequence is
// accepted as a name character). Null and "" are not names.
bool isValidXmlName(const char* name) noexcept;

}  // namespace OVL::detail
