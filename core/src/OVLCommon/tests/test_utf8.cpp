// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The UTF-8 validator: the longest valid prefix, at the edges of each sequence length, for the
// forms that must be refused, and across the sixteen-byte ASCII fast path.

#include <gtest/gtest.h>

#include <string>

#include "OVLCommon/Utf8.h"

namespace {

struct Case {
    std::string text;
    std::size_t prefix;
};

TEST(Utf8, ValidPrefixStopsAtTheFirstBadSequenceOrZeroByte) {
    const std::string ascii32(32, 'a');
    const Case cases[] = {
        {"", 0},
        {"\x7f", 1},
        {"\xc2\x80\xdf\xbf", 4},                  // U+0080, U+07FF
        {"\xe0\xa0\x80\xef\xbf\xbf", 6},          // U+0800, U+FFFF
        {"\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", 8},  // U+10000, U+10FFFF
        {"ab\xc0\xaf", 2},                        // overlong '/'
        {"\xc1\xbf", 0},                          // overlong
        {"\xe0\x9f\xbf", 0},                      // overlong three-byte form
        {"\xf0\x8f\xbf\xbf", 0},                  // overlong four-byte form
        {"x\xed\xa0\x80", 1},                     // surrogate
        {"\xed\x9f\xbf\xed\xbf\xbf", 3},          // U+D7FF, then a surrogate
        {"\xf4\x90\x80\x80", 0},                  // above U+10FFFF
        {"\xf5\x80\x80\x80", 0},
        {"\xff", 0},
        {"\x80", 0},                 // continuation byte without a lead
        {"ok\xe2\x82", 2},           // cut short at the end
        {"\xe2\x28\xa1", 0},         // bad continuation
        {ascii32 + "\xc3\xa9", 34},  // fast path, then a two-byte character
        {ascii32 + "\xc3", 32},      // fast path, then a cut-short one
        {ascii32 + "\x80" + ascii32, 32},
        {std::string("abc\0def", 7), 3},
        {ascii32.substr(0, 20) + std::string(1, '\0') + ascii32, 20},  // zero inside a fast-path block
        {"\xc3\xa9" + std::string(1, '\0'), 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OVL::validUtf8Prefix(c.text), c.prefix) << testing::PrintToString(c.text);
    }
}

}  // namespace
