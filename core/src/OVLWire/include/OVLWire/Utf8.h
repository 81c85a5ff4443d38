// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace OVL::Wire {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view text) noexcept;

// True when XML 1.0 can carry `text`: valid UTF-8 without the characters it has no way to write,
// not even as a reference (control characters other than tab, line feed and carriage return,
// U+FFFE, U+FFFF).
bool isXmlText(std::string_view text) noexcept;
// `text` without what XML 1.0 cannot carry: those characters and every byte that is not part of
// valid UTF-8 are dropped.
std::string toXmlText(std::string_view text);

}  // namespace OVL::Wire
