// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one UTF-8 validator of the code base: the message library and the wire format both use it.

#include <cstddef>
#include <string_view>

#include "OVLCommon/Export.h"

namespace OVL {

// Length of the longest prefix of `text` that is valid UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF) and holds no zero byte; text.size() when all of it is. A zero byte is
// valid UTF-8, so a caller that accepts it can go on after it.
OVLCOMMON_EXPORT std::size_t validUtf8Prefix(std::string_view text) noexcept;

}  // namespace OVL
